// Recordset.Filter criteria from arbitrary text: parsing may refuse the text (3001, or 3265 for a name the
// table does not have) but must never crash, hang or leak; criteria that parse are evaluated against rows
// holding every kind of value a cursor hands out, odd ones included, and must not raise.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/filter.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/error.h"
#include "korado/runtime/strings.h"

namespace {

using korado::Variant;

const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = {"id", "name", "price", "born",  "flag", "Last Name",
                                                   "w",  "big",  "cost",  "ratio", "bin",  "Größe"};
    return names;
}

std::vector<std::vector<Variant>> MakeRows() {
    using korado::Currency;
    using korado::Date;
    using korado::Decimal;
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<std::vector<Variant>> rows;
    rows.push_back({Variant(1), Variant("Smith"), Variant(10.5), Variant(korado::DateSerial(1970, 4, 10)),
                    Variant(true), Variant("O'Malley"), Variant(0.1f), Variant(5000000000LL),
                    Variant(Currency{105000}), Variant(Decimal{1, 1}), Variant(korado::Bytes{1, 2}),
                    Variant("Straße")});
    rows.push_back({Variant(-2147483647 - 1), Variant(""), Variant(-inf), Variant(Date{-657434.5}),
                    Variant(false), Variant("école"), Variant(std::nanf("")),
                    Variant(std::numeric_limits<long long>::min()),
                    Variant(Currency{std::numeric_limits<std::int64_t>::max()}),
                    Variant(Decimal{(static_cast<__int128>(1) << 96) - 1, 28}), Variant(korado::Bytes{}),
                    Variant(std::string("\xC3\x28\xE2\x82"))});
    std::vector<Variant> nulls(Names().size(), Variant::Null());
    rows.push_back(nulls);
    std::vector<Variant> empties(Names().size());
    rows.push_back(empties);
    rows.push_back({Variant(std::int16_t{7}), Variant("日本語テキスト*%"), Variant(std::nan("")),
                    Variant(Date{1e300}), Variant(korado::CVErr(2015)), Variant(korado::MakeArray(1, "x")),
                    Variant(std::numeric_limits<float>::max()),
                    Variant(std::numeric_limits<long long>::max()), Variant(Currency{-1}),
                    Variant(Decimal{-((static_cast<__int128>(1) << 96) - 1), 0}), Variant(std::uint8_t{255}),
                    Variant(inf)});
    return rows;
}

int ColumnOf(std::string_view name) {
    const auto& names = Names();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (korado::TextEquals(names[i], name)) return static_cast<int>(i);
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::vector<Variant>> rows = MakeRows();
    std::string_view text(reinterpret_cast<const char*>(data), size);
    korado::dataaccess::FilterCriteria criteria;
    try {
        criteria = korado::dataaccess::FilterCriteria::Parse(text, ColumnOf);
    } catch (const korado::Error& e) {
        if (e.Number() != 3001 && e.Number() != 3265) std::abort();
        return 0;
    }
    for (int c : criteria.Columns())
        if (c < 0 || c >= static_cast<int>(Names().size())) std::abort();
    korado::dataaccess::FilterCriteria copy = criteria;
    for (const auto& row : rows) {
        auto value_of = [&row](int c) -> const Variant& { return row.at(static_cast<std::size_t>(c)); };
        bool shown = false;
        try {
            shown = criteria.Matches(value_of);
            if (copy.Matches(value_of) != shown) std::abort();
        } catch (const korado::Error&) {
            std::abort();  // Matches raises nothing of its own
        }
        if (criteria.Empty() && !shown) std::abort();
    }
    return 0;
}
