// Checking which runtime error an expression raises.
//
//   EXPECT_RAISES(rt::TypeMismatch, CLng("abc"));
//   EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Recordset", rs->MoveNext());
//   Error e = RaisedError([&] { CreateObject("No.Such"); });
//   EXPECT_EQ(RaisedText([&] { s.Execute("x"); }), std::tuple(ExecuteSQLError, "no such table: x"));
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "korado/runtime/error.h"

namespace korado::test {

// The korado::Error that `f` throws, or nullopt when it returns normally. Other exceptions propagate.
template <class F>
std::optional<Error> RaisedError(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

// The number of the korado::Error that `f` throws; 0 when it returns normally.
template <class F>
std::int32_t RaisedNumber(F&& f) {
    std::optional<Error> e = RaisedError(std::forward<F>(f));
    return e ? e->Number() : 0;
}

// The number and description of the korado::Error that `f` throws; (0, "") when it returns normally.
template <class F>
std::tuple<std::int32_t, std::string> RaisedText(F&& f) {
    std::optional<Error> e = RaisedError(std::forward<F>(f));
    return e ? std::tuple(e->Number(), e->Description()) : std::tuple(0, std::string());
}

// Checks that `e` holds error `number` from `source`.
inline void ExpectError(const std::optional<Error>& e, std::int32_t number, std::string_view source) {
    ASSERT_TRUE(e.has_value()) << "nothing raised";
    EXPECT_EQ(e->Number(), number) << e->Description();
    EXPECT_EQ(e->Source(), source) << e->Description();
}

}  // namespace korado::test

#define EXPECT_RAISES(number, expr) \
    EXPECT_EQ(::korado::test::RaisedNumber([&] { (void)(expr); }), (number)) << "raised by: " #expr
#define EXPECT_RAISES_FROM(number, source, expr)                                                             \
    do {                                                                                                     \
        SCOPED_TRACE("raised by: " #expr);                                                                   \
        ::korado::test::ExpectError(::korado::test::RaisedError([&] { (void)(expr); }), (number), (source)); \
    } while (0)
