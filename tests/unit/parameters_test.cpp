// Bind and substitution variables: the parameter's setters and invariants, the two collections, the
// placeholder rewriting and parameter binding of AddParametersToCommand (against a recording command), and
// the conversions of PopulateOutputParameters.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include <unicode/unistr.h>

#include "korado/connection/clsADO.h"
#include "korado/errors/clsADOError.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/parameters/clsSubstVariables.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/strings.h"
#include "parameters/placeholders.h"
#include "support/raises.h"
#include "support/recording_platform.h"
#include "support/support.h"

namespace korado {
namespace {

using test::RecordingCommand;
using test::StubConnection;

constexpr std::string_view kOutputNotSupported =
    "Output variables are not supported.\r\n\r\nYou may be able to use output variables when using a "
    "different "
    "driver. There is also a possibility that your database does not support output variables at all.";

class Parameters : public ::testing::Test {
  protected:
    void TearDown() override {
        for (auto& ado : sessions_) ado->Destructor();
        sessions_.clear();
        ReleaseGlobals();
    }

    // A connection object with the given defaults whose platform connection answers "Output Parameter
    // Availability" with `availability` (no such property when nullopt).
    Ref<clsADO> NewADO(std::int32_t mode = korParamIn, std::int32_t data_type = korTypeVarchar2,
                       std::optional<Variant> availability = Variant(2)) {
        std::vector<std::pair<std::string, Variant>> props;
        if (availability) props.emplace_back("Output Parameter Availability", *availability);
        ScopedClassOverride conn("ADODB.Connection", StubConnection::Factory(props));
        auto ado = MakeRef<clsADO>();
        ado->Constructor(nullptr, true, 30, mode, data_type, 10, 100);
        sessions_.push_back(ado);
        return ado;
    }

    Ref<clsBindVariables> NewBindVariables(const Ref<clsADO>& ado) {
        auto bv = MakeRef<clsBindVariables>();
        bv->Constructor(ado);
        return bv;
    }

    void ExpectReport(std::size_t i, std::string_view module, std::string_view routine, std::int32_t number) {
        ASSERT_GT(errors_.Reports().size(), i);
        const auto& r = errors_.Reports()[i];
        EXPECT_EQ(r.module, module);
        EXPECT_EQ(r.routine, routine);
        EXPECT_EQ(r.number, number);
        EXPECT_EQ(r.error_line, 0);
        EXPECT_TRUE(r.debug_message.IsMissing());
    }

    test::ErrorCapture errors_;
    test::MessageBoxCapture boxes_;

  private:
    std::vector<Ref<clsADO>> sessions_;
};

Ref<clsParameter> NewParameter(const std::string& name, std::int32_t type, const Ref<clsADO>& ado) {
    auto p = MakeRef<clsParameter>();
    p->Constructor(name, type, ado);
    return p;
}

std::int32_t SetMode(clsParameter& p, std::int32_t mode) {
    p.SetMode(mode);
    return mode;
}

// ---- clsParameter --------------------------------------------------------------------------------------

TEST_F(Parameters, CreationTakesTheSessionDefaultsForBindVariablesOnly) {
    auto ado = NewADO(korParamIn, korTypeVarchar2);
    auto bv = NewBindVariables(ado);
    Ref<clsParameter> b = bv->Add("Qty");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->Mode(), korParamIn);
    EXPECT_EQ(b->DataType(), korTypeVarchar2);
    EXPECT_EQ(b->ParamType(), korBindVariable);
    EXPECT_EQ(b->Name(), "Qty");
    EXPECT_EQ(b->Size(), -1);

    auto sv = MakeRef<clsSubstVariables>();
    sv->Constructor(ado);
    Ref<clsParameter> s = sv->Add("Table");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Mode(), korParamInOut);
    EXPECT_EQ(s->DataType(), korTypeVarchar2);
    EXPECT_EQ(s->ParamType(), korSubstitutionVariable);

    // Defaults are taken as they are, without the setters' checks.
    auto odd = NewParameter("x", korBindVariable, NewADO(7, 9));
    EXPECT_EQ(odd->Mode(), 7);
    EXPECT_EQ(odd->DataType(), 9);

    // Another parameter type keeps the creation values.
    auto other = NewParameter("y", 5, ado);
    EXPECT_EQ(other->Mode(), korParamInOut);
    EXPECT_EQ(other->DataType(), korTypeOther);
    EXPECT_EQ(other->ParamType(), 5);
    EXPECT_TRUE(errors_.Reports().empty());

    // A bind variable needs the connection object for its defaults; what came before stays stored.
    auto orphan = NewParameter("z", korBindVariable, nullptr);
    ExpectReport(0, "clsParameter", "Constructor", rt::ObjectNotSet);
    EXPECT_EQ(orphan->Name(), "z");
    EXPECT_EQ(orphan->ParamType(), korBindVariable);
    EXPECT_EQ(orphan->Mode(), korParamInOut);
    EXPECT_EQ(orphan->DataType(), korTypeOther);
}

TEST_F(Parameters, DataTypeWritesKeepTheInvariants) {
    auto ado = NewADO();
    auto b = NewParameter("b", korBindVariable, ado);
    for (std::int32_t t : {korTypeOther, korTypeNumber, korTypeVarchar2, korTypeDate}) {
        b->SetDataType(t);
        EXPECT_EQ(b->DataType(), t);
    }
    b->SetDataType(9);
    EXPECT_EQ(b->DataType(), korTypeOther);
    b->SetDataType(korTypeDate);
    b->SetDataType(-1);
    EXPECT_EQ(b->DataType(), korTypeOther);

    auto s = NewParameter("s", korSubstitutionVariable, ado);
    s->SetDataType(korTypeNumber);
    EXPECT_EQ(s->DataType(), korTypeVarchar2);
    s->SetDataType(42);
    EXPECT_EQ(s->DataType(), korTypeVarchar2);

    auto other = NewParameter("o", 3, ado);
    other->SetDataType(korTypeNumber);
    EXPECT_EQ(other->DataType(), korTypeOther);
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Parameters, ModeOutOfRangeFailsAndResetsASubstitutionVariablesArgument) {
    auto ado = NewADO();
    auto b = NewParameter("b", korBindVariable, ado);
    EXPECT_EQ(SetMode(*b, 3), 3);
    EXPECT_EQ(b->Mode(), korParamIn);
    ExpectReport(0, "clsParameter", "Let Mode", NoDictionaryDataFound);
    EXPECT_EQ(errors_.Reports()[0].source, "korADO");
    EXPECT_EQ(errors_.Reports()[0].description, "Invalid parameter mode.");

    auto s = NewParameter("s", korSubstitutionVariable, ado);
    EXPECT_EQ(SetMode(*s, -1), korParamIn);  // the caller's variable is reset before the check fails
    EXPECT_EQ(s->Mode(), korParamInOut);
    ExpectReport(1, "clsParameter", "Let Mode", NoDictionaryDataFound);
}

