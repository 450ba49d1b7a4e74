// Collection, counted references, late binding by member name, the class registry, the error object and
// the mapping of exceptions in flight.
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "korado/runtime/collection.h"
#include "korado/runtime/dispatch.h"
#include "korado/runtime/err_object.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"

namespace korado {
namespace {

// A small late-bound class: methods, a property with Get/Let, an object property with Set, by-reference
// parameters, optional parameters and declared defaults. Counts its live instances.
class Gadget : public Dispatch {
  public:
    static inline int live = 0;
    Gadget() { ++live; }
    ~Gadget() override { --live; }

    std::string Name() const { return name_; }
    void SetName(const std::string& v) { name_ = v; }
    std::int32_t Add(std::int32_t a, std::int32_t b) { return a + b; }
    void Exchange(std::string& text, std::int32_t& number, Variant& any) {
        text += "!";
        number *= 2;
        any = Variant("changed");
    }
    std::string Greet(const std::string& who, std::optional<std::string> greeting) {
        return greeting.value_or("Hello") + ", " + who;
    }
    std::int32_t Scale(std::int32_t v, std::int32_t factor, std::int32_t offset) {
        return v * factor + offset;
    }
    bool Omitted(Variant* v) { return v == nullptr; }
    std::string Echo(std::string_view text, std::optional<std::string_view> suffix) {
        return std::string(text) + std::string(suffix.value_or("."));
    }
    double Half(double v) { return v / 2; }
    Ref<Gadget> Child() const { return child_; }
    void SetChild(Ref<Gadget> c) { child_ = std::move(c); }
    Variant Value() const { return value_; }
    void SetValue(const Variant& v) { value_ = v; }
    Ref<Gadget> Self() { return Ref<Gadget>(this); }
    std::string_view ClassName() const noexcept override { return "Gadget"; }

  protected:
    const MemberTable* Members() const noexcept override {
        static const MemberTable kMembers = MemberTable::Of<Gadget>("Value")
                                                .Get<&Gadget::Name>("Name")
                                                .Let<&Gadget::SetName>("Name")
                                                .Method<&Gadget::Add>("Add")
                                                .Method<&Gadget::Exchange>("Exchange")
                                                .Method<&Gadget::Greet>("Greet")
                                                .Method<&Gadget::Scale>("Scale", {10, 1})
                                                .Method<&Gadget::Omitted>("Omitted")
                                                .Method<&Gadget::Echo>("Echo")
                                                .Method<&Gadget::Half>("Half")
                                                .Get<&Gadget::Child>("Child")
                                                .Set<&Gadget::SetChild>("Child")
                                                .Get<&Gadget::Value>("Value")
                                                .Let<&Gadget::SetValue>("Value")
                                                .Build();
        return &kMembers;
    }

  private:
    std::string name_ = "gadget";
    Ref<Gadget> child_;
    Variant value_;
};

// Checks at the end of each test that every Gadget it made is gone.
class LateBindingTest : public ::testing::Test {
  protected:
    void SetUp() override { live_before_ = Gadget::live; }
    void TearDown() override { EXPECT_EQ(Gadget::live, live_before_) << "a Gadget leaked"; }
    Variant obj_ = Variant(MakeRef<Gadget>());

