#include "about_view.h"

#include <algorithm>
#include <cstdio>

#include "korado/runtime/strings.h"
#include "output.h"
#include "sql_text.h"

namespace korado::console {

void ConsoleFormView::Show(about::frmAbout& form) {
    form.Form_Activate();
    if (quiet_) return;
    std::printf("%s\n", form.Caption().c_str());
    // The labels of the four read-outs are the form's own, in its order.
    const std::string* readouts[] = {&form.txtProvider(), &form.txtProviderName(), &form.txtVersion(),
                                     &form.txtDescription()};
    std::size_t label_width = 0;
    for (std::size_t i = 0; i < 4; ++i)
        label_width = std::max(label_width, about::kLayout[2 * i].caption.size());
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string_view label = about::kLayout[2 * i].caption;
        std::printf("%-*.*s  %s\n", static_cast<int>(label_width), static_cast<int>(label.size()),
                    label.data(), ConsoleText(*readouts[i]).c_str());
    }
    std::printf("\n");

    Table table;
    for (std::string_view heading : about::kListColumns) table.headings.emplace_back(heading);
    table.numeric.assign(table.headings.size(), false);
    for (const about::PropertyRow& row : form.lsvProperties()) {
        // A cell is one line: values with line breaks (provider descriptions) are joined with blanks.
        table.rows.push_back({CellText(Variant(row.name)), CellText(Variant(row.value)),
                              CellText(Variant(row.attribute)), CellText(Variant(row.type))});
    }
    PrintTable(stdout, table);
    std::fflush(stdout);
}

std::optional<std::string> TerminalFileDialog::SaveFile(const platform::SaveFileRequest& request) {
    const std::string question = request.title + " (file name, empty to cancel): ";
    std::optional<std::string> answer = input_.ReadLine(question);
    // A pipe does not echo what it gives; saying it keeps a transcript readable.
    if (answer && !input_.IsTerminal()) std::printf("%s%s\n", question.c_str(), answer->c_str());
    std::fflush(stdout);
    if (!answer) return std::nullopt;
    const std::string name = TrimBlanks(*answer);
    if (name.empty()) return std::nullopt;
    return name;
}

}  // namespace korado::console
