// Variant: the tagged value that every public argument, field value and property value travels in.
//
// The kinds and their codes follow the automation VARTYPE numbering, because hosts and the data-access
// platform already speak it (a field of type adInteger holds a Long, VarType 3, and so on).
//
// Strings are UTF-8. Functions that count characters (Len, Mid, InStr, padding) count Unicode code points,
// never bytes; see strings.h.
//
// Arrays are values: copying a Variant that holds an array copies its elements (as assignment does in the
// host's scripting language). Objects are references: copying a Variant that holds an object copies the
// reference.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "korado/export.h"
#include "korado/runtime/object.h"

namespace korado {

class Dispatch;
class Variant;

enum class VarType : std::uint16_t {
    Empty = 0,
    Null = 1,
    Integer = 2,  // 16-bit signed
    Long = 3,     // 32-bit signed
    Single = 4,
    Double = 5,
    Currency = 6,
    Date = 7,
    String = 8,
    Object = 9,
    Error = 10,
    Boolean = 11,
    Decimal = 14,
    Byte = 17,
    LongLong = 20,  // 64-bit signed: BIGINT columns
    Array = 0x200C,      // array of Variant (vbArray + vbVariant)
    ByteArray = 0x2011,  // array of Byte: binary column values
};

// 64-bit integer scaled by 10,000 (four decimal places), as the automation currency type.
struct Currency {
    std::int64_t scaled = 0;
    static constexpr std::int64_t kScale = 10000;
    friend bool operator==(Currency, Currency) = default;
};

// Exact decimal: a signed 96-bit mantissa and a power-of-ten scale from 0 to 28.
struct Decimal {
    __int128 mantissa = 0;
    std::uint8_t scale = 0;
    static constexpr int kMaxScale = 28;
    // |mantissa| must stay below 2^96.
    static bool FitsMantissa(__int128 m) noexcept;
    friend bool operator==(const Decimal&, const Decimal&) = default;
};

// Automation date: days since 1899-12-30 00:00; the fraction is the time of day (for negative values the
// fraction still counts forward from midnight of the day named by the integer part).
struct Date {
    double days = 0;
    friend bool operator==(Date, Date) = default;
};

// An error value (VarType Error), e.g. CVErr(2015). The code 0x80020004 marks an omitted optional argument.
struct ErrorValue {
    std::int32_t code = 0;
    friend bool operator==(ErrorValue, ErrorValue) = default;
};

using Bytes = std::vector<std::uint8_t>;

// Array of variants with value semantics (elements are copied with the array).
class KORADO_EXPORT VariantArray {
public:
    VariantArray();
    explicit VariantArray(std::vector<Variant> items);
    VariantArray(std::initializer_list<Variant> items);
    VariantArray(const VariantArray& o);
    VariantArray(VariantArray&& o) noexcept;
    VariantArray& operator=(const VariantArray& o);
    VariantArray& operator=(VariantArray&& o) noexcept;
    ~VariantArray();

    std::size_t size() const noexcept;
    // Bounds are 0-based, as the Parts' restriction lists and column entries are.
    const Variant& operator[](std::size_t i) const;
    Variant& operator[](std::size_t i);
    // Element access with the runtime's subscript check (error 9).
    const Variant& at(std::size_t i) const;
    Variant& at(std::size_t i);
    // A moved-from array reads as empty.
    const std::vector<Variant>& items() const noexcept;
    std::vector<Variant>& items();
    friend KORADO_EXPORT bool operator==(const VariantArray& a, const VariantArray& b);

private:
    // Held in place (a vector may name an element type not yet complete): an array is one allocation,
    // its elements, and a moved-from one is simply empty.
    std::vector<Variant> items_;
};

namespace detail {

// The storage of a Variant: a tagged union of the kinds. The numbers, dates and other plain kinds (most
// values a statement binds or a row holds) are copied and dropped as bytes; only text, objects, arrays and
// byte strings take their own copy, move and destruction. Values are never left without a kind: a copy
// that fails leaves the target as it was.
template <class... Ts>
class VariantStorage {
    template <class T, class First, class... Rest>
    static constexpr std::size_t IndexOf() noexcept {
        if constexpr (std::is_same_v<T, First>) {
            return 0;
        } else {
            static_assert(sizeof...(Rest) > 0, "not one of the kinds");
            return 1 + IndexOf<T, Rest...>();
        }
    }
    static constexpr std::uint32_t kPlainKinds = [] {
        std::uint32_t mask = 0, bit = 1;
        ((mask |= std::is_trivially_copyable_v<Ts> ? bit : 0, bit <<= 1), ...);
        return mask;
    }();
    static constexpr std::size_t kPlainSize =
        std::max({(std::is_trivially_copyable_v<Ts> ? sizeof(Ts) : 0)...});
    static_assert(sizeof...(Ts) <= 32);

