// The Java reader object (com.vantel.rfid.RFIDReader) as the natives see
// it: its fields, looked up once, the card record it names, and the lock
// that keeps a record alive while a native uses it.
#pragma once

#include <jni.h>
#include <pthread.h>

#include "picc.h"

namespace vr::bridge {

inline constexpr const char *kReaderClass = "com/vantel/rfid/RFIDReader";

// Field identifiers of the reader class, looked up once.
struct ReaderFields {
    jclass cls;  // global reference
    jfieldID vendor, type, uid, com_type, error, buffer;    // instance
    jfieldID uart_device_name, usb_fd, audio_manager, status;  // static
};

// The reader class's fields, or null when the class or a field cannot be
// found (the exception cleared). Called from the natives of the class.
const ReaderFields *reader_fields(JNIEnv *env);

// The open card record whose uid, vendor and type are given; null for an
// empty or oversized uid. Walks the open-card list under the library lock.
picc *find_open_card(const unsigned char *uid, int uid_len, const char *type, const char *vendor);

// The card record the reader object names, through the cached fields.
picc *reader_card(JNIEnv *env, const ReaderFields &f, jobject reader);

// Writes the reader object's buffer field (n = 0: an empty array): 0, or -1.
int set_buffer(JNIEnv *env, const ReaderFields &f, jobject reader, const void *bytes, int n);

// Natives run on any thread. Card records are freed only by opening,
// closing and reconnecting; those natives hold this lock exclusively, all
// others share it, so no native uses a record that another one frees.
class RecordsLock {
public:
    enum Mode { kShared, kExclusive };
    explicit RecordsLock(Mode mode);
    ~RecordsLock();
    RecordsLock(const RecordsLock &) = delete;
    RecordsLock &operator=(const RecordsLock &) = delete;
};

}  // namespace vr::bridge