TEST_F(Parameters, ModeOutputAsksTheProviderForBindVariablesOnly) {
    // A substitution variable never consults the provider: this one has no such property.
    auto none = NewADO(korParamIn, korTypeVarchar2, std::nullopt);
    auto s = NewParameter("s", korSubstitutionVariable, none);
    EXPECT_EQ(SetMode(*s, korParamOut), korParamIn);
    EXPECT_EQ(s->Mode(), korParamIn);
    // Input needs no provider either.
    auto b0 = NewParameter("b0", korBindVariable, NewADO(korParamInOut, korTypeVarchar2, std::nullopt));
    SetMode(*b0, korParamIn);
    EXPECT_EQ(b0->Mode(), korParamIn);
    EXPECT_TRUE(errors_.Reports().empty());

    // Without the property the lookup fails and the mode stays.
    auto b = NewParameter("b", korBindVariable, none);
    EXPECT_EQ(SetMode(*b, korParamOut), korParamOut);
    EXPECT_EQ(b->Mode(), korParamIn);
    ExpectReport(0, "clsParameter", "Let Mode", Hr(0x800A0CC1));

    for (std::int32_t availability : {2, 4}) {
        auto p =
            NewParameter("p", korBindVariable, NewADO(korParamIn, korTypeVarchar2, Variant(availability)));
        SetMode(*p, korParamOut);
        EXPECT_EQ(p->Mode(), korParamOut) << availability;
        SetMode(*p, korParamInOut);
        EXPECT_EQ(p->Mode(), korParamInOut) << availability;
    }
    EXPECT_TRUE(boxes_.Shown().empty());

    // Any other answer leaves the mode, silently.
    auto quiet = NewParameter("q", korBindVariable, NewADO(korParamIn, korTypeVarchar2, Variant(3)));
    SetMode(*quiet, korParamOut);
    EXPECT_EQ(quiet->Mode(), korParamIn);
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_EQ(errors_.Reports().size(), 1u);
}

TEST_F(Parameters, ModeOutputOnAProviderWithoutOutputParametersShowsTheAdvice) {
    auto p = NewParameter("p", korBindVariable, NewADO(korParamIn, korTypeVarchar2, Variant(1)));
    SetMode(*p, korParamInOut);
    EXPECT_EQ(p->Mode(), korParamIn);
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, kOutputNotSupported);
    EXPECT_EQ(boxes_.Shown()[0].title, "Tabulon Universal Exception");
    EXPECT_TRUE(errors_.Reports().empty());

    // The shared error object's switch silences it; the mode still stays.
    g_ADOError->SetDisplayAlerts(false);
    SetMode(*p, korParamOut);
    EXPECT_EQ(p->Mode(), korParamIn);
    EXPECT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Parameters, ModeOutputWithoutAPlatformConnectionFails) {
    // A connection object whose platform connection could not be made.
    ScopedClassOverride broken("ADODB.Connection", [] { return Ref<Dispatch>(); });
    auto ado = MakeRef<clsADO>();
    ado->Constructor(nullptr, true, 30, korParamIn, korTypeVarchar2, 10, 100);
    errors_.Clear();
    auto p = NewParameter("p", korBindVariable, ado);
    SetMode(*p, korParamOut);
    EXPECT_EQ(p->Mode(), korParamIn);
    ExpectReport(0, "clsParameter", "Let Mode", rt::ObjectNotSet);
    ado->Destructor();
}

TEST_F(Parameters, ReadingValueRecomputesSize) {
    auto ado = NewADO(korParamIn, korTypeVarchar2);
    auto p = NewParameter("p", korBindVariable, ado);
    p->SetSize(30);
    p->SetValue("abc");
    EXPECT_EQ(p->Size(), 30);  // writing Value leaves Size alone
    EXPECT_EQ(CStr(p->Value()), "abc");
    EXPECT_EQ(p->Size(), 3);
    auto size_after_reading = [&](const Variant& v) {
        p->SetValue(v);
        p->Value();
        return p->Size();
    };
    EXPECT_EQ(size_after_reading("Grüße"), 5);  // characters, not bytes
    EXPECT_EQ(size_after_reading(Variant()), 0);
    EXPECT_EQ(size_after_reading(12.5), 4);

    p->SetDataType(korTypeNumber);
    p->SetSize(30);
    EXPECT_EQ(size_after_reading("abc"), -1);
    EXPECT_TRUE(errors_.Reports().empty());

    // A Null text has no length: the failure is reported, Size stays, and Null is still returned.
    p->SetDataType(korTypeVarchar2);
    p->SetSize(30);
    p->SetValue(Variant::Null());
    EXPECT_TRUE(p->Value().IsNull());
    EXPECT_EQ(p->Size(), 30);
    ExpectReport(0, "clsParameter", "Get Value", rt::InvalidUseOfNull);

    // Size takes any number; an object is stored as a reference.
    p->SetSize(-5);
    EXPECT_EQ(p->Size(), -5);
    auto target = MakeRef<Collection>();
    p->SetDataType(korTypeOther);
    p->SetValue(Variant(Ref<Dispatch>(target)));
    EXPECT_EQ(p->Value().AsObject().get(), target.get());
}

