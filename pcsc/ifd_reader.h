// One reader as pcscd sees it: a serial reader or a USB attachment opened
// through the library's public API, with one contactless slot. The handler's entry
// points call these under the reader's lock.
#pragma once

#include <memory>
#include <mutex>

extern "C" {
#include <ifdhandler.h>
}

#include "atr.h"
#include "device_name.h"
#include "reader_apdu.h"

struct picc;

namespace vrpcsc {

class LibraryStorageCard;

class Reader {
public:
    Reader();
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    RESPONSECODE open(const DeviceOptions &options);
    void close();

    // Whether a card is in the field. Without a session this is one type A
    // search (two short commands) and, when no type A card answers, the
    // type B request (two more; an ATTRIB too when a card answers); a new
    // card is identified once. In a storage card's session the search is
    // followed by the authentication the session had; an ISO 14443-4 card
    // (type A or B) in session is not disturbed (a search would end its
    // protocol session and whatever the application selected) unless its
    // last exchange failed.
    RESPONSECODE presence();
    // Power up / reset: a fresh session on the card; its ATR.
    RESPONSECODE power_up(UCHAR *atr, DWORD *length);
    void power_down();
    RESPONSECODE atr(UCHAR *out, DWORD *length) const;
    RESPONSECODE transmit(const UCHAR *tx, DWORD tx_length, UCHAR *rx, DWORD *rx_length);
    RESPONSECODE control(DWORD code, const UCHAR *in, DWORD in_length, UCHAR *out, DWORD out_length,
                         DWORD *returned);

    std::mutex &lock() { return mutex_; }

private:
    enum class Found { card, empty, link_failed };
    static Found found_after(int rc);
    Found search(picc &probe);
    Found search_type_b(picc *&found);
    RESPONSECODE presence_of_type_b();
    RESPONSECODE identify(const picc &probe);
    // A new type B card from its record and its parsed ATQB (none when
    // too short: then no card).
    RESPONSECODE identify_type_b(picc *record, const std::optional<TypeBAnswer> &answer);
    bool tell_ultralight_c();
    RESPONSECODE start_session();
    void end_session();
    void forget_card();
    RESPONSECODE exchange_with_card(const UCHAR *tx, DWORD tx_length, Bytes &answer);
    Outcome reactivate();
    RESPONSECODE open_port();
    RESPONSECODE after_link_failure();

    std::mutex mutex_;
    bool open_ = false;
    bool port_lost_ = false;  // the device went away: opened again at the next poll
    DeviceOptions options_;
    CardFacts card_;
    Bytes atr_;
    picc *record_ = nullptr;  // the card's driver record, while the card is there
    KeySlots keys_;
    std::unique_ptr<LibraryStorageCard> storage_;
    std::unique_ptr<StorageSession> session_;
    bool powered_ = false;
    bool exchange_failed_ = false;

    friend class LibraryStorageCard;
};

}  // namespace vrpcsc
