#include "korado/resultsets/clsFieldADO.h"

#include <algorithm>
#include <vector>

#include "korado/errors/clsADOError.h"
#include "korado/errors/clsErrorHandler.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/platform/companions.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"
#include "resultsets/host_breaks.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsFieldADO";

Site At(std::string_view routine) { return {kClass, routine}; }

// The error value a cell shows when the provider could not convert it (#N/A in a report).
constexpr std::int32_t kCellError = 2015;

// The error component keeps debug texts of this length at most.
std::string DebugText(const std::string& text) { return Left(text, 255); }

// The host's type code of a platform data type other than the variant types.
std::int16_t HostTypeCode(std::int32_t type) {
    struct Group {
        std::vector<std::int32_t> types;
        std::int16_t code;
    };
    static const Group kGroups[] = {
        {{2, 3, 4, 5, 6, 14, 16, 17, 18, 19, 20, 21, 131, 139}, 2},  // numbers
        {{7, 133, 134, 135}, 12},                                    // dates and times
        {{8, 130, 200, 202}, 1},                                     // texts
        {{128}, 95},
        {{129}, 96},
        {{201}, 201},
        {{203}, -203},
        {{204, 205}, 23},
    };
    for (const Group& g : kGroups) {
        if (std::find(g.types.begin(), g.types.end(), type) != g.types.end()) return g.code;
    }
    return -1;
}

// Null against a value cannot be decided and counts as a change; Null against Null does not. Byte arrays
// (binary columns) are told apart byte for byte; against a value of another kind they always differ.
bool Differs(const Variant& value, const Variant& original) {
    const auto* bytes = value.get_if<Bytes>();
    const auto* original_bytes = original.get_if<Bytes>();
    if (bytes || original_bytes) return !bytes || !original_bytes || *bytes != *original_bytes;
    const Cmp compared = Compare(value, original);
    return compared == Cmp::Null ? value.IsNull() != original.IsNull() : compared != Cmp::Equal;
}

std::int16_t TypeCodeOfValue(const Variant& value) {
    const std::string name = LCase(TypeName(value));
    if (name == "byte") return 96;
    if (name == "integer" || name == "long" || name == "single" || name == "double" || name == "currency" ||
        name == "decimal" || name == "boolean")
        return 2;
    if (name == "date") return 12;
    if (name == "string") return 1;
    return -1;
}

}  // namespace

clsFieldADO::clsFieldADO() = default;

clsFieldADO::~clsFieldADO() { Destructor(); }

void clsFieldADO::Constructor(const Ref<ado::Recordset>& rs, std::int32_t Index, bool& BreakField,
                              std::int32_t& InitError, bool NoData) {
    TryWith(
        [&] {
            if (!rs) RaiseRuntime(rt::ObjectNotSet);
            m_Field = rs->Fields()->Item(Index);
            m_Index = Index;
            m_Error = 0;
            m_Name = m_Field->Name();
            m_Type = m_getType();
            m_BreakIndex = -1;
            const Variant breaks = host_breaks::Breaks();
            const std::int32_t count = host_breaks::Count(breaks);
            const std::string upper = UCase(m_Name);
            for (std::int32_t i = 1; i <= count; ++i) {
                const Variant definition = host_breaks::Item(breaks, i);
                if (CStr(GetProperty(definition, "ReportElement")) != upper) continue;
                m_BreakIndex = i;
                LetProperty(definition, "Column", Index);
                break;
            }
            BreakField = m_BreakIndex != -1;
            if (NoData) {
                m_Value = Variant::Null();
                m_IsObject = false;
            } else {
                Refresh();
            }
        },
        [&](const korado::Error& e) {
            InitError = 1;
            if (IsOwnError(e)) throw e;
            std::string source;
            TryIgnore([&] { source = rs->Source(); });
            HandleError(kClass, "Constructor",
                        Variant(DebugText("Column[" + m_Name + "] Type[" + std::to_string(m_Type) + "] SQL[" +
                                          source + "]")));
        });
}

void clsFieldADO::Destructor() {
    Try(At("Destructor"), [&] { m_Field = nullptr; });
}

std::int16_t clsFieldADO::Error() { return m_Error; }

void clsFieldADO::SetError(std::int16_t value) { m_Error = value; }

std::int32_t clsFieldADO::DefinedSize() {
    std::int32_t result = 0;
    Try(At("Get DefinedSize"), [&] { result = m_PlatformField().DefinedSize(); });
    return result;
}

std::string clsFieldADO::Name() {
    std::string result;
    Try(At("Get Name"), [&] { result = m_Name; });
    return result;
}

Variant clsFieldADO::Previous_Value() {
    Variant result;
    Try(At("Get Previous_Value"), [&] { result = m_PreviousValue; });
    return result;
}

// A value that is an object is asked itself; a plain value answers whether it is Null.
bool clsFieldADO::IsNull() {
    bool result = false;
    Try(At("Get IsNull"),
        [&] { result = m_Value.IsObject() ? CBool(GetProperty(m_Value, "IsNull")) : m_Value.IsNull(); });
    return result;
}

bool clsFieldADO::IsObject() {
    bool result = false;
    Try(At("Get IsObject"), [&] { result = m_IsObject; });
    return result;
}

std::int16_t clsFieldADO::getType() {
    std::int16_t result = 0;
    Try(At("Get getType"), [&] { result = m_Type; });
    return result;
}

