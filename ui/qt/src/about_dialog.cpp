#include "korado/qt/about_dialog.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>

namespace korado::qt {
namespace {

using about::kTwipsPerPixel;

// Replaced at activation.
constexpr const char* kDesignTitle = "About";

QRect Pixels(const about::ControlLayout& c) {
    return {c.left / kTwipsPerPixel, c.top / kTwipsPerPixel, c.width / kTwipsPerPixel,
            c.height / kTwipsPerPixel};
}

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The form's handlers take the key codes and shift state of the language the form was written in.
std::int16_t KeyCode(const QKeyEvent& e) {
    const int key = e.key();
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F16) return static_cast<std::int16_t>(112 + (key - Qt::Key_F1));
    switch (key) {
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 9;
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        case Qt::Key_Alt:
            return 18;
        default:
            return 0;
    }
}

std::int16_t ShiftState(const QKeyEvent& e) {
    const Qt::KeyboardModifiers m = e.modifiers();
    return static_cast<std::int16_t>((m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
                                     (m & Qt::AltModifier ? 4 : 0));
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle(kDesignTitle);
    setFixedSize(about::kClientWidth / kTwipsPerPixel, about::kClientHeight / kTwipsPerPixel);
    // Modeless, and kept when closed: the library has one dialog and shows it again.
    setModal(false);
    // The layout's fixed sizes were made for an 8-point dialog font; a larger desktop font would clip the
    // labels' captions.
    QFont font = this->font();
    font.setPointSize(8);
    setFont(font);

    for (const about::ControlLayout& c : about::kLayout) {
        QWidget* control = nullptr;
        if (c.kind == "label") {
            control = new QLabel(Text(c.caption), this);
        } else if (c.kind == "text") {
            auto* edit = new QLineEdit(this);
            edit->setReadOnly(true);
            control = edit;
        } else if (c.kind == "list") {
            auto* list = new QTreeWidget(this);
            list->setColumnCount(static_cast<int>(std::size(about::kListColumns)));
            QStringList headings;
            for (std::string_view h : about::kListColumns) headings << Text(h);
            list->setHeaderLabels(headings);
            // A report: flat rows, whole rows selected, no branch lines.
            list->setRootIsDecorated(false);
            list->setUniformRowHeights(true);
            list->setAllColumnsShowFocus(true);
            list->setSelectionBehavior(QAbstractItemView::SelectRows);
            list->header()->setStretchLastSection(true);
            control = list;
        } else {
            control = new QPushButton(Text(c.caption), this);
        }
        control->setObjectName(Text(c.name));
        control->setGeometry(Pixels(c));
        control->installEventFilter(this);
    }
    txtProvider_ = findChild<QLineEdit*>("txtProvider");
    txtProviderName_ = findChild<QLineEdit*>("txtProviderName");
    txtVersion_ = findChild<QLineEdit*>("txtVersion");
    txtDescription_ = findChild<QLineEdit*>("txtDescription");
    lsvProperties_ = findChild<QTreeWidget*>("lsvProperties");
    cmdSave_ = findChild<QPushButton*>("cmdSave");
    cmdClose_ = findChild<QPushButton*>("cmdClose");
    // Widths are cosmetic: enough for typical names and values, the type last.
    const int widths[] = {160, 170, 90};
    for (int i = 0; i < 3; ++i) lsvProperties_->setColumnWidth(i, widths[i]);

    connect(cmdSave_, &QPushButton::clicked, this,
            [this] { Call([](about::frmAbout& f) { f.cmdSave_Click(); }); });
    connect(cmdClose_, &QPushButton::clicked, this,
            [this] { Call([](about::frmAbout& f) { f.cmdClose_Click(); }); });
}

AboutDialog::~AboutDialog() = default;

template <class Handler>
void AboutDialog::Call(Handler&& handler) {
    // Held for the call: the handler may unload the form, which lets go of it here.
    const Ref<about::frmAbout> form = form_;
    if (!form) return;
    handler(*form);
    if (form_) Refresh();
}

void AboutDialog::Show(about::frmAbout& form) {
    form_ = Ref<about::frmAbout>(&form);
    const bool was_visible = isVisible();
    // Already the active window, it would not be activated again, yet the form may have been given another
    // connection since: it is refilled as if it had been.
    if (isActiveWindow()) Call([](about::frmAbout& f) { f.Form_Activate(); });
    show();
    raise();
    activateWindow();
    // Escape works at once: the form closes on Escape from its buttons, not from the read-outs.
    if (!was_visible) cmdClose_->setFocus();
}

void AboutDialog::Unload(about::frmAbout&) {
    unloading_ = true;
    form_ = nullptr;
    close();
    unloading_ = false;
    // An unloaded form's controls are gone: the next Show starts from the design, not from the last
    // connection's details.
    setWindowTitle(kDesignTitle);
    for (QLineEdit* edit : {txtProvider_, txtProviderName_, txtVersion_, txtDescription_}) edit->clear();
    lsvProperties_->clear();
}

std::int32_t AboutDialog::WindowHandle(const about::frmAbout&) const {
    // The dialogs the form opens find this window again from its handle (QWidget::find).
    return static_cast<std::int32_t>(winId());
}

void AboutDialog::Refresh() {
    const about::frmAbout* form = form_.get();
    if (!form) return;
    setWindowTitle(QString::fromStdString(form->Caption()));
    txtProvider_->setText(QString::fromStdString(form->txtProvider()));
    txtProviderName_->setText(QString::fromStdString(form->txtProviderName()));
    txtVersion_->setText(QString::fromStdString(form->txtVersion()));
    txtDescription_->setText(QString::fromStdString(form->txtDescription()));

    // Refilled at every activation; the user keeps the place they scrolled to.
    const int scrolled = lsvProperties_->verticalScrollBar()->value();
    lsvProperties_->clear();
    QList<QTreeWidgetItem*> items;
    for (const about::PropertyRow& row : form->lsvProperties()) {
        items << new QTreeWidgetItem(
            QStringList{QString::fromStdString(row.name), QString::fromStdString(row.value),
                        QString::fromStdString(row.attribute), QString::fromStdString(row.type)});
    }
    lsvProperties_->addTopLevelItems(items);
    lsvProperties_->verticalScrollBar()->setValue(scrolled);
}

bool AboutDialog::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) Call([](about::frmAbout& f) { f.Form_Activate(); });
    return QDialog::event(e);
}

