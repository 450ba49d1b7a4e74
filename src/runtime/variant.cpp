#include "korado/runtime/variant.h"

#include "korado/runtime/dispatch.h"
#include "korado/runtime/error.h"

namespace korado {

bool Decimal::FitsMantissa(__int128 m) noexcept {
    constexpr __int128 kLimit = static_cast<__int128>(1) << 96;
    return m < kLimit && m > -kLimit;
}

// ---- VariantArray ---------------------------------------------------------------------------------------
VariantArray::VariantArray() : items_(std::make_unique<std::vector<Variant>>()) {}
VariantArray::VariantArray(std::vector<Variant> items)
    : items_(std::make_unique<std::vector<Variant>>(std::move(items))) {}
VariantArray::VariantArray(std::initializer_list<Variant> items)
    : items_(std::make_unique<std::vector<Variant>>(items)) {}
VariantArray::VariantArray(const VariantArray& o) : items_(std::make_unique<std::vector<Variant>>(o.items())) {}
VariantArray::VariantArray(VariantArray&& o) noexcept : items_(std::move(o.items_)) {
    o.items_ = nullptr;
}
VariantArray& VariantArray::operator=(const VariantArray& o) {
    if (this != &o) items_ = std::make_unique<std::vector<Variant>>(o.items());
    return *this;
}
VariantArray& VariantArray::operator=(VariantArray&& o) noexcept {
    items_ = std::move(o.items_);
    return *this;
}
VariantArray::~VariantArray() = default;

// A move leaves the source without a vector (the move cannot allocate); it reads as empty, and copying from
// it is safe: a Variant moved from still holds its array, and hosts copy such Variants.
std::size_t VariantArray::size() const noexcept { return items_ ? items_->size() : 0; }
const std::vector<Variant>& VariantArray::items() const noexcept {
    static const std::vector<Variant> kEmpty;
    return items_ ? *items_ : kEmpty;
}
std::vector<Variant>& VariantArray::items() {
    if (!items_) items_ = std::make_unique<std::vector<Variant>>();
    return *items_;
}
const Variant& VariantArray::operator[](std::size_t i) const { return (*items_)[i]; }
Variant& VariantArray::operator[](std::size_t i) { return (*items_)[i]; }
const Variant& VariantArray::at(std::size_t i) const {
    if (i >= size()) RaiseRuntime(rt::SubscriptOutOfRange);
    return (*items_)[i];
}
Variant& VariantArray::at(std::size_t i) {
    if (i >= size()) RaiseRuntime(rt::SubscriptOutOfRange);
    return (*items_)[i];
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
