// The global state record. Zero at load: constant-initialised, no
// constructor runs. glibc's statically initialised mutex is all zero, so
// the locks inside are ready without any set-up.
#include "tessil.h"

#include <type_traits>

static_assert(std::is_trivially_default_constructible_v<tessil_t>,
              "the state record must be plain data");

VR_API tessil_t tessil;
