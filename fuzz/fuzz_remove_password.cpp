// The password removal of connection strings handed back to the host. On any text: never crashes, never
// grows the text. On a connection string built from the input with one password entry among others: the
// whole entry goes, whatever its value holds and however it is written, and every other entry stays as
// written (so no three characters of the password survive that the other entries do not hold themselves).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "korado/connection/clsADO.h"
#include "korado/runtime/strings.h"

namespace {

// Characters that mean something to the syntax, blanks, and the letters of both password keys.
constexpr char kAnyChars[] = "aZ09 \t;={}}'\"pPwWdDsSoOrR";
// What an unquoted value may hold: no ";" (it would end the value) and no "=" (a value like "xpwd=y" is
// itself cut as a password entry, as unquoted values always were).
constexpr char kPlainChars[] = "aZ09 {}'\"pPwWdD.-_";

std::string Chars(FuzzedDataProvider& in, const char* alphabet, std::size_t alphabet_size, std::size_t max) {
    std::string s(in.ConsumeIntegralInRange<std::size_t>(0, max), ' ');
    for (char& c : s) c = alphabet[in.ConsumeIntegralInRange<std::size_t>(0, alphabet_size - 1)];
    return s;
}

std::string Enclosed(const std::string& value, char open, char close) {
    std::string out(1, open);
    for (char c : value) {
        out += c;
        if (c == close) out += c;
    }
    return out + close;
}

// A value as written: unquoted, braced, or quoted either way.
std::string Written(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: {
            std::string value = Chars(in, kPlainChars, sizeof kPlainChars - 1, 16);
            // A delimiter first (after blanks) would make it a braced or quoted value.
            const std::size_t first = value.find_first_not_of(" \t");
            if (first != std::string::npos &&
                std::string_view("{'\"").find(value[first]) != std::string_view::npos)
                value.insert(first, "x");
            return value;
        }
        case 1:
            return Enclosed(Chars(in, kAnyChars, sizeof kAnyChars - 1, 24), '{', '}');
        case 2:
            return Enclosed(Chars(in, kAnyChars, sizeof kAnyChars - 1, 24), '\'', '\'');
        default:
            return Enclosed(Chars(in, kAnyChars, sizeof kAnyChars - 1, 24), '"', '"');
    }
}

void CheckOnePasswordAmongOthers(FuzzedDataProvider& in) {
    // Not "Extended Properties": a password inside its value is removed too, so it is not kept as written.
    static const char* const kKeys[] = {"DSN", "UID", " Data Source", "Provider", "Driver", "Mode"};
    const std::size_t others = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    const std::size_t place = in.ConsumeIntegralInRange<std::size_t>(0, others);

    std::string key = in.ConsumeBool() ? "password" : "pwd";
    for (char& c : key)
        if (in.ConsumeBool()) c = static_cast<char>(c - 32);
    const std::string written = Written(in);
    const std::string value = std::string(in.ConsumeIntegralInRange(0, 2), ' ') + written +
                              std::string(in.ConsumeIntegralInRange(0, 2), ' ');
    const bool last = place == others;
    // An unquoted value in the last entry is kept unless a ";" closes it; a braced or quoted one goes anyway.
    const bool delimited =
        !written.empty() && std::string_view("{'\"").find(written[0]) != std::string_view::npos;
    const std::string password = key + "=" + value + (last && delimited && in.ConsumeBool() ? "" : ";");

    std::string text, kept;
    for (std::size_t i = 0; i <= others; ++i) {
        if (i == place) {
            text += password;
            continue;
        }
        std::string entry = kKeys[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1)];
        entry += "=" + Written(in);
        if (i < others || in.ConsumeBool()) entry += ";";
        text += entry;
        kept += entry;
    }

    const std::string out = korado::clsADO::m_RemovePassword(text);
    if (out != kept) __builtin_trap();
    for (std::size_t i = 0; i + 3 <= value.size(); ++i) {
        const std::string part = value.substr(i, 3);
        if (kept.find(part) == std::string::npos && out.find(part) != std::string::npos) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    std::string out = korado::clsADO::m_RemovePassword(in);
    if (out.size() > in.size()) __builtin_trap();
    // Removing is only ever cutting one entry (with its ";") per key out of the text.
    if (out != in && korado::Len(out) >= korado::Len(in)) __builtin_trap();

    FuzzedDataProvider provider(data, size);
    CheckOnePasswordAmongOthers(provider);
    return 0;
}
