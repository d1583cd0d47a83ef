// The reader-family check and the link protocol number.
#include "pcd.h"
#include "tessil.h"
#include "virt_com.h"

VR_API int check_api_version(int value) {
    (void)value;  // callers pass the low byte of the family; it is not used
    return tessil.family == VR_FAMILY_SECOND || tessil.family == VR_FAMILY_FIRST ? 0 : -1;
}

VR_API int virt_com_set_protocl(int protocol) {
    tessil.s_com.protocol = static_cast<int8_t>(protocol);
    return 0;
}

VR_API int virt_com_get_protocl(void) { return tessil.s_com.protocol; }