  private:
    int live_before_ = 0;
};

// A computed text and the one expected; a failure names the row.
using Is = std::pair<std::string, std::string>;
void ExpectRows(std::initializer_list<Is> rows) {
    for (const Is& r : rows) EXPECT_EQ(r.first, r.second) << "row " << &r - rows.begin();
}

std::vector<std::string> Texts(const Collection& c) {
    std::vector<std::string> out;
    for (const Variant& v : c) out.push_back(CStr(v));
    return out;
}

// ---- Collection
// --------------------------------------------------------------------------------------------
TEST(Collection, PositionsKeysBadIndexesDuplicatesRemoveAndAddBefore) {
    auto c = MakeRef<Collection>();
    c->Add("first", "A");
    c->Add("second");
    c->Add("third", "Größe");
    auto item = [&](const Variant& index) { return CStr(c->Item(index)); };
    // Positions round half to even.
    ExpectRows({Is{item(1), "first"}, Is{item(std::int16_t{2}), "second"}, Is{item(2.5), "second"},
                Is{item(Currency{30000}), "third"}, Is{item("a"), "first"}, Is{item("GRÖSSE"), "third"},
                Is{item("grösse"), "third"}, Is{CStr(c->ItemByKey("GRÖßE")), "third"},
                Is{c->KeyAt(3), "Größe"}, Is{c->KeyAt(2), ""},
                Is{std::to_string(c->PositionOfKey("größe")), "3"}});
    // A numeric text is a key, not a position.
    EXPECT_RAISES(rt::InvalidProcedureCall, c->Item("1"));

    // Missing items and indexes of the wrong kind.
    c = MakeCollection({"x", "y"});
    for (Variant index : {Variant(0), Variant(3), Variant(-1), Variant("nope"), Variant(""), Variant(),
                          Variant(true), Variant(1e300)})
        EXPECT_RAISES(rt::InvalidProcedureCall, c->Item(index)) << CStr(index);
    EXPECT_RAISES(rt::InvalidUseOfNull, c->Item(Variant::Null()));
    EXPECT_RAISES(rt::TypeMismatch, c->Item(Variant(MakeRef<Collection>())));
    EXPECT_RAISES(rt::TypeMismatch, c->Item(MakeArray(1)));
    for (std::size_t at : {0, 3}) EXPECT_RAISES(rt::InvalidProcedureCall, c->ItemAt(at)) << at;
    EXPECT_RAISES(rt::InvalidProcedureCall, c->KeyAt(3));
    EXPECT_TRUE(c->Find("1") == nullptr && c->Find(Variant::Null()) == nullptr && c->Find(7) == nullptr);

    // A duplicate key raises 457 and changes nothing.
    c = MakeRef<Collection>();
    c->Add(1, "Qty");
    c->Add(2, "Äpfel");
    for (const char* key : {"QTY", "äPFEL"}) EXPECT_RAISES(rt::KeyAlreadyExists, c->Add(3, key)) << key;
    EXPECT_RAISES(rt::KeyAlreadyExists, c->AddBefore(3, 1, "qty"));
    EXPECT_EQ(std::tuple(c->Count(), CStr(c->Item("qty"))), std::tuple(2, "1"));
    // Items without a key may repeat.
    c->Add(1);
    c->Add(1, "");
    EXPECT_EQ(c->Count(), 4);

    // Remove keeps the order and the keys.
    c = MakeRef<Collection>();
    for (const char* k : {"a", "b", "c", "d", "e"}) c->Add(std::string("item ") + k, k);
    c->Remove(2);
    EXPECT_EQ(Texts(*c), (std::vector<std::string>{"item a", "item c", "item d", "item e"}));
    c->Remove("D");
    EXPECT_EQ(Texts(*c), (std::vector<std::string>{"item a", "item c", "item e"}));
    EXPECT_EQ(std::tuple(CStr(c->Item("e")), c->PositionOfKey("e"), c->ContainsKey("b")),
              std::tuple("item e", 3u, false));
    c->RemoveAt(1);
    EXPECT_EQ(c->PositionOfKey("c"), 1u);
    // The key of a removed item may be used again.
    c->Add("new b", "B");
    EXPECT_EQ(CStr(c->Item("b")), "new b");
    for (Variant index : {Variant(0), Variant(4), Variant("zzz"), Variant()})
        EXPECT_RAISES(rt::InvalidProcedureCall, c->Remove(index)) << CStr(index);
    EXPECT_RAISES(rt::InvalidUseOfNull, c->Remove(Variant::Null()));
    EXPECT_EQ(c->Count(), 3);
    c->Clear();
    EXPECT_EQ(std::tuple(c->Count(), c->ContainsKey("c")), std::tuple(0, false));

    // AddBefore shifts the items and their keys.
    c = MakeRef<Collection>();
    c->Add("b", "kb");
    c->Add("c", "kc");
    c->AddBefore("a", 1, "ka");
    c->AddBefore("bb", 3, "kbb");
    c->AddBefore("end", 5);
    EXPECT_EQ(Texts(*c), (std::vector<std::string>{"a", "b", "bb", "c", "end"}));
    EXPECT_EQ(std::tuple(c->PositionOfKey("KC"), CStr(c->Item("kbb")), c->KeyAt(1)),
              std::tuple(4u, "bb", "ka"));
    for (int before : {0, 7}) EXPECT_RAISES(rt::InvalidProcedureCall, c->AddBefore("x", before)) << before;
    EXPECT_EQ(c->Count(), 5);
}

TEST(Collection, EnumerationLateBindingAndLifetime) {
    auto c = MakeRef<Collection>();
    Variant cv(c);
    CallMethod(cv, "Add", "one", "k1");
    CallMethod(cv, "add", 2);
    CallMethod(cv, "ADD", Variant(MakeRef<Collection>()), Variant::Missing());
    // Item is the default member, and a property may be read like a method.
    ExpectRows({Is{CStr(GetProperty(cv, "Count")), "3"}, Is{CStr(GetProperty(cv, "Item", "K1")), "one"},
                Is{CStr(GetProperty(cv, "", 2)), "2"}, Is{CStr(CallMethod(cv, "Item", 1)), "one"}});
    EXPECT_TRUE(GetProperty(cv, "Item", 3).IsObject());
    EXPECT_RAISES(rt::KeyAlreadyExists, CallMethod(cv, "Add", 3, "K1"));
    EXPECT_RAISES(rt::InvalidProcedureCall, GetProperty(cv, "Item", 9));
    EXPECT_RAISES(rt::WrongNumberOfArguments, CallMethod(cv, "Add", 1, "k", 1));

    // For Each through the late-bound enumerator: Next writes the item into its by-reference argument.
    Variant e = CallMethod(cv, "_NewEnum");
    std::vector<std::string> seen;
    Variant arg[1];
    while (CBool(Invoke(e, "Next", CallType::Method, arg))) seen.push_back(TypeName(arg[0]));
    EXPECT_EQ(seen, (std::vector<std::string>{"String", "Long", "Collection"}));
    CallMethod(e, "Reset");
    EXPECT_TRUE(CBool(Invoke(e, "Next", CallType::Method, arg)));
    EXPECT_EQ(CStr(arg[0]), "one");

    CallMethod(cv, "Remove", "k1");
    CallMethod(cv, "Remove", 1);
    EXPECT_EQ(c->Count(), 1);
    // An enumerator stops at the end of a collection that shrank under it.
    EXPECT_FALSE(CBool(Invoke(e, "Next", CallType::Method, arg)));

    // An enumerator keeps its collection alive.
    Ref<Enumerator> alone = MakeCollection({"a", "b"})->NewEnum();
    Variant v;
    ASSERT_TRUE(alone->Next(v) && alone->Next(v));
    EXPECT_EQ(CStr(v), "b");
    EXPECT_FALSE(alone->Next(v));
}

// ---- references
// ----------------------------------------------------------------------------------------------
// Hands out references to itself while it is being destroyed, as a Close() called from a destructor does.
class ClosesOnDestruction : public Dispatch {
  public:
    explicit ClosesOnDestruction(int& closed) : closed_(closed) {}
    ~ClosesOnDestruction() override { Close(); }
    void Close() {
        Ref<ClosesOnDestruction> keep(this);
        Variant as_variant(keep);
        ++closed_;
    }

