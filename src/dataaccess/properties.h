// Property and Properties of the platform stand-in: the dynamic properties of connections, commands,
// recordsets and fields.
//
// A PropertiesImpl owns its PropertyImpl objects; a property may carry a write hook through which its owner
// (a connection's initialization properties, a command's provider properties) sees a new value. Lookups by
// name ignore letter case ("User Id" finds "User ID").
//
// Failures: Item raises 3265 from "ADODB.Properties" for a missing name or position; SetValue raises 3251
// from "ADODB.Property" for a read-only property and 3001 for a value that does not convert to its type.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "korado/platform/adodb.h"
#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"

namespace korado::dataaccess {

class PropertyImpl final : public ado::Property {
  public:
    // Called with the converted value before it is stored; may raise to refuse it.
    using WriteHook = std::function<void(const Variant&)>;

    PropertyImpl(std::string name, std::int32_t type, std::int32_t attributes, Variant value,
                 WriteHook hook = {});

    std::string Name() override { return name_; }
    std::int32_t Type() override { return type_; }
    std::int32_t Attributes() override { return attributes_; }
    KORADO_HOT Variant Value() override { return value_; }
    void SetValue(const Variant& value) override;

    const std::string& name() const noexcept { return name_; }
    const Variant& value() const noexcept { return value_; }
    // Changes the value without the write hook or the read-only check (the owner's own updates).
    void Assign(Variant value) { value_ = std::move(value); }
    void Reset(std::int32_t type, std::int32_t attributes, Variant value);
    void SetHook(WriteHook hook) { hook_ = std::move(hook); }

  private:
    std::string name_;
    std::int32_t type_;
    std::int32_t attributes_;
    Variant value_;
    WriteHook hook_;
};

// Converts `value` to the Variant kind that a property or parameter of DataTypeEnum `type` holds; Empty and
// Null stay as they are. Raises the runtime's conversion errors (13, 6).
Variant CoerceToType(const Variant& value, std::int32_t type);

class PropertiesImpl final : public ado::Properties {
  public:
    PropertiesImpl() = default;

    std::int32_t Count() override { return static_cast<std::int32_t>(items_.size()); }
    Ref<ado::Property> Item(const Variant& index) override;
    Ref<ado::Property> FindItem(const Variant& index) override;
    void Refresh() override {}

    // nullptr when there is none. The name asked last is answered in place: the connection's status is
    // asked before every statement.
    PropertyImpl* Find(std::string_view name) const {
        if (indexed_ && last_found_ < items_.size() && SameBytes(name, last_name_))
            return items_[last_found_].get();
        return Search(name);
    }
    PropertyImpl& Add(std::string name, std::int32_t type, std::int32_t attributes, Variant value,
                      PropertyImpl::WriteHook hook = {});
    // Replaces the value, type and attributes of the property of that name, or adds it.
    PropertyImpl& Upsert(std::string name, std::int32_t type, std::int32_t attributes, Variant value);
    // Drops every property; properties a caller still holds keep their values but lose their write hooks.
    void Clear() {
        DetachHooks();
        items_.clear();
        indexed_ = false;
    }
    void DetachHooks() {
        for (auto& p : items_) p->SetHook({});
    }
    const std::vector<Ref<PropertyImpl>>& items() const noexcept { return items_; }
    void SetItems(std::vector<Ref<PropertyImpl>> items) {
        items_ = std::move(items);
        indexed_ = false;
    }

  private:
    // Position of the first property of each ASCII name, keyed by the name in lower case; built on the first
    // lookup after a change. The connection object looks "Connection Status" up before every statement, and
    // a connection lists some thirty properties.
    struct LowerHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    void BuildIndex() const;
    PropertyImpl* Search(std::string_view name) const;

    std::vector<Ref<PropertyImpl>> items_;
    mutable std::unordered_map<std::string, std::size_t, LowerHash, std::equal_to<>> index_;
    // The name asked for last, spelled as asked, and its position: the same name is asked again and again.
    mutable std::string last_name_;
    mutable std::size_t last_found_ = SIZE_MAX;
    mutable bool indexed_ = false;
    mutable bool other_names_ = false;  // some name is not ASCII: lookups search in full
};

}  // namespace korado::dataaccess