TEST_F(Parameters, ParameterLateBoundInterface) {
    auto ado = NewADO();
    auto sv = MakeRef<clsSubstVariables>();
    sv->Constructor(ado);
    Variant s(Ref<Dispatch>(sv->Add("s")));

    // Mode's argument is by reference: the host's variable comes back as korParamIn.
    Variant mode(korParamOut);
    Invoke(s, "Mode", CallType::Let, std::span<Variant>(&mode, 1));
    EXPECT_EQ(CLng(mode), korParamIn);
    EXPECT_EQ(CLng(GetProperty(s, "Mode")), korParamIn);

    LetProperty(s, "Value", "abcd");
    EXPECT_EQ(CStr(GetProperty(s, "Value")), "abcd");
    EXPECT_EQ(CLng(GetProperty(s, "Size")), 4);
    LetProperty(s, "DataType", korTypeDate);
    EXPECT_EQ(CLng(GetProperty(s, "DataType")), korTypeVarchar2);
    EXPECT_EQ(CLng(GetProperty(s, "ParamType")), korSubstitutionVariable);

    for (const char* read_only : {"Name", "ParamType"})
        EXPECT_RAISES(rt::NotSupported, LetProperty(s, read_only, "x")) << read_only;
    EXPECT_EQ(CStr(GetProperty(s, "Name")), "s");
}

// ---- clsBindVariables and clsSubstVariables as collections ------------------------------------------------

TEST_F(Parameters, BindVariablesCollection) {
    auto bv = NewBindVariables(NewADO());
    Ref<clsParameter> qty = bv->Add("Qty");
    qty->SetValue(5);
    EXPECT_EQ(bv->Add("Qty").get(), qty.get());
    EXPECT_EQ(bv->Add("QTY").get(), qty.get());
    EXPECT_EQ(qty->Name(), "Qty");
    EXPECT_EQ(CLng(qty->Value()), 5);
    EXPECT_EQ(bv->Count(), 1);

    Ref<clsParameter> price = bv->Add("Price");
    Ref<clsParameter> name = bv->Add("Name");
    EXPECT_EQ(bv->Item(1).get(), qty.get());
    EXPECT_EQ(bv->Item("price").get(), price.get());
    EXPECT_FALSE(bv->Item(0));
    EXPECT_FALSE(bv->Item(4));
    EXPECT_FALSE(bv->Item("Nope"));
    EXPECT_FALSE(bv->Item(Variant::Null()));
    EXPECT_FALSE(bv->Exists("Nope"));
    EXPECT_TRUE(bv->Exists("NAME"));
    EXPECT_TRUE(bv->Exists(3));
    EXPECT_TRUE(errors_.Reports().empty());

    bv->Delete("Nope");
    ExpectReport(0, "clsBindVariables", "Delete", rt::InvalidProcedureCall);
    EXPECT_EQ(bv->Count(), 3);

    auto names_in_order = [&] {
        std::vector<std::string> names;
        Ref<Enumerator> e = bv->NewEnum();
        for (Variant v; e->Next(v);) names.push_back(v.ObjectAs<clsParameter>()->Name());
        return names;
    };
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"Qty", "Price", "Name"}));
    bv->Delete(2);
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"Qty", "Name"}));
    // A removed variable lives on while the host holds it.
    EXPECT_EQ(price->Name(), "Price");

    bv->RemoveAll();
    EXPECT_EQ(bv->Count(), 0);
    bv->RemoveAll();
    EXPECT_EQ(bv->Count(), 0);
    EXPECT_EQ(errors_.Reports().size(), 1u);
}

TEST_F(Parameters, BindVariablesAfterDestructor) {
    auto bv = NewBindVariables(NewADO());
    bv->Add("a");
    bv->Destructor();
    EXPECT_FALSE(bv->Item("a"));
    EXPECT_FALSE(bv->Exists("a"));
    EXPECT_TRUE(errors_.Reports().empty());

    EXPECT_EQ(bv->Count(), 0);
    ExpectReport(0, "clsBindVariables", "Get Count", rt::ObjectNotSet);
    bv->Delete(1);
    ExpectReport(1, "clsBindVariables", "Delete", rt::ObjectNotSet);
    bv->RemoveAll();
    ExpectReport(2, "clsBindVariables", "RemoveAll", rt::ObjectNotSet);
    EXPECT_FALSE(bv->NewEnum());
    ExpectReport(3, "clsBindVariables", "NewEnum", rt::ObjectNotSet);
    // The new parameter cannot read the defaults of a released connection, nor be stored.
    EXPECT_FALSE(bv->Add("b"));
    ExpectReport(4, "clsParameter", "Constructor", rt::ObjectNotSet);
    ExpectReport(5, "clsBindVariables", "Add", rt::ObjectNotSet);
}

