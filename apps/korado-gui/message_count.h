// The window's messages and the library's go through one message box service (the Qt message box when the
// Qt views are there). The window puts a counter in front of it, so that after a failure it can tell
// whether the library has already told the user why, and say something itself only when it has not.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "korado/platform/services.h"

namespace korado::gui {

class CountedMessageBox final : public platform::MessageBoxService {
  public:
    // `shown`: the service that shows the messages (may be null: then they are only counted).
    explicit CountedMessageBox(std::shared_ptr<platform::MessageBoxService> shown)
        : shown_(std::move(shown)) {}
    int Show(std::string_view text, std::string_view title, int style) override;

  private:
    std::shared_ptr<platform::MessageBoxService> shown_;
};

// Messages shown through any CountedMessageBox so far.
std::size_t MessagesShown() noexcept;

// A message of the window's own, as an information box titled "korado".
void ShowMessage(const std::string& text);

}  // namespace korado::gui
