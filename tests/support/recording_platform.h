// Recording stand-ins for the platform's command, parameter and connection objects, for tests of code that
// binds parameters or reads provider properties without a database.
//
//   auto command = MakeRef<test::RecordingCommand>();
//   ...AddParametersToCommand(cmd, names, sql)...
//   command->parameters->items   the appended parameters, in order
//   command->created             every parameter CreateParameter made, appended or not
//
//   ScopedClassOverride conn("ADODB.Connection", test::StubConnection::Factory({{"Output Parameter
//   Availability", 2}}));   a clsADO constructed now holds a StubConnection answering those properties
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dataaccess/properties.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/error.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"

namespace korado::test {

// The platform's own errors as the stand-ins raise them: the VB-visible number in an 0x800A HRESULT.
[[noreturn]] inline void RaisePlatform(std::int32_t n, std::string source, std::string text) {
    Raise(Hr(0x800A0000u | static_cast<std::uint32_t>(n)), std::move(source), std::move(text));
}

class RecordingParameter final : public ado::Parameter {
  public:
    std::string name;
    std::int32_t type = ado::adEmpty, direction = ado::adParamInput, size = 0, attributes = 0;
    Variant value;
    std::uint8_t precision = 0, scale = 0;
    // Every write, in order: "Type=200", "Size=3", "Value", ...
    std::vector<std::string> writes;

    std::string Name() override { return name; }
    void SetName(std::string_view v) override { name = std::string(v); }
    std::int32_t Type() override { return type; }
    void SetType(std::int32_t v) override { type = v, writes.push_back("Type=" + std::to_string(v)); }
    std::int32_t Direction() override { return direction; }
    void SetDirection(std::int32_t v) override {
        direction = v, writes.push_back("Direction=" + std::to_string(v));
    }
    std::int32_t Size() override { return size; }
    void SetSize(std::int32_t v) override { size = v, writes.push_back("Size=" + std::to_string(v)); }
    const Variant& Value() override { return value; }
    void SetValue(const Variant& v) override { value = v, writes.push_back("Value"); }
    std::uint8_t Precision() override { return precision; }
    void SetPrecision(std::uint8_t v) override { precision = v; }
    std::uint8_t NumericScale() override { return scale; }
    void SetNumericScale(std::uint8_t v) override { scale = v; }
    std::int32_t Attributes() override { return attributes; }
    void SetAttributes(std::int32_t v) override { attributes = v; }
};

class RecordingParameters final : public ado::Parameters {
  public:
    std::vector<Ref<ado::Parameter>> items;
    // Append refuses a parameter of this name, as a provider refuses one it cannot bind.
    std::string reject_name;

    std::int32_t Count() override { return static_cast<std::int32_t>(items.size()); }
    // By name (without regard to case) or 0-based position.
    Ref<ado::Parameter> Item(const Variant& index) override {
        for (std::size_t i = 0; i < items.size(); ++i)
            if (index.IsString() ? TextEquals(items[i]->Name(), *index.get_if<std::string>())
                                 : IsNumeric(index) && CLngLng(index) == static_cast<std::int64_t>(i))
                return items[i];
        RaisePlatform(
            ado::adErrItemNotFound, "ADODB.Parameters",
            "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    }
    void Append(const Ref<ado::Parameter>& p) override {
        for (const auto& q : items)
            if (q == p)
                RaisePlatform(ado::adErrObjectInCollection, "ADODB.Parameters",
                              "Object is already in collection. Cannot append.");
        if (!reject_name.empty() && p->Name() == reject_name)
            Raise(Hr(0x80040E08), "Provider", "Binding information is invalid.");
        items.push_back(p);
    }
    void Delete(const Variant& index) override {
        Ref<ado::Parameter> p = Item(index);
        std::erase(items, p);
    }
    void Refresh() override {}
};

class RecordingCommand final : public ado::Command {
  public:
    Ref<RecordingParameters> parameters = MakeRef<RecordingParameters>();
    std::vector<Ref<RecordingParameter>> created;
    std::string text;

    Ref<ado::Connection> ActiveConnection() override { return nullptr; }
    void SetActiveConnection(const Ref<ado::Connection>&) override {}
    std::string CommandText() override { return text; }
    void SetCommandText(std::string_view v) override { text = std::string(v); }
    std::int32_t CommandTimeout() override { return 30; }
    void SetCommandTimeout(std::int32_t) override {}
    std::int32_t CommandType() override { return ado::adCmdText; }
    void SetCommandType(std::int32_t) override {}
    bool Prepared() override { return false; }
    void SetPrepared(bool) override {}
    std::int32_t State() override { return ado::adStateClosed; }
    Ref<ado::Properties> Properties() override { return nullptr; }
    Ref<ado::Parameter> CreateParameter(std::string_view name, std::int32_t type, std::int32_t direction,
                                        std::int32_t size, const Variant& value) override {
        auto p = MakeRef<RecordingParameter>();
        p->name = std::string(name);
        p->type = type;
        p->direction = direction;
        p->size = size;
        if (!value.IsMissing()) p->value = value;
        created.push_back(p);
        return p;
    }
    Ref<ado::Parameters> Parameters() override { return parameters; }
    Ref<ado::Recordset> Execute(Variant*, const Variant&, std::int32_t) override { return nullptr; }
    void Cancel() override {}

    // The appended parameter at 0-based position i, as recorded.
    RecordingParameter& At(std::size_t i) {
        return static_cast<RecordingParameter&>(*parameters->items.at(i));
    }
};

// A platform connection that never opens and answers only the properties it was given.
class StubConnection final : public ado::Connection {
  public:
    Ref<dataaccess::PropertiesImpl> properties = MakeRef<dataaccess::PropertiesImpl>();

    static ClassFactory Factory(std::vector<std::pair<std::string, Variant>> props) {
        return [props] {
            auto c = MakeRef<StubConnection>();
            for (const auto& [n, v] : props) c->properties->Add(n, ado::adVariant, 512, v);
            return Ref<Dispatch>(c);
        };
    }

    std::string ConnectionString() override { return {}; }
    void SetConnectionString(std::string_view) override {}
    std::int32_t ConnectionTimeout() override { return 15; }
    void SetConnectionTimeout(std::int32_t) override {}
    std::int32_t CommandTimeout() override { return 30; }
    void SetCommandTimeout(std::int32_t) override {}
    std::int32_t CursorLocation() override { return ado::adUseServer; }
    void SetCursorLocation(std::int32_t) override {}
    void Open(std::string_view, std::string_view, std::string_view, std::int32_t) override { Unavailable(); }
    void Close() override {}
    std::int32_t State() override { return ado::adStateClosed; }
    std::string Version() override { return "2.5"; }
    std::string Provider() override { return "Stub.1"; }
    void SetProvider(std::string_view) override {}
    std::int32_t BeginTrans() override { Unavailable(); }
    void CommitTrans() override { Unavailable(); }
    void RollbackTrans() override { Unavailable(); }
    void Cancel() override {}
    Ref<ado::Errors> Errors() override { return nullptr; }
    Ref<ado::Properties> Properties() override { return properties; }
    Ref<ado::Recordset> OpenSchema(std::int32_t, const Variant&, const Variant&) override { Unavailable(); }
    Ref<ado::Recordset> Execute(std::string_view, Variant*, std::int32_t) override { Unavailable(); }

  private:
    [[noreturn]] static void Unavailable() {
        RaisePlatform(ado::adErrFeatureNotAvailable, "ADODB.Connection",
                      "Object or provider is not able to perform requested operation.");
    }
};

}  // namespace korado::test