bool AboutDialog::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() != QEvent::KeyRelease) return QDialog::eventFilter(watched, e);
    const auto& key = static_cast<const QKeyEvent&>(*e);
    if (key.isAutoRepeat()) return true;
    const std::int16_t code = KeyCode(key), shift = ShiftState(key);
    if (watched == cmdSave_)
        Call([&](about::frmAbout& f) { f.cmdSave_KeyUp(code, shift); });
    else if (watched == cmdClose_)
        Call([&](about::frmAbout& f) { f.cmdClose_KeyUp(code, shift); });
    // The read-outs and the list have no key handlers: their keys stop there rather than reach the form.
    return true;
}

void AboutDialog::keyPressEvent(QKeyEvent* e) {
    // The form closes when Escape is released, through its own handlers; QDialog would hide it on the press.
    if (e->key() == Qt::Key_Escape) return e->accept();
    QDialog::keyPressEvent(e);
}

void AboutDialog::keyReleaseEvent(QKeyEvent* e) {
    if (e->isAutoRepeat()) return;
    const std::int16_t code = KeyCode(*e), shift = ShiftState(*e);
    Call([&](about::frmAbout& f) { f.Form_KeyUp(code, shift); });
}

void AboutDialog::closeEvent(QCloseEvent* e) {
    // The window's own close box unloads the form as its Close button does.
    if (!unloading_ && form_) Call([](about::frmAbout& f) { f.cmdClose_Click(); });
    QDialog::closeEvent(e);
}

}  // namespace korado::qt
