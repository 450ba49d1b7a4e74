#include "output.h"

#include <algorithm>
#include <cinttypes>

#include "cell_fast.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::console {
namespace {

void WriteToStandardError(const std::string& text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

void PrintError(const Error& e) { WriteToStandardError(FormatError(e) + "\n"); }

void PrintProblem(std::string_view text) { WriteToStandardError("Error: " + ConsoleText(text) + "\n"); }

void PrintMessage(std::string_view title, std::string_view text) {
    WriteToStandardError(ConsoleText(title) + "\n" + ConsoleText(text) + "\n");
}

int ConsoleMessageBox::Show(std::string_view text, std::string_view title, int) {
    ++shown_;
    PrintMessage(title, text);
    return platform::vbOK;
}

namespace {

std::string Hex(const Bytes& bytes) {
    // Long binary values would swamp the table; the start says what they are.
    constexpr std::size_t kShown = 32;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    if (bytes.size() > kShown) out += "...";
    return out;
}

}  // namespace

std::optional<std::string> CellText(const Variant& value) {
    std::string text;
    if (!AppendCellText(value, text)) return std::nullopt;
    return text;
}

bool AppendCellText(const Variant& value, std::string& out) {
    if (value.IsNull() || value.IsEmpty()) return false;
    const std::size_t from = out.size();
    if (const std::string* text = value.get_if<std::string>()) {
        // Most cells are text: copied as they are, without a conversion's copy.
        out.append(*text);
    } else if (AppendFastCellText(value, out)) {
        return true;
    } else if (const Bytes* bytes = value.get_if<Bytes>()) {
        out.append(Hex(*bytes));
    } else {
        try {
            out.append(CStr(value));
        } catch (const Error&) {
            out.append("?");
        }
    }
    for (std::size_t i = from; i < out.size(); ++i)
        if (out[i] == '\r' || out[i] == '\n' || out[i] == '\t') out[i] = ' ';
    return true;
}

void PrintTable(std::FILE* out, const Table& table) {
    const std::size_t columns = table.headings.size();
    std::vector<std::size_t> width(columns, 0);
    for (std::size_t c = 0; c < columns; ++c) width[c] = std::max<std::size_t>(Len(table.headings[c]), 1);
    for (const auto& row : table.rows)
        for (std::size_t c = 0; c < columns && c < row.size(); ++c)
            if (row[c]) width[c] = std::max(width[c], Len(*row[c]));

    auto cell = [&](std::string& line, std::size_t c, std::string_view text) {
        if (c > 0) line += ' ';
        const std::size_t pad = width[c] - std::min(width[c], Len(text));
        const bool last = c + 1 == columns;
        if (table.numeric[c]) {
            line.append(pad, ' ');
            line.append(text);
        } else {
            line.append(text);
            // No trailing blanks after the last column.
            if (!last) line.append(pad, ' ');
        }
    };

    std::string line;
    for (std::size_t c = 0; c < columns; ++c) cell(line, c, table.headings[c]);
    line += '\n';
    for (std::size_t c = 0; c < columns; ++c) {
        if (c > 0) line += ' ';
        line.append(width[c], '-');
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    for (const auto& row : table.rows) {
        line.clear();
        for (std::size_t c = 0; c < columns; ++c) {
            const std::optional<std::string>& text = c < row.size() ? row[c] : std::nullopt;
            cell(line, c, text ? std::string_view(*text) : std::string_view());
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    }
}

}  // namespace korado::console
