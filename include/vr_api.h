/* Export and linkage macros shared by every public header. */
#ifndef VR_API_H
#define VR_API_H

/* Marks a function or data object as part of the library's exported
 * interface. The library is built with hidden visibility; only what carries
 * this mark is visible in the shared object. */
#define VR_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define VR_BEGIN_DECLS extern "C" {
#define VR_END_DECLS }
#else
#define VR_BEGIN_DECLS
#define VR_END_DECLS
#endif

#endif
