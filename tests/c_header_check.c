/* The C interface header compiles as C. */
#include "korado/korado.h"

static int32_t check_invoke(void* context, const char* member, int call_type, korado_value** args,
                            size_t arg_count, korado_value* result, korado_error* err) {
    (void)context, (void)member, (void)call_type, (void)args, (void)arg_count, (void)err;
    return korado_value_set(result, NULL);
}

int korado_c_header_check(void) {
    korado_error err;
    korado_callbacks callbacks = {check_invoke, NULL};
    korado_object* obj = korado_create("korADO.clsADOError", &err);
    korado_object* host = korado_object_new(&callbacks, NULL, "Check");
    korado_release(host);
    korado_release(obj);
    return KORADO_METHOD + KORADO_STRING;
}
