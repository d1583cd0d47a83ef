// The reader's RF field: the card lying on the reader, if any. One card at
// a time; placing another takes the first one away. Thread-safe: tests and
// the control channel place and remove cards while the simulator's thread
// talks to them.
#pragma once

#include <memory>
#include <mutex>

#include "card.h"

namespace vrsim {

class Field {
public:
    // Puts the card in the field (it arrives reset, idle) and returns it,
    // so a test can keep the handle: auto card = field.place(Card::classic_1k());
    std::shared_ptr<Card> place(std::shared_ptr<Card> card);
    // Takes the card away (it stops answering) and returns it; null when
    // the field was empty. Its memory stays with the handle.
    std::shared_ptr<Card> remove();
    // The card in the field, or null.
    [[nodiscard]] std::shared_ptr<Card> card() const;
    // The field switches off (antenna off): the card loses power and
    // comes back idle.
    void power_off();

private:
    mutable std::mutex mutex_;
    std::shared_ptr<Card> card_;
};

}  // namespace vrsim
