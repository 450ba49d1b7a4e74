// Late binding: calling an object's members by name at run time.
//
// The host's script object, the error and file components and every public class of the library are
// reached this way (a host written in any language, through the C interface, reaches the library the same
// way). A call names the member (without regard to letter case), says whether it is a method call or a
// property get, let or set, and passes its arguments by reference: the callee may change them, and the
// caller sees the change, as the Parts' by-reference arguments require. For a property let or set, the
// new value is the last argument. An omitted optional argument is passed as Variant::Missing().
//
// Failures: an unknown member raises 438, a null object 91, a missing required argument 449, too many
// arguments 450, an argument of the wrong kind 13; the member's own failures pass through unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <algorithm>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "korado/export.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/error.h"
#include "korado/runtime/object.h"
#include "korado/runtime/variant.h"

namespace korado {

// The language's CallType values.
enum class CallType : int { Method = 1, Get = 2, Let = 4, Set = 8 };

namespace rt {
inline constexpr std::int32_t WrongNumberOfArguments = 450;  // "Wrong number of arguments or invalid property assignment"
}

class MemberTable;

class KORADO_EXPORT Dispatch : public Object {
public:
    // Calls `member` (empty name: the default member, e.g. Item of a collection).
    virtual Variant Invoke(std::string_view member, CallType type, std::span<Variant> args);
    // The class name, as TypeName reports it.
    virtual std::string_view ClassName() const noexcept { return "Object"; }
    // True when the object has a member of that name (any call type).
    bool HasMember(std::string_view member) const;

protected:
    // The members a class publishes; derived classes return a static table (see MemberTable::Of).
    virtual const MemberTable* Members() const noexcept { return nullptr; }
};

// Iterates a collection for a host's for-each construct.
class KORADO_EXPORT Enumerator : public Dispatch {
public:
    // Stores the next item in `out` and returns true, or returns false at the end.
    virtual bool Next(Variant& out) = 0;
    virtual void Reset() = 0;
    std::string_view ClassName() const noexcept override { return "Enumerator"; }

protected:
    const MemberTable* Members() const noexcept override;
};

// ---- calling members by name ---------------------------------------------------------------------------
KORADO_EXPORT Variant Invoke(const Variant& object, std::string_view member, CallType type,
                             std::span<Variant> args);
inline Variant Invoke(const Ref<Dispatch>& object, std::string_view member, CallType type,
                      std::span<Variant> args) {
    return Invoke(Variant(object), member, type, args);
}

// obj.member(args...) as a method call; arguments are copied in (use Invoke for by-reference results).
template <class... A>
Variant CallMethod(const Variant& obj, std::string_view member, A&&... args) {
    Variant a[] = {Variant(std::forward<A>(args))..., Variant()};
    return Invoke(obj, member, CallType::Method, std::span<Variant>(a, sizeof...(A)));
}
template <class... A>
Variant GetProperty(const Variant& obj, std::string_view member, A&&... args) {
    Variant a[] = {Variant(std::forward<A>(args))..., Variant()};
    return Invoke(obj, member, CallType::Get, std::span<Variant>(a, sizeof...(A)));
}
// obj.member(args...) = value
template <class... A>
void LetProperty(const Variant& obj, std::string_view member, A&&... argsThenValue) {
    Variant a[] = {Variant(std::forward<A>(argsThenValue))...};
    Invoke(obj, member, CallType::Let, std::span<Variant>(a, sizeof...(A)));
}
template <class... A>
void SetProperty(const Variant& obj, std::string_view member, A&&... argsThenValue) {
    Variant a[] = {Variant(std::forward<A>(argsThenValue))...};
    Invoke(obj, member, CallType::Set, std::span<Variant>(a, sizeof...(A)));
}

// The object a Variant holds: raises 424 when it holds no object, 91 when it holds Nothing.
KORADO_EXPORT Ref<Dispatch> RequireObject(const Variant& v);

// ---- member tables -------------------------------------------------------------------------------------
// A member's adapter: converts the arguments, calls the member, converts the result. `defaults` holds the
// values of the trailing optional parameters, used where the caller omits them.
using MemberThunk = Variant (*)(Dispatch& self, std::span<Variant> args, std::span<const Variant> defaults);

class KORADO_EXPORT MemberTable {
public:
    template <class T>
    class Builder;
    template <class T>
    static Builder<T> Of(std::string_view default_member = {});

    // The thunk for `name` and `type`; nullptr when there is none. A Get falls back to a Method of the
    // same name and vice versa (the language lets a host call a function as a property and back).
    struct Found {
        MemberThunk thunk = nullptr;
        std::span<const Variant> defaults;
        explicit operator bool() const noexcept { return thunk != nullptr; }
    };
    Found Find(std::string_view name, CallType type) const;
    bool Has(std::string_view name) const;
    const std::string& DefaultMember() const noexcept { return default_member_; }
    std::vector<std::string> Names() const;