  public:
    static constexpr std::size_t kKinds = sizeof...(Ts);
    template <class T>
    static constexpr std::size_t kIndex = IndexOf<T, Ts...>();

    VariantStorage() noexcept { Construct<0>(); }
    template <class T, class U = std::remove_cvref_t<T>,
              class = std::enable_if_t<(std::is_same_v<U, Ts> || ...)>>
    // NOLINTNEXTLINE(google-explicit-constructor): a value converts to the storage holding it
    VariantStorage(T&& value) noexcept(std::is_nothrow_constructible_v<U, T&&>) {
        Place<U>(std::forward<T>(value));
    }
    VariantStorage(const VariantStorage& o) {
        if (IsPlain(o.index_)) {
            std::memcpy(bytes_, o.bytes_, kPlainSize);
        } else {
            CopyOther(o, std::index_sequence_for<Ts...>{});
        }
        index_ = o.index_;
    }
    VariantStorage(VariantStorage&& o) noexcept { Take(std::move(o)); }
    ~VariantStorage() { Destroy(); }

    // The source may live inside this value (an element of the array it holds): what is dropped goes
    // only after the new value is made.
    VariantStorage& operator=(const VariantStorage& o) {
        if (this == &o) return *this;
        if (IsPlain(o.index_) && IsPlain(index_)) {
            std::memcpy(bytes_, o.bytes_, kPlainSize);
            index_ = o.index_;
        } else if (index_ == o.index_) {
            AssignSame(o, std::index_sequence_for<Ts...>{});
        } else {
            VariantStorage copy(o);
            *this = std::move(copy);
        }
        return *this;
    }
    VariantStorage& operator=(VariantStorage&& o) noexcept {
        if (this == &o) return *this;
        if (!IsPlain(o.index_) && index_ == o.index_) {
            AssignSame(std::move(o), std::index_sequence_for<Ts...>{});
        } else if (IsPlain(index_)) {
            Take(std::move(o));
        } else {
            VariantStorage taken(std::move(o));
            Destroy();
            Take(std::move(taken));
        }
        return *this;
    }
    template <class T, class U = std::remove_cvref_t<T>,
              class = std::enable_if_t<(std::is_same_v<U, Ts> || ...)>>
    VariantStorage& operator=(T&& value) {
        if (U* same = get_if<U>()) {
            *same = std::forward<T>(value);
        } else {
            U made(std::forward<T>(value));  // may throw: the old value stays until it is made
            Destroy();
            Place<U>(std::move(made));
        }
        return *this;
    }

    std::size_t index() const noexcept { return index_; }
    template <class T>
    T* get_if() noexcept {
        return index_ == kIndex<T> ? std::launder(reinterpret_cast<T*>(bytes_)) : nullptr;
    }
    template <class T>
    const T* get_if() const noexcept {
        return index_ == kIndex<T> ? std::launder(reinterpret_cast<const T*>(bytes_)) : nullptr;
    }
    template <class T>
    bool holds() const noexcept {
        return index_ == kIndex<T>;
    }

    friend bool operator==(const VariantStorage& a, const VariantStorage& b) {
        return a.index_ == b.index_ && a.EqualSame(b, std::index_sequence_for<Ts...>{});
    }

  private:
    static constexpr bool IsPlain(std::uint8_t index) noexcept { return (kPlainKinds >> index) & 1u; }

    template <std::size_t I>
    using Kind = std::tuple_element_t<I, std::tuple<Ts...>>;
    template <std::size_t I>
    Kind<I>* At() noexcept {
        return std::launder(reinterpret_cast<Kind<I>*>(bytes_));
    }
    template <std::size_t I>
    const Kind<I>* At() const noexcept {
        return std::launder(reinterpret_cast<const Kind<I>*>(bytes_));
    }
    template <std::size_t I>
    void Construct() noexcept {
        Place<Kind<I>>();
    }
    // A plain value is copied as the whole kPlainSize bytes, so the bytes it does not use are zeroed: a copy
    // then never reads bytes that nothing wrote (an empty kind writes none of its own).
    template <class U, class... Args>
    void Place(Args&&... args) noexcept(std::is_nothrow_constructible_v<U, Args&&...>) {
        ::new (static_cast<void*>(bytes_)) U(std::forward<Args>(args)...);
        if constexpr (std::is_trivially_copyable_v<U>) {
            constexpr std::size_t used = std::is_empty_v<U> ? 0 : sizeof(U);
            if constexpr (used < kPlainSize) std::memset(bytes_ + used, 0, kPlainSize - used);
        }
        index_ = static_cast<std::uint8_t>(kIndex<U>);
    }

