/* A host written in C, using korado/korado.h only: it hands the library a script object of its own,
 * opens a dynaset on a SQLite file and walks it to the end, and checks that the library told its Breaks
 * about the query (ResetALL) and about every move (CheckBreaks); then changes a row through a dynaset.
 *
 * Usage: korado_c_host_sqlite <database file> (the file is replaced). Exit status 0 when every check
 * holds. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korado/korado.h"

typedef struct host {
    korado_object* breaks; /* what the script object's Breaks returns */
    int resets, checks, checks_without_dynaset, unknown, released;
} host;

static int failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

static int32_t not_supported(host* h, korado_error* err, const char* member) {
    ++h->unknown;
    err->number = 438;
    snprintf(err->description, sizeof err->description, "no member %s", member);
    return 438;
}

static int32_t script_invoke(void* context, const char* member, int call_type, korado_value** args,
                             size_t arg_count, korado_value* result, korado_error* err) {
    host* h = context;
    (void)args;
    if (strcmp(member, "Breaks") == 0 && call_type == KORADO_GET && arg_count == 0) {
        korado_value* breaks = korado_value_new_object(h->breaks);
        int32_t rc = korado_value_set(result, breaks);
        korado_value_free(breaks);
        return rc;
    }
    return not_supported(h, err, member);
}

/* A host with no break definitions: Count is 0, so no field asks for one. */
static int32_t breaks_invoke(void* context, const char* member, int call_type, korado_value** args,
                             size_t arg_count, korado_value* result, korado_error* err) {
    host* h = context;
    (void)call_type;
    if (strcmp(member, "ResetALL") == 0 && arg_count == 0) {
        ++h->resets;
        return 0;
    }
    if (strcmp(member, "CheckBreaks") == 0 && arg_count == 1) {
        korado_object* dynaset = korado_value_object(args[0]);
        if (dynaset) {
            korado_release(dynaset);
        } else {
            ++h->checks_without_dynaset;
        }
        ++h->checks;
        return 0;
    }
    if (strcmp(member, "Count") == 0 && arg_count == 0) {
        korado_value* zero = korado_value_new_long(0);
        int32_t rc = korado_value_set(result, zero);
        korado_value_free(zero);
        return rc;
    }
    return not_supported(h, err, member);
}

static void host_release(void* context) { ++((host*)context)->released; }

/* obj.member(args) with a result; reports a failure and returns 0 then. */
static int call(korado_object* obj, const char* member, int call_type, korado_value** args, size_t n,
                korado_value* result) {
    korado_error err;
    if (korado_invoke(obj, member, call_type, args, n, result, &err) != 0) {
        fprintf(stderr, "%s failed: %d %s (%s)\n", member, (int)err.number, err.description, err.source);
        ++failures;
        return 0;
    }
    return 1;
}

static void execute(korado_object* ado, const char* sql) {
    korado_value* args[4] = {korado_value_new_text(sql), korado_value_new_object(NULL),
                             korado_value_new_long(0), korado_value_new_object(NULL)};
    call(ado, "ExecuteSQL", KORADO_METHOD, args, 4, NULL);
    for (size_t i = 0; i < 4; ++i) korado_value_free(args[i]);
}

/* The dynaset's current row as "v1|v2|...;" appended to `out`. */
static void read_row(korado_object* dynaset, int columns, char* out, size_t size) {
    for (int i = 0; i < columns; ++i) {
        korado_value* index = korado_value_new_long(i);
        korado_value* field = korado_value_new();
        korado_value* value = korado_value_new();
        if (call(dynaset, "Fields", KORADO_GET, &index, 1, field)) {
            korado_object* f = korado_value_object(field);
            if (call(f, "Value", KORADO_GET, NULL, 0, value)) {
                const char* text = korado_value_text(value);
                strncat(out, text ? text : "(null)", size - strlen(out) - 1);
                strncat(out, i + 1 < columns ? "|" : ";", size - strlen(out) - 1);
            }
            korado_release(f);
        }
        korado_value_free(value);
        korado_value_free(field);
        korado_value_free(index);
    }
}

/* A row changed as a script changes it: the field's Value let, then Update, whose status 0 says it was
 * stored; a second dynaset reads the stored value back. */
