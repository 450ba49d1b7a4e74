#include "message_count.h"

#include "host_text.h"

namespace korado::gui {
namespace {

std::size_t g_shown = 0;

}  // namespace

int CountedMessageBox::Show(std::string_view text, std::string_view title, int style) {
    ++g_shown;
    return shown_ ? shown_->Show(text, title, style) : platform::vbOK;
}

std::size_t MessagesShown() noexcept { return g_shown; }

void ShowMessage(const std::string& text) {
    platform::MsgBox(apps::LineFeedText(text), platform::vbOKOnly | platform::vbInformation, "korado");
}

}  // namespace korado::gui