TEST_F(Parameters, BindVariablesLateBound) {
    auto bv = NewBindVariables(NewADO());
    Variant obj{Ref<Dispatch>(bv)};
    Variant a = CallMethod(obj, "Add", "A");
    CallMethod(obj, "Add", "B");
    CallMethod(obj, "Add", "C");
    EXPECT_EQ(CLng(GetProperty(obj, "Count")), 3);

    // Item is the default member: the host indexes the object itself.
    Variant key("a");
    EXPECT_EQ(Invoke(obj, "", CallType::Get, std::span<Variant>(&key, 1)).AsObject().get(),
              a.AsObject().get());
    EXPECT_TRUE(CBool(CallMethod(obj, "Exists", 2)));

    // The host's for-each construct: _NewEnum, then Next (its argument by reference) until it answers False.
    std::vector<std::string> seen;
    Variant e = CallMethod(obj, "_NewEnum");
    for (Variant item; CBool(Invoke(e, "Next", CallType::Method, std::span<Variant>(&item, 1)));)
        seen.push_back(CStr(GetProperty(item, "Name")));
    EXPECT_EQ(seen, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_TRUE(CallMethod(obj, "NewEnum").IsObject());

    CallMethod(obj, "Delete", "B");
    CallMethod(obj, "RemoveAll");
    EXPECT_EQ(CLng(GetProperty(obj, "Count")), 0);
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Parameters, SubstitutionVariablesCollection) {
    auto ado = NewADO(korParamIn, korTypeNumber);
    auto sv = MakeRef<clsSubstVariables>();
    sv->Constructor(ado);
    Variant count = sv->Count();
    EXPECT_EQ(count.Type(), VarType::Long);
    EXPECT_EQ(CLng(count), 0);

    Ref<clsParameter> t = sv->Add("Table");
    EXPECT_EQ(sv->Add("TABLE").get(), t.get());
    EXPECT_EQ(t->Name(), "Table");
    // The session's defaults (input, number) are not a substitution variable's.
    EXPECT_EQ(t->Mode(), korParamInOut);
    EXPECT_EQ(t->DataType(), korTypeVarchar2);

    sv->Add("Where");
    EXPECT_EQ(CLng(sv->Count()), 2);
    EXPECT_FALSE(sv->Item("nope"));
    EXPECT_FALSE(sv->Exists("nope"));
    EXPECT_TRUE(sv->Exists("where"));
    EXPECT_EQ(sv->Item(2)->Name(), "Where");
    EXPECT_TRUE(errors_.Reports().empty());
    sv->Delete("nope");
    ExpectReport(0, "clsSubstVariables", "Delete", rt::InvalidProcedureCall);

    Variant obj{Ref<Dispatch>(sv)};
    Variant key("table");
    EXPECT_EQ(Invoke(obj, "", CallType::Get, std::span<Variant>(&key, 1)).AsObject().get(), t.get());
    Ref<Enumerator> e = CallMethod(obj, "_NewEnum").ObjectAs<Enumerator>();
    ASSERT_TRUE(e);
    std::vector<std::string> seen;
    for (Variant v; e->Next(v);) seen.push_back(v.ObjectAs<clsParameter>()->Name());
    EXPECT_EQ(seen, (std::vector<std::string>{"Table", "Where"}));

    sv->RemoveAll();
    EXPECT_EQ(CLng(sv->Count()), 0);

    sv->Destructor();
    EXPECT_FALSE(sv->Item("Table"));
    EXPECT_FALSE(sv->Exists("Table"));
    EXPECT_EQ(errors_.Reports().size(), 1u);
    EXPECT_TRUE(sv->Count().IsEmpty());
    ExpectReport(1, "clsSubstVariables", "Get Count", rt::ObjectNotSet);
    EXPECT_FALSE(sv->Add("x"));
    ExpectReport(2, "clsSubstVariables", "m_addSubstVariable", rt::ObjectNotSet);
    EXPECT_EQ(errors_.Reports().size(), 3u);
}

// ---- the placeholder scan --------------------------------------------------------------------------------

struct Rewritten {
    std::string sql;
    std::vector<std::size_t> positions;
};

Rewritten Rewrite(std::string sql, std::string_view name) {
    std::vector<std::size_t> positions = RewritePlaceholders(sql, name);
    return {sql, positions};
}

// `sql` rewritten for `name` is `rewritten`, with placeholders at these character positions.
void ExpectRewrite(const std::string& sql, std::string_view name, std::string_view rewritten,
                   std::vector<std::size_t> positions) {
    Rewritten r = Rewrite(sql, name);
    EXPECT_EQ(r.sql, rewritten) << sql;
    EXPECT_EQ(r.positions, positions) << sql;
}

TEST(Placeholders, NamesEndAtNonWordCharacters) {
    using P = std::vector<std::size_t>;
    ExpectRewrite("x = :A", "A", "x = ? ", {5});  // at the very end
    EXPECT_EQ(Rewrite(":A_1", "A").sql, "? _1");
    for (const char* end : {"$", "#", ".", " ", "\n", ",", ")", ":", "'", "-", "?"})
        EXPECT_EQ(Rewrite(std::string(":A") + end, "A").positions, P{1}) << end;
    // Letters, digits and the characters Windows-1252 encodes at 128 to 255 continue the name.
    for (const char* more :
         {"B", "z", "0", "9", "é", "ä", "ÿ", "\u00A0", "€", "Š", "œ", "Ÿ", "™", "‘", "\u0081"})
        EXPECT_TRUE(Rewrite(std::string(":A") + more, "A").positions.empty()) << more;
    // Characters the code page lacks read as "?" and end the name, as does a malformed byte.
    for (const char* end : {"Ā", "ő", "日", "😀", "\u0080", "\xC3", "\x9F"})
        ExpectRewrite(std::string("é:A") + end, "A", std::string("é? ") + end, {2});
    // Letter case matters.
    EXPECT_TRUE(Rewrite(":a", "A").positions.empty());
}

TEST(Placeholders, WordCharactersAreExactlyWhatWindows1252EncodesHigh) {
    // ICU's own table of the code page is the reference: every character it decodes from 0x80 to 0xFF
    // continues a name, every other non-ASCII character of the first planes ends one.
    std::set<char32_t> high;
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char byte = static_cast<char>(b);
        icu::UnicodeString u(&byte, 1, "windows-1252");
        ASSERT_EQ(u.countChar32(), 1) << b;
        const UChar32 c = u.char32At(0);
        if (c != 0xFFFD && c != 0x1A) high.insert(static_cast<char32_t>(c));
    }
    EXPECT_GE(high.size(), 123u);
    for (char32_t c = 0x80; c < 0x3000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        std::string ch;
        icu::UnicodeString(static_cast<UChar32>(c)).toUTF8String(ch);
        const bool continues = Rewrite(":A" + ch, "A").positions.empty();
        if (high.count(c)) {
            EXPECT_TRUE(continues) << std::hex << static_cast<std::uint32_t>(c);
        } else if (c > 0x9F) {
            // ICU leaves some of 0x81, 0x8D, 0x8F, 0x90, 0x9D undefined; Windows maps them to C1 controls.
            EXPECT_FALSE(continues) << std::hex << static_cast<std::uint32_t>(c);
        }
    }
}

