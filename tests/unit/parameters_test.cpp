// Bind and substitution variables: the parameter's setters and invariants, the two collections, the
// placeholder rewriting and parameter binding of AddParametersToCommand (against a recording command), and
// the conversions of PopulateOutputParameters.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <tuple>

#include <unicode/unistr.h>

#include "korado/connection/clsADO.h"
#include "korado/errors/clsADOError.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/parameters/clsSubstVariables.h"
#include "korado/platform/modGlobals.h"
#include "parameters/placeholders.h"
#include "support/recording_platform.h"
#include "support/support.h"

namespace korado {
namespace {

using test::RecordingCommand;
using test::StubConnection;

class Parameters : public ::testing::Test {
  protected:
    void TearDown() override {
        for (auto& ado : sessions_) ado->Destructor();
        sessions_.clear();
        ReleaseGlobals();
    }

    // A connection object with the given defaults whose platform connection answers "Output Parameter
    // Availability" with `availability` (no such property when nullopt, no platform connection when Missing).
    Ref<clsADO> NewADO(std::int32_t mode = korParamIn, std::int32_t data_type = korTypeVarchar2,
                       std::optional<Variant> availability = Variant(2)) {
        std::vector<std::pair<std::string, Variant>> props;
        if (availability) props.emplace_back("Output Parameter Availability", *availability);
        ClassFactory factory = StubConnection::Factory(props);
        if (availability && availability->IsMissing()) factory = [] { return Ref<Dispatch>(); };
        ScopedClassOverride conn("ADODB.Connection", factory);
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

// ---- clsParameter --------------------------------------------------------------------------------------

TEST_F(Parameters, CreationAndDataTypeWrites) {
    struct Case {
        std::int32_t type, session_mode, session_data_type, mode, data_type, written, stored;
    };
    const Case cases[] = {
        {korBindVariable, korParamIn, korTypeVarchar2, korParamIn, korTypeVarchar2, korTypeDate, korTypeDate},
        // The session's defaults are taken as they are, without the setters' checks.
        {korBindVariable, 7, 9, 7, 9, 9, korTypeOther},
        {korBindVariable, korParamIn, korTypeNumber, korParamIn, korTypeNumber, -1, korTypeOther},
        {korSubstitutionVariable, korParamIn, korTypeNumber, korParamInOut, korTypeVarchar2, 1,
         korTypeVarchar2},
        {korSubstitutionVariable, korParamIn, korTypeNumber, korParamInOut, korTypeVarchar2, 42,
         korTypeVarchar2},
        // Another type keeps the creation values, and ignores writes.
        {5, korParamIn, korTypeNumber, korParamInOut, korTypeOther, korTypeNumber, korTypeOther},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        auto p = NewParameter("Qty", c.type, NewADO(c.session_mode, c.session_data_type));
        EXPECT_EQ(p->Mode(), c.mode);
        EXPECT_EQ(p->DataType(), c.data_type);
        p->SetDataType(c.written);
        EXPECT_EQ(p->DataType(), c.stored);
    }

    // A bind variable needs the connection object for its defaults (the first failure reported here).
    auto orphan = NewParameter("z", korBindVariable, nullptr);
    ExpectReport(0, "clsParameter", "Constructor", rt::ObjectNotSet);
    EXPECT_EQ(orphan->Mode(), korParamInOut);
}

TEST_F(Parameters, ModeWrites) {
    const std::optional<Variant> kNoProperty = std::nullopt;
    struct Case {
        std::int32_t type;
        std::optional<Variant> availability;
        std::int32_t written, argument_after, mode_after;
        std::int32_t reported;  // 0: nothing
    };
    // Both kinds start in-out (the session's default for bind variables), but for a session whose platform
    // connection could not be made (Missing), which keeps no defaults.
    const Case cases[] = {
        {korBindVariable, Variant(2), 3, 3, korParamInOut, NoDictionaryDataFound},
        {korSubstitutionVariable, Variant(2), -1, korParamIn, korParamInOut, NoDictionaryDataFound},
        {korSubstitutionVariable, kNoProperty, korParamOut, korParamIn, korParamIn, 0},  // no provider asked
        {korBindVariable, kNoProperty, korParamIn, korParamIn, korParamIn, 0},
        {korBindVariable, kNoProperty, korParamOut, korParamOut, korParamInOut, ado::adErrItemNotFound},
        {korBindVariable, Variant(2), korParamOut, korParamOut, korParamOut, 0},
        {korBindVariable, Variant(4), korParamOut, korParamOut, korParamOut, 0},
        {korBindVariable, Variant(3), korParamOut, korParamOut, korParamInOut, 0},  // silently unchanged
        {korBindVariable, Variant(1), korParamOut, korParamOut, korParamInOut, 0},  // with the advice
        {korBindVariable, Variant::Missing(), korParamOut, korParamOut, korParamIn, rt::ObjectNotSet},
    };
    for (const Case& c : cases) {
        auto p = NewParameter("p", c.type, NewADO(korParamInOut, korTypeVarchar2, c.availability));
        const std::size_t before = errors_.Reports().size();
        std::int32_t argument = c.written;
        p->SetMode(argument);
        EXPECT_EQ(argument, c.argument_after) << c.written;
        EXPECT_EQ(p->Mode(), c.mode_after) << c.written;
        ASSERT_EQ(errors_.Reports().size(), before + (c.reported ? 1 : 0)) << c.written;
        if (c.reported) ExpectReport(before, "clsParameter", "Let Mode", c.reported);
    }
    EXPECT_EQ(errors_.Reports()[0].source, "korADO");
    EXPECT_EQ(errors_.Reports()[0].description, "Invalid parameter mode.");
    EXPECT_EQ(boxes_.Shown().size(), 1u);  // its text is checked against SQLite, which has no outputs
}

TEST_F(Parameters, ReadingValueRecomputesSize) {
    auto p = NewParameter("p", korBindVariable, NewADO(korParamIn, korTypeVarchar2));
    p->SetSize(30);
    p->SetValue("abc");
    EXPECT_EQ(p->Size(), 30);  // writing Value leaves Size alone
    auto size_after_reading = [&](const Variant& v) {
        p->SetValue(v);
        p->Value();
        return p->Size();
    };
    EXPECT_EQ(size_after_reading("abc"), 3);
    EXPECT_EQ(size_after_reading("Grüße"), 5);  // characters, not bytes
    EXPECT_EQ(size_after_reading(Variant()), 0);
    EXPECT_EQ(size_after_reading(12.5), 4);
    p->SetDataType(korTypeNumber);
    p->SetSize(30);
    EXPECT_EQ(size_after_reading("abc"), -1);
    EXPECT_TRUE(errors_.Reports().empty());  // (a Null text, which has no length: with binding, below)

    // An object is stored as a reference.
    auto target = MakeRef<Collection>();
    p->SetDataType(korTypeOther);
    p->SetValue(Variant(Ref<Dispatch>(target)));
    EXPECT_EQ(p->Value().AsObject().get(), target.get());
}

// ---- clsBindVariables and clsSubstVariables as collections ------------------------------------------------

// The walk both collections share: lookups by position and by name in any letter case, the host's for-each,
// and after Destructor Item and Exists finding nothing quietly while the others fail. Returns the routines
// that reported failures after the first (a Delete of a name not held).
template <class Vars>
std::vector<std::string> WalkCollection(const Ref<Vars>& vars, const test::ErrorCapture& errors,
                                        std::string_view module) {
    Ref<clsParameter> qty = vars->Add("Qty");
    EXPECT_EQ(vars->Add("QTY").get(), qty.get());
    EXPECT_EQ(qty->Name(), "Qty");
    Ref<clsParameter> price = vars->Add("Price");
    vars->Add("Name");
    EXPECT_EQ(vars->Item(1).get(), qty.get());
    EXPECT_EQ(vars->Item("price").get(), price.get());
    for (const Variant& missing : {Variant(0), Variant(4), Variant("Nope"), Variant::Null()}) {
        EXPECT_FALSE(vars->Item(missing));
        EXPECT_FALSE(vars->Exists(missing));
    }
    EXPECT_TRUE(vars->Exists(3));
    vars->Delete("Nope");
    EXPECT_EQ(errors.Reports().at(0).module, module);
    EXPECT_EQ(errors.Reports().at(0).number, rt::InvalidProcedureCall);

    // The host's for-each construct, on the object itself: _NewEnum, then Next until it answers False.
    Variant obj{Ref<Dispatch>(vars)};
    auto names_in_order = [&] {
        std::vector<std::string> names;
        Variant e = CallMethod(obj, "_NewEnum");
        for (Variant item; CBool(Invoke(e, "Next", CallType::Method, std::span<Variant>(&item, 1)));)
            names.push_back(CStr(GetProperty(item, "Name")));
        return names;
    };
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"Qty", "Price", "Name"}));
    vars->Delete(2);
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"Qty", "Name"}));
    vars->RemoveAll();
    vars->RemoveAll();
    EXPECT_EQ(CLng(Variant(vars->Count())), 0);

    vars->Add("a");
    vars->Destructor();
    EXPECT_FALSE(vars->Item("a"));
    EXPECT_FALSE(vars->Exists("a"));
    EXPECT_EQ(CLng(Variant(vars->Count())), 0);
    vars->Delete(1);
    vars->RemoveAll();
    EXPECT_FALSE(vars->NewEnum());
    EXPECT_FALSE(vars->Add("b"));
    std::vector<std::string> routines;
    for (std::size_t i = 1; i < errors.Reports().size(); ++i) routines.push_back(errors.Reports()[i].routine);
    return routines;
}

