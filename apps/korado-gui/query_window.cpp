#include "query_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTextCursor>
#include <QToolBar>
#include <climits>
#include <optional>

#include "dynaset_model.h"
#include "host_text.h"
#include "korado/parameters/clsParameter.h"
#include "korado/platform/adodb.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/runtime/registry.h"
#include "message_count.h"
#include "sample_database.h"
#include "sql_text.h"

namespace korado::gui {
namespace {

// ExecuteSQL leaves RecordsAffected alone when the statement failed and the library reported the failure
// itself instead of raising: a value it never writes tells the two apart.
constexpr std::int32_t kNotRun = INT32_MIN;
// A statement runs as long as it takes; rows are read from the database this many at a time.
constexpr std::int32_t kCommandTimeout = 0;
constexpr std::int32_t kPageSize = 10;
constexpr std::int32_t kLargePageSize = 100;

// The data-link dialog's answer: the library hands back the connection string without its password, and
// leaves the connection it got from the dialog closed, so the window keeps what the dialog said.
class RememberedPrompt final : public platform::DataLinkPromptService {
  public:
    explicit RememberedPrompt(std::shared_ptr<platform::DataLinkPromptService> asks)
        : asks_(std::move(asks)) {}
    std::optional<std::string> PromptNew() override {
        answer_ = asks_ ? asks_->PromptNew() : std::nullopt;
        return answer_;
    }
    const std::optional<std::string>& Answer() const noexcept { return answer_; }

  private:
    std::shared_ptr<platform::DataLinkPromptService> asks_;
    std::optional<std::string> answer_;
};

}  // namespace

QueryWindow::QueryWindow(QWidget* parent)
    : QMainWindow(parent),
      counted_messages_(std::make_unique<platform::ScopedMessageBox>(
          std::make_shared<CountedMessageBox>(platform::CurrentMessageBoxService()))) {
    setWindowTitle(QStringLiteral("korado"));
    editor_ = new QPlainTextEdit(this);
    editor_->setPlaceholderText(QStringLiteral("SQL statement; Ctrl+Enter runs it"));
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    editor_->setFont(fixed);
    model_ = new DynasetModel(this);
    grid_ = new QTableView(this);
    grid_->setModel(model_);
    grid_->setAlternatingRowColors(true);
    grid_->horizontalHeader()->setStretchLastSection(false);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    // Leaving a new row stores it, as in any grid that adds rows.
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (model_->NewRow() >= 0 && current.row() != model_->NewRow()) model_->StoreNewRow();
            });
    connect(model_, &QAbstractItemModel::modelReset, this, &QueryWindow::UpdateActions);
    connect(model_, &QAbstractItemModel::rowsInserted, this, &QueryWindow::UpdateActions);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &QueryWindow::UpdateActions);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(editor_);
    splitter->addWidget(grid_);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 3);
    setCentralWidget(splitter);
    connection_label_ = new QLabel(this);
    statusBar()->addPermanentWidget(connection_label_);
    BuildMenus();
    resize(900, 600);

    try {
        script_object_ = CreateObjectAs<companions::ScriptObject>(companions::kScriptObject);
    } catch (const Error& e) {
        ShowMessage(apps::FormatError(e));
    }
    UpdateActions();
}

QueryWindow::~QueryWindow() {
    // The grid's dynaset belongs to the session: it goes first.
    model_->SetDynaset(nullptr);
    EndSession();
}

void QueryWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* connect_prompt = file->addAction(tr("&Connect..."), this, [this] { ConnectByPrompt(); });
    connect_prompt->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    file->addAction(tr("Open the &sample database"), this, [this] { ConnectTo(""); });
    file->addSeparator();
    QAction* quit = file->addAction(tr("E&xit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    QMenu* query = menuBar()->addMenu(tr("&Query"));
    run_ = query->addAction(tr("&Run"), this, &QueryWindow::Run);
    run_->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    large_results_ = query->addAction(tr("&Large results (streamed, read-only)"));
    large_results_->setCheckable(true);
    connect(large_results_, &QAction::toggled, this, [this](bool on) { large_ = on; });
    query->addSeparator();
    commit_ = query->addAction(tr("&Commit"), this, &QueryWindow::Commit);
    rollback_ = query->addAction(tr("R&ollback"), this, &QueryWindow::Rollback);

    QMenu* rows = menuBar()->addMenu(tr("&Rows"));
    add_row_ = rows->addAction(tr("&Add row"), this, &QueryWindow::AddRow);
    add_row_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    delete_row_ = rows->addAction(tr("&Delete row"), this, &QueryWindow::DeleteRow);
    delete_row_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About the database connection..."), this, &QueryWindow::ShowAbout);

    QToolBar* tools = addToolBar(tr("Query"));
    tools->setObjectName(QStringLiteral("queryToolBar"));
    tools->addAction(run_);
    tools->addSeparator();
    tools->addAction(commit_);
    tools->addAction(rollback_);
    tools->addSeparator();
    tools->addAction(add_row_);
    tools->addAction(delete_row_);
}

void QueryWindow::SetLargeResults(bool large) { large_results_->setChecked(large); }

void QueryWindow::UpdateActions() {
    const bool connected = static_cast<bool>(ado_);
    run_->setEnabled(connected);
    commit_->setEnabled(connected);
    rollback_->setEnabled(connected);
    add_row_->setEnabled(connected && model_->Updatable() && model_->NewRow() < 0);
    delete_row_->setEnabled(connected && model_->Updatable() && model_->rowCount() > 0);
}

void QueryWindow::Status(const QString& text) { statusBar()->showMessage(text); }

// ---- connections ---------------------------------------------------------------------------------------

bool QueryWindow::ConnectTo(const std::string& target) {
    const std::string t = console::TrimBlanks(target);
    if (!t.empty()) {
        // The library takes a password out of the string it hands back only from an entry closed by ";".
        return Open("", "", "", Variant(t.back() == ';' ? t : t + ";"));
    }
    const std::string path = apps::SampleDatabasePath();
    std::string problem;
    if (!apps::EnsureSampleDatabase(path, problem)) {
        ShowMessage(problem);
        return false;
    }
    return Open("", "", "", Variant(apps::SqliteConnectionString(path)));
}

bool QueryWindow::ConnectByPrompt() {
    auto prompt = std::make_shared<RememberedPrompt>(platform::CurrentDataLinkPromptService());
    {
        platform::ScopedDataLinkPrompt scope(prompt);
        if (Open("", "", "", Variant(std::string()))) return true;
    }
    // Cancelled, or nothing a connection could be opened with.
    if (!prompt->Answer()) return false;
    return Open("", "", "", Variant(*prompt->Answer()));
}

bool QueryWindow::Open(std::string user, std::string password, std::string dsn, Variant connection_string) {
    model_->SetDynaset(nullptr);
    EndSession();
    Ref<clsADO> ado;
    bool connected = false;
    try {
        ado = CreateObjectAs<clsADO>("korADO.clsADO");
        ado->Constructor(Ref<Dispatch>(script_object_), true, kCommandTimeout, korParamIn, korTypeOther,
                         kPageSize, kLargePageSize);
        connected = ado->Connect(user, password, dsn, connection_string);
    } catch (const Error& e) {
        ShowMessage(apps::FormatError(e));
    }
    if (!connected) {
        if (ado) ado->Destructor();
        UpdateActions();
        return false;
    }
    ado_ = ado;
    connection_text_ =
        connection_string.IsString() ? *connection_string.get_if<std::string>() : std::string();
    const QString where = QString::fromStdString(dsn.empty() ? connection_text_ : dsn);
    // A file's data source reads "name (path)": the name is enough for the status bar, the path is its tip.
    const QString short_where = where.section(QStringLiteral(" ("), 0, 0);
    connection_label_->setText(user.empty() ? short_where : QString::fromStdString(user) + "@" + short_where);
    connection_label_->setToolTip(where);
    setWindowTitle(QStringLiteral("korado - ") + short_where);
    Status(tr("Connected."));
    UpdateActions();
    return true;
}

void QueryWindow::EndSession() {
    if (!ado_) return;
    Ref<clsADO> ado = std::move(ado_);
    ado_ = nullptr;
    try {
        ado->CommitTransaction();
    } catch (const Error& e) {
        ShowMessage(apps::FormatError(e));
    }
    try {
        ado->Disconnect();
        ado->Destructor();
    } catch (const Error& e) {
        ShowMessage(apps::FormatError(e));
    }
    connection_label_->clear();
    setWindowTitle(QStringLiteral("korado"));
}

void QueryWindow::closeEvent(QCloseEvent* event) {
    model_->StoreNewRow();
    model_->SetDynaset(nullptr);
    EndSession();
    event->accept();
}

// ---- statements ----------------------------------------------------------------------------------------

void QueryWindow::Run() {
    last_ok_ = false;
    if (!ado_) {
        ShowMessage("Not connected: File > Connect connects.");
        return;
    }
    model_->StoreNewRow();
    QString text = editor_->textCursor().selectedText();
    // A selection breaks lines with the paragraph separator.
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    if (text.trimmed().isEmpty()) text = editor_->toPlainText();
    const std::vector<std::string> statements = console::SplitStatements(text.toStdString());
    if (statements.empty()) {
        Status(tr("Nothing to run."));
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool ok = true;
    for (const std::string& sql : statements) {
        ok = RunStatement(sql);
        if (!ok) break;
    }
    QApplication::restoreOverrideCursor();
    last_ok_ = ok;
    UpdateActions();
}

bool QueryWindow::RunStatement(const std::string& sql) {
    const std::size_t messages = MessagesShown();
    if (console::ReturnsRows(sql)) {
        std::string text = sql;
        Ref<Collection> no_names;
        bool large = large_;
        Ref<clsDynasetADO> rows;
        try {
            rows = ado_->CreateDynaset(text, no_names, large);
        } catch (const Error& e) {
            ShowMessage(apps::FormatError(e));
            return false;
        }
        if (!rows) {
            // The library reported why, unless it only wrote to its error log.
            if (MessagesShown() == messages) ShowMessage("The query could not be opened.");
            return false;
        }
        model_->SetDynaset(rows);
        grid_query_ = sql;
        grid_->resizeColumnsToContents();
        const int shown = model_->rowCount();
        QString status = model_->Exhausted() ? tr("%n row(s).", nullptr, shown)
                                             : tr("First %n row(s); more as you scroll.", nullptr, shown);
        if (model_->Updatable()) status += tr(" Editable.");
        Status(status);
        return true;
    }

    std::string text = sql;
    Ref<Collection> no_names;
    std::int32_t affected = kNotRun;
    Ref<ado::Recordset> rows;
    try {
        ado_->ExecuteSQL(text, no_names, affected, rows);
    } catch (const Error& e) {
        ShowMessage(apps::FormatError(e));
        return false;
    }
    if (affected == kNotRun) {
        if (MessagesShown() == messages)
            ShowMessage("The statement failed; the library's error log says why.");
        return false;
    }
    if (rows && rows->State() != ado::adStateClosed) {
        // Rows from a statement that answers with them only now and then (PRAGMA, RETURNING) show as a
        // query's do.
        auto dynaset = MakeRef<clsDynasetADO>();
        dynaset->Constructor2(rows, sql, ado_);
        if (dynaset->Error() != 0) {
            dynaset->Detach();
            return false;
        }
        model_->SetDynaset(dynaset);
        // Rows a statement answered with once are not a query to run again.
        grid_query_.clear();
        grid_->resizeColumnsToContents();
        Status(tr("%n row(s).", nullptr, model_->rowCount()));
        return true;
    }
    Status(affected >= 0 ? tr("%n row(s) affected.", nullptr, affected) : tr("Statement processed."));
    return true;
}

void QueryWindow::Commit() {
    if (!ado_) return;
    model_->StoreNewRow();
    try {
        ado_->Commit();
        Status(tr("Commit complete."));
    } catch (const Error& e) {
        ShowMessage(apps::FormatError(e));
    }
}

void QueryWindow::Rollback() {
    if (!ado_) return;
    // A row begun and not stored has nothing to roll back: it is dropped.
    if (model_->NewRow() >= 0) model_->DeleteRow(model_->NewRow());
    try {
        ado_->Rollback();
    } catch (const Error& e) {
        ShowMessage(apps::FormatError(e));
        return;
    }
    // The grid showed what the session had written, which is gone: the query runs again, so that what the
    // grid shows, and what a later edit compares with, is what the database holds.
    if (model_->Dynaset() && !grid_query_.empty()) RunStatement(grid_query_);
    Status(tr("Rollback complete."));
}

// ---- rows ----------------------------------------------------------------------------------------------

void QueryWindow::AddRow() {
    if (!model_->AddRow()) return;
    const QModelIndex first = model_->index(model_->NewRow(), 0);
    grid_->scrollTo(first);
    grid_->setCurrentIndex(first);
    grid_->edit(first);
    UpdateActions();
}

void QueryWindow::DeleteRow() {
    const QModelIndex current = grid_->currentIndex();
    if (!current.isValid()) {
        ShowMessage("Select the row to delete first.");
        return;
    }
    if (model_->DeleteRow(current.row())) Status(tr("Row deleted."));
    UpdateActions();
}

void QueryWindow::ShowAbout() {
    if (!ado_) {
        ShowMessage("Not connected: the About dialog describes a connection.");
        return;
    }
    try {
        ado_->About();
    } catch (const Error& e) {
        ShowMessage(apps::FormatError(e));
    }
}

}  // namespace korado::gui