TEST(Placeholders, RewritingKeepsCharacterPositions) {
    // Quotes and comments are not special.
    ExpectRewrite("select ':A' from t -- :A\nwhere a = :A and b = :AB", "A",
                  "select '? ' from t -- ? \nwhere a = ?  and b = :AB", {9, 23, 36});
    // A non-ASCII name: the marker replaces it character for character.
    ExpectRewrite("größe = :Größe, ä=:Größe", "Größe", "größe = ?     , ä=?     ", {9, 19});
    // Later positions count characters of the original text.
    ExpectRewrite("'€€' :A, :A", "A", "'€€' ? , ? ", {6, 10});
    // Adjacent placeholders, and a name that holds a colon: the scan reads the text as rewritten so far.
    EXPECT_EQ(Rewrite(":A:A", "A").sql, "? ? ");
    ExpectRewrite(":x:x:x", "x:x", "?   :x", {1});
    // The empty name: every colon not followed by a word character.
    ExpectRewrite("a:b: c:", "", "a:b? c?", {4, 7});
    // A name with other characters never stands in an ASCII text; malformed bytes are kept as they are.
    EXPECT_EQ(Rewrite(":A", "é").positions, std::vector<std::size_t>{});
    ExpectRewrite("\xFF:A\xFE", "A", "\xFF? \xFE", {2});
    // Bytes F5 to FF start no character: each counts as one, as Len counts them.
    ExpectRewrite("\xFF\xB3\xB3\xF8\x80\x80\x80:A", "A", "\xFF\xB3\xB3\xF8\x80\x80\x80? ", {8});
}

// ---- AddParametersToCommand ------------------------------------------------------------------------------

class Binding : public Parameters {
  protected:
    void SetUp() override {
        ado_ = NewADO(korParamIn, korTypeVarchar2, Variant(2));
        bv_ = NewBindVariables(ado_);
        cmd_ = rec_ = MakeRef<RecordingCommand>();
    }

    Ref<clsParameter> Var(const std::string& name, Variant value, std::int32_t data_type = korTypeVarchar2,
                          std::int32_t mode = korParamIn) {
        Ref<clsParameter> p = bv_->Add(name);
        p->SetDataType(data_type);
        p->SetMode(mode);
        p->SetValue(value);
        return p;
    }

    std::string Bind(std::string sql, std::initializer_list<Variant> names,
                     Variant force = Variant::Missing()) {
        Ref<Collection> list = MakeCollection(names);
        bv_->AddParametersToCommand(cmd_, list, sql, force);
        return sql;
    }

    // The appended parameter i as recorded: its value and size.
    void ExpectBound(std::size_t i, const Variant& value, std::int32_t size) {
        EXPECT_EQ(rec_->At(i).value, value) << "parameter " << i;
        EXPECT_EQ(rec_->At(i).size, size) << "parameter " << i;
    }

    Ref<clsADO> ado_;
    Ref<clsBindVariables> bv_;
    Ref<RecordingCommand> rec_;
    Ref<ado::Command> cmd_;
};

TEST_F(Binding, WithoutNamesNothingHappens) {
    Var("A", "x");
    std::string sql = "select :A from t";
    Ref<Collection> none;
    bv_->AddParametersToCommand(cmd_, none, sql);
    EXPECT_EQ(sql, "select :A from t");
    // No list: ForceDirectionIn is not even converted. An empty list: the command is not even looked at.
    const std::pair<bool, Variant> cases[] = {{false, Variant::Null()}, {false, "abc"}, {true, Variant::Missing()}};
    for (const auto& [empty_list, force] : cases) {
        Ref<Collection> names = empty_list ? MakeRef<Collection>() : nullptr;
        Ref<ado::Command> no_command;
        bv_->AddParametersToCommand(no_command, names, sql, force);
        EXPECT_EQ(sql, "select :A from t");
    }
    EXPECT_TRUE(rec_->created.empty());
    EXPECT_EQ(rec_->parameters->Count(), 0);
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Binding, ParametersFollowTheTextOrder) {
    Var("A", "first");
    Var("B", 2.5, korTypeNumber);
    EXPECT_EQ(Bind("insert into t values (:A, :B, :A)", {"B", "A"}), "insert into t values (? , ? , ? )");
    ASSERT_EQ(rec_->parameters->Count(), 3);
    EXPECT_EQ(rec_->At(0).name, "A");
    EXPECT_EQ(rec_->At(1).name, "B");
    EXPECT_EQ(rec_->At(2).name, "A");
    EXPECT_EQ(rec_->At(1).type, ado::adDouble);
    EXPECT_EQ(rec_->At(1).direction, ado::adParamInput);
    ExpectBound(1, 2.5, 3);
    // The second A is a copy: the platform refuses the same object twice.
    EXPECT_NE(rec_->parameters->items[0].get(), rec_->parameters->items[2].get());
    for (std::size_t i : {0u, 2u}) {
        EXPECT_EQ(rec_->At(i).type, ado::adVarChar);
        EXPECT_EQ(rec_->At(i).direction, ado::adParamInput);
        ExpectBound(i, "first", 5);
    }
    EXPECT_EQ(rec_->created.size(), 3u);
    EXPECT_TRUE(errors_.Reports().empty());

    // A parameter of that name already on the command is not appended again either.
    auto more = MakeRef<RecordingCommand>();
    auto held = more->CreateParameter("A", ado::adInteger, ado::adParamInput, 4, 1);
    more->parameters->Append(held);
    cmd_ = more;
    EXPECT_EQ(Bind(":A", {"A"}), "? ");
    ASSERT_EQ(more->parameters->Count(), 2);
    EXPECT_EQ(more->parameters->items[0].get(), held.get());
    EXPECT_NE(more->parameters->items[1].get(), more->created[1].get());
    EXPECT_EQ(CStr(more->At(1).value), "first");
}