    void Destroy() noexcept {
        if (!IsPlain(index_)) DestroyOther(std::index_sequence_for<Ts...>{});
    }
    // Moves `o`'s value into this storage, which holds nothing to destroy.
    void Take(VariantStorage&& o) noexcept {
        if (IsPlain(o.index_)) {
            std::memcpy(bytes_, o.bytes_, kPlainSize);
        } else {
            MoveOther(std::move(o), std::index_sequence_for<Ts...>{});
        }
        index_ = o.index_;
    }
    // The kinds with their own copy, move and destruction, each tested in turn: they are few.
    template <std::size_t... I>
    void DestroyOther(std::index_sequence<I...>) noexcept {
        (void)((!std::is_trivially_copyable_v<Kind<I>> && index_ == I ? (std::destroy_at(At<I>()), true)
                                                                      : false) ||
               ...);
    }
    template <std::size_t... I>
    void CopyOther(const VariantStorage& o, std::index_sequence<I...>) {
        (void)((!std::is_trivially_copyable_v<Kind<I>> && o.index_ == I
                    ? (::new (static_cast<void*>(bytes_)) Kind<I>(*o.template At<I>()), true)
                    : false) ||
               ...);
    }
    template <std::size_t... I>
    void MoveOther(VariantStorage&& o, std::index_sequence<I...>) noexcept {
        (void)((!std::is_trivially_copyable_v<Kind<I>> && o.index_ == I
                    ? (::new (static_cast<void*>(bytes_)) Kind<I>(std::move(*o.template At<I>())), true)
                    : false) ||
               ...);
    }
    template <class Source, std::size_t... I>
    void AssignSame(Source&& o, std::index_sequence<I...>) {
        (void)((!std::is_trivially_copyable_v<Kind<I>> && index_ == I
                    ? (*At<I>() = std::forward<Source>(o).template Forwarded<I>(), true)
                    : false) ||
               ...);
    }
    template <std::size_t I>
    const Kind<I>& Forwarded() const& noexcept {
        return *At<I>();
    }
    template <std::size_t I>
    Kind<I>&& Forwarded() && noexcept {
        return std::move(*At<I>());
    }
    template <std::size_t... I>
    bool EqualSame(const VariantStorage& o, std::index_sequence<I...>) const {
        bool equal = false;
        (void)((index_ == I ? (equal = *At<I>() == *o.template At<I>(), true) : false) || ...);
        return equal;
    }

    alignas(Ts...) unsigned char bytes_[std::max({sizeof(Ts)...})];
    std::uint8_t index_;
};

}  // namespace detail

// The code an omitted optional argument carries (DISP_E_PARAMNOTFOUND).
inline constexpr std::int32_t kParamNotFound = static_cast<std::int32_t>(0x80020004u);

class KORADO_EXPORT Variant {
public:
    Variant() noexcept = default;  // Empty

    Variant(bool v) noexcept : v_(v) {}
    Variant(std::uint8_t v) noexcept : v_(v) {}
    Variant(std::int16_t v) noexcept : v_(v) {}
    Variant(int v) noexcept : v_(static_cast<std::int32_t>(v)) {}
    Variant(long v) noexcept : v_(static_cast<std::int64_t>(v)) {}
    Variant(long long v) noexcept : v_(static_cast<std::int64_t>(v)) {}
    Variant(float v) noexcept : v_(v) {}
    Variant(double v) noexcept : v_(v) {}
    Variant(Currency v) noexcept : v_(v) {}
    Variant(Decimal v) noexcept : v_(v) {}
    Variant(Date v) noexcept : v_(v) {}
    Variant(ErrorValue v) noexcept : v_(v) {}
    Variant(std::string v) noexcept : v_(std::move(v)) {}
    Variant(std::string_view v) : v_(std::string(v)) {}
    Variant(const char* v) : v_(std::string(v)) {}
    Variant(Ref<Dispatch> v) noexcept;
    template <class T, class = std::enable_if_t<std::is_base_of_v<Dispatch, T> && !std::is_same_v<T, Dispatch>>>
    Variant(Ref<T> v) noexcept : Variant(Ref<Dispatch>(std::move(v))) {}
    Variant(VariantArray v) noexcept : v_(std::move(v)) {}
    Variant(Bytes v) noexcept : v_(std::move(v)) {}
    // Unsigned and char types would pick an arbitrary overload; make the caller say which kind it means.
    Variant(unsigned int) = delete;
    Variant(unsigned long) = delete;
    Variant(char) = delete;

