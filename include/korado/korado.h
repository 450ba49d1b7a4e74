/* The C interface of korADO: create the library's public classes by ProgID and call their members by
 * name, from any language that can call C.
 *
 *   korado_error err;
 *   korado_object* ado = korado_create("korADO.clsADO", &err);
 *   korado_value* args[1] = {korado_value_new_text("Provider=SQLite;Data Source=:memory:")};
 *   korado_invoke(ado, "Connect", KORADO_METHOD, args, 1, result, &err);
 *
 * Values are opaque: make them with korado_value_new*, read them with the korado_value_* getters, free
 * them with korado_value_free. Arguments are passed by reference: after korado_invoke an argument holds
 * what the member left in it (Connect hands back the user, DSN and connection string this way).
 * Objects are counted references: every korado_object* a function returns is a new reference that the
 * caller releases with korado_release.
 *
 * Failures: functions that can fail return 0 on success and the error's number otherwise, and fill the
 * korado_error the caller passed (which may be NULL). Texts are UTF-8. Single-threaded, as the library.
 */
#ifndef KORADO_KORADO_H
#define KORADO_KORADO_H

#include <stddef.h>
#include <stdint.h>

#if defined(KORADO_BUILDING) || !defined(KORADO_STATIC)
#define KORADO_C_EXPORT __attribute__((visibility("default")))
#else
#define KORADO_C_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct korado_object korado_object;
typedef struct korado_value korado_value;

typedef struct korado_error {
    int32_t number;
    char source[256];
    char description[4096];
} korado_error;

/* Call types, as the automation runtime numbers them. */
enum { KORADO_METHOD = 1, KORADO_GET = 2, KORADO_LET = 4, KORADO_SET = 8 };

/* Value kinds (VarType). */
enum {
    KORADO_EMPTY = 0,
    KORADO_NULL = 1,
    KORADO_INTEGER = 2,
    KORADO_LONG = 3,
    KORADO_SINGLE = 4,
    KORADO_DOUBLE = 5,
    KORADO_CURRENCY = 6,
    KORADO_DATE = 7,
    KORADO_STRING = 8,
    KORADO_OBJECT = 9,
    KORADO_ERROR = 10,
    KORADO_BOOLEAN = 11,
    KORADO_DECIMAL = 14,
    KORADO_BYTE = 17,
    KORADO_LONGLONG = 20
};

KORADO_C_EXPORT const char* korado_version(void);

/* Objects. */
KORADO_C_EXPORT korado_object* korado_create(const char* prog_id, korado_error* err);
KORADO_C_EXPORT void korado_addref(korado_object* obj);
KORADO_C_EXPORT void korado_release(korado_object* obj);
/* Calls `member` (empty: the default member); `result` (may be NULL) receives the return value. */
KORADO_C_EXPORT int32_t korado_invoke(korado_object* obj, const char* member, int call_type, korado_value** args,
                                      size_t arg_count, korado_value* result, korado_error* err);
/* Drops the library's process-wide references: the script object last handed to clsADO.Constructor,
 * the connection object constructed last, the shared error object and the error handler. A host calls it when it is done
 * with the library (its own objects then get their release while the host still exists). */
KORADO_C_EXPORT void korado_release_globals(void);
/* The ProgIDs the library can create, one per call (index from 0); NULL past the end. */
KORADO_C_EXPORT const char* korado_prog_id(size_t index);

/* A host's own object, for a host that takes part as an object of its own: the script object whose
 * Breaks the library calls (korado_create("korHost.ScriptObject") gives a default one), or any object
 * handed to a member that calls back.
 *
 * The library calls such an object by member name like any other: `invoke` receives the member name as
 * the caller wrote it (empty: the default member; compare without regard to letter case), the call type
 * (KORADO_METHOD, KORADO_GET, KORADO_LET, KORADO_SET), the arguments and a result value. The arguments
 * are by reference: what the callback leaves in them (korado_value_set) goes back to the caller. The
 * values belong to the library and live for the call only: read and set them, never free them. `err`
 * comes cleared.
 *
 * `invoke` returns 0 on success. Any other return fails the call: the caller gets an error with err's
 * number (the returned number when err's is 0), source (the class name when empty) and description, and
 * the arguments are left as they were. 438 is the usual number for a member the object does not have.
 *
 * Ownership: korado_object_new returns the one reference the caller holds; the library takes references
 * of its own where it keeps the object (a script object handed to clsADO.Constructor is kept until
 * korado_release_globals). `release` (may be NULL) is called once, with `context`, when the last
 * reference goes; until then `context` must stay valid. The callbacks table is copied. */
typedef struct korado_callbacks {
    int32_t (*invoke)(void* context, const char* member, int call_type, korado_value** args, size_t arg_count,
                      korado_value* result, korado_error* err);
    void (*release)(void* context);
} korado_callbacks;

/* `class_name` (may be NULL: "Object") is what the library's messages and TypeName call the object.
 * Returns NULL, without calling `release`, when `callbacks` or its `invoke` is NULL or memory runs out. */
KORADO_C_EXPORT korado_object* korado_object_new(const korado_callbacks* callbacks, void* context,
                                                 const char* class_name);

/* Values. */
KORADO_C_EXPORT korado_value* korado_value_new(void); /* Empty */
KORADO_C_EXPORT korado_value* korado_value_new_text(const char* utf8);
KORADO_C_EXPORT korado_value* korado_value_new_long(int32_t v);
KORADO_C_EXPORT korado_value* korado_value_new_double(double v);
KORADO_C_EXPORT korado_value* korado_value_new_bool(int v);
KORADO_C_EXPORT korado_value* korado_value_new_null(void);
KORADO_C_EXPORT korado_value* korado_value_new_object(korado_object* obj); /* adds a reference; NULL: Nothing */
/* An omitted optional argument. */
KORADO_C_EXPORT korado_value* korado_value_new_missing(void);
KORADO_C_EXPORT void korado_value_free(korado_value* v);
/* Replaces what `target` holds with a copy of `source` (NULL: Empty); how a host object's callback
 * writes its result and its by-reference arguments. Returns 0, or 7 when memory runs out. */
KORADO_C_EXPORT int32_t korado_value_set(korado_value* target, const korado_value* source);

KORADO_C_EXPORT int korado_value_type(const korado_value* v);
/* The value as text (valid until the value changes or is freed); NULL when it has none (Null, objects). */
KORADO_C_EXPORT const char* korado_value_text(korado_value* v);
/* Conversions; return 0 and store the result, or the runtime's error number (13, 6, 94). */
KORADO_C_EXPORT int32_t korado_value_long(const korado_value* v, int32_t* out);
KORADO_C_EXPORT int32_t korado_value_double(const korado_value* v, double* out);
KORADO_C_EXPORT int32_t korado_value_bool(const korado_value* v, int* out);
/* A new reference to the object held, or NULL. */
KORADO_C_EXPORT korado_object* korado_value_object(const korado_value* v);

#ifdef __cplusplus
}
#endif

#endif /* KORADO_KORADO_H */