TEST_F(Binding, OnlyExactPlaceholdersOfListedNames) {
    Var("QTY", 1, korTypeNumber);
    Var("A", "x");
    Var("C", "unlisted");
    // Listed in upper case, written in lower case: found among the variables, never in the text.
    EXPECT_EQ(Bind("update t set q = :qty, a = :A1, b = :A_1, c = :C", {"QTY", "A"}),
              "update t set q = :qty, a = :A1, b = ? _1, c = :C");
    ASSERT_EQ(rec_->parameters->Count(), 1);
    EXPECT_EQ(rec_->At(0).name, "A");
    EXPECT_EQ(rec_->created.size(), 2u);  // QTY was prepared, not appended

    // A name listed twice: the second finds no placeholder left.
    cmd_ = rec_ = MakeRef<RecordingCommand>();
    EXPECT_EQ(Bind(":A", {"A", "A"}), "? ");
    EXPECT_EQ(rec_->parameters->Count(), 1);
    EXPECT_EQ(rec_->created.size(), 2u);
}

TEST_F(Binding, TypeAndDirectionTables) {
    Var("O", "o", korTypeOther);
    Var("N", 1, korTypeNumber);
    Var("V", "v", korTypeVarchar2);
    Var("D", Variant(DateSerial(2024, 5, 17)), korTypeDate);
    Bind(":O :N :V :D", {"O", "N", "V", "D"});
    ASSERT_EQ(rec_->parameters->Count(), 4);
    EXPECT_EQ(rec_->At(0).type, ado::adVariant);
    EXPECT_EQ(rec_->At(1).type, ado::adDouble);
    EXPECT_EQ(rec_->At(2).type, ado::adVarChar);
    EXPECT_EQ(rec_->At(3).type, ado::adDate);
    ExpectBound(3, Variant(DateSerial(2024, 5, 17)), 1);

    // Session defaults outside the tables leave the parameter as created, value and size included.
    auto odd = NewBindVariables(NewADO(5, 9));
    odd->Add("X")->SetValue("value");
    std::string sql = ":X";
    Ref<Collection> names = MakeCollection({"X"});
    odd->AddParametersToCommand(cmd_, names, sql);
    ASSERT_EQ(rec_->parameters->Count(), 5);
    EXPECT_EQ(rec_->At(4).type, ado::adEmpty);
    EXPECT_EQ(rec_->At(4).direction, ado::adParamInput);
    ExpectBound(4, Variant(), 0);
    EXPECT_TRUE(rec_->At(4).writes.empty());
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Binding, InputValuesAndSizes) {
    Var("Nul", Variant::Null(), korTypeNumber);
    Var("Emp", Variant(), korTypeOther);
    Var("EmptyText", "", korTypeVarchar2);
    Var("EmptyOther", "", korTypeOther);
    Var("Num", 12.5, korTypeNumber);
    Var("NumText", "", korTypeNumber);
    Var("Text", "Grüße", korTypeVarchar2);
    Bind(":Nul :Emp :EmptyText :EmptyOther :Num :NumText :Text",
         {"Nul", "Emp", "EmptyText", "EmptyOther", "Num", "NumText", "Text"});
    ASSERT_EQ(rec_->parameters->Count(), 7);
    ExpectBound(0, Variant::Null(), 1);
    ExpectBound(1, Variant::Null(), 1);
    ExpectBound(2, "", 1);
    ExpectBound(3, "", 1);
    EXPECT_EQ(rec_->At(4).size, 4);
    EXPECT_EQ(rec_->At(5).size, 0);  // a number's empty text keeps size 0
    EXPECT_EQ(rec_->At(6).size, 5);  // characters
    EXPECT_TRUE(errors_.Reports().empty());

    // The host's size goes to the parameter first; the value's length replaces it.
    cmd_ = rec_ = MakeRef<RecordingCommand>();
    Ref<clsParameter> sized = bv_->Add("Sized");
    sized->SetSize(30);
    sized->SetValue("abc");
    Bind(":Sized", {"Sized"});
    EXPECT_EQ(rec_->At(0).writes,
              (std::vector<std::string>{"Type=200", "Size=30", "Direction=1", "Value", "Size=3"}));
    EXPECT_EQ(sized->Size(), 3);  // the variable's Value was read

    // A Null text: its read is reported, and it binds as Null.
    cmd_ = rec_ = MakeRef<RecordingCommand>();
    Var("NullText", Variant::Null(), korTypeVarchar2);
    Bind(":NullText", {"NullText"});
    ExpectBound(0, Variant::Null(), 1);
    ExpectReport(0, "clsParameter", "Get Value", rt::InvalidUseOfNull);
}

TEST_F(Binding, ForceDirectionInUsesTheInputRules) {
    Ref<clsParameter> out = Var("Out", "abc", korTypeVarchar2, korParamOut);
    ASSERT_EQ(out->Mode(), korParamOut);
    Bind("call p(:Out)", {"Out"}, true);
    ASSERT_EQ(rec_->parameters->Count(), 1);
    EXPECT_EQ(rec_->At(0).direction, ado::adParamInput);
    ExpectBound(0, "abc", 3);
    EXPECT_EQ(out->Mode(), korParamOut);
}

TEST_F(Binding, OutputValuesAreBuffersForTheProvider) {
    Var("Text", "abc", korTypeVarchar2, korParamOut);
    Var("Other", Variant(), korTypeOther, korParamInOut);
    Var("Num", Variant(), korTypeNumber, korParamOut);
    Var("Day", "", korTypeDate, korParamInOut);
    Var("EmptyText", "", korTypeVarchar2, korParamOut);
    Var("Long", std::string(300, 'x'), korTypeVarchar2, korParamOut);
    Var("Amount", 7, korTypeNumber, korParamInOut);
    Bind(":Text :Other :Num :Day :EmptyText :Long :Amount",
         {"Text", "Other", "Num", "Day", "EmptyText", "Long", "Amount"});
    ASSERT_EQ(rec_->parameters->Count(), 7);

    EXPECT_EQ(rec_->At(0).direction, ado::adParamOutput);
    ExpectBound(0, "abc" + std::string(252, ' '), 255);
    EXPECT_EQ(rec_->At(1).direction, ado::adParamInputOutput);
    ExpectBound(1, std::string(255, ' '), 255);
    ExpectBound(2, std::int16_t{0}, 0);
    EXPECT_EQ(rec_->At(3).value, Variant(std::int16_t{0}));
    // Reading the empty text's Value made its Size 0: the buffer is the empty text.
    ExpectBound(4, "", 0);
    EXPECT_EQ(Len(CStr(rec_->At(5).value)), 300u);
    EXPECT_EQ(rec_->At(5).size, 1);
    EXPECT_EQ(CLng(rec_->At(6).value), 7);
    EXPECT_EQ(rec_->At(6).size, 0);
    EXPECT_TRUE(errors_.Reports().empty());

    // A Null text keeps the size it held, and the buffer has that many blanks.
    cmd_ = rec_ = MakeRef<RecordingCommand>();
    Ref<clsParameter> n = Var("NullText", Variant::Null(), korTypeVarchar2, korParamOut);
    n->SetSize(30);
    Bind(":NullText", {"NullText"});
    ExpectBound(0, std::string(30, ' '), 30);
    ExpectReport(0, "clsParameter", "Get Value", rt::InvalidUseOfNull);
}

