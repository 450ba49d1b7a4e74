// What the console prints, and where: results and informational lines go to standard output; errors the
// library raises and the messages it shows (its message boxes) go to standard error, after standard output
// is flushed, so that on a terminal and in a merged capture they appear where they happened.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host_text.h"
#include "korado/platform/services.h"
#include "korado/runtime/error.h"
#include "korado/runtime/variant.h"

namespace korado::console {

// The library's texts break lines with CR LF (they were written for message boxes); a console shows a
// line break for CR LF, a lone CR or a lone LF.
inline std::string ConsoleText(std::string_view text) { return apps::LineFeedText(text); }

using apps::FormatError;
void PrintError(const Error& e);
// A failure the console itself detects (a command it cannot parse, no connection): "Error: <text>".
void PrintProblem(std::string_view text);

// A message box as text: the title on one line, the text below.
void PrintMessage(std::string_view title, std::string_view text);

// The message-box service of the console: every message the library shows is printed, and counted, so
// that a command can tell that the library reported a failure by message rather than by raising.
class ConsoleMessageBox final : public platform::MessageBoxService {
  public:
    int Show(std::string_view text, std::string_view title, int style) override;
    std::size_t Shown() const noexcept { return shown_; }

  private:
    std::size_t shown_ = 0;
};

// A value as a cell of a result table: Null and Empty as nothing, binary as hex, line breaks and tabs as
// blanks (a cell is one line). Raises nothing: a value that has no text shows as "?".
std::optional<std::string> CellText(const Variant& value);
// The same text appended to `out`; false (and nothing appended) for Null and Empty.
bool AppendCellText(const Variant& value, std::string& out);

using apps::IsNumericType;

struct Table {
    std::vector<std::string> headings;
    std::vector<bool> numeric;                                  // per column: right-aligned
    std::vector<std::vector<std::optional<std::string>>> rows;  // nullopt: NULL
};

// Headings, a line of dashes under each, then the rows; columns one blank apart, each as wide as its
// widest text (in characters), numbers right-aligned.
void PrintTable(std::FILE* out, const Table& table);

}  // namespace korado::console
