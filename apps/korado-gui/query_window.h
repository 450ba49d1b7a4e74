// korado-gui's main window: an SQL editor above a grid of the result, on one connection object.
//
// The window is a host like the console: it creates the connection object by ProgID ("korADO.clsADO"),
// hands it the library's default script object in Constructor, and uses only the library's public classes.
// Run (Ctrl+Enter) runs the editor's text (or its selection), statement by statement: a statement that
// answers with rows by its form opens as a dynaset and fills the grid; any other runs through ExecuteSQL,
// and the status bar says how many rows it affected. The session reads and writes in the connection's
// transaction; Commit and Rollback end it, and closing the window or connecting elsewhere commits, as
// leaving the console does.
//
// The library's messages, and the window's own, are message boxes (the message box service); a failure
// the library reported itself is not reported again.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "korado/companions/script_object.h"
#include "korado/connection/clsADO.h"
#include "korado/platform/services.h"

class QAction;
class QLabel;
class QPlainTextEdit;
class QTableView;

namespace korado::gui {

class DynasetModel;

class QueryWindow final : public QMainWindow {
    Q_OBJECT

  public:
    explicit QueryWindow(QWidget* parent = nullptr);
    ~QueryWindow() override;

    // "" for the sample database (created the first time), else a connection string. True when connected.
    bool ConnectTo(const std::string& target);
    // Asks for the connection through the library's data-link dialog. As any new connection does, it ends
    // the current session first (committing it), also when the user then cancels the dialog.
    bool ConnectByPrompt();

    // Runs the editor's selection, or all its text when nothing is selected.
    void Run();
    void Commit();
    void Rollback();
    // A new row at the end of the grid, and the cursor in its first cell.
    void AddRow();
    // Deletes the grid's current row.
    void DeleteRow();
    void ShowAbout();

    // Whether the last statement that ran (or opened) succeeded.
    bool LastRunSucceeded() const noexcept { return last_ok_; }
    QPlainTextEdit* Editor() const noexcept { return editor_; }
    QTableView* Grid() const noexcept { return grid_; }
    DynasetModel* Model() const noexcept { return model_; }
    const Ref<clsADO>& Connection() const noexcept { return ado_; }
    // Whether queries open as large (streamed, read-only) dynasets.
    void SetLargeResults(bool large);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenus();
    // Commits and lets the connection object go.
    void EndSession();
    bool Open(std::string user, std::string password, std::string dsn, Variant connection_string);
    // One statement; false when it failed.
    bool RunStatement(const std::string& sql);
    void UpdateActions();
    void Status(const QString& text);

    std::unique_ptr<platform::ScopedMessageBox> counted_messages_;
    Ref<companions::ScriptObject> script_object_;
    Ref<clsADO> ado_;
    std::string connection_text_;
    // The query the grid shows, which a rollback runs again.
    std::string grid_query_;
    bool large_ = false;
    bool last_ok_ = false;

    QPlainTextEdit* editor_ = nullptr;
    QTableView* grid_ = nullptr;
    DynasetModel* model_ = nullptr;
    QLabel* connection_label_ = nullptr;
    QAction* run_ = nullptr;
    QAction* commit_ = nullptr;
    QAction* rollback_ = nullptr;
    QAction* add_row_ = nullptr;
    QAction* delete_row_ = nullptr;
    QAction* large_results_ = nullptr;
};

}  // namespace korado::gui