TEST_F(Parameters, BindVariablesCollection) {
    // The new parameter cannot read the released connection's defaults.
    EXPECT_EQ(
        WalkCollection(NewBindVariables(NewADO()), errors_, "clsBindVariables"),
        (std::vector<std::string>{"Get Count", "Delete", "RemoveAll", "NewEnum", "Constructor", "Add"}));
}

// The host sees Count as a Long, or as Empty once the collection is gone; Add reports through the routine
// that does the work.
TEST_F(Parameters, SubstitutionVariablesCollection) {
    auto sv = MakeRef<clsSubstVariables>();
    sv->Constructor(NewADO(korParamIn, korTypeNumber));
    EXPECT_EQ(sv->Count().Type(), VarType::Long);
    EXPECT_EQ(
        WalkCollection(sv, errors_, "clsSubstVariables"),
        (std::vector<std::string>{"Get Count", "Delete", "RemoveAll", "NewEnum", "m_addSubstVariable"}));
    EXPECT_TRUE(sv->Count().IsEmpty());
}

// ---- the placeholder scan --------------------------------------------------------------------------------

bool EndsName(std::string_view after) {
    std::string sql = ":A" + std::string(after);
    return !RewritePlaceholders(sql, "A").empty();
}

TEST(Placeholders, RewritingKeepsCharacterPositions) {
    struct Case {
        std::string sql, name, rewritten;
        std::vector<std::size_t> positions;
    };
    const Case cases[] = {
        {"x = :A", "A", "x = ? ", {5}},  // at the very end
        {":A_1", "A", "? _1", {1}},
        {":a", "A", ":a", {}},  // letter case matters
        // Quotes and comments are not special.
        {"select ':A' -- :A\n:A :AB", "A", "select '? ' -- ? \n?  :AB", {9, 16, 19}},
        // A non-ASCII name: the marker replaces it character for character.
        {"größe = :Größe, ä=:Größe", "Größe", "größe = ?     , ä=?     ", {9, 19}},
        // Later positions count characters of the original text; a character the code page lacks ends a name.
        {"'€€' :A, :A日", "A", "'€€' ? , ? 日", {6, 10}},
        // Adjacent placeholders, and a name that holds a colon: the scan reads the text as rewritten so far.
        {":A:A", "A", "? ? ", {1, 3}},
        {":x:x:x", "x:x", "?   :x", {1}},
        // The empty name: every colon not followed by a word character.
        {"a:b: c:", "", "a:b? c?", {4, 7}},
        // A name with other characters never stands in an ASCII text; malformed bytes are kept as they are.
        {":A", "é", ":A", {}},
        {"\xFF:A\xFE", "A", "\xFF? \xFE", {2}},
        // Bytes F5 to FF start no character: each counts as one, as Len counts them.
        {"\xFF\xB3\xB3\xF8\x80\x80\x80:A", "A", "\xFF\xB3\xB3\xF8\x80\x80\x80? ", {8}},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(RewritePlaceholders(c.sql, c.name), c.positions);
        EXPECT_EQ(c.sql, c.rewritten);
    }
    for (const char* end :
         {"$", "#", ".", " ", "\n", ",", ")", ":", "'", "-", "?", "\u0080", "😀", "\xC3", "\x9F"})
        EXPECT_TRUE(EndsName(end)) << end;
    for (const char* more : {"B", "z", "0", "9", "\u0081"}) EXPECT_FALSE(EndsName(more)) << more;
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
        // ICU leaves some of 0x81, 0x8D, 0x8F, 0x90, 0x9D undefined; Windows maps them to C1 controls.
        if (high.count(c) || c > 0x9F)
            EXPECT_EQ(EndsName(ch), !high.count(c)) << std::hex << std::uint32_t{c};
    }
}

