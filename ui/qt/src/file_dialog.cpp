#include "korado/qt/file_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QWidget>

namespace korado::qt {
namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

std::optional<std::string> QtFileDialog::SaveFile(const platform::SaveFileRequest& request) {
    // The owner is a window handle as the library passes it on; it names a widget only when one of ours
    // handed it out, and a stale or foreign handle must not end up as a parent.
    QWidget* owner = request.owner_window ? QWidget::find(static_cast<WId>(request.owner_window)) : nullptr;
    if (!owner) owner = QApplication::activeWindow();

    QFileDialog dialog(owner, Text(request.title), Text(request.initial_folder));
    dialog.setObjectName("korado_file_dialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog: the same on every desktop and under the offscreen platform, where a native one
    // could not be answered.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (!request.filter.empty()) dialog.setNameFilter(Text(request.filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst().toStdString();
}

}  // namespace korado::qt
