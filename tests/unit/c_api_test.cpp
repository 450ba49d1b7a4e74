// The C interface, used as a C host uses it: only korado/korado.h.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "korado/korado.h"
#include "support/support.h"

namespace {

struct Value {
    korado_value* v;
    explicit Value(korado_value* p) : v(p) {}
    ~Value() { korado_value_free(v); }
};

TEST(CInterface, ClassesMembersValuesAndCollections) {
    korado::test::MessageBoxCapture boxes;
    korado_error err;
    korado_object* error = korado_create("korADO.clsADOError", &err);
    ASSERT_NE(error, nullptr) << err.description;
    EXPECT_EQ(err.number, 0);

    Value message(korado_value_new_text("[unixODBC][Driver]Grüße")), type(korado_value_new_long(1)),
        result(korado_value_new());
    ASSERT_EQ(korado_invoke(error, "Exception", KORADO_METHOD, std::array{message.v, type.v}.data(), 2,
                            result.v, &err),
              0)
        << err.description;
    int32_t button = 0;
    EXPECT_EQ((std::tuple{korado_value_long(result.v, &button), button}), std::tuple(0, 1));
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Grüße");

    // An omitted optional argument.
    EXPECT_EQ(korado_invoke(error, "Exception", KORADO_METHOD, &message.v, 1, nullptr, &err), 0);
    EXPECT_EQ(boxes.Shown().back().text, "[unixODBC][Driver]Grüße");

    // Property let and get.
    Value off(korado_value_new_bool(0));
    EXPECT_EQ(korado_invoke(error, "DisplayAlerts", KORADO_LET, &off.v, 1, nullptr, &err), 0);
    EXPECT_EQ(korado_invoke(error, "DisplayAlerts", KORADO_GET, nullptr, 0, result.v, &err), 0);
    EXPECT_STREQ(korado_value_text(result.v), "False");

    EXPECT_EQ(korado_invoke(error, "NoSuchMember", KORADO_METHOD, nullptr, 0, nullptr, &err), 438);
    EXPECT_EQ(err.number, 438);
    EXPECT_NE(std::string(err.description).find("NoSuchMember"), std::string::npos);
    korado_release(error);

    EXPECT_EQ((std::tuple{korado_create("korADO.NoSuchClass", &err), err.number}), std::tuple(nullptr, 429));
    EXPECT_NE(std::string(err.description).find("korADO.NoSuchClass"), std::string::npos);
    EXPECT_EQ(korado_invoke(nullptr, "x", KORADO_METHOD, nullptr, 0, nullptr, &err), 91);

    bool found = false;
    for (size_t i = 0; const char* id = korado_prog_id(i); ++i) found |= std::string(id) == "korADO.clsADO";
    EXPECT_TRUE(found);

    korado_object* names = korado_create("korADO.Collection", &err);
    ASSERT_NE(names, nullptr) << err.description;
    Value item(korado_value_new_text("qty")), key(korado_value_new_text("Q")),
        index(korado_value_new_text("q")), out(korado_value_new());
    EXPECT_EQ(korado_invoke(names, "Add", KORADO_METHOD, std::array{item.v, key.v}.data(), 2, nullptr, &err),
              0);
    EXPECT_EQ(korado_invoke(names, "", KORADO_GET, &index.v, 1, out.v, &err), 0) << err.description;
    EXPECT_STREQ(korado_value_text(out.v), "qty");

    Value holder(korado_value_new_object(names));
    korado_object* again = korado_value_object(holder.v);
    EXPECT_EQ(std::tuple(korado_value_type(holder.v), again), std::tuple(KORADO_OBJECT, names));
    korado_release(again);
    korado_release(names);

    // Conversion failures give the runtime's numbers: type mismatch, overflow, invalid use of Null.
    Value text(korado_value_new_text("12x")), big(korado_value_new_double(1e12)),
        null(korado_value_new_null());
    int32_t n = 0;
    double d = 0;
    EXPECT_EQ(std::tuple(korado_value_long(text.v, &n), korado_value_long(big.v, &n),
                         korado_value_double(null.v, &d)),
              std::tuple(13, 6, 94));
    EXPECT_EQ(korado_value_text(null.v), nullptr);
}

// A host's own object as a C host writes one: it doubles a Long argument in place, fails with its own
// error, or fails with a bare number.
struct HostCalls {
    std::vector<std::tuple<std::string, int, size_t>> calls;  // member, call type, argument count
    int released = 0;
};

int32_t HostInvoke(void* context, const char* member, int call_type, korado_value** args, size_t arg_count,
                   korado_value* result, korado_error* err) {
    auto* host = static_cast<HostCalls*>(context);
    host->calls.emplace_back(member, call_type, arg_count);
    std::string name = member;
    int32_t n = 0;
    if (name == "Double" && arg_count == 1 && korado_value_long(args[0], &n) == 0) {
        Value doubled(korado_value_new_long(2 * n)), done(korado_value_new_text("done"));
        korado_value_set(args[0], doubled.v);
        return korado_value_set(result, done.v);
    }
    if (name == "Fail") {
        Value changed(korado_value_new_null());
        if (arg_count > 0) korado_value_set(args[0], changed.v);
        err->number = 3021;
        std::snprintf(err->source, sizeof err->source, "%s", "Host.Rows");
        std::snprintf(err->description, sizeof err->description, "%s", "No current row.");
        return 1;
    }
    return 438;
}

void HostRelease(void* context) { ++static_cast<HostCalls*>(context)->released; }

TEST(CInterface, HostObjectCalledByName) {
    HostCalls host;
    korado_callbacks callbacks = {HostInvoke, HostRelease};
    EXPECT_EQ(korado_object_new(nullptr, &host, "Rows"), nullptr);
    korado_callbacks no_invoke = {nullptr, HostRelease};
    EXPECT_EQ(korado_object_new(&no_invoke, &host, "Rows"), nullptr);
    korado_object* rows = korado_object_new(&callbacks, &host, "Rows");
    ASSERT_NE(rows, nullptr);
    korado_error err;

    // A by-reference argument comes back changed; on failure it stays as the caller left it.
    Value number(korado_value_new_long(21)), result(korado_value_new());
    ASSERT_EQ(korado_invoke(rows, "Double", KORADO_METHOD, &number.v, 1, result.v, &err), 0)
        << err.description;
    EXPECT_STREQ(korado_value_text(number.v), "42");
    EXPECT_STREQ(korado_value_text(result.v), "done");
    EXPECT_EQ(korado_invoke(rows, "Fail", KORADO_METHOD, &number.v, 1, result.v, &err), 3021);
    EXPECT_EQ(std::tuple(err.number, std::string(err.source), std::string(err.description)),
              std::tuple(3021, "Host.Rows", "No current row."));
    EXPECT_STREQ(korado_value_text(number.v), "42");
    // A bare number: the class name as source, the runtime's text.
    EXPECT_EQ(korado_invoke(rows, "Nothing", KORADO_GET, nullptr, 0, nullptr, &err), 438);
    EXPECT_EQ(std::tuple(std::string(err.source), std::string(err.description)),
              std::tuple("Rows", "Object doesn't support this property or method"));

    // Released once, when the last reference goes.
    korado_release(rows);
    EXPECT_EQ(host.released, 1);
    EXPECT_EQ(host.calls.size(), 3u);
}

}  // namespace