std::int16_t clsFieldADO::m_getType() {
    std::int16_t result = 0;
    TryWith(
        [&] {
            const std::int32_t type = m_PlatformField().Type();
            if (type != ado::adVariant && type != ado::adPropVariant) {
                result = HostTypeCode(type);
                return;
            }
            result = -1;  // kept when there is no current row to look at
            result = TypeCodeOfValue(m_PlatformField().Value());
        },
        [&](const korado::Error& e) {
            if (e.Source() == "ADODB.Field" && e.Number() == ado::adErrNoCurrentRecord) return;
            HandleError(kClass, "m_getType");
        });
    return result;
}

// Runs for every field of every row: the value is copied into the Variant the field already holds, which
// reuses its text storage, and nothing else is touched unless the read fails.
void clsFieldADO::Refresh() {
    TryWith(
        [&] {
            if (m_BreakIndex != -1) m_PreviousValue = m_Value;
            const Variant& value = m_PlatformField().Value();
            m_Value = value;
            m_IsObject = value.IsObject();
            m_Error = 0;
        },
        [&](const korado::Error& e) {
            if (e.Number() == Hr(0x80040E21)) {
                m_Value = ErrorValue{kCellError};
                return;
            }
            if (e.Source() == "OraOLEDB" && m_Type == 2 && e.Number() == Hr(0x80040E4B)) {
                ErrorHandler().Alert(
                    "Unable to get value from column " + m_Name +
                    ". This can happen when you get a very large number (like 1E35). This is a bug in the OraOLEDB "
                    "provider (driver). This problem is fixed in the 8.1.7.1.4 patchset. Please upgrade your Oracle "
                    "OLEDB provider or use another driver.");
                m_Value = Variant::Null();
                return;
            }
            HandleError(kClass, "Refresh",
                        Variant(DebugText("Column[" + m_Name + "] Type[" + std::to_string(m_Type) + "]")));
        });
}

Variant clsFieldADO::ReportValue() {
    Variant result;
    Try(At("Get ReportValue"), [&] {
        result = m_Value;
        if (m_BreakIndex == -1) return;
        const Variant definition = host_breaks::Item(host_breaks::Breaks(), m_BreakIndex);
        if (CBool(GetProperty(definition, "Duplicates")) || CBool(GetProperty(definition, "PostBreakEvent")))
            return;
        if (Equals(m_PreviousValue, m_Value)) result = Variant::Null();
    });
    return result;
}

void clsFieldADO::SaveToFile(const std::string& FileName) {
    Try(At("SaveToFile"), [&] {
        const Variant file(CreateObject(companions::kFile));
        CallMethod(file, "Constructor", FileName);
        LetProperty(file, "Contents", CStr(m_Value));
    });
}

Variant clsFieldADO::Value() {
    Variant result;
    Try(At("Get Value"), [&] { result = m_Value; });
    return result;
}

void clsFieldADO::SetValue(Variant& NewValue) {
    Try(At("Let Value"), [&] {
        ado::Field& field = m_PlatformField();
        const Variant original = field.OriginalValue();
        const bool goes_ahead = NewValue.IsEmpty() || original.IsEmpty() || Differs(NewValue, original);
        if (!goes_ahead) return;
        // A refused value is the host's to find in Error; no message is shown.
        const bool stored = TryIgnore([&] {
            if (NewValue.IsEmpty() || (NewValue.IsString() && NewValue.get_if<std::string>()->empty())) {
                field.SetValue(Variant::Null());
                return;
            }
            switch (field.Type()) {
                case 129:
                case 130:
                case 200:
                case 201:
                case 202:
                case 203:
                    field.SetValue(Variant(CStr(NewValue)));
                    break;
                case 205:
                    // A byte array is taken as it is: converting it would change the bytes stored.
                    if (!NewValue.IsString() && !NewValue.get_if<Bytes>()) NewValue = Variant(CStr(NewValue));
                    field.AppendChunk(NewValue);
                    break;
                default:
                    field.SetValue(NewValue);
                    break;
            }
        });
        TryIgnore([&] { m_Value = field.Value(); });
        if (!stored) m_Error = 1;
    });
}

ado::Field& clsFieldADO::m_PlatformField() {
    if (!m_Field) RaiseRuntime(rt::ObjectNotSet);
    return *m_Field;
}

const MemberTable* clsFieldADO::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsFieldADO>("Value")
                                     .Method<&clsFieldADO::Constructor>("Constructor")
                                     .Get<&clsFieldADO::DefinedSize>("DefinedSize")
                                     .Method<&clsFieldADO::Destructor>("Destructor")
                                     .Get<&clsFieldADO::Error>("Error")
                                     .Let<&clsFieldADO::SetError>("Error")
                                     .Get<&clsFieldADO::getType>("getType")
                                     .Get<&clsFieldADO::IsNull>("IsNull")
                                     .Get<&clsFieldADO::IsObject>("IsObject")
                                     .Get<&clsFieldADO::Name>("Name")
                                     .Get<&clsFieldADO::Previous_Value>("Previous_Value")
                                     .Method<&clsFieldADO::Refresh>("Refresh")
                                     .Get<&clsFieldADO::ReportValue>("ReportValue")
                                     .Method<&clsFieldADO::SaveToFile>("SaveToFile")
                                     .Get<&clsFieldADO::Value>("Value")
                                     .Let<&clsFieldADO::SetValue>("Value")
                                     .Build();
    return &t;
}

}  // namespace korado
