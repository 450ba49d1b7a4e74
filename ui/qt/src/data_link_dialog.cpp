#include "korado/qt/data_link_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "korado/connection/connect_diagnosis.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"

namespace korado::qt {
namespace {

constexpr const char* kTitle = "Data Link Properties";
enum Page { SqlitePage = 0, OdbcPage = 1 };

// key=value; with the value quoted when a blank at an end, a ";" or a quote would change its meaning.
void AppendEntry(std::string& cs, const std::string& key, const std::string& value) {
    cs += key + "=";
    const bool quote = value.empty() || value.find_first_of(";\"'{}") != std::string::npos ||
                       value.front() == ' ' || value.back() == ' ';
    if (quote) {
        cs += '"';
        for (char c : value) {
            if (c == '"') cs += '"';
            cs += c;
        }
        cs += '"';
    } else {
        cs += value;
    }
    cs += ';';
}

std::string Trimmed(const QString& s) { return s.trimmed().toStdString(); }

}  // namespace

DataLinkDialog::DataLinkDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(kTitle);
    setObjectName("korado_data_link_dialog");

    provider_ = new QComboBox(this);
    provider_->setObjectName("provider");
    provider_->addItems({"SQLite", "ODBC"});

    // SQLite: a database file, typed or chosen.
    auto* file_page = new QWidget(this);
    file_ = new QLineEdit(file_page);
    file_->setObjectName("file");
    auto* browse = new QPushButton(tr("Browse..."), file_page);
    browse->setObjectName("browse");
    auto* file_row = new QHBoxLayout(file_page);
    file_row->setContentsMargins(0, 0, 0, 0);
    file_row->addWidget(file_);
    file_row->addWidget(browse);

    // ODBC: a data source of the driver manager; one not listed (a DSN-less string's name) may be typed.
    dsn_ = new QComboBox(this);
    dsn_->setObjectName("dsn");
    dsn_->setEditable(true);
    for (const std::string& name : OdbcDataSources()) dsn_->addItem(QString::fromStdString(name));

    source_pages_ = new QStackedWidget(this);
    source_pages_->insertWidget(SqlitePage, file_page);
    source_pages_->insertWidget(OdbcPage, dsn_);

    user_ = new QLineEdit(this);
    user_->setObjectName("user");
    password_ = new QLineEdit(this);
    password_->setObjectName("password");
    password_->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout;
    form->addRow(tr("Provider:"), provider_);
    auto* source_label = new QLabel(tr("Database file:"), this);
    source_label->setObjectName("source_label");
    form->addRow(source_label, source_pages_);
    form->addRow(tr("User name:"), user_);
    form->addRow(tr("Password:"), password_);

    test_ = new QPushButton(tr("Test Connection"), this);
    test_->setObjectName("test");
    test_->setAutoDefault(false);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* button_row = new QHBoxLayout;
    button_row->addWidget(test_);
    button_row->addStretch();
    button_row->addWidget(buttons_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
    layout->addLayout(button_row);
    resize(460, sizeHint().height());

    connect(provider_, &QComboBox::currentIndexChanged, this, [this, source_label] {
        ProviderChanged();
        source_label->setText(provider_->currentIndex() == OdbcPage ? tr("Data source:")
                                                                    : tr("Database file:"));
    });
    connect(browse, &QPushButton::clicked, this, &DataLinkDialog::BrowseFile);
    connect(file_, &QLineEdit::textChanged, this, &DataLinkDialog::UpdateOk);
    connect(dsn_, &QComboBox::currentTextChanged, this, &DataLinkDialog::UpdateOk);
    connect(test_, &QPushButton::clicked, this, [this] { TestConnection(); });
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ProviderChanged();
}

void DataLinkDialog::ProviderChanged() {
    source_pages_->setCurrentIndex(provider_->currentIndex());
    UpdateOk();
}

void DataLinkDialog::BrowseFile() {
    // A file that does not exist yet is a new database: SQLite creates it.
    QFileDialog dialog(this, tr("SQLite database file"), file_->text());
    dialog.setObjectName("korado_sqlite_file_dialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({tr("SQLite databases (*.db *.sqlite *.sqlite3)"), tr("All files (*)")});
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        file_->setText(dialog.selectedFiles().constFirst());
}

void DataLinkDialog::UpdateOk() {
    const bool odbc = provider_->currentIndex() == OdbcPage;
    const bool has_source = !(odbc ? dsn_->currentText() : file_->text()).trimmed().isEmpty();
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(has_source);
    test_->setEnabled(has_source);
}

std::string DataLinkDialog::ConnectionString() const {
    const bool odbc = provider_->currentIndex() == OdbcPage;
    std::string cs;
    AppendEntry(cs, "Provider", odbc ? "MSDASQL" : "SQLite");
    AppendEntry(cs, "Data Source", Trimmed(odbc ? dsn_->currentText() : file_->text()));
    if (std::string user = Trimmed(user_->text()); !user.empty()) AppendEntry(cs, "User ID", user);
    // A password is taken as typed: blanks may be part of it.
    if (!password_->text().isEmpty()) AppendEntry(cs, "Password", password_->text().toStdString());
    return cs;
}

bool DataLinkDialog::TestConnection() {
    bool opened = false;
    Ref<ado::Connection> connection;
    TryWith(
        [&] {
            connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
            connection->Open(ConnectionString());
            connection->Close();
            opened = true;
        },
        [&](const Error& e) {
            platform::MsgBox(connection ? ConnectFailureDiagnosis(e, *connection) : e.Description(),
                             platform::vbOKOnly | platform::vbInformation, kTitle);
        });
    if (opened)
        platform::MsgBox("Test connection succeeded.", platform::vbOKOnly | platform::vbInformation, kTitle);
    return opened;
}

std::optional<std::string> QtDataLinkPrompt::PromptNew() {
    DataLinkDialog dialog(QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.ConnectionString();
}

}  // namespace korado::qt