  private:
    int& closed_;
};

// The fixture's check at the end sees every Gadget released.
TEST_F(LateBindingTest, RefsCountCastHoldCyclesSurviveTheDestructorAndArraysCopyThem) {
    Ref<Gadget> g = MakeRef<Gadget>();
    Ref<Dispatch> d = g;
    Variant v(g);
    EXPECT_EQ(g->RefCount(), 3u);
    EXPECT_EQ(RefCast<Gadget>(d), g);
    EXPECT_FALSE(RefCast<Collection>(d) || v.ObjectAs<Collection>());
    {
        // A reference the object makes to itself joins the count.
        Ref<Gadget> self = g->Self();
        EXPECT_EQ(g->RefCount(), 4u);
    }
    v.Clear();
    d = nullptr;
    Ref<Gadget> moved = std::move(g);
    EXPECT_EQ(moved->RefCount(), 1u);
    EXPECT_TRUE(Variant(Ref<Gadget>()).IsNothing());

    // A cycle (the object holds itself) keeps it alive until broken.
    const int live = Gadget::live;
    Gadget* raw = moved.get();
    moved->SetChild(moved);
    moved = nullptr;
    EXPECT_EQ(std::tuple(Gadget::live, raw->RefCount()), std::tuple(live, 1u));
    raw->SetChild(nullptr);
    EXPECT_EQ(Gadget::live, live - 1);

    // References taken in the destructor do not delete the object again.
    int closed = 0;
    MakeRef<ClosesOnDestruction>(closed)->Close();
    EXPECT_EQ(closed, 2);

    // An array copy counts the objects it holds.
    g = MakeRef<Gadget>();
    Variant a = MakeArray(1, "two", g);
    Variant b = a;
    EXPECT_EQ(g->RefCount(), 3u);
    EXPECT_RAISES(rt::SubscriptOutOfRange, a.get_if<VariantArray>()->at(3));

    // A moved-from array reads as empty, and copying it or assigning to it is safe.
    VariantArray src{1, 2};
    VariantArray dst(std::move(src));
    VariantArray copy(src);
    EXPECT_EQ(std::tuple(dst.size(), src.size(), copy.size()), std::tuple(2u, 0u, 0u));
    copy = src;
    EXPECT_TRUE(copy.size() == 0 && src.items().empty() && src == VariantArray());
    src = VariantArray{3};
    EXPECT_EQ(src.size(), 1u);
    Variant moved_from = MakeArray(1);
    Variant taken = std::move(moved_from);
    Variant again = moved_from;  // holds the moved-from array
    EXPECT_TRUE(again.IsArray() && again.get_if<VariantArray>()->size() == 0);
}

// ---- late binding
// ------------------------------------------------------------------------------------------
// Arguments by reference are written back; optional ones take their declared defaults; failures carry the
// runtime's numbers. Names, the default member, fallbacks, and what is no object.
TEST_F(LateBindingTest, ArgumentsNamesDefaultMemberFallbacksAndFailures) {
    Variant args[] = {Variant(5), Variant(std::int16_t{21}), Variant()};
    Invoke(obj_, "Exchange", CallType::Method, args);
    // The number takes the parameter's kind: Long.
    EXPECT_EQ(std::vector<Variant>(args, args + 3),
              (std::vector<Variant>{Variant("5!"), Variant(42), Variant("changed")}));

    // When an argument does not convert, the call fails and nothing is written.
    Variant bad[] = {Variant("x"), Variant("not a number"), Variant(1)};
    EXPECT_RAISES(rt::TypeMismatch, Invoke(obj_, "Exchange", CallType::Method, bad));
    EXPECT_EQ(std::tuple(bad[0], bad[2]), std::tuple(Variant("x"), Variant(1)));

    // Copied-in arguments (CallMethod) leave the caller's values alone.
    Variant text("t");
    CallMethod(obj_, "Exchange", text, 1, Variant());
    EXPECT_EQ(text, Variant("t"));

    // Text parameters taken as views see text that lives for the whole call.
    const std::string longer(40, 'x');
    const Variant missing = Variant::Missing();
    auto call = [&](auto... args) { return CStr(CallMethod(obj_, args...)); };
    ExpectRows({Is{call("Greet", "Ann"), "Hello, Ann"}, Is{call("Greet", "Ann", missing), "Hello, Ann"},
                Is{call("Greet", "Ann", "Hi"), "Hi, Ann"}, Is{call("Scale", 3), "31"},
                Is{call("Scale", 3, 2), "7"}, Is{call("Scale", 3, missing, 5), "35"},
                Is{call("Scale", "4", "2", "0"), "8"}, Is{call("Omitted"), "True"},
                Is{call("Omitted", missing), "True"}, Is{call("Omitted", Variant()), "False"},
                Is{call("Echo", 12.5), "12.5."}, Is{call("Echo", longer, 1e300), longer + "1E+300"},
                Is{call("Echo", "a", longer), "a" + longer}});
    EXPECT_RAISES(rt::ArgumentNotOptional, CallMethod(obj_, "Scale"));
    EXPECT_RAISES(rt::ArgumentNotOptional, CallMethod(obj_, "Greet", Variant::Missing(), "Hi"));

    auto e = test::RaisedError([&] { CallMethod(obj_, "Frobnicate", 1); });
    test::ExpectError(e, rt::NotSupported, "korADO");
    EXPECT_NE(e.value_or(Error(0, "", "")).Description().find("Frobnicate"), std::string::npos);

    EXPECT_RAISES(rt::ArgumentNotOptional, CallMethod(obj_, "Add", 1));
    EXPECT_RAISES(rt::ArgumentNotOptional, CallMethod(obj_, "Add", Variant::Missing(), 1));
    EXPECT_RAISES(rt::WrongNumberOfArguments, CallMethod(obj_, "Add", 1, 2, 3));
    EXPECT_RAISES(rt::WrongNumberOfArguments, GetProperty(obj_, "Name", 1));
    EXPECT_RAISES(rt::TypeMismatch, CallMethod(obj_, "Add", "x", 1));
    EXPECT_RAISES(rt::TypeMismatch, CallMethod(obj_, "Add", Variant(MakeRef<Collection>()), 1));
    EXPECT_RAISES(rt::InvalidUseOfNull, CallMethod(obj_, "Add", Variant::Null(), 1));
    EXPECT_RAISES(rt::Overflow, CallMethod(obj_, "Add", 3e9, 1));
    EXPECT_RAISES(rt::TypeMismatch, SetProperty(obj_, "Child", 5));
    EXPECT_RAISES(rt::TypeMismatch, SetProperty(obj_, "Child", Variant(MakeRef<Collection>())));
    // A read-only property cannot be assigned.
    EXPECT_RAISES(rt::NotSupported, LetProperty(Variant(MakeRef<Collection>()), "Count", 1));

    // Names in any case; a method read as a property, a property called as a method.
    ExpectRows({Is{CStr(CallMethod(obj_, "ADD", 1, 2)), "3"}, Is{CStr(CallMethod(obj_, "half", 5)), "2.5"},
                Is{CStr(GetProperty(obj_, "Add", 1, 2)), "3"}, Is{CStr(CallMethod(obj_, "Name")), "gadget"}});
    EXPECT_TRUE(RequireObject(obj_)->HasMember("exchange"));
    EXPECT_FALSE(RequireObject(obj_)->HasMember("Frobnicate"));
    // Let and Set stand in for each other.
    SetProperty(obj_, "Name", "renamed");
    EXPECT_EQ(CStr(GetProperty(obj_, "name")), "renamed");
    auto child = MakeRef<Gadget>();
    LetProperty(obj_, "Child", child);
    EXPECT_EQ(GetProperty(obj_, "Child").ObjectAs<Gadget>(), child);
    SetProperty(obj_, "Child", Variant(Ref<Dispatch>()));
    EXPECT_TRUE(GetProperty(obj_, "Child").IsNothing());
    SetProperty(obj_, "Child", Variant());
    EXPECT_TRUE(GetProperty(obj_, "Child").IsNothing());
    // The default member: obj = 5 and obj read as a value.
    LetProperty(obj_, "", 5);
    EXPECT_EQ(std::tuple(GetProperty(obj_, ""), GetProperty(obj_, "Value")),
              std::tuple(Variant(5), Variant(5)));
    EXPECT_RAISES(rt::WrongNumberOfArguments, CallMethod(Variant(ErrRef()), "Clear", 1));

    // What is no object, or an object not set.
    for (const Variant& v : {Variant(), Variant(5), Variant::Null()})
        EXPECT_RAISES(rt::ObjectRequired, RequireObject(v)) << TypeName(v);
    EXPECT_RAISES(rt::ObjectNotSet, RequireObject(Variant(Ref<Dispatch>())));
    EXPECT_RAISES(rt::ObjectNotSet, CallMethod(Variant(Ref<Dispatch>()), "Anything"));
    EXPECT_RAISES(rt::ObjectRequired, GetProperty("text", "Length"));
    // An object without members supports none.
    class Bare : public Dispatch {};
    EXPECT_RAISES(rt::NotSupported, CallMethod(Variant(MakeRef<Bare>()), ""));
}

// ---- the class registry
// --------------------------------------------------------------------------------------
constexpr const char* kGadgetClassId = "6B1B6C2E-0D4A-4F59-9C1E-2F3A4B5C6D7E";

class ClassRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterClass({"korTest.Gadget", kGadgetClassId, [] { return Ref<Dispatch>(MakeRef<Gadget>()); }});
    }
    void TearDown() override { UnregisterClass("korTest.Gadget"); }
};

