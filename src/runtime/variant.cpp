#include "korado/runtime/variant.h"

#include "korado/runtime/dispatch.h"
#include "korado/runtime/error.h"

namespace korado {

bool Decimal::FitsMantissa(__int128 m) noexcept {
    constexpr __int128 kLimit = static_cast<__int128>(1) << 96;
    return m < kLimit && m > -kLimit;
}

// ---- VariantArray ---------------------------------------------------------------------------------------
VariantArray::VariantArray() = default;
VariantArray::VariantArray(std::vector<Variant> items) : items_(std::move(items)) {}
VariantArray::VariantArray(std::initializer_list<Variant> items) : items_(items) {}
VariantArray::VariantArray(const VariantArray& o) = default;
VariantArray::VariantArray(VariantArray&& o) noexcept = default;
// The source may be an element of this array (or inside one): it is copied or taken before the old
// elements go.
VariantArray& VariantArray::operator=(const VariantArray& o) {
    if (this != &o) {
        std::vector<Variant> copy(o.items_);
        items_ = std::move(copy);
    }
    return *this;
}
VariantArray& VariantArray::operator=(VariantArray&& o) noexcept {
    if (this != &o) {
        std::vector<Variant> taken(std::move(o.items_));
        items_ = std::move(taken);
    }
    return *this;
}
VariantArray::~VariantArray() = default;

std::size_t VariantArray::size() const noexcept { return items_.size(); }
const std::vector<Variant>& VariantArray::items() const noexcept { return items_; }
std::vector<Variant>& VariantArray::items() { return items_; }
const Variant& VariantArray::operator[](std::size_t i) const { return items_[i]; }
Variant& VariantArray::operator[](std::size_t i) { return items_[i]; }
const Variant& VariantArray::at(std::size_t i) const {
    if (i >= size()) RaiseRuntime(rt::SubscriptOutOfRange);
    return items_[i];
}
Variant& VariantArray::at(std::size_t i) {
    if (i >= size()) RaiseRuntime(rt::SubscriptOutOfRange);
    return items_[i];
}
bool operator==(const VariantArray& a, const VariantArray& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!(a[i] == b[i])) return false;
    return true;
}

// ---- Variant --------------------------------------------------------------------------------------------
Variant::Variant(Ref<Dispatch> v) noexcept : v_(ObjectRef(std::move(v))) {}

Variant Variant::Null() noexcept {
    Variant v;
    v.v_ = NullTag{};
    return v;
}

Variant Variant::FromObject(Dispatch* obj) noexcept { return Variant(Ref<Dispatch>(obj)); }

bool Variant::IsObject() const noexcept { return v_.holds<ObjectRef>(); }

bool Variant::IsNothing() const noexcept {
    const auto* r = v_.get_if<ObjectRef>();
    return r && !*r;
}

bool Variant::IsNumber() const noexcept {
    switch (Type()) {
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong:
        case VarType::Single:
        case VarType::Double:
        case VarType::Currency:
        case VarType::Decimal: return true;
        default: return false;
    }
}

Ref<Dispatch> Variant::AsObject() const noexcept {
    const auto* r = v_.get_if<ObjectRef>();
    return r ? Ref<Dispatch>(static_cast<Dispatch*>(r->get())) : Ref<Dispatch>();
}

void Variant::AssignString(std::string_view text) {
    if (auto* s = v_.get_if<std::string>()) {
        s->assign(text.data(), text.size());
    } else {
        v_ = std::string(text);
    }
}

void Variant::AssignBytes(const std::uint8_t* data, std::size_t size) {
    if (auto* b = v_.get_if<Bytes>()) {
        b->assign(data, data + size);
    } else {
        v_ = Bytes(data, data + size);
    }
}

bool operator==(const Variant& a, const Variant& b) { return a.v_ == b.v_; }

}  // namespace korado
