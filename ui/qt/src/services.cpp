#include "korado/qt/services.h"

#include "korado/qt/about_dialog.h"
#include "korado/qt/data_link_dialog.h"
#include "korado/qt/file_dialog.h"
#include "korado/qt/message_box.h"

namespace korado::qt {

struct InstalledServices::Saved {
    platform::ScopedMessageBox message_box{std::make_shared<QtMessageBox>()};
    platform::ScopedFileDialog file_dialog{std::make_shared<QtFileDialog>()};
    platform::ScopedDataLinkPrompt data_link{std::make_shared<QtDataLinkPrompt>()};
    // The library's one About dialog, made once and shown again at each About.
    std::shared_ptr<AboutDialog> about_dialog = std::make_shared<AboutDialog>();
    std::shared_ptr<about::FormView> previous_view = about::SetFormView(about_dialog);

    ~Saved() { about::SetFormView(std::move(previous_view)); }
};

InstalledServices::InstalledServices() : saved_(std::make_unique<Saved>()) {}
InstalledServices::~InstalledServices() = default;

std::unique_ptr<InstalledServices> InstallQtServices() { return std::make_unique<InstalledServices>(); }

}  // namespace korado::qt