    void Add(std::string_view name, CallType type, MemberThunk thunk, std::vector<Variant> defaults = {});
    void SetDefault(std::string_view name) { default_member_ = std::string(name); }

private:
    struct Entry {
        std::string name;
        MemberThunk thunks[4] = {};  // Method, Get, Let, Set
        std::vector<Variant> defaults[4];
    };
    std::unordered_map<std::string, Entry> entries_;  // key: ASCII-lower-cased name
    std::string default_member_;
};

namespace detail {

template <class T>
struct IsRef : std::false_type {};
template <class U>
struct IsRef<Ref<U>> : std::true_type {
    using Target = U;
};
template <class T>
struct IsOptional : std::false_type {};
template <class U>
struct IsOptional<std::optional<U>> : std::true_type {
    using Value = U;
};

// Converts one Variant argument to the C++ parameter's value type.
template <class V>
V FromVariant(const Variant& a) {
    if constexpr (std::is_same_v<V, Variant>) {
        return a;
    } else if constexpr (std::is_same_v<V, std::string>) {
        return CStr(a);
    } else if constexpr (std::is_same_v<V, bool>) {
        return CBool(a);
    } else if constexpr (std::is_same_v<V, std::uint8_t>) {
        return CByte(a);
    } else if constexpr (std::is_same_v<V, std::int16_t>) {
        return CInt(a);
    } else if constexpr (std::is_same_v<V, std::int32_t>) {
        return CLng(a);
    } else if constexpr (std::is_same_v<V, std::int64_t>) {
        return CLngLng(a);
    } else if constexpr (std::is_same_v<V, double>) {
        return CDbl(a);
    } else if constexpr (std::is_same_v<V, float>) {
        return CSng(a);
    } else if constexpr (std::is_same_v<V, Date>) {
        return CDate(a);
    } else if constexpr (std::is_same_v<V, Currency>) {
        return CCur(a);
    } else if constexpr (IsRef<V>::value) {
        using U = typename IsRef<V>::Target;
        if (a.IsEmpty() || a.IsNothing() || a.IsMissing()) return V();
        if (!a.IsObject()) RaiseRuntime(rt::TypeMismatch);
        V r = a.template ObjectAs<U>();
        if (!r) RaiseRuntime(rt::TypeMismatch);
        return r;
    } else {
        static_assert(sizeof(V) == 0, "parameter type not supported by late binding");
    }
}

// Holds one converted argument for the duration of the call and writes a by-reference value back.
// Parameter kinds: Variant& (used in place: by reference), const Variant& / Variant, Variant* (the
// caller's Variant, or nullptr when omitted), std::optional<X> (nullopt when omitted), and values converted
// from the Variant (std::string, std::string_view, numbers, bool, Date, Ref<X>); a non-const reference to
// one of those is by reference.
// What a parameter's converted value is kept in for the call: a text view looks at a string the slot owns.
template <class V>
struct StoredAs {
    using Type = V;
};
template <>
struct StoredAs<std::string_view> {
    using Type = std::string;
};
template <>
struct StoredAs<std::optional<std::string_view>> {
    using Type = std::optional<std::string>;
};

template <class P>
struct ArgSlot {
    using Bare = std::remove_cvref_t<P>;
    using Stored = typename StoredAs<Bare>::Type;
    static constexpr bool kByRef = std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;
    static constexpr bool kInPlace = std::is_same_v<Bare, Variant> || std::is_same_v<Bare, Variant*>;

    Variant local;
    Variant* arg = nullptr;
    bool omitted = false;
    std::optional<Stored> value;

