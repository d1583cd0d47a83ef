// What every native of the reader class does first: find the reader's
// fields and its card under the shared records lock.
#pragma once

#include <jni.h>

#include "bridge/reader_object.h"
#include "picc.h"

namespace vr::bridge {

// The card a reader object names, for the lifetime of the object. error()
// is the native's answer when it cannot go on: -24 without a reader object,
// -60 when the reader class lacks a field, -37 when the object names no
// open card; 0 otherwise.
class BoundCard {
public:
    enum Need { kCard, kCardOrNone };
    BoundCard(JNIEnv *env, jobject reader, Need need = kCard, RecordsLock::Mode mode = RecordsLock::kShared);
    [[nodiscard]] int error() const { return error_; }
    [[nodiscard]] picc *card() const { return card_; }
    [[nodiscard]] const ReaderFields &fields() const { return *fields_; }

private:
    RecordsLock lock_;
    const ReaderFields *fields_ = nullptr;
    picc *card_ = nullptr;
    int error_ = 0;
};

}  // namespace vr::bridge
