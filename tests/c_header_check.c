/* The C interface header compiles as C. */
#include "korado/korado.h"

int korado_c_header_check(void) {
    korado_error err;
    korado_object* obj = korado_create("korADO.clsADOError", &err);
    korado_release(obj);
    return KORADO_METHOD + KORADO_STRING;
}
