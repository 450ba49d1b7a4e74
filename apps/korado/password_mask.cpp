#include "password_mask.h"

#include <cctype>
#include <vector>

#include "sql_text.h"

namespace korado::console {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != word[i]) return false;
    return true;
}

// One past the end of the value that starts at `v`: a braced value ("}}" stands for "}") or a quoted one
// (a doubled quote stands for one) to its closing delimiter, anything else to the next ";". A delimiter
// never closed takes the rest of the line.
std::size_t ValueEnd(std::string_view line, std::size_t v) {
    if (v < line.size() && (line[v] == '{' || line[v] == '\'' || line[v] == '"')) {
        const char close = line[v] == '{' ? '}' : line[v];
        for (std::size_t i = v + 1; i < line.size(); ++i) {
            if (line[i] != close) continue;
            if (i + 1 < line.size() && line[i + 1] == close) {
                ++i;
                continue;
            }
            return i + 1;
        }
        return line.size();
    }
    const std::size_t semicolon = line.find(';', v);
    return semicolon == std::string_view::npos ? line.size() : semicolon;
}

std::string MaskEntries(std::string_view line) {
    std::string out;
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t key_end = std::string_view::npos;
        for (std::string_view key : {"password", "pwd"}) {
            if (StartsWithNoCase(line, i, key)) {
                key_end = i + key.size();
                break;
            }
        }
        std::size_t v = key_end;
        if (v != std::string_view::npos) {
            while (v < line.size() && IsBlank(line[v])) ++v;
            if (v < line.size() && line[v] == '=') {
                ++v;
                while (v < line.size() && IsBlank(line[v])) ++v;
                const std::size_t end = ValueEnd(line, v);
                out.append(line.substr(i, v - i));
                if (end > v) out += "***";
                i = end;
                continue;
            }
        }
        out += line[i++];
    }
    return out;
}

}  // namespace

bool IsLogin(std::string_view argument) {
    const std::size_t equals = argument.find('=');
    return equals == std::string_view::npos || argument.substr(0, equals).find('/') != std::string_view::npos;
}

std::string MaskLogin(std::string_view login) {
    std::string out(login);
    const std::size_t slash = out.find('/');
    if (slash == std::string::npos) return out;
    std::size_t end = out.rfind('@');
    if (end == std::string::npos || end < slash) end = out.size();
    if (end > slash + 1) out.replace(slash + 1, end - slash - 1, "***");
    return out;
}

std::string MaskPasswords(std::string_view line) {
    // The console reads a CONNECT argument that is a login as user/password@DSN.
    const std::vector<std::string> words = Words(line);
    if (!words.empty() && (Upper(words[0]) == "CONNECT" || Upper(words[0]) == "CONN")) {
        const std::size_t rest = line.find(words[0]) + words[0].size();
        if (IsLogin(TrimBlanks(line.substr(rest))))
            return std::string(line.substr(0, rest)) + MaskLogin(line.substr(rest));
    }
    return MaskEntries(line);
}

}  // namespace korado::console
