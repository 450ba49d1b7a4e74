// Connection strings in the platform's syntax: `Key=Value;` pairs, keys compared without regard to letter
// case, values optionally quoted with "..." or '...' (a doubled quote inside stands for one) or braced
// {...} (ODBC style, kept with the braces for the driver). Blanks around keys and unquoted values are
// dropped. A later entry of the same key replaces the earlier one's value but keeps its place.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korado::dataaccess {

class ConnectionString {
public:
    ConnectionString() = default;

    // Raises 3001 from `error_source` naming the problem (unbalanced quote or brace, empty key, text after
    // a closing quote) and its position.
    static ConnectionString Parse(std::string_view text, std::string_view error_source = "ADODB.Connection");

    std::optional<std::string> Find(std::string_view key) const;
    std::string Get(std::string_view key) const { return Find(key).value_or(std::string()); }
    bool Has(std::string_view key) const { return Find(key).has_value(); }
    void Set(std::string_view key, std::string_view value);
    void Remove(std::string_view key);
    bool Empty() const noexcept { return entries_.empty(); }

    const std::vector<std::pair<std::string, std::string>>& Entries() const noexcept { return entries_; }
    // Back to text, quoting values that need it; braced values stay braced.
    std::string ToString() const;

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

}  // namespace korado::dataaccess