TEST_F(Binding, FailuresKeepWhatWasDone) {
    Var("A", "a");
    Var("B", "b");
    // A name without a variable fails at its lookup: the rewriting before it stays, nothing is appended.
    EXPECT_EQ(Bind(":A :Missing :B", {"A", "Missing", "B"}), "?  :Missing :B");
    EXPECT_EQ(rec_->parameters->Count(), 0);
    EXPECT_EQ(rec_->created.size(), 2u);
    ExpectReport(0, "clsBindVariables", "AddParametersToCommand", rt::InvalidProcedureCall);
    EXPECT_EQ(errors_.Reports().size(), 1u);

    // A parameter the provider refuses: those before it stay appended.
    rec_->parameters->reject_name = "B";
    EXPECT_EQ(Bind(":A :B :A", {"A", "B"}), "?  ?  ? ");
    ASSERT_EQ(rec_->parameters->Count(), 1);
    EXPECT_EQ(rec_->At(0).name, "A");
    ExpectReport(1, "clsBindVariables", "AddParametersToCommand", Hr(0x80040E08));

    // No command at all.
    Ref<ado::Command> none;
    std::string sql = ":A";
    Ref<Collection> names = MakeCollection({"A"});
    bv_->AddParametersToCommand(none, names, sql);
    ExpectReport(2, "clsBindVariables", "AddParametersToCommand", rt::ObjectNotSet);
    EXPECT_EQ(sql, ":A");
}

TEST_F(Binding, ARepeatedStatementBindsAsAFreshOne) {
    Ref<clsParameter> a = Var("A", "one");
    Var("B", 1, korTypeNumber);
    const std::string sql = "update t set a = :A, b = :B where a <> :A";
    const std::string rewritten = "update t set a = ? , b = ?  where a <> ? ";
    auto bind_fresh = [&](std::string text, std::initializer_list<Variant> names) {
        cmd_ = rec_ = MakeRef<RecordingCommand>();
        return Bind(std::move(text), names);
    };
    EXPECT_EQ(bind_fresh(sql, {"A", "B"}), rewritten);
    a->SetValue("two");
    EXPECT_EQ(bind_fresh(sql, {"A", "B"}), rewritten);
    ASSERT_EQ(rec_->parameters->Count(), 3);
    ExpectBound(0, "two", 3);
    ExpectBound(2, "two", 3);

    // A variable removed and declared again is a new object, with its own type.
    bv_->Delete("A");
    Var("A", 7, korTypeNumber);
    EXPECT_EQ(bind_fresh(sql, {"A", "B"}), rewritten);
    EXPECT_EQ(rec_->At(0).type, ado::adDouble);
    ExpectBound(0, 7, 1);

    // Another text, or the same names in another letter case (found among the variables, not in the text).
    EXPECT_EQ(bind_fresh(":B :A", {"A", "B"}), "?  ? ");
    EXPECT_EQ(rec_->At(0).name, "B");
    EXPECT_EQ(bind_fresh(":B :A", {"a", "B"}), "?  :A");
    EXPECT_EQ(rec_->parameters->Count(), 1);
    EXPECT_EQ(bind_fresh(":B :A", {"A", "B"}), "?  ? ");
    EXPECT_EQ(rec_->parameters->Count(), 2);

    // Names that differ only in letter case stand for one variable: the second is appended as a copy on
    // every run, as is a name the command already holds.
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(bind_fresh(":B :b", {"B", "b"}), "?  ? ");
        ASSERT_EQ(rec_->parameters->Count(), 2);
        EXPECT_NE(rec_->parameters->items[0].get(), rec_->parameters->items[1].get());
    }
    for (int run = 0; run < 2; ++run) {
        cmd_ = rec_ = MakeRef<RecordingCommand>();
        auto held = rec_->CreateParameter("B", ado::adInteger, ado::adParamInput, 4, 1);
        rec_->parameters->Append(held);
        EXPECT_EQ(Bind(":B", {"B"}), "? ");
        ASSERT_EQ(rec_->parameters->Count(), 2);
        EXPECT_EQ(rec_->parameters->items[0].get(), held.get());
        EXPECT_NE(rec_->parameters->items[1].get(), rec_->created[1].get());
    }

    // Output values come back into the variable the names stand for now.
    Ref<clsParameter> out = Var("O", "", korTypeOther, korParamOut);
    EXPECT_EQ(bind_fresh(":O", {"O"}), "? ");
    bv_->Delete("O");
    Ref<clsParameter> again = Var("O", "", korTypeOther, korParamOut);
    EXPECT_EQ(bind_fresh(":O", {"O"}), "? ");
    rec_->At(0).value = 3.5;
    Ref<Collection> names = MakeCollection({"O"});
    bv_->PopulateOutputParameters(cmd_, names);
    EXPECT_EQ(again->Value(), Variant(3.5));
    EXPECT_EQ(out->Value(), Variant(""));
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Binding, AHandlerThatBindsAgainLeavesTheRunningBindingWhole) {
    Var("A", "a");
    Var("N", Variant::Null());  // reading a Null text is reported: the handler runs mid-binding
    Var("B", "b");
    const std::string sql = ":A :N :B";
    EXPECT_EQ(Bind(sql, {"A", "N", "B"}), "?  ?  ? ");

    // The handler binds another statement and declares B again, while the same statement is bound anew.
    bool inside = false;
    errors_.OnReport([&](const auto&) {
        if (inside) return;
        inside = true;
        Ref<ado::Command> other = MakeRef<RecordingCommand>();
        std::string text = ":B :A";
        Ref<Collection> list = MakeCollection({"B", "A"});
        bv_->AddParametersToCommand(other, list, text);
        EXPECT_EQ(text, "?  ? ");
        bv_->Delete("B");
        Var("B", "again");
        inside = false;
    });
    cmd_ = rec_ = MakeRef<RecordingCommand>();
    EXPECT_EQ(Bind(sql, {"A", "N", "B"}), "?  ?  ? ");
    ASSERT_EQ(rec_->parameters->Count(), 3);
    ExpectBound(0, "a", 1);
    ExpectBound(2, "again", 5);

    // The handler ends the collection: the binding under way fails at its next lookup, nothing dangles.
    errors_.OnReport([&](const auto& report) {
        if (report.routine == "Get Value") bv_->Destructor();
    });
    cmd_ = rec_ = MakeRef<RecordingCommand>();
    EXPECT_EQ(Bind(sql, {"A", "N", "B"}), "?  ?  :B");
    EXPECT_EQ(errors_.Reports().back().routine, "AddParametersToCommand");
    errors_.OnReport(nullptr);
}

