// The ":name" placeholder scan of AddParametersToCommand on arbitrary bytes.
//
// Input: the first byte (mod 16) is the length of the name, the name's bytes follow, the rest is the SQL
// text. Neither needs to be valid UTF-8.
//
// Checked: the text keeps its length in characters (and in bytes when the name is ASCII, since the marker
// is ASCII); every returned position held ":" followed by the name and now holds "?" followed by one blank
// per character of the name; positions rise; nothing else in the text changes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "korado/runtime/strings.h"
#include "parameters/placeholders.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// The text split into its characters, as the library counts them.
std::vector<std::string> Characters(std::string_view s) {
    std::vector<std::string> out;
    while (!s.empty()) {
        out.push_back(korado::Left(s, 1));
        s.remove_prefix(out.back().size());
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t name_length = std::min<std::size_t>(data[0] % 16, size - 1);
    const std::string name(reinterpret_cast<const char*>(data + 1), name_length);
    const std::string original(reinterpret_cast<const char*>(data + 1 + name_length), size - 1 - name_length);

    std::string sql = original;
    const std::vector<std::size_t> positions = korado::RewritePlaceholders(sql, name);

    const std::vector<std::string> before = Characters(original), after = Characters(sql);
    const std::vector<std::string> key = Characters(name);
    Check(after.size() == before.size());
    Check(korado::Len(sql) == korado::Len(original));
    const bool ascii_name =
        std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii_name) Check(sql.size() == original.size());

    // Each position held ":" and the name and now holds "?" and blanks; everything else is as it was.
    std::size_t next = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (next < positions.size() && positions[next] == i + 1) {
            Check(i + key.size() < before.size());
            Check(before[i] == ":" && after[i] == "?");
            for (std::size_t k = 0; k < key.size(); ++k) {
                Check(before[i + 1 + k] == key[k]);
                Check(after[i + 1 + k] == " ");
            }
            i += key.size();
            ++next;
            continue;
        }
        Check(after[i] == before[i]);
    }
    // Positions rise and all lie inside the text.
    Check(next == positions.size());
    return 0;
}
