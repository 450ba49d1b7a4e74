// The data-link dialog: the user picks SQLite (a database file) or ODBC (one of the data sources the
// driver manager lists), gives a user and password, may test the connection, and gets back a
// connection string the library connects with.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "korado/platform/services.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QDialogButtonBox;
class QStackedWidget;

namespace korado::qt {

// The user and system data sources of the ODBC driver manager, sorted and without duplicates; empty when
// it lists none or cannot be asked.
std::vector<std::string> OdbcDataSources();

class DataLinkDialog : public QDialog {
    Q_OBJECT

  public:
    explicit DataLinkDialog(QWidget* parent = nullptr);

    // What the controls say now, as "Provider=...;Data Source=...;[User ID=...;][Password=...;]"; every
    // entry is closed with ";" so that the library can take the password out of what it hands back.
    std::string ConnectionString() const;

    // Opens and closes a connection with ConnectionString(); a failure is shown with the library's
    // diagnosis, a success with a short confirmation (both through the message-box service). The dialog
    // stays open either way.
    bool TestConnection();

  private:
    void ProviderChanged();
    void BrowseFile();
    void UpdateOk();

    QComboBox* provider_;
    QStackedWidget* source_pages_;
    QLineEdit* file_;
    QComboBox* dsn_;
    QLineEdit* user_;
    QLineEdit* password_;
    QPushButton* test_;
    QDialogButtonBox* buttons_;
};

// DataLinks.PromptNew as a modal DataLinkDialog: the connection string on OK, nullopt on Cancel.
class QtDataLinkPrompt final : public platform::DataLinkPromptService {
  public:
    std::optional<std::string> PromptNew() override;
};

}  // namespace korado::qt
