#include "dictionary/modCommon.h"

#include "korado/errors/modErrorHandler.h"

namespace korado {
namespace {

// May-defer, unknown-updatable, fixed-length and may-be-null, but not updatable: how the platform
// describes an auto-increment Long. Any other combination is an ordinary Long.
constexpr std::int32_t kAutoNumberAttributes = 0x5A;

struct TypeName {
    std::int32_t code;
    const char* name;
};

// Code 3 is named apart: its name depends on the attributes.
constexpr TypeName kTypeNames[] = {
    {0, "Empty"},
    {2, "SmallInt"},
    {4, "Single"},
    {5, "Double"},
    {6, "Currency"},
    {7, "Date"},
    {8, "BSTR"},
    {9, "IDispatch"},
    {10, "Error"},
    {11, "Boolean"},
    {12, "Variant"},
    {13, "IUnknown"},
    {14, "Decimal"},
    {16, "TinyInt"},
    {17, "UnsignedTinyInt"},
    {18, "UnsignedSmallInt"},
    {19, "UnsignedInt"},
    {20, "BigInt"},
    {21, "UnsignedBigInt"},
    {72, "GUID"},
    {128, "Binary"},
    {129, "Char"},
    {130, "WChar"},
    {131, "Numeric"},
    {132, "UserDefined"},
    {133, "DBDate"},
    {134, "DBTime"},
    {135, "DBTimeStamp"},
    {138, "Variant"},  // the property variant reads like code 12
    {139, "Numeric"},  // the variable-length numeric reads like code 131
    {200, "VarChar"},
    {201, "LongVarChar"},
    {202, "VarWChar"},
    {203, "LongVarWChar"},
    {204, "VarBinary"},
    {205, "LongVarBinary"},
};

const char* NameOf(std::int32_t code, std::int32_t attributes) {
    if (code == 3) return attributes == kAutoNumberAttributes ? "AutoNumber" : "Integer";
    for (const TypeName& t : kTypeNames) {
        if (t.code == code) return t.name;
    }
    return "";
}

}  // namespace

std::string DataTypeDescription(std::int32_t DataType, std::int32_t FieldAttribute) {
    std::string result;
    Try({"modCommon", "DataTypeDescription"}, [&] { result = NameOf(DataType, FieldAttribute); });
    return result;
}

}  // namespace korado