    // `fallback`: the declared default of this parameter, or nullptr when it has none.
    void Load(std::span<Variant> args, std::size_t i, const Variant* fallback) {
        omitted = i >= args.size() || args[i].IsMissing();
        if (i < args.size()) {
            arg = &args[i];
        } else {
            local = Variant::Missing();
            arg = &local;
        }
        if (omitted && fallback) {
            local = *fallback;
            arg = &local;
            omitted = false;
        }
        if constexpr (std::is_same_v<Bare, Variant>) {
            return;
        } else if constexpr (std::is_same_v<Bare, Variant*>) {
            return;
        } else if constexpr (IsOptional<Bare>::value) {
            if (omitted) {
                value.emplace();
            } else {
                value.emplace(FromVariant<typename IsOptional<Stored>::Value>(*arg));
            }
        } else {
            if (omitted) RaiseRuntime(rt::ArgumentNotOptional);
            value.emplace(FromVariant<Stored>(*arg));
        }
    }
    decltype(auto) Get() {
        if constexpr (std::is_same_v<Bare, Variant>) {
            return static_cast<Variant&>(*arg);
        } else if constexpr (std::is_same_v<Bare, Variant*>) {
            return static_cast<Variant*>(omitted ? nullptr : arg);
        } else if constexpr (std::is_same_v<Bare, std::optional<std::string_view>>) {
            return *value ? Bare(**value) : Bare();
        } else {
            return static_cast<Stored&>(*value);
        }
    }
    void WriteBack() {
        if constexpr (kByRef && !kInPlace && !IsOptional<Bare>::value) {
            if (arg != &local) *arg = ToVariantValue(*value);
        }
    }
    template <class V>
    static Variant ToVariantValue(V& v) {
        if constexpr (IsRef<V>::value) {
            return Variant(Ref<Dispatch>(v));
        } else {
            return Variant(v);
        }
    }
};

template <class R>
Variant ToVariant(R&& r) {
    using B = std::remove_cvref_t<R>;
    if constexpr (IsRef<B>::value) {
        return Variant(Ref<Dispatch>(std::forward<R>(r)));
    } else {
        return Variant(std::forward<R>(r));
    }
}

template <class Sig>
struct MemberTraits;
template <class C, class R, class... P>
struct MemberTraits<R (C::*)(P...)> {
    using Class = C;
    using Result = R;
    using Params = std::tuple<P...>;
};
template <class C, class R, class... P>
struct MemberTraits<R (C::*)(P...) const> {
    using Class = C;
    using Result = R;
    using Params = std::tuple<P...>;
};
template <class C, class R, class... P>
struct MemberTraits<R (C::*)(P...) noexcept> : MemberTraits<R (C::*)(P...)> {};
template <class C, class R, class... P>
struct MemberTraits<R (C::*)(P...) const noexcept> : MemberTraits<R (C::*)(P...) const> {};

template <class T, auto F, class R, class... P, std::size_t... I>
Variant CallWithSlots(T& self, std::span<Variant> args, std::span<const Variant> defaults,
                      std::index_sequence<I...>) {
    constexpr std::size_t kCount = sizeof...(P);
    if (args.size() > kCount) RaiseRuntime(rt::WrongNumberOfArguments);
    // Defaults belong to the trailing parameters. (Unused for a member without parameters.)
    [[maybe_unused]] auto fallback = [&](std::size_t i) -> const Variant* {
        std::size_t first = kCount - std::min(kCount, defaults.size());
        return i >= first ? &defaults[i - first] : nullptr;
    };
    std::tuple<ArgSlot<P>...> slots;
    (std::get<I>(slots).Load(args, I, fallback(I)), ...);
    if constexpr (std::is_void_v<R>) {
        (self.*F)(std::get<I>(slots).Get()...);
        (std::get<I>(slots).WriteBack(), ...);
        return Variant();
    } else {
        Variant result = ToVariant((self.*F)(std::get<I>(slots).Get()...));
        (std::get<I>(slots).WriteBack(), ...);
        return result;
    }
}

template <class T, auto F>
Variant Thunk(Dispatch& self, std::span<Variant> args, std::span<const Variant> defaults) {
    using Traits = MemberTraits<decltype(F)>;
    return [&]<class... P>(std::tuple<P...>*) {
        return CallWithSlots<T, F, typename Traits::Result, P...>(static_cast<T&>(self), args, defaults,
                                                                  std::index_sequence_for<P...>{});
    }(static_cast<typename Traits::Params*>(nullptr));
}

}  // namespace detail

// Builds a class's member table from its C++ member functions; each argument is converted from its
// Variant by the parameter's type (std::string, int32_t, bool, double, Date, Ref<X>, Variant,
// std::optional<X> for optional arguments). A non-const reference parameter is by-reference: the value the
// member leaves in it is written back to the caller's Variant.
//
//   static const MemberTable kMembers = MemberTable::Of<clsParameter>("Value")
//       .Get<&clsParameter::Name>("Name")
//       .Let<&clsParameter::SetMode>("Mode")
//       .Build();
template <class T>
class MemberTable::Builder {
public:
    explicit Builder(std::string_view default_member) { table_.SetDefault(default_member); }
    // `defaults`: values of the trailing optional parameters ({-1, -1} for the last two), used when the
    // caller omits them.
    template <auto F>
    Builder& Method(std::string_view name, std::vector<Variant> defaults = {}) {
        table_.Add(name, CallType::Method, &detail::Thunk<T, F>, std::move(defaults));
        return *this;
    }
    template <auto F>
    Builder& Get(std::string_view name, std::vector<Variant> defaults = {}) {
        table_.Add(name, CallType::Get, &detail::Thunk<T, F>, std::move(defaults));
        return *this;
    }
    template <auto F>
    Builder& Let(std::string_view name) {
        table_.Add(name, CallType::Let, &detail::Thunk<T, F>);
        return *this;
    }
    template <auto F>
    Builder& Set(std::string_view name) {
        table_.Add(name, CallType::Set, &detail::Thunk<T, F>);
        return *this;
    }
    // A hand-written thunk, for members whose arguments need more than the automatic conversion.
    Builder& Raw(std::string_view name, CallType type, MemberThunk thunk, std::vector<Variant> defaults = {}) {
        table_.Add(name, type, thunk, std::move(defaults));
        return *this;
    }
    MemberTable Build() { return std::move(table_); }

private:
    MemberTable table_;
};

template <class T>
MemberTable::Builder<T> MemberTable::Of(std::string_view default_member) {
    return Builder<T>(default_member);
}

}  // namespace korado
