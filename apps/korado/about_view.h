// The About dialog in a terminal: ABOUT prints what the dialog shows, ABOUT SAVE asks for a file name and
// lets the library write the connection details there.
//
// The console installs ConsoleFormView for its whole session, so that clsADO::About shows the library's
// form as text; TerminalFileDialog answers the file-system component's SaveFile while ABOUT SAVE runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "korado/about/frmAbout.h"
#include "korado/platform/services.h"
#include "line_input.h"

namespace korado::console {

class ConsoleFormView final : public about::FormView {
  public:
    // Activates the form and, unless quiet, prints its title, read-outs and property table to standard
    // output.
    void Show(about::frmAbout& form) override;
    void Unload(about::frmAbout&) override {}
    std::int32_t WindowHandle(const about::frmAbout&) const override { return 0; }

    // Quiet: the form is activated (read afresh) but not printed, for ABOUT SAVE.
    void SetQuiet(bool quiet) noexcept { quiet_ = quiet; }

  private:
    bool quiet_ = false;
};

// Asks for the file in the terminal; an empty answer or the end of the input cancels. A relative name is
// taken from the current folder, as everywhere else in the console.
class TerminalFileDialog final : public platform::FileDialogService {
  public:
    // `input`: where the answer is read (standard input); not owned, must outlive the dialog.
    explicit TerminalFileDialog(LineSource& input) : input_(input) {}
    std::optional<std::string> SaveFile(const platform::SaveFileRequest& request) override;

  private:
    LineSource& input_;
};

}  // namespace korado::console