    static Variant Null() noexcept;
    // The value an omitted optional argument carries (Error 0x80020004, as the automation runtime passes).
    // Inline: it is the default of many arguments, made and dropped on every call that omits one.
    static Variant Missing() noexcept { return Variant(ErrorValue{kParamNotFound}); }
    static Variant FromObject(Dispatch* obj) noexcept;

    VarType Type() const noexcept {
        // In the order of the kinds held.
        static constexpr VarType kTypes[] = {
            VarType::Empty,    VarType::Null,   VarType::Byte,     VarType::Integer,  VarType::Long,
            VarType::LongLong, VarType::Single, VarType::Double,   VarType::Currency, VarType::Decimal,
            VarType::Date,     VarType::Boolean, VarType::String,  VarType::Error,    VarType::Object,
            VarType::Array,    VarType::ByteArray,
        };
        static_assert(std::size(kTypes) == decltype(v_)::kKinds);
        return kTypes[v_.index()];
    }
    bool IsEmpty() const noexcept { return v_.index() == 0; }
    bool IsNull() const noexcept { return v_.index() == 1; }
    bool IsMissing() const noexcept {
        const auto* e = v_.get_if<ErrorValue>();
        return e && e->code == kParamNotFound;
    }
    bool IsObject() const noexcept;   // an object reference, including Nothing
    bool IsNothing() const noexcept;  // an object reference that is null
    bool IsString() const noexcept { return v_.holds<std::string>(); }
    bool IsArray() const noexcept { return v_.holds<VariantArray>(); }
    bool IsError() const noexcept { return v_.holds<ErrorValue>(); }
    // Byte, Integer, Long, LongLong, Single, Double, Currency, Decimal (not Boolean or Date).
    bool IsNumber() const noexcept;

    // Unchecked typed access: the caller has tested the kind. nullptr when the kind differs.
    template <class T>
    const T* get_if() const noexcept {
        return v_.get_if<T>();
    }
    template <class T>
    T* get_if() noexcept {
        return v_.get_if<T>();
    }
    // The object held, or null (also for a non-object Variant).
    Ref<Dispatch> AsObject() const noexcept;
    // The same without taking a reference: for a look at the object's type.
    const Object* ObjectPointer() const noexcept {
        const auto* r = v_.get_if<ObjectRef>();
        return r ? r->get() : nullptr;
    }
    // The object held cast to T, or null.
    template <class T>
    Ref<T> ObjectAs() const noexcept {
        const auto* r = v_.get_if<ObjectRef>();
        return r ? RefCast<T>(*r) : Ref<T>();
    }

    // Replaces the value with text, reusing the string's storage when the Variant already holds one:
    // cursors refill the same Variant slot on every row without allocating.
    void AssignString(std::string_view text);
    void AssignBytes(const std::uint8_t* data, std::size_t size);
    // Replaces the value, in place, with one of the kinds kept as bytes, named exactly (std::int32_t for a
    // Long, std::int64_t for a LongLong, double, bool, Decimal, Date, ...): a cursor refilling its slot on
    // every row makes no temporary Variant to move in. Any other type does not compile.
    template <class T, class = std::enable_if_t<std::is_trivially_copyable_v<T>>>
    void Assign(T value) noexcept { v_ = value; }
    void AssignNull() noexcept { v_ = NullTag{}; }
    void Clear() noexcept { v_ = std::monostate{}; }

    // Exact identity of kind and value (not the language's `=`, which is Compare in convert.h).
    friend KORADO_EXPORT bool operator==(const Variant& a, const Variant& b);

private:
    struct NullTag {
        friend bool operator==(NullTag, NullTag) = default;
    };
    // Held as the base class so that this header needs no complete Dispatch.
    using ObjectRef = Ref<korado::Object>;
    detail::VariantStorage<std::monostate, NullTag, std::uint8_t, std::int16_t, std::int32_t, std::int64_t,
                           float, double, Currency, Decimal, Date, bool, std::string, ErrorValue, ObjectRef,
                           VariantArray, Bytes>
        v_;
};

// Builds a Variant array, e.g. the 4-element restriction list of a schema query.
template <class... T>
Variant MakeArray(T&&... items) {
    return Variant(VariantArray{Variant(std::forward<T>(items))...});
}

}  // namespace korado