TEST_F(ClassRegistryTest, CreateByProgIdOrClassIdOverridesAndUnknownOnesRaise429) {
    for (std::string name : {"korTest.Gadget", "KORTEST.gadget", "{6B1B6C2E-0D4A-4F59-9C1E-2F3A4B5C6D7E}",
                             kGadgetClassId, "{6b1b6c2e-0d4a-4f59-9c1e-2f3a4b5c6d7e}"})
        EXPECT_EQ(CreateObject(name)->ClassName(), "Gadget") << name;
    EXPECT_TRUE(CreateObjectAs<Gadget>("korTest.Gadget"));
    EXPECT_RAISES(rt::TypeMismatch, CreateObjectAs<Collection>("korTest.Gadget"));
    bool listed = false;
    for (const ClassRegistration& r : RegisteredClasses())
        listed = listed || (r.prog_id == "korTest.Gadget" && r.class_id == kGadgetClassId);
    EXPECT_TRUE(listed);

    auto e = test::RaisedError([] { CreateObject("korTest.NoSuchClass"); });
    ASSERT_TRUE(e && e->Number() == rt::CannotCreateObject);
    EXPECT_NE(e->Description().find("korTest.NoSuchClass"), std::string::npos) << e->Description();
    for (const char* name : {"", "{}", "{00000000-0000-0000-0000-000000000000}"})
        EXPECT_RAISES(rt::CannotCreateObject, CreateObject(name)) << name;

    // A factory that makes nothing fails the same way; a factory's own failure passes through.
    ScopedClassOverride nothing("korTest.Nothing", [] { return Ref<Dispatch>(); });
    EXPECT_RAISES(rt::CannotCreateObject, CreateObject("korTest.Nothing"));
    ScopedClassOverride failing("korTest.Failing", []() -> Ref<Dispatch> { Raise(3704, "closed"); });
    EXPECT_RAISES(3704, CreateObject("korTest.Failing"));

    // Overrides stack and restore.
    {
        ScopedClassOverride first("KORTEST.GADGET", [] { return Ref<Dispatch>(MakeRef<Collection>()); });
        EXPECT_EQ(CreateObject("korTest.Gadget")->ClassName(), "Collection");
        EXPECT_EQ(CreateObject(kGadgetClassId)->ClassName(), "Collection");  // the class id stays
        {
            ScopedClassOverride second("korTest.Gadget", [] { return Ref<Dispatch>(ErrRef()); });
            EXPECT_EQ(CreateObject("korTest.Gadget")->ClassName(), "ErrObject");
        }
        EXPECT_EQ(CreateObject("korTest.Gadget")->ClassName(), "Collection");
    }
    EXPECT_EQ(CreateObject("korTest.Gadget")->ClassName(), "Gadget");
    {
        ScopedClassOverride added("korTest.Added", [] { return Ref<Dispatch>(MakeRef<Gadget>()); });
        EXPECT_TRUE(CreateObject("korTest.Added"));
    }
    EXPECT_RAISES(rt::CannotCreateObject, CreateObject("korTest.Added"));

    ClassRegistration replaced = RegisterClass({"korTest.Gadget", "", [] { return Ref<Dispatch>(); }});
    ASSERT_TRUE(replaced.factory);
    EXPECT_EQ(std::tuple(replaced.class_id, replaced.factory()->ClassName()),
              std::tuple(kGadgetClassId, "Gadget"));
    EXPECT_FALSE(UnregisterClass("korTest.NeverThere").factory);
}

