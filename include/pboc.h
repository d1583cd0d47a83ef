/* Bank (PBOC) card driver. Its hexadecimal text helpers, which every layer
 * uses, are in pboc_text.h. */
#ifndef VR_PBOC_H
#define VR_PBOC_H

#include "pboc_text.h"
#include "vr_api.h"

VR_BEGIN_DECLS

VR_END_DECLS

#endif
