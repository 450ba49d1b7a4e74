// The library's messages as a Qt information box with one OK button, over the active window.
#pragma once

#include "korado/platform/services.h"

namespace korado::qt {

class QtMessageBox final : public platform::MessageBoxService {
  public:
    // Modal; returns vbOK, the only button there is.
    int Show(std::string_view text, std::string_view title, int style) override;
};

}  // namespace korado::qt
