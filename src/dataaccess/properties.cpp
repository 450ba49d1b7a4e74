#include "dataaccess/properties.h"

#include <array>

#include "dataaccess/names.h"
#include "dataaccess/platform_error.h"
#include "dataaccess/type_kinds.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess {

PropertyImpl::PropertyImpl(std::string name, std::int32_t type, std::int32_t attributes, Variant value,
                           WriteHook hook)
    : name_(std::move(name)),
      type_(type),
      attributes_(attributes),
      value_(std::move(value)),
      hook_(std::move(hook)) {}

void PropertyImpl::Reset(std::int32_t type, std::int32_t attributes, Variant value) {
    type_ = type;
    attributes_ = attributes;
    value_ = std::move(value);
}

void PropertyImpl::SetValue(const Variant& value) {
    if (!(attributes_ & ado::adPropWrite)) RaiseAdo(ado::adErrFeatureNotAvailable, "ADODB.Property");
    Variant converted;
    try {
        converted = CoerceToType(value, type_);
    } catch (const Error&) {
        RaiseAdo(ado::adErrInvalidArgument, "ADODB.Property");
    }
    if (hook_) hook_(converted);
    value_ = std::move(converted);
}

Variant CoerceToType(const Variant& value, std::int32_t type) {
    if (value.IsEmpty() || value.IsNull()) return value;
    if (IsTextType(type)) return Variant(CStr(value));
    switch (type) {
        case ado::adBoolean:
            return Variant(CBool(value));
        case ado::adTinyInt:
        case ado::adSmallInt:
            return Variant(CInt(value));
        case ado::adUnsignedTinyInt:
            return Variant(CByte(value));
        case ado::adInteger:
        case ado::adUnsignedSmallInt:
            return Variant(CLng(value));
        case ado::adUnsignedInt:
        case ado::adBigInt:
        case ado::adUnsignedBigInt:
            return Variant(static_cast<long long>(CLngLng(value)));
        case ado::adSingle:
            return Variant(CSng(value));
        case ado::adDouble:
            return Variant(CDbl(value));
        case ado::adCurrency:
            return Variant(CCur(value));
        case ado::adDecimal:
        case ado::adNumeric:
        case ado::adVarNumeric:
            return Variant(CDec(value));
        case ado::adDate:
        case ado::adDBDate:
        case ado::adDBTime:
        case ado::adDBTimeStamp:
            return Variant(CDate(value));
        default:
            return value;
    }
}

KORADO_HOT Ref<ado::Property> PropertiesImpl::FindItem(const Variant& index) {
    if (const auto* name = index.get_if<std::string>()) return Ref<ado::Property>(Find(*name));
    return ado::Properties::FindItem(index);
}

Ref<ado::Property> PropertiesImpl::Item(const Variant& index) {
    if (index.IsString()) {
        if (PropertyImpl* p = Find(*index.get_if<std::string>())) return Ref<ado::Property>(p);
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Properties");
    }
    std::int64_t position = -1;
    try {
        position = CLngLng(index);
    } catch (const Error&) {
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Properties");
    }
    if (position < 0 || position >= static_cast<std::int64_t>(items_.size()))
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Properties");
    return Ref<ado::Property>(items_[static_cast<std::size_t>(position)].get());
}

void PropertiesImpl::BuildIndex() const {
    index_.clear();
    indexed_ = true;
    other_names_ = false;
    last_found_ = SIZE_MAX;
    FoldBuffer buffer;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (std::optional<std::string_view> lower = FoldAscii(items_[i]->name(), buffer)) {
            index_.try_emplace(std::string(*lower), i);
        } else {
            other_names_ = true;
        }
    }
}

PropertyImpl* PropertiesImpl::Search(std::string_view name) const {
    FoldBuffer buffer;
    std::optional<std::string_view> lower;
    if (items_.size() > 4 && (lower = FoldAscii(name, buffer))) {
        if (!indexed_) BuildIndex();
        // A name beyond ASCII may fold to this one: then only the full search finds the first match.
        if (!other_names_) {
            auto it = index_.find(*lower);
            if (it == index_.end()) return nullptr;
            last_name_.assign(name);
            last_found_ = it->second;
            return items_[it->second].get();
        }
    }
    for (const auto& p : items_)
        if (SameName(p->name(), name)) return p.get();
    return nullptr;
}

PropertyImpl& PropertiesImpl::Add(std::string name, std::int32_t type, std::int32_t attributes, Variant value,
                                  PropertyImpl::WriteHook hook) {
    indexed_ = false;
    items_.push_back(
        MakeRef<PropertyImpl>(std::move(name), type, attributes, std::move(value), std::move(hook)));
    return *items_.back();
}

PropertyImpl& PropertiesImpl::Upsert(std::string name, std::int32_t type, std::int32_t attributes,
                                     Variant value) {
    if (PropertyImpl* p = Find(name)) {
        p->Reset(type, attributes, std::move(value));
        return *p;
    }
    return Add(std::move(name), type, attributes, std::move(value));
}

}  // namespace korado::dataaccess
