// The About dialog as a user meets it: clsADO.About on a connected session opens the one Qt dialog, laid
// out as designed, filled at activation, saving through the file dialog and closing on Escape.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "korado/about/frmAbout.h"
#include "korado/platform/services.h"
#include "korado/qt/about_dialog.h"
#include "korado/qt/services.h"
#include "korado/runtime/convert.h"
#include "qt_support.h"

namespace korado::qt::test {
namespace {

// Records the messages instead of showing them.
class RecordingMessageBox final : public platform::MessageBoxService {
  public:
    std::vector<std::string> texts;
    int Show(std::string_view text, std::string_view, int) override {
        texts.emplace_back(text);
        return platform::vbOK;
    }
};

// Waits until the dialog has been activated and filled from the form.
bool WaitFilled(AboutDialog* dialog) {
    for (int i = 0; i < 500 && dialog->windowTitle() != "Tabulon Universal - About the database connection";
         ++i)
        QTest::qWait(10);
    return dialog->isVisible() &&
           dialog->windowTitle() == "Tabulon Universal - About the database connection";
}

// The library's one About dialog, shown by clsADO.About and filled; nullptr when none opened.
AboutDialog* ShowAbout(Session& session) {
    session.ado().About();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = dynamic_cast<AboutDialog*>(w); dialog && dialog->isVisible())
            return WaitFilled(dialog) ? dialog : nullptr;
    return nullptr;
}

std::string PropertyText(const Variant& value) { return value.IsNull() ? std::string() : CStr(value); }

class AboutDialogTest : public testing::Test {
  protected:
    void SetUp() override { sqlite_ = (folder_.path() + "/about.db").toStdString(); }

    // The dialog of a session on the test's SQLite file.
    AboutDialog* OpenAbout(Session& session) {
        return session.Connect("Provider=SQLite;Data Source=" + sqlite_) ? ShowAbout(session) : nullptr;
    }

    std::unique_ptr<InstalledServices> ui_ = InstallQtServices();
    QTemporaryDir folder_;
    std::string sqlite_;
};

TEST_F(AboutDialogTest, ControlsSitWhereTheFormWasDesigned) {
    Session session;
    AboutDialog* dialog = OpenAbout(session);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->size(), QSize(8640 / 15, 7740 / 15));
    for (const about::ControlLayout& c : about::kLayout) {
        SCOPED_TRACE(std::string(c.name));
        auto* control = dialog->findChild<QWidget*>(QString::fromUtf8(c.name.data(), c.name.size()));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
    }
    EXPECT_FALSE(dialog->isModal());
    SaveScreenshot(dialog, "about_sqlite");
}

// What the dialog shows is what the connection reports, on the embedded database and through ODBC.
TEST_F(AboutDialogTest, ShowsTheConnectionsProviderAndEveryProperty) {
    PgAccount pg;
    const bool pg_usable = PgUnavailable(pg).empty();
    struct Case {
        std::string name, connection_string;
    };
    std::vector<Case> cases{{"about_contents_sqlite", "Provider=SQLite;Data Source=" + sqlite_}};
    if (pg_usable)
        cases.push_back({"about_contents_pg", "Provider=MSDASQL;Data Source=" + pg.dsn +
                                                  ";User ID=" + pg.user + ";Password=" + pg.password + ";"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        ASSERT_TRUE(session.Connect(c.connection_string));
        AboutDialog* dialog = ShowAbout(session);
        ASSERT_NE(dialog, nullptr);
        SaveScreenshot(dialog, c.name);

        ado::Connection& connection = *session.ado().Connection();
        EXPECT_EQ(dialog->findChild<QLineEdit*>("txtProvider")->text().toStdString(), connection.Provider());
        EXPECT_EQ(dialog->findChild<QLineEdit*>("txtProviderName")->text().toStdString(),
                  PropertyText(connection.Properties()->Item(Variant("Provider Name"))->Value()));
        EXPECT_EQ(dialog->findChild<QLineEdit*>("txtVersion")->text().toStdString(),
                  PropertyText(connection.Properties()->Item(Variant("Provider Version"))->Value()));

        auto* list = dialog->findChild<QTreeWidget*>("lsvProperties");
        Ref<ado::Properties> properties = connection.Properties();
        ASSERT_EQ(list->topLevelItemCount(), properties->Count());
        const std::vector<about::PropertyRow>& rows = about::AboutForm()->lsvProperties();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            Ref<ado::Property> p = properties->Item(Variant(i));
            QTreeWidgetItem* row = list->topLevelItem(i);
            ASSERT_EQ(row->text(0).toStdString(), p->Name());
            const bool masked = QString::fromStdString(p->Name()).toUpper() == "PASSWORD";
            EXPECT_EQ(row->text(1).toStdString(), masked ? "*****" : PropertyText(p->Value())) << p->Name();
            EXPECT_EQ(row->text(2).toStdString(), rows[i].attribute);
            EXPECT_EQ(row->text(3).toStdString(), rows[i].type);
        }
        dialog->findChild<QPushButton*>("cmdClose")->click();
        EXPECT_FALSE(dialog->isVisible());
    }
    if (!pg_usable) {
        if (ServersRequired()) FAIL() << PgUnavailable(pg);
        GTEST_SKIP() << "PostgreSQL part skipped: " << PgUnavailable(pg);
    }
}

