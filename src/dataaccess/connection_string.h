// Connection strings in the platform's syntax: `Key=Value;` pairs, keys compared without regard to letter
// case, values optionally quoted with "..." or '...' (a doubled quote inside stands for one) or braced
// {...} (ODBC style, kept with the braces for the driver). Blanks around keys and unquoted values are
// dropped. A later entry of the same key replaces the earlier one's value but keeps its place.
#pragma once

#include <cstddef>
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

// Removes every "Password" and "PWD" entry, also from the data source's own string that "Extended
// Properties" may hold; such a value that cannot be read as a connection string goes whole.
void RemovePasswords(ConnectionString& cs);

// Length of the braced or quoted value that starts at text[0] ("{", "'" or '"'), its closing delimiter
// included; a doubled closing delimiter inside stands for one ("}}", "''"). npos when it never closes.
std::size_t DelimitedLength(std::string_view text);

// Where one entry lies in the text of a connection string, read as Parse reads it but never refused: a value
// that opens a quote or brace and never closes it is read as an unquoted one, which ends at the next ";".
struct EntrySpan {
    std::size_t begin = 0;         // the key's first character (blanks included)
    std::size_t key_end = 0;       // the "=" after the key, or the entry's ";" (or end) when it has none
    std::size_t quoted_begin = 0;  // the braced or quoted value with its delimiters, where ";" and "="
    std::size_t quoted_end = 0;    // are text; empty when the value is neither
    std::size_t end = 0;           // one past the ";" that closes the entry, or the length of the text
    bool closed = false;           // a ";" closes the entry
    bool unbalanced = false;       // the value opens a quote or brace that nothing closes
};

std::vector<EntrySpan> SpanEntries(std::string_view text);
// The key of an entry of `text`, without the blanks around it.
std::string_view EntryKey(std::string_view text, const EntrySpan& entry);

}  // namespace korado::dataaccess
