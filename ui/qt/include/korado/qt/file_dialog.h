// The file-save dialog behind the library's file-system component, as a QFileDialog.
#pragma once

#include "korado/platform/services.h"

namespace korado::qt {

class QtFileDialog final : public platform::FileDialogService {
  public:
    // A modal save dialog titled and opened in the folder the request gives, over the request's owner
    // window when that is one of the process's widgets (else the active window); nullopt on cancel.
    std::optional<std::string> SaveFile(const platform::SaveFileRequest& request) override;
};

}  // namespace korado::qt