static void edit_row(korado_object* ado) {
    execute(ado, "CREATE TABLE pay (id INTEGER PRIMARY KEY, sal REAL)");
    execute(ado, "INSERT INTO pay VALUES (1, 100)");
    const char* queries[2] = {"SELECT id, sal FROM pay", "SELECT sal FROM pay"};
    int32_t status = -1;
    char stored[64] = "";
    for (int q = 0; q < 2; ++q) {
        korado_value* args[3] = {korado_value_new_text(queries[q]), korado_value_new_object(NULL),
                                 korado_value_new_bool(0)};
        korado_value* result = korado_value_new();
        korado_object* dynaset = NULL;
        if (call(ado, "CreateDynaset", KORADO_METHOD, args, 3, result)) dynaset = korado_value_object(result);
        CHECK(dynaset != NULL);
        if (dynaset && q == 0) {
            korado_value* index = korado_value_new_text("sal");
            korado_value* field = korado_value_new();
            korado_value* sal = korado_value_new_double(250.5);
            korado_value* rc = korado_value_new();
            if (call(dynaset, "Fields", KORADO_GET, &index, 1, field)) {
                korado_object* f = korado_value_object(field);
                call(f, "Value", KORADO_LET, &sal, 1, NULL);
                korado_release(f);
                if (call(dynaset, "Update", KORADO_METHOD, NULL, 0, rc)) korado_value_long(rc, &status);
            }
            korado_value_free(rc);
            korado_value_free(sal);
            korado_value_free(field);
            korado_value_free(index);
        } else if (dynaset) {
            read_row(dynaset, 1, stored, sizeof stored);
        }
        korado_release(dynaset);
        korado_value_free(result);
        for (size_t i = 0; i < 3; ++i) korado_value_free(args[i]);
    }
    CHECK(status == 0);
    CHECK(strcmp(stored, "250.5;") == 0);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <database file>\n", argv[0]);
        return 2;
    }
    remove(argv[1]);

    host h = {0};
    korado_callbacks script_callbacks = {script_invoke, host_release};
    korado_callbacks breaks_callbacks = {breaks_invoke, host_release};
    h.breaks = korado_object_new(&breaks_callbacks, &h, "HostBreaks");
    korado_object* script = korado_object_new(&script_callbacks, &h, "HostScript");
    CHECK(h.breaks != NULL && script != NULL);

    korado_error err;
    korado_object* ado = korado_create("korADO.clsADO", &err);
    CHECK(ado != NULL);
    if (!ado) return 1;
    {
        korado_value* args[7] = {korado_value_new_object(script), korado_value_new_bool(0),
                                 korado_value_new_long(30),       korado_value_new_long(0),
                                 korado_value_new_long(0),        korado_value_new_long(100),
                                 korado_value_new_long(100)};
        call(ado, "Constructor", KORADO_METHOD, args, 7, NULL);
        for (size_t i = 0; i < 7; ++i) korado_value_free(args[i]);
    }
    {
        char connection[4096];
        snprintf(connection, sizeof connection, "Provider=SQLite;Data Source=%s", argv[1]);
        korado_value* args[4] = {korado_value_new_text(""), korado_value_new_text(""),
                                 korado_value_new_text(""), korado_value_new_text(connection)};
        korado_value* ok = korado_value_new();
        int connected = 0;
        if (call(ado, "Connect", KORADO_METHOD, args, 4, ok)) korado_value_bool(ok, &connected);
        CHECK(connected);
        korado_value_free(ok);
        for (size_t i = 0; i < 4; ++i) korado_value_free(args[i]);
    }

    execute(ado, "CREATE TABLE emp (dept INTEGER, name TEXT, sal REAL)");
    execute(ado, "INSERT INTO emp VALUES (10, 'King', 5000), (10, 'Clark', 2450), (20, 'Ford', NULL)");

    korado_value* args[3] = {korado_value_new_text("SELECT dept, name, sal FROM emp ORDER BY dept, name"),
                             korado_value_new_object(NULL), korado_value_new_bool(0)};
    korado_value* result = korado_value_new();
    char rows[1024] = "";
    int moves = 0;
    if (call(ado, "CreateDynaset", KORADO_METHOD, args, 3, result)) {
        korado_object* dynaset = korado_value_object(result);
        CHECK(dynaset != NULL);
        korado_value* eof = korado_value_new();
        int at_end = 1;
        while (dynaset && call(dynaset, "EOF", KORADO_GET, NULL, 0, eof) &&
               korado_value_bool(eof, &at_end) == 0 && !at_end && moves < 10) {
            read_row(dynaset, 3, rows, sizeof rows);
            if (!call(dynaset, "MoveNext", KORADO_METHOD, NULL, 0, NULL)) break;
            ++moves;
        }
        korado_value_free(eof);
        korado_release(dynaset);
    }
    korado_value_free(result);
    for (size_t i = 0; i < 3; ++i) korado_value_free(args[i]);

    CHECK(strcmp(rows, "10|Clark|2450;10|King|5000;20|Ford|(null);") == 0);
    CHECK(moves == 3);
    CHECK(h.resets == 1);
    CHECK(h.checks == 3);
    CHECK(h.checks_without_dynaset == 0);
    edit_row(ado);

    call(ado, "Disconnect", KORADO_METHOD, NULL, 0, NULL);
    call(ado, "Destructor", KORADO_METHOD, NULL, 0, NULL);
    korado_release(ado);
    korado_release(script);
    CHECK(h.released == 0); /* the library keeps its script object until its globals go */
    korado_release(h.breaks);
    korado_release_globals();
    CHECK(h.released == 2);
    CHECK(h.unknown == 0);
    if (failures) fprintf(stderr, "rows read: %s\n", rows);
    remove(argv[1]);
    return failures == 0 ? 0 : 1;
}
