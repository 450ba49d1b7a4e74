#include "korado/qt/services.h"

#include "korado/qt/data_link_dialog.h"
#include "korado/qt/file_dialog.h"
#include "korado/qt/message_box.h"

namespace korado::qt {

struct InstalledServices::Saved {
    platform::ScopedMessageBox message_box{std::make_shared<QtMessageBox>()};
    platform::ScopedFileDialog file_dialog{std::make_shared<QtFileDialog>()};
    platform::ScopedDataLinkPrompt data_link{std::make_shared<QtDataLinkPrompt>()};
};

InstalledServices::InstalledServices() : saved_(std::make_unique<Saved>()) {}
InstalledServices::~InstalledServices() = default;

std::unique_ptr<InstalledServices> InstallQtServices() { return std::make_unique<InstalledServices>(); }

}  // namespace korado::qt
