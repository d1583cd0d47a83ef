/* Every public header compiles as plain C and links against the library. */
#include "all_headers.h"

int main(void) {
    /* Nothing is registered in a fresh process. */
    return check_api_version(0) == -1 && tessil.family == 0 ? 0 : 1;
}
