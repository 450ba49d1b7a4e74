#include "dataaccess/connection_string.h"

#include <string>

#include "dataaccess/platform_error.h"

namespace korado::dataaccess {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool KeyEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

[[noreturn]] void Malformed(std::string_view source, std::string_view problem, std::size_t position) {
    RaiseAdo(ado::adErrInvalidArgument, source,
             "The connection string " + std::string(problem) + " at character " +
                 std::to_string(position + 1) + ".");
}

}  // namespace

void RemovePasswords(ConnectionString& cs) {
    cs.Remove("Password");
    cs.Remove("PWD");
    std::optional<std::string> extended = cs.Find("Extended Properties");
    if (!extended) return;
    std::string_view inner = *extended;
    const bool braced = inner.size() >= 2 && inner.front() == '{' && inner.back() == '}';
    if (braced) inner = inner.substr(1, inner.size() - 2);
    try {
        ConnectionString nested = ConnectionString::Parse(inner);
        if (!nested.Has("Password") && !nested.Has("PWD")) return;
        RemovePasswords(nested);
        cs.Set("Extended Properties", nested.ToString());
    } catch (const korado::Error&) {
        cs.Remove("Extended Properties");
    }
}

std::size_t DelimitedLength(std::string_view text) {
    const char close = text[0] == '{' ? '}' : text[0];
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != close) continue;
        if (i + 1 < text.size() && text[i + 1] == close) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return std::string_view::npos;
}

std::vector<EntrySpan> SpanEntries(std::string_view text) {
    std::vector<EntrySpan> spans;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        EntrySpan span;
        span.begin = i;
        while (i < n && text[i] != '=' && text[i] != ';') ++i;
        span.key_end = i;
        if (i < n && text[i] == '=') {
            ++i;
            while (i < n && IsBlank(text[i])) ++i;
            if (i < n && (text[i] == '"' || text[i] == '\'' || text[i] == '{')) {
                const std::string_view rest = text.substr(i);
                const std::size_t length = DelimitedLength(rest);
                if (length == std::string_view::npos) {
                    span.unbalanced = true;
                } else {
                    span.quoted_begin = i;
                    span.quoted_end = i + length;
                    i += length;
                }
            }
            // Text after a closing delimiter belongs to the entry up to its ";", as it does for a driver that
            // reads the string without quotes.
            while (i < n && text[i] != ';') ++i;
        }
        span.closed = i < n;
        span.end = span.closed ? i + 1 : n;
        i = span.end;
        spans.push_back(span);
    }
    return spans;
}

std::string_view EntryKey(std::string_view text, const EntrySpan& entry) {
    return TrimBlanks(text.substr(entry.begin, entry.key_end - entry.begin));
}

ConnectionString ConnectionString::Parse(std::string_view text, std::string_view error_source) {
    ConnectionString result;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        // Key: everything up to "=", or the whole entry when there is no "=".
        std::size_t key_start = i;
        while (i < n && text[i] != '=' && text[i] != ';') ++i;
        std::string_view key = TrimBlanks(text.substr(key_start, i - key_start));
        if (i >= n || text[i] == ';') {
            // An entry without "=": blank entries (";;") are skipped; a bare word is a key without a value,
            // which drivers accept for switches.
            if (!key.empty()) result.Set(key, {});
            if (i < n) ++i;
            continue;
        }
        if (key.empty()) Malformed(error_source, "has an entry without a key", key_start);
        ++i;  // '='
        while (i < n && IsBlank(text[i]) && text[i] != ';') ++i;
        std::string value;
        if (i < n && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i];
            const std::size_t open = i++;
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed) {
                Malformed(error_source,
                          quote == '"' ? "has an unbalanced quote (\")" : "has an unbalanced quote (')",
                          open);
            }
            while (i < n && IsBlank(text[i])) ++i;
            if (i < n && text[i] != ';') Malformed(error_source, "has text after a closing quote", i);
        } else if (i < n && text[i] == '{') {
            std::size_t length = DelimitedLength(text.substr(i));
            if (length == std::string_view::npos) Malformed(error_source, "has an unbalanced brace ({)", i);
            value.assign(text.substr(i, length));
            i += length;
            while (i < n && IsBlank(text[i])) ++i;
            if (i < n && text[i] != ';') Malformed(error_source, "has text after a closing brace", i);
        } else {
            std::size_t start = i;
            while (i < n && text[i] != ';') ++i;
            value.assign(TrimBlanks(text.substr(start, i - start)));
        }
        result.Set(key, value);
        if (i < n) ++i;  // ';'
    }
    return result;
}

std::optional<std::string> ConnectionString::Find(std::string_view key) const {
    for (const auto& [k, v] : entries_)
        if (KeyEquals(k, key)) return v;
    return std::nullopt;
}

void ConnectionString::Set(std::string_view key, std::string_view value) {
    for (auto& [k, v] : entries_) {
        if (KeyEquals(k, key)) {
            v.assign(value);
            return;
        }
    }
    entries_.emplace_back(std::string(key), std::string(value));
}

void ConnectionString::Remove(std::string_view key) {
    std::erase_if(entries_, [&](const auto& e) { return KeyEquals(e.first, key); });
}

std::string ConnectionString::ToString() const {
    std::string out;
    for (const auto& [key, value] : entries_) {
        if (!out.empty()) out += ';';
        out += key;
        out += '=';
        bool braced = !value.empty() && value.front() == '{' && DelimitedLength(value) == value.size();
        bool needs_quotes =
            !braced && !value.empty() &&
            (value.find(';') != std::string::npos || IsBlank(value.front()) || IsBlank(value.back()) ||
             value.front() == '"' || value.front() == '\'' || value.front() == '{');
        if (!needs_quotes) {
            out += value;
            continue;
        }
        out += '"';
        for (char c : value) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

}  // namespace korado::dataaccess
