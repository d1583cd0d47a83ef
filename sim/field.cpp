#include "field.h"

namespace vrsim {

std::shared_ptr<Card> Field::place(std::shared_ptr<Card> card) {
    if (card) card->power_off();
    std::shared_ptr<Card> previous;
    {
        std::lock_guard hold(mutex_);
        previous = std::exchange(card_, card);
    }
    if (previous && previous != card) previous->power_off();
    return card;
}

std::shared_ptr<Card> Field::remove() {
    std::shared_ptr<Card> gone;
    {
        std::lock_guard hold(mutex_);
        gone = std::move(card_);
    }
    if (gone) gone->power_off();
    return gone;
}

std::shared_ptr<Card> Field::card() const {
    std::lock_guard hold(mutex_);
    return card_;
}

void Field::power_off() {
    if (const auto c = card()) c->power_off();
}

}  // namespace vrsim
