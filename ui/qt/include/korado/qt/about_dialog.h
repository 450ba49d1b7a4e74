// The About dialog's Qt view: the library's one About form (frmAbout) as a modeless QDialog, laid out as
// the form was designed (at 15 twips to a pixel), showing what the form reads out and calling its event
// handlers as the user acts.
#pragma once

#include <QDialog>

#include "korado/about/frmAbout.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace korado::qt {

class AboutDialog final : public QDialog, public about::FormView {
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    // ---- FormView ----
    void Show(about::frmAbout& form) override;
    void Unload(about::frmAbout& form) override;
    std::int32_t WindowHandle(const about::frmAbout& form) const override;

    // Copies the form's caption, read-outs and property rows into the controls.
    void Refresh();

  protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    // Runs a handler of the shown form, then shows what the form says afterwards.
    template <class Handler>
    void Call(Handler&& handler);

    Ref<about::frmAbout> form_;  // the shown form, kept alive until it is unloaded
    bool unloading_ = false;
    QLineEdit* txtProvider_ = nullptr;
    QLineEdit* txtProviderName_ = nullptr;
    QLineEdit* txtVersion_ = nullptr;
    QLineEdit* txtDescription_ = nullptr;
    QTreeWidget* lsvProperties_ = nullptr;
    QPushButton* cmdSave_ = nullptr;
    QPushButton* cmdClose_ = nullptr;
};

}  // namespace korado::qt
