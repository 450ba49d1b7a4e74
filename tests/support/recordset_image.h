// A recordset as text, for comparing two recordsets whole: each field's description (type, sizes,
// attributes, base table and column, key), then every value from the current row on, each with its kind
// and exactly enough digits to tell any two values apart.
#pragma once

#include <charconv>
#include <string>
#include <vector>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"

namespace korado::test {

inline std::string Describe(const Variant& v) {
    std::string out = std::to_string(static_cast<int>(v.Type())) + ":";
    char buffer[32];
    if (const auto* d = v.get_if<double>())
        return out + std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, *d).ptr);
    if (const auto* date = v.get_if<Date>())
        return out + std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, date->days).ptr);
    if (const auto* b = v.get_if<Bytes>()) return out + std::string(b->begin(), b->end());
    return v.IsNull() || v.IsEmpty() ? out : out + CStr(v);
}

// Leaves the recordset at its end.
inline std::vector<std::string> Image(ado::Recordset& rs) {
    std::vector<std::string> out;
    Ref<ado::Fields> fields = rs.Fields();
    for (std::int32_t i = 0; i < fields->Count(); ++i) {
        ado::Field& f = *fields->At(i);
        std::string d = f.Name();
        for (std::int32_t n : {f.Type(), f.DefinedSize(), std::int32_t{f.Precision()},
                               std::int32_t{f.NumericScale()}, f.Attributes()})
            d += " " + std::to_string(n);
        for (const char* p : {"BASETABLENAME", "BASECOLUMNNAME", "KEYCOLUMN"})
            d += " " + CStr(f.Properties()->Item(Variant(p))->Value());
        out.push_back(d);
    }
    for (; !rs.Eof(); rs.MoveNext())
        for (std::int32_t i = 0; i < fields->Count(); ++i) out.push_back(Describe(fields->At(i)->Value()));
    return out;
}

}  // namespace korado::test
