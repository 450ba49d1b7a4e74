// The Qt forms of the library's user interface, for a host with a QApplication: the information message
// box, the file-save dialog, the data-link dialog and the About dialog's view.
//
//     QApplication app(argc, argv);
//     auto ui = korado::qt::InstallQtServices();  // kept while the host's windows live
//
// Destroying the guard puts back the services that were there before and closes the About dialog; it must
// go before the QApplication does. Everything runs on the thread of the QApplication.
#pragma once

#include <memory>

namespace korado::qt {

class InstalledServices {
  public:
    InstalledServices();
    ~InstalledServices();
    InstalledServices(const InstalledServices&) = delete;
    InstalledServices& operator=(const InstalledServices&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// Installs all four Qt services; the result restores the earlier ones when destroyed.
[[nodiscard]] std::unique_ptr<InstalledServices> InstallQtServices();

}  // namespace korado::qt