// ---- the error object
// ----------------------------------------------------------------------------------------
TEST(ErrObject, LateBoundClearedAndMappedFromWhatIsInFlight) {
    Error failure = Error(3021, "ADODB.Recordset", "Either BOF or EOF is True").WithNative(42, "HY000");
    Variant ev(MakeRef<ErrObject>(failure, 120));
    // Number is the default member.
    EXPECT_EQ(std::tuple(GetProperty(ev, ""), GetProperty(ev, "Erl"), GetProperty(ev, "NativeError"),
                         ev.ObjectAs<ErrObject>()->ToError().Description()),
              std::tuple(Variant(3021), Variant(120), Variant(42), "Either BOF or EOF is True"));
    CallMethod(ev, "Clear");
    EXPECT_EQ(std::tuple(GetProperty(ev, "Number"), GetProperty(ev, "Erl")),
              std::tuple(Variant(0), Variant(0)));
    EXPECT_RAISES(rt::NotSupported, LetProperty(ev, "Number", 5));
    // The process's current error object is one object.
    EXPECT_EQ(&Err(), ErrRef().get());

    // The exception in flight, mapped to an error.
    auto current = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return CurrentException();
        }
        return Error(0, "", "");
    };
    Error kept = current(
        [] { throw Error(Hr(0x80040E14), "Microsoft OLE DB Provider", "syntax").WithNative(7, "42000"); });
    EXPECT_EQ(
        std::tuple(kept.Number(), kept.Source(), kept.Description(), kept.NativeError(), kept.SQLState()),
        std::tuple(Hr(0x80040E14), "Microsoft OLE DB Provider", "syntax", 7, "42000"));

    Error memory = current([] { throw std::bad_alloc(); });
    EXPECT_EQ(std::tuple(memory.Number(), memory.Source(), memory.Description()),
              std::tuple(rt::OutOfMemory, "korADO", "Out of memory"));

    Error other = current([] { throw std::runtime_error("disk on fire"); });
    EXPECT_NE(other.Description().find("disk on fire"), std::string::npos);
    EXPECT_EQ(std::tuple(other.Number(), current([] { throw 42; }).Number()),
              std::tuple(rt::InternalError, rt::InternalError));

    EXPECT_EQ(std::tuple(RuntimeErrorText(rt::WrongNumberOfArguments), RuntimeErrorText(12345)),
              std::tuple("Wrong number of arguments or invalid property assignment", ""));
    EXPECT_EQ(test::RaisedError([] { RaiseRuntime(12345); }).value_or(Error(0, "", "")).Description(),
              "Application-defined or object-defined error");
    EXPECT_STREQ(Error(13, "src", "Type mismatch").what(), "Type mismatch (0x0000000D, src)");
}

}  // namespace
}  // namespace korado
