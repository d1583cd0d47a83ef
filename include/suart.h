/* The audio modem ("sound" link): its status words and its driver init;
 * its state record is in suart_state.h. */
#ifndef VR_SUART_H
#define VR_SUART_H

#include <stdint.h>
#include "suart_state.h"
#include "vr_api.h"

VR_BEGIN_DECLS

VR_API int suart_set_calistat(int value);
VR_API int suart_get_calistat(void);
VR_API int suart_set_trackstat(int value);
VR_API int suart_get_trackstat(void);
VR_API int suart_set_plugstat(int value);
VR_API int suart_get_plugstat(void);
VR_API int suart_set_routestat(int value);
VR_API int suart_get_routestat(void);
VR_API int suart_set_categstat(int value);
VR_API int suart_get_categstat(void);

/* Driver initialisation for the link name "sound": sets the modem's
 * configuration defaults and the device name; 0. The platform variants:
 * Linux and macOS have no audio modem (-1), Windows sets errno -22 (-1). */
VR_API int suart_init(int mode);
VR_API int suart_init_android(int mode);
VR_API int suart_init_linux(int mode);
VR_API int suart_init_macosx(int mode);
VR_API int suart_init_win(int mode);

VR_END_DECLS

#endif
