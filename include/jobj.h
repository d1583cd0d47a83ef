/* The Java bridge's helpers: the card record that belongs to a Java reader
 * object, and small accessors that read and write fields of Java objects by
 * name. The native methods of the host classes are built on them; host code
 * of its own may use them too.
 *
 * Conventions: env is the calling thread's JNI environment. A helper never
 * leaves a Java exception pending: a failed lookup's exception is cleared.
 * Texts handed back are copies the caller frees with free(). The "static"
 * forms take an instance or the class object itself. */
#ifndef VR_JOBJ_H
#define VR_JOBJ_H

#include <jni.h>
#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

struct picc;

/* The open card record whose uid, type and vendor equal those of the reader
 * object's fields uid, type and vendor; null when there is none or a field
 * cannot be read (a uid never set included). */
VR_API struct picc *jobj2picc(JNIEnv *env, jobject reader);

/* Reader-object fields (com.vantel.rfid.RFIDReader). 0 on success, -1 when
 * a lookup fails, -24 without an object or buffer, except as noted. */
VR_API int jobj_setvendor(JNIEnv *env, jobject obj, const char *text);
VR_API int jobj_settype(JNIEnv *env, jobject obj, const char *text);
/* n of 21 or more is refused (-1) and leaves uid unchanged. */
VR_API int jobj_setuid(JNIEnv *env, jobject obj, const unsigned char *bytes, int n);
/* n of 0 stores an empty array; a negative n is refused (-1). */
VR_API int jobj_setbuff(JNIEnv *env, jobject obj, const unsigned char *bytes, int n);
VR_API int jobj_set_status(JNIEnv *env, jobject obj, int value);
VR_API int jobj_set_error(JNIEnv *env, jobject obj, int value);
/* Copy comType (static uartDeviceName) into out, at most capacity - 1
 * characters and a terminator. */
VR_API int jobj_get_comtype(JNIEnv *env, jobject obj, char *out, int capacity);
VR_API int jobj_get_comname(JNIEnv *env, jobject obj, char *out, int capacity);
/* The static uartDeviceName in a copy kept by the library (valid until the
 * calling thread's next call), or null. */
VR_API const char *jobj_get_uartdev(JNIEnv *env, jobject obj);
/* The static usbFd: -1 when the lookup fails, -24 without an object. */
VR_API int jobj_get_usbdev(JNIEnv *env, jobject obj);
/* The static audioManager of the class (a local reference), or null. */
VR_API jobject jobj_get_manager(JNIEnv *env, jclass cls);

/* Generic field access by name. Failures set errno: -24 for a missing
 * environment, object or name, -60 for a missing class, field or value. */
VR_API char *jobj_get_string(JNIEnv *env, jobject obj, const char *name);
VR_API int jobj_set_string(JNIEnv *env, jobject obj, const char *name, const char *text);
VR_API char *jobj_get_static_string(JNIEnv *env, jobject obj, const char *name);
VR_API int jobj_set_static_string(JNIEnv *env, jobject obj, const char *name, const char *text);
/* The value, or -1. */
VR_API int jobj_getint(JNIEnv *env, jobject obj, const char *name);
VR_API int jobj_setint(JNIEnv *env, jobject obj, const char *name, int value);
VR_API int jobj_get_static_int(JNIEnv *env, jobject obj, const char *name);
VR_API int jobj_set_static_int(JNIEnv *env, jobject obj, const char *name, int value);
/* 0 with a new copy of the array in *out (free it) and its size in *size
 * (errno -40 when the copy cannot be made), or -1. */
VR_API int jobj_getbytes(JNIEnv *env, jobject obj, const char *name, unsigned char **out, int *size);
/* n must be above 0. */
VR_API int jobj_setbytes(JNIEnv *env, jobject obj, const char *name, const unsigned char *bytes, int n);
VR_API int jobj_get_static_bytes(JNIEnv *env, jobject obj, const char *name, unsigned char **out, int *size);
VR_API int jobj_set_static_bytes(JNIEnv *env, jobject obj, const char *name, const unsigned char *bytes,
                                 int n);
/* A local reference to the object field of the given type signature, or
 * null. */
VR_API jobject jobj_get_object(JNIEnv *env, jobject obj, const char *name, const char *signature);
VR_API jobject jobj_get_static_object(JNIEnv *env, jobject obj, const char *name, const char *signature);

/* The same by kind: 0 the instance field, 1 the static field; any other
 * kind, a missing environment or name: errno -24 and failure. */
VR_API char *jni_getstr(JNIEnv *env, jobject obj, int kind, const char *name);
VR_API int jni_setstr(JNIEnv *env, jobject obj, int kind, const char *name, const char *text);
VR_API int jni_getint(JNIEnv *env, jobject obj, int kind, const char *name);
VR_API int jni_setint(JNIEnv *env, jobject obj, int kind, const char *name, int value);
/* The byte count with a new copy in *out, or -1. */
VR_API int jni_getbytes(JNIEnv *env, jobject obj, int kind, const char *name, unsigned char **out);
VR_API int jni_setbytes(JNIEnv *env, jobject obj, int kind, const char *name, const unsigned char *bytes,
                        int n);
VR_API jobject jni_getobj(JNIEnv *env, jobject obj, int kind, const char *name, const char *signature);

/* A new NUL-terminated copy of the text's UTF-8 bytes (free it), or null
 * for a null or empty text. */
VR_API char *Jstring2CStr(JNIEnv *env, jstring text);

/* The host class mobile.rfid.nativelib.Picc. nativeClassInit finds it and
 * keeps its nine field identifiers: 0, or -1 when the class or a field is
 * missing. The getters need it first; without an object (or before it)
 * they return null, -1 or 255. Text getters return a copy (free it). The
 * setters do nothing without an object or value. */
VR_API int nativeClassInit(JNIEnv *env);
VR_API char *getPicc_uid(JNIEnv *env, jobject obj);
VR_API char *getPicc_vendor(JNIEnv *env, jobject obj);
VR_API char *getPicc_type(JNIEnv *env, jobject obj);
VR_API char *getPicc_protocol(JNIEnv *env, jobject obj);
VR_API char *getPicc_status(JNIEnv *env, jobject obj);
VR_API int getPicc_uid_len(JNIEnv *env, jobject obj);
VR_API unsigned char getPicc_cid(JNIEnv *env, jobject obj);
VR_API unsigned char getPicc_slot_num(JNIEnv *env, jobject obj);
VR_API int64_t getNextPointer(JNIEnv *env, jobject obj);
VR_API void setPicc_uid(JNIEnv *env, jobject obj, const char *text);
VR_API void setPicc_vendor(JNIEnv *env, jobject obj, const char *text);
VR_API void setPicc_type(JNIEnv *env, jobject obj, const char *text);
VR_API void setPicc_protocol(JNIEnv *env, jobject obj, const char *text);
VR_API void setPicc_status(JNIEnv *env, jobject obj, const char *text);
VR_API void setPicc_uid_len(JNIEnv *env, jobject obj, int value);
VR_API void setPicc_cid(JNIEnv *env, jobject obj, unsigned char value);
VR_API void setPicc_slot_num(JNIEnv *env, jobject obj, unsigned char value);
/* The value is sign-extended from 32 bits. */
VR_API void setNextPointer(JNIEnv *env, jobject obj, int32_t value);

VR_END_DECLS

#endif
