#include "connection/column_copy.h"

#include <algorithm>

namespace korado::column_copy {
namespace {

using namespace ado;  // the data type codes, as the providers' type lists name them

// The platform's array flag, which a field type may carry alone.
constexpr std::int32_t kArray = 8192;

enum class Digits : std::uint8_t {
    kNone,   // precision and scale left alone
    kFixed,  // the setting's own precision and scale
    kRuleA,  // the field's precision when 1 to 18, with its scale; otherwise 18 and 2
    kRuleB,  // the field's precision up to 18 (0 included), with its scale; otherwise 18 and 2
    kCopy,   // the field's precision and scale, whatever they are
};

enum class Size : std::uint8_t {
    kNone,        // defined size left alone
    kField,       // the field's defined size, whatever it is
    kIfPositive,  // the field's defined size when it is at least 1
    kTwoFirst,    // 2, set before precision and scale
};

struct Setting {
    std::int32_t type = 0;
    bool by_size = false;  // type 203 for more than 255 characters, 202 otherwise
    Digits digits = Digits::kNone;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    Size size = Size::kNone;
    friend constexpr bool operator==(const Setting&, const Setting&) = default;
};

constexpr Setting Bare(std::int32_t type) { return {type, false, Digits::kNone, 0, 0, Size::kNone}; }
constexpr Setting Sized(std::int32_t type) { return {type, false, Digits::kNone, 0, 0, Size::kField}; }
constexpr Setting Number(std::uint8_t precision) {
    return {adNumeric, false, Digits::kFixed, precision, 0, Size::kField};
}
constexpr Setting Numeric(Digits digits) { return {adNumeric, false, digits, 0, 0, Size::kField}; }
constexpr Setting BySize() { return {0, true, Digits::kNone, 0, 0, Size::kField}; }
constexpr Setting LongText(std::int32_t type) {
    return {type, false, Digits::kNone, 0, 0, Size::kIfPositive};
}
// Oracle has no Boolean: NUMBER(1) holds one.
constexpr Setting OracleBoolean() { return {adNumeric, false, Digits::kFixed, 1, 0, Size::kTwoFirst}; }

constexpr Setting A = Numeric(Digits::kRuleA);
constexpr Setting B = Numeric(Digits::kRuleB);
constexpr Setting PS = Numeric(Digits::kCopy);

struct Row {
    std::int32_t field_type;
    Setting ace_jet, sql_server, oracle, other;
};

// Bare: no size. Sized: the field's defined size. Number(p): NUMBER(p, 0) with the field's size.
// A, B: precision and scale by rule A or B. PS: the field's precision and scale.
// clang-format off
constexpr Row kRows[] = {
    // field type        ACE/Jet                SQL Server             Oracle                 other
    {adEmpty,            Bare(adEmpty),         Bare(adEmpty),         Bare(adEmpty),         Bare(adEmpty)},
    {adSmallInt,         Sized(adSmallInt),     Sized(adSmallInt),     Number(5),             Sized(adSmallInt)},
    {adInteger,          Sized(adInteger),      Sized(adInteger),      Sized(adNumeric),      Sized(adInteger)},
    {adSingle,           Sized(adSingle),       Sized(adSingle),       Sized(adSingle),       Sized(adSingle)},
    {adDouble,           Sized(adDouble),       Sized(adDouble),       Sized(adDouble),       Sized(adDouble)},
    {adCurrency,         Sized(adCurrency),     Sized(adCurrency),     Sized(adNumeric),      Sized(adCurrency)},
    {adDate,             Sized(adDate),         Sized(adDBTimeStamp),  Sized(adDBTimeStamp),  Sized(adDate)},
    {adBSTR,             Bare(adBSTR),          Bare(adBSTR),          Bare(adBSTR),          Bare(adBSTR)},
    {adIDispatch,        Bare(adIDispatch),     Bare(adIDispatch),     Bare(adIDispatch),     Bare(adIDispatch)},
    {adError,            Bare(adError),         Bare(adError),         Bare(adError),         Bare(adError)},
    {adBoolean,          Sized(adBoolean),      Sized(adBoolean),      OracleBoolean(),       Sized(adBoolean)},
    {adVariant,          Sized(adVariant),      Sized(adVariant),      Sized(adVariant),      Sized(adVariant)},
    {adIUnknown,         Bare(adIUnknown),      Bare(adIUnknown),      Bare(adIUnknown),      Bare(adIUnknown)},
    {adDecimal,          A,                     A,                     PS,                    Sized(adDecimal)},
    {adTinyInt,          Sized(adInteger),      Sized(adInteger),      Number(3),             Sized(adTinyInt)},
    {adUnsignedTinyInt,  Sized(adUnsignedTinyInt), Sized(adUnsignedTinyInt), Number(3),       Sized(adUnsignedTinyInt)},
    {adUnsignedSmallInt, Sized(adInteger),      Sized(adInteger),      Number(5),             Sized(adUnsignedSmallInt)},
    {adUnsignedInt,      Sized(adInteger),      Sized(adInteger),      Sized(adNumeric),      Sized(adUnsignedInt)},
    {adBigInt,           Sized(adInteger),      Sized(adBigInt),       Sized(adNumeric),      Sized(adBigInt)},
    {adUnsignedBigInt,   Sized(adInteger),      Sized(adInteger),      Sized(adNumeric),      Sized(adUnsignedBigInt)},
    {adFileTime,         Bare(adFileTime),      Bare(adFileTime),      Bare(adFileTime),      Bare(adFileTime)},
    {adGUID,             Sized(adGUID),         Sized(adGUID),         Sized(adChar),         Sized(adGUID)},
    {adBinary,           Sized(adBinary),       Sized(adBinary),       Sized(adBinary),       Sized(adBinary)},
    {adChar,             Sized(adWChar),        Sized(adChar),         Sized(adChar),         Sized(adChar)},
    {adWChar,            Sized(adWChar),        Sized(adWChar),        Sized(adWChar),        Sized(adWChar)},
    {adNumeric,          A,                     A,                     Sized(adNumeric),      Sized(adNumeric)},
    {adUserDefined,      Bare(adUserDefined),   Bare(adUserDefined),   Bare(adUserDefined),   Bare(adUserDefined)},
    {adDBDate,           Sized(adDate),         Sized(adDBTimeStamp),  Sized(adDBDate),       Sized(adDBDate)},
    {adDBTime,           Sized(adDate),         Sized(adDBTimeStamp),  Sized(adDBTimeStamp),  Sized(adDBTime)},
    {adDBTimeStamp,      Sized(adDate),         Sized(adDBTimeStamp),  Sized(adDBTimeStamp),  Sized(adDBTimeStamp)},
    {adChapter,          Bare(adChapter),       Bare(adChapter),       Bare(adChapter),       Bare(adChapter)},
    {adPropVariant,      Bare(adPropVariant),   Bare(adPropVariant),   Bare(adPropVariant),   Bare(adPropVariant)},
    {adVarNumeric,       B,                     Bare(adVarNumeric),    PS,                    Bare(adVarNumeric)},
    {adVarChar,          BySize(),              Sized(adVarChar),      Sized(adVarChar),      Sized(adVarChar)},
    {adLongVarChar,      BySize(),              Sized(adLongVarChar),  Sized(adVarChar),      Sized(adLongVarChar)},
    {adVarWChar,         Sized(adVarWChar),     Sized(adVarWChar),     Sized(adVarWChar),     Sized(adVarWChar)},
    {adLongVarWChar,     LongText(adLongVarWChar), LongText(adLongVarWChar), LongText(adVarWChar), LongText(adLongVarWChar)},
    {adVarBinary,        Sized(adVarBinary),    Sized(adVarBinary),    Sized(adVarBinary),    Sized(adVarBinary)},
    {adLongVarBinary,    Sized(adLongVarBinary), Sized(adLongVarBinary), Sized(adLongVarBinary), Sized(adLongVarBinary)},
    {kArray,             Bare(kArray),          Bare(kArray),          Bare(kArray),          Bare(kArray)},
};
// clang-format on

const Row* RowOf(std::int32_t field_type) {
    for (const Row& r : kRows)
        if (r.field_type == field_type) return &r;
    return nullptr;
}

// Any type the table does not list is kept as it is, without a size.
Setting SettingFor(std::int32_t field_type, Target target) {
    const Row* row = RowOf(field_type);
    if (!row) return Bare(field_type);
    switch (target) {
        case Target::kAceJet:
            return row->ace_jet;
        case Target::kSqlServer:
            return row->sql_server;
        case Target::kOracle:
            return row->oracle;
        case Target::kOther:
            break;
    }
    return row->other;
}

}  // namespace

Target TargetOf(std::string_view provider) {
    if (provider == "Microsoft.ACE.OLEDB.12" || provider == "Microsoft.Jet.OLEDB.4") return Target::kAceJet;
    if (provider == "SQLOLEDB") return Target::kSqlServer;
    if (provider == "OraOLEDB.Oracle") return Target::kOracle;
    return Target::kOther;
}

std::string ColumnName(std::string_view field_name) {
    std::string name(field_name);
    // Only a name that opens with a bracket loses its closing one: "a[1]" keeps both.
    if (!name.empty() && name.front() == '[') {
        name.erase(0, 1);
        if (!name.empty() && name.back() == ']') name.pop_back();
    }
    const std::size_t first = name.find_first_not_of(' ');
    name = first == std::string::npos ? std::string()
                                      : name.substr(first, name.find_last_not_of(' ') + 1 - first);
    for (char refused : {'.', '!', '`', '[', ']'}) std::replace(name.begin(), name.end(), refused, '_');
    return name;
}

bool DependsOnTarget(std::int32_t field_type) {
    const Row* row = RowOf(field_type);
    return row && !(row->ace_jet == row->other && row->sql_server == row->other && row->oracle == row->other);
}

void Apply(const FieldDefinition& field, Target target, adox::Column& column) {
    const Setting s = SettingFor(field.type, target);
    column.SetType(s.by_size ? (field.defined_size > 255 ? adLongVarWChar : adVarWChar) : s.type);
    if (s.size == Size::kTwoFirst) column.SetDefinedSize(2);
    auto digits = [&](std::uint8_t precision, std::uint8_t scale) {
        column.SetPrecision(precision);
        column.SetNumericScale(scale);
    };
    const bool fits = field.precision <= 18;
    switch (s.digits) {
        case Digits::kNone:
            break;
        case Digits::kFixed:
            digits(s.precision, s.scale);
            break;
        case Digits::kRuleA:
            field.precision >= 1 && fits ? digits(field.precision, field.scale) : digits(18, 2);
            break;
        case Digits::kRuleB:
            fits ? digits(field.precision, field.scale) : digits(18, 2);
            break;
        case Digits::kCopy:
            digits(field.precision, field.scale);
            break;
    }
    if (s.size == Size::kField || (s.size == Size::kIfPositive && field.defined_size >= 1))
        column.SetDefinedSize(field.defined_size);
}

std::string Settings(adox::Column& column) {
    return "Type=[" + std::to_string(column.Type()) + "] Precision=[" + std::to_string(column.Precision()) +
           "] NumericScale=[" + std::to_string(column.NumericScale()) + "] DefinedSize=[" +
           std::to_string(column.DefinedSize()) + "]";
}

}  // namespace korado::column_copy
