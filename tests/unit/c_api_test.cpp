// The C interface, used as a C host uses it: only korado/korado.h.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

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

}  // namespace