TEST_F(AboutDialogTest, EscapeReleasedOnTheDialogOrEitherButtonCloses) {
    Session session;
    ASSERT_TRUE(session.Connect("Provider=SQLite;Data Source=" + sqlite_));
    struct Case {
        const char* control;  // "" for the dialog itself
        Qt::Key key;
        bool press_only;
        bool closes;
    };
    const Case cases[] = {
        {"", Qt::Key_Escape, false, true},
        {"cmdSave", Qt::Key_Escape, false, true},
        {"cmdClose", Qt::Key_Escape, false, true},
        {"cmdClose", Qt::Key_A, false, false},
        {"", Qt::Key_Escape, true, false},  // QDialog would close on the press
        {"txtProvider", Qt::Key_Escape, false, false},
        {"lsvProperties", Qt::Key_Escape, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.control) + (c.press_only ? " press" : " release"));
        AboutDialog* dialog = ShowAbout(session);
        ASSERT_NE(dialog, nullptr);
        QWidget* target = *c.control ? dialog->findChild<QWidget*>(c.control) : dialog;
        if (*c.control) target->setFocus();
        QTest::keyPress(target, c.key);
        if (!c.press_only) QTest::keyRelease(target, c.key);
        EXPECT_EQ(dialog->isVisible(), !c.closes);
        EXPECT_EQ(about::AboutForm()->Loaded(), !c.closes);
        if (dialog->isVisible()) dialog->findChild<QPushButton*>("cmdClose")->click();
    }
}

// About again, for another connection, while the dialog is the active window: it shows the new one. The
// window's close box unloads the form as Close does.
TEST_F(AboutDialogTest, AboutAgainShowsTheNewConnectionAndTheCloseBoxUnloads) {
    Session first;
    AboutDialog* dialog = OpenAbout(first);
    ASSERT_NE(dialog, nullptr);

    const std::string other = (folder_.path() + "/other.db").toStdString();
    Session second;
    ASSERT_TRUE(second.Connect("Provider=SQLite;Data Source=" + other));
    ASSERT_EQ(ShowAbout(second), dialog);
    auto* list = dialog->findChild<QTreeWidget*>("lsvProperties");
    auto source = list->findItems("Data Source", Qt::MatchExactly);
    ASSERT_EQ(source.size(), 1);
    EXPECT_EQ(source.front()->text(1).toStdString(), other);

    dialog->close();
    EXPECT_FALSE(about::AboutForm()->Loaded());
}

// Reads a file's bytes.
std::string FileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
}

// A cancelled save writes and says nothing; a chosen file gets the details and a confirmation.
TEST_F(AboutDialogTest, SaveWritesTheDetailsWhereTheUserChoseOrNothing) {
    Session session;
    AboutDialog* dialog = OpenAbout(session);
    ASSERT_NE(dialog, nullptr);
    {
        auto messages = std::make_shared<RecordingMessageBox>();
        platform::ScopedMessageBox quiet(messages);
        WhenModal<QFileDialog>([&](QFileDialog* files) {
            files->selectFile(folder_.path() + "/never.txt");
            files->reject();
        });
        dialog->findChild<QPushButton*>("cmdSave")->click();
        EXPECT_FALSE(QFile::exists(folder_.path() + "/never.txt"));
        EXPECT_TRUE(messages->texts.empty());
        EXPECT_TRUE(dialog->isVisible());
        SaveScreenshot(dialog, "about_after_cancel");
    }

    const QString path = folder_.path() + "/details.txt";
    QString title, confirmation, folder;
    QWidget* owner = nullptr;
    WhenModal<QFileDialog>([&](QFileDialog* files) {
        title = files->windowTitle();
        owner = files->parentWidget();
        folder = files->directory().absolutePath();
        EXPECT_EQ(files->acceptMode(), QFileDialog::AcceptSave);
        SaveScreenshot(files, "about_save_dialog");
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            confirmation = box->text();
            SaveScreenshot(box, "about_saved_message");
            box->button(QMessageBox::Ok)->click();
        });
        files->selectFile(path);
        static_cast<QDialog*>(files)->accept();
    });
    dialog->findChild<QPushButton*>("cmdSave")->click();
    EXPECT_EQ(title, "Save Connection Details As");
    EXPECT_EQ(owner, dialog);
    // It opens in the library's folder.
    EXPECT_FALSE(QDir(folder).entryList({"libkorado.so*"}).isEmpty()) << folder.toStdString();
    EXPECT_EQ(confirmation, "Details were saved as " + path);

    ado::Connection& connection = *session.ado().Connection();
    std::string expected = "Provider: " + connection.Provider() + "\r\n\r\n";
    Ref<ado::Properties> properties = connection.Properties();
    for (int i = 0; i < properties->Count(); ++i) {
        Ref<ado::Property> p = properties->Item(Variant(i));
        expected += p->Name() + " " + PropertyText(p->Value()) + " " + std::to_string(p->Attributes()) + " " +
                    std::to_string(p->Type()) + "\r\n";
    }
    EXPECT_EQ(FileBytes(path), expected);
    EXPECT_TRUE(dialog->isVisible());
    dialog->findChild<QPushButton*>("cmdClose")->click();
}

}  // namespace
}  // namespace korado::qt::test
