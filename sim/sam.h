// The reader's SAM: the security module that reads PRC identity cards. It
// takes request frames (AA AA AA 96 69, length, command, parameter, check
// byte: the exclusive-or from the length on) and answers in the same form
// with the status bytes 00 00 SW3 in place of the command:
//
//   10 FF  reset                      90
//   11 FF  self-check                 90
//   20 01  search for a card          9F and 00 00 00 00 (a type B card
//                                     answered), or 80 (no card)
//   20 02  select the card found      90 and the card's 8-byte identifier,
//                                     or 81 (gone, or not an identity card)
//   30 01  read text and photo        90, text length, photo length (2
//                                     bytes each, big-endian), text, photo
//   30 10  read text, photo and       90, the three lengths, the three
//          fingerprint                records (fingerprint length 0 when
//                                     the card has none)
//   30 03  read the extra address     90 and the address, or 91 (none)
// A read needs a selected card still in the field (else 41). A request
// whose preamble or check byte is wrong gets 10, one whose length field
// disagrees with the frame 11, an unknown command 21.
//
// Faults: the next answers of a step can carry a failure status instead,
// and the next answer can be spoiled (check byte, length field or
// preamble). Thread-safe: tests set faults while the reader runs.
#pragma once

#include <map>
#include <mutex>
#include <optional>

#include "field.h"
#include "wire.h"

namespace vrsim {

class Sam {
public:
    enum class Step { reset, check, search, select, read_text_photo, read_all, read_address };
    enum class Spoil { check_byte, length, preamble };

    // Answers one request frame; the card is reached through the field when
    // the reader's antenna is on.
    [[nodiscard]] Bytes answer(ByteView request, Field& field, bool antenna_on);

    // The next `count` answers to the step carry status SW3 and no data.
    void fail(Step step, uint8_t sw3, unsigned count = 1);
    // The next answer is spoiled.
    void spoil_next(Spoil how);
    void clear_faults();
    [[nodiscard]] bool selected() const;

    // The step a command and parameter belong to.
    [[nodiscard]] static std::optional<Step> step_of(uint8_t command, uint8_t parameter);
    // By name, for the control channel: reset, check, search, select,
    // read, readall, address.
    [[nodiscard]] static std::optional<Step> step_named(std::string_view name);

private:
    struct Outcome {
        uint8_t sw3;
        Bytes data;
    };
    [[nodiscard]] Outcome run_locked(Step step, Field& field, bool antenna_on);
    [[nodiscard]] Outcome read_locked(Step step, Field& field);
    [[nodiscard]] Bytes frame_locked(const Outcome& outcome);

    mutable std::mutex mutex_;
    std::shared_ptr<Card> found_;  // the card the last search found
    bool selected_ = false;
    std::map<Step, std::pair<uint8_t, unsigned>> failures_;
    std::optional<Spoil> spoil_;
};

// Helpers on SAM answer frames, for the reader model.
namespace sam_frame {
// A well-formed answer (preamble, length field, check byte) reporting
// success: its data part; else nothing.
[[nodiscard]] std::optional<ByteView> successful_data(ByteView answer);
// The answer to 30 10 with the text and photo records left out: the
// preamble, the original length field, the status, the three lengths, the
// fingerprint and a new check byte. A frame that is not a successful read
// comes back unchanged.
[[nodiscard]] Bytes without_text_and_photo(ByteView answer);
}  // namespace sam_frame

}  // namespace vrsim
