#include "dictionary/modCommon.h"

#include "korado/errors/modErrorHandler.h"

namespace korado {
namespace {

// May-defer, unknown-updatable, fixed-length and may-be-null, but not updatable: how the platform
// describes an auto-increment Long. Any other combination is an ordinary Long.
constexpr std::int32_t kAutoNumberAttributes = 0x5A;

const char* NameOf(std::int32_t code, std::int32_t attributes) {
    switch (code) {
        case 0: return "Empty";
        case 2: return "SmallInt";
        case 3: return attributes == kAutoNumberAttributes ? "AutoNumber" : "Integer";
        case 4: return "Single";
        case 5: return "Double";
        case 6: return "Currency";
        case 7: return "Date";
        case 8: return "BSTR";
        case 9: return "IDispatch";
        case 10: return "Error";
        case 11: return "Boolean";
        case 12: return "Variant";
        case 13: return "IUnknown";
        case 14: return "Decimal";
        case 16: return "TinyInt";
        case 17: return "UnsignedTinyInt";
        case 18: return "UnsignedSmallInt";
        case 19: return "UnsignedInt";
        case 20: return "BigInt";
        case 21: return "UnsignedBigInt";
        case 72: return "GUID";
        case 128: return "Binary";
        case 129: return "Char";
        case 130: return "WChar";
        case 131: return "Numeric";
        case 132: return "UserDefined";
        case 133: return "DBDate";
        case 134: return "DBTime";
        case 135: return "DBTimeStamp";
        case 138: return "Variant";  // the property variant reads like code 12
        case 139: return "Numeric";  // the variable-length numeric reads like code 131
        case 200: return "VarChar";
        case 201: return "LongVarChar";
        case 202: return "VarWChar";
        case 203: return "LongVarWChar";
        case 204: return "VarBinary";
        case 205: return "LongVarBinary";
        default: return "";
    }
}

}  // namespace

std::string DataTypeDescription(std::int32_t DataType, std::int32_t FieldAttribute) {
    std::string result;
    Try({"modCommon", "DataTypeDescription"}, [&] { result = NameOf(DataType, FieldAttribute); });
    return result;
}

}  // namespace korado
