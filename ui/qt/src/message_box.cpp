#include "korado/qt/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace korado::qt {

int QtMessageBox::Show(std::string_view text, std::string_view title, int) {
    // The library asks only for information boxes; whatever the style, the user can only acknowledge.
    QMessageBox box(QMessageBox::Information,
                    QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName("korado_message_box");
    box.exec();
    return platform::vbOK;
}

}  // namespace korado::qt