// A platform whose parameters cannot tell their version: a command bound before is never taken to hold
// what binding appended, however the same statement was bound.
TEST_F(Binding, ACommandWithoutAVersionIsAlwaysBoundAfresh) {
    Var("A", "a");
    for (int run = 0; run < 2; ++run) {
        cmd_ = rec_ = MakeRef<RecordingCommand>();
        ASSERT_EQ(Bind("x = :A", {"A"}), "x = ? ");
    }
    rec_->parameters->Delete(Variant(0));
    std::string sql = "x = :A";
    EXPECT_FALSE(bv_->BindInPlace(*rec_, MakeCollection({"A"}), sql));
    EXPECT_EQ(sql, "x = :A");
}

TEST_F(Binding, LateBoundRewritesTheCallersText) {
    Var("A", "a");
    Variant args[] = {Variant(Ref<Dispatch>(rec_)), Variant(Ref<Dispatch>(MakeCollection({"A"}))),
                      Variant("x = :A")};
    Invoke(Variant(Ref<Dispatch>(bv_)), "AddParametersToCommand", CallType::Method, args);
    EXPECT_EQ(CStr(args[2]), "x = ? ");
    EXPECT_EQ(rec_->parameters->Count(), 1);
    EXPECT_TRUE(errors_.Reports().empty());
}

// ---- PopulateOutputParameters ------------------------------------------------------------------------

TEST_F(Binding, OutputValuesComeBackConverted) {
    struct Case {
        const char* name;
        Variant returned;
        Variant expected;
    };
    const Case cases[] = {
        {"Digits", "42", Variant(42.0)},
        {"Zeros", "007", Variant(7.0)},
        {"Padded", "42" + std::string(253, ' '), Variant(42.0)},
        {"Number", Variant(std::int32_t{5}), Variant(5.0)},
        {"Day", "2024-05-17", Variant(DateSerial(2024, 5, 17))},
        {"Text", "abc" + std::string(252, ' '), "abc" + std::string(252, ' ')},
        {"Nul", Variant::Null(), Variant::Null()},
        {"Emp", Variant(), Variant()},
        {"Err", CVErr(2015), Variant()},
    };
    Ref<Collection> names = MakeRef<Collection>();
    for (const Case& c : cases) {
        Var(c.name, "before", korTypeVarchar2, korParamInOut);
        names->Add(c.name);
        rec_->parameters->Append(
            rec_->CreateParameter(c.name, ado::adVarChar, ado::adParamInputOutput, 255, c.returned));
    }
    Ref<clsParameter> input = Var("In", "kept");
    names->Add("In");
    rec_->parameters->Append(rec_->CreateParameter("In", ado::adVarChar, ado::adParamInput, 4, "changed"));

    bv_->PopulateOutputParameters(cmd_, names);
    for (const Case& c : cases) {
        bv_->Item(c.name)->SetDataType(korTypeOther);  // so that reading a Null back is no failure
        EXPECT_EQ(bv_->Item(c.name)->Value(), c.expected) << c.name;
    }
    EXPECT_EQ(CStr(input->Value()), "kept");
    EXPECT_TRUE(errors_.Reports().empty());

    Ref<Collection> none;
    bv_->PopulateOutputParameters(cmd_, none);
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Binding, OutputFailuresKeepTheValuesBefore) {
    Ref<clsParameter> a = Var("A", "", korTypeOther, korParamOut);
    Ref<clsParameter> in = Var("In", "x");
    rec_->parameters->Append(rec_->CreateParameter("A", ado::adVariant, ado::adParamOutput, 0, 1.5));
    Ref<Collection> names = MakeCollection({"A", "In", "A"});
    // The command has no parameter for the input variable: the lookup comes before the mode test.
    bv_->PopulateOutputParameters(cmd_, names);
    EXPECT_EQ(a->Value(), Variant(1.5));
    ExpectReport(0, "clsBindVariables", "PopulateOutputParameters", Hr(0x800A0CC1));

    // A name the collection does not hold.
    rec_->parameters->Append(rec_->CreateParameter("Ghost", ado::adVariant, ado::adParamOutput, 0, 2));
    names = MakeCollection({"Ghost"});
    bv_->PopulateOutputParameters(cmd_, names);
    ExpectReport(1, "clsBindVariables", "PopulateOutputParameters", rt::InvalidProcedureCall);
    EXPECT_EQ(CStr(in->Value()), "x");
}

}  // namespace
}  // namespace korado
