// The message box and the data-link dialog as the library reaches them: through its
// services, with the Qt forms installed.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <optional>

#include "korado/qt/data_link_dialog.h"
#include "korado/qt/services.h"
#include "qt_support.h"

namespace korado::qt::test {
namespace {

using platform::vbInformation;
using platform::vbOK;
using platform::vbOKOnly;

TEST(QtServices, MessageBoxShowsTitleAndTextWithOneOkButton) {
    auto ui = InstallQtServices();
    QString title, text;
    QMessageBox::StandardButtons buttons;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        SaveScreenshot(box, "message_box");
        box->button(QMessageBox::Ok)->click();
    });
    const int answer = platform::MsgBox("Details were saved as /tmp/x.txt\r\nsecond line",
                                        vbOKOnly | vbInformation, "korADO");
    EXPECT_EQ(answer, vbOK);
    EXPECT_EQ(title, "korADO");
    EXPECT_EQ(text, "Details were saved as /tmp/x.txt\r\nsecond line");
    EXPECT_EQ(buttons, QMessageBox::Ok);
}

TEST(QtServices, GuardPutsBackTheEarlierServices) {
    auto before = platform::CurrentFileDialogService();
    {
        auto ui = InstallQtServices();
        EXPECT_NE(platform::CurrentFileDialogService(), before);
        EXPECT_NE(platform::CurrentDataLinkPromptService(), nullptr);
    }
    EXPECT_EQ(platform::CurrentFileDialogService(), before);
}

// Fills the data-link dialog; on `test` presses Test Connection and records the message it shows.
struct DataLinkScript {
    std::string provider, source, user, password;
    bool test = true;
    bool accept = true;
    std::string screenshot;
    // What happened.
    QString message;
    bool open_after_test = false;
    std::vector<std::string> listed_sources;

    void Run(DataLinkDialog* dialog) {
        auto* dsn = dialog->findChild<QComboBox*>("dsn");
        for (int i = 0; i < dsn->count(); ++i) listed_sources.push_back(dsn->itemText(i).toStdString());
        dialog->findChild<QComboBox*>("provider")->setCurrentText(QString::fromStdString(provider));
        if (provider == "ODBC")
            dsn->setCurrentText(QString::fromStdString(source));
        else
            dialog->findChild<QLineEdit*>("file")->setText(QString::fromStdString(source));
        dialog->findChild<QLineEdit*>("user")->setText(QString::fromStdString(user));
        dialog->findChild<QLineEdit*>("password")->setText(QString::fromStdString(password));
        SaveScreenshot(dialog, screenshot);
        if (test) {
            WhenModal<QMessageBox>([&](QMessageBox* box) {
                message = box->text();
                SaveScreenshot(box, screenshot + "_message");
                box->button(QMessageBox::Ok)->click();
            });
            dialog->findChild<QPushButton*>("test")->click();
            open_after_test = dialog->isVisible();
        }
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    }

    std::optional<std::string> Prompt() {
        WhenModal<DataLinkDialog>([this](DataLinkDialog* d) { Run(d); });
        return platform::CurrentDataLinkPromptService()->PromptNew();
    }
};

TEST(QtDataLinkDialog, SqliteFileIsTestedAndHandedBack) {
    auto ui = InstallQtServices();
    QTemporaryDir folder;
    const std::string file = (folder.path() + "/shop.db").toStdString();
    DataLinkScript script{"SQLite", file, "", "", true, true, "data_link_sqlite"};
    EXPECT_EQ(script.Prompt(), "Provider=SQLite;Data Source=" + file + ";");
    EXPECT_EQ(script.message, "Test connection succeeded.");
    EXPECT_TRUE(script.open_after_test);

    DataLinkScript cancel{"SQLite", file, "", "", false, false, "data_link_cancel"};
    EXPECT_EQ(cancel.Prompt(), std::nullopt);
}

TEST(QtDataLinkDialog, OdbcDataSourceWithTheTestAccount) {
    PgAccount pg;
    KORADO_REQUIRE_PG(pg);
    auto ui = InstallQtServices();
    DataLinkScript script{"ODBC", pg.dsn, pg.user, pg.password, true, true, "data_link_odbc"};
    const std::optional<std::string> cs = script.Prompt();
    EXPECT_NE(std::ranges::find(script.listed_sources, pg.dsn), script.listed_sources.end());
    EXPECT_EQ(script.message, "Test connection succeeded.");
    ASSERT_TRUE(cs.has_value());
    EXPECT_EQ(*cs, "Provider=MSDASQL;Data Source=" + pg.dsn + ";User ID=" + pg.user +
                       ";Password=" + pg.password + ";");

    // What the dialog hands back is what the library connects with.
    Session session;
    EXPECT_TRUE(session.Connect(*cs));
}

TEST(QtDataLinkDialog, WrongPasswordShowsTheLibrarysDiagnosisAndStaysOpen) {
    PgAccount pg;
    KORADO_REQUIRE_PG(pg);
    auto ui = InstallQtServices();
    DataLinkScript script{
        "ODBC", pg.dsn, pg.user, "not-" + pg.password, true, false, "data_link_wrong_password"};
    EXPECT_EQ(script.Prompt(), std::nullopt);
    EXPECT_TRUE(script.open_after_test);

    std::string diagnosis;
    Session session;
    EXPECT_FALSE(session.Connect("Provider=MSDASQL;Data Source=" + pg.dsn + ";User ID=" + pg.user +
                                     ";Password=not-" + pg.password + ";",
                                 &diagnosis));
    EXPECT_FALSE(diagnosis.empty());
    EXPECT_EQ(script.message.toStdString(), diagnosis);
}

}  // namespace
}  // namespace korado::qt::test