// ---- AddParametersToCommand ------------------------------------------------------------------------------

class Binding : public Parameters {
  protected:
    void SetUp() override {
        bv_ = NewBindVariables(NewADO(korParamIn, korTypeVarchar2, Variant(2)));
        NewCommand();
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

    void NewCommand() { cmd_ = rec_ = MakeRef<RecordingCommand>(); }

    Ref<clsBindVariables> bv_;
    Ref<RecordingCommand> rec_;
    Ref<ado::Command> cmd_;
};

TEST_F(Binding, NothingToBindDoesNothing) {
    Var("A", "x");
    // No list: ForceDirectionIn is not even converted. An empty list: the command is not even looked at.
    const std::pair<bool, Variant> cases[] = {
        {false, Variant::Null()}, {false, "abc"}, {true, Variant::Missing()}};
    for (const auto& [empty_list, force] : cases) {
        std::string sql = "select :A from t";
        Ref<Collection> names = empty_list ? MakeRef<Collection>() : nullptr;
        Ref<ado::Command> none;
        bv_->AddParametersToCommand(none, names, sql, force);
        EXPECT_EQ(sql, "select :A from t");
    }
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Binding, ParametersFollowTheTextOrder) {
    Var("A", "first");
    Var("B", 2.5, korTypeNumber);
    Var("QTY", 1, korTypeNumber);
    Var("C", "unlisted");
    // QTY is found among the variables, never in the text (letter case); b stands for the variable B.
    EXPECT_EQ(Bind("v (:A, :B, :A) :qty :A1 :A_1 :C :b", {"B", "A", "QTY", "b"}),
              "v (? , ? , ? ) :qty :A1 ? _1 :C ? ");
    std::vector<std::string> bound;  // name, value, size and type
    for (std::int32_t i = 0; i < rec_->parameters->Count(); ++i) {
        const auto& p = rec_->At(i);
        bound.push_back(p.name + " " + CStr(p.value) + " " + std::to_string(p.size) + " " +
                        std::to_string(p.type));
    }
    EXPECT_EQ(bound, (std::vector<std::string>{"A first 5 200", "B 2.5 3 5", "A first 5 200", "A first 5 200",
                                               "b 2.5 3 5"}));
    // A name placed more than once, or one the command holds already (B for b), is appended as a copy: the
    // platform refuses the same object twice.
    EXPECT_EQ(rec_->parameters->items[0].get(), rec_->created[1].get());
    EXPECT_EQ(rec_->parameters->items[1].get(), rec_->created[0].get());
    EXPECT_EQ(rec_->created.size(), 7u);

    // A parameter of that name that the command held before binding; a name listed twice, whose second
    // entry finds no placeholder left.
    NewCommand();
    auto held = rec_->CreateParameter("A", ado::adInteger, ado::adParamInput, 4, 1);
    rec_->parameters->Append(held);
    EXPECT_EQ(Bind(":A", {"A", "A"}), "? ");
    ASSERT_EQ(rec_->parameters->Count(), 2);
    EXPECT_EQ(rec_->parameters->items[1].get(), rec_->created[3].get());
    EXPECT_EQ(CStr(rec_->At(1).value), "first");
    EXPECT_TRUE(errors_.Reports().empty());
}

TEST_F(Binding, TypesDirectionsValuesAndSizes) {
    const Variant day(DateSerial(2024, 5, 17));
    const std::string x300(300, 'x');
    constexpr std::int32_t kType[] = {ado::adVariant, ado::adDouble, ado::adVarChar, ado::adDate};
    struct Case {
        Variant value;
        std::int32_t data_type, mode;
        bool force_in;
        Variant bound;
        std::int32_t size, size_given = -1;
    };
    const Case cases[] = {
        // Input: empty and Null bind as Null of size 1; an empty text has size 1, a number's empty text 0.
        {Variant(), korTypeOther, korParamIn, false, Variant::Null(), 1},
        {Variant::Null(), korTypeNumber, korParamIn, false, Variant::Null(), 1},
        {"", korTypeVarchar2, korParamIn, false, "", 1},
        {"", korTypeOther, korParamIn, false, "", 1},
        {"", korTypeNumber, korParamIn, false, "", 0},
        {12.5, korTypeNumber, korParamIn, false, 12.5, 4},
        {"Grüße", korTypeVarchar2, korParamIn, false, "Grüße", 5, 30},
        {day, korTypeDate, korParamIn, false, day, 1},
        {"abc", korTypeVarchar2, korParamOut, true, "abc", 3},  // an output variable takes the input rules
        // Output: texts padded to 255; an empty value is a buffer of blanks, or 0 for numbers and dates.
        {"abc", korTypeVarchar2, korParamOut, false, "abc" + std::string(252, ' '), 255},
        {Variant(), korTypeOther, korParamInOut, false, std::string(255, ' '), 255},
        {Variant(), korTypeNumber, korParamOut, false, std::int16_t{0}, 0},
        {"", korTypeDate, korParamInOut, false, std::int16_t{0}, 0},
        {"", korTypeVarchar2, korParamOut, false, "", 0},  // reading the empty text made its Size 0
        {x300, korTypeVarchar2, korParamOut, false, x300, 1},
        {x300, korTypeVarchar2, korParamOut, false, x300, 400, 400},  // the host's size, set first, stays
        {7, korTypeNumber, korParamInOut, false, 7, 0},
        // A Null text: its read is reported, it binds as Null, and as output keeps the size it held.
        {Variant::Null(), korTypeVarchar2, korParamIn, false, Variant::Null(), 1, 30},
        {Variant::Null(), korTypeVarchar2, korParamOut, false, std::string(30, ' '), 30, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        NewCommand();
        bv_->RemoveAll();
        Var("V", c.value, c.data_type, c.mode)->SetSize(c.size_given);
        Bind(":V", {"V"}, Variant(c.force_in));
        ASSERT_EQ(rec_->parameters->Count(), 1);
        EXPECT_EQ(rec_->At(0).type, kType[c.data_type]);
        EXPECT_EQ(rec_->At(0).direction, c.force_in ? ado::adParamInput : c.mode + 1);
        EXPECT_EQ(rec_->At(0).value, c.bound);
        EXPECT_EQ(rec_->At(0).size, c.size);
    }
    ASSERT_EQ(errors_.Reports().size(), 2u);
    ExpectReport(1, "clsParameter", "Get Value", rt::InvalidUseOfNull);

    // Session defaults outside the tables leave the parameter as created, value and size included.
    NewCommand();
    auto odd = NewBindVariables(NewADO(5, 9));
    odd->Add("X")->SetValue("value");
    std::string sql = ":X";
    Ref<Collection> names = MakeCollection({"X"});
    odd->AddParametersToCommand(cmd_, names, sql);
    EXPECT_EQ(rec_->At(0).type, ado::adEmpty);
    EXPECT_EQ(rec_->At(0).direction, ado::adParamInput);
    EXPECT_TRUE(rec_->At(0).writes.empty());
}

TEST_F(Binding, FailuresKeepWhatWasDone) {
    Var("A", "a");
    Var("B", "b");
    // A name without a variable fails at its lookup: the rewriting before it stays, nothing is appended.
    EXPECT_EQ(Bind(":A :Missing :B", {"A", "Missing", "B"}), "?  :Missing :B");
    EXPECT_EQ(rec_->parameters->Count(), 0);
    EXPECT_EQ(rec_->created.size(), 2u);
    ExpectReport(0, "clsBindVariables", "AddParametersToCommand", rt::InvalidProcedureCall);

    // A parameter the provider refuses: those before it stay appended.
    rec_->parameters->reject_name = "B";
    EXPECT_EQ(Bind(":A :B :A", {"A", "B"}), "?  ?  ? ");
    ASSERT_EQ(rec_->parameters->Count(), 1);
    EXPECT_EQ(rec_->At(0).name, "A");
    ExpectReport(1, "clsBindVariables", "AddParametersToCommand", Hr(0x80040E08));

    // No command at all, or a ForceDirectionIn that is no Boolean.
    cmd_ = nullptr;
    EXPECT_EQ(Bind(":A", {"A"}), ":A");
    ExpectReport(2, "clsBindVariables", "AddParametersToCommand", rt::ObjectNotSet);
    EXPECT_EQ(Bind(":A", {"A"}, "abc"), ":A");
    ExpectReport(3, "clsBindVariables", "AddParametersToCommand", rt::TypeMismatch);
    EXPECT_EQ(errors_.Reports().size(), 4u);
}

// A platform whose parameters cannot tell their version (0): a command bound before is never taken to
// hold what binding appended, however the same statement was bound.
TEST_F(Binding, ACommandWithoutAVersionIsAlwaysBoundAfresh) {
    Var("A", "a");
    for (int run = 0; run < 2; ++run) {
        NewCommand();
        ASSERT_EQ(Bind("x = :A", {"A"}), "x = ? ");
    }
    rec_->parameters->Delete(Variant(0));
    std::string sql = "x = :A";
    EXPECT_FALSE(bv_->BindInPlace(*rec_, MakeCollection({"A"}), sql));
    EXPECT_EQ(sql, "x = :A");
}

// Arguments the host passes by reference come back changed: the text rewritten, a mode reset.
TEST_F(Binding, LateBoundArgumentsComeBackChanged) {
    Var("A", "a");
    Variant args[] = {Variant(Ref<Dispatch>(rec_)), Variant(Ref<Dispatch>(MakeCollection({"A"}))),
                      Variant("x = :A")};
    Invoke(Variant(Ref<Dispatch>(bv_)), "AddParametersToCommand", CallType::Method, args);
    EXPECT_EQ(CStr(args[2]), "x = ? ");
    EXPECT_EQ(rec_->parameters->Count(), 1);

    Variant s(Ref<Dispatch>(NewParameter("s", korSubstitutionVariable, NewADO())));
    Variant mode(korParamOut);
    Invoke(s, "Mode", CallType::Let, std::span<Variant>(&mode, 1));
    EXPECT_EQ(CLng(mode), korParamIn);
    EXPECT_TRUE(errors_.Reports().empty());
}

// ---- PopulateOutputParameters ------------------------------------------------------------------------

TEST_F(Binding, OutputValuesComeBackConverted) {
    const std::tuple<const char*, Variant, Variant> cases[] = {
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
    for (const auto& [name, returned, expected] : cases) {
        Var(name, "before", korTypeVarchar2, korParamInOut);
        names->Add(name);
        rec_->parameters->Append(
            rec_->CreateParameter(name, ado::adVarChar, ado::adParamInputOutput, 255, returned));
    }
    Ref<clsParameter> input = Var("In", "kept");
    names->Add("In");
    rec_->parameters->Append(rec_->CreateParameter("In", ado::adVarChar, ado::adParamInput, 4, "changed"));

    bv_->PopulateOutputParameters(cmd_, names);
    for (const auto& [name, returned, expected] : cases) {
        bv_->Item(name)->SetDataType(korTypeOther);  // so that reading a Null back is no failure
        EXPECT_EQ(bv_->Item(name)->Value(), expected) << name;
    }
    Ref<Collection> none;
    bv_->PopulateOutputParameters(cmd_, none);
    EXPECT_TRUE(errors_.Reports().empty());

    // Failures keep the values copied before them: a variable the command has no parameter for (even an
    // input one: the lookup comes before the mode test), a name the collection does not hold.
    Var("Absent", "x");
    rec_->At(0).value = "43";
    rec_->parameters->Append(rec_->CreateParameter("Ghost", ado::adVariant, ado::adParamOutput, 0, 2));
    for (const char* failing : {"Absent", "Ghost"}) {
        names = MakeCollection({"Digits", failing});
        bv_->PopulateOutputParameters(cmd_, names);
    }
    EXPECT_EQ(bv_->Item("Digits")->Value(), Variant(43.0));
    EXPECT_EQ(CStr(input->Value()), "kept");
    ExpectReport(0, "clsBindVariables", "PopulateOutputParameters", Hr(0x800A0CC1));
    ExpectReport(1, "clsBindVariables", "PopulateOutputParameters", rt::InvalidProcedureCall);
}

}  // namespace
}  // namespace korado
