// The console session: reads statements and commands, runs them through one korADO connection object
// per connection, and prints what they give.
//
// The console is a host like any other: it creates the connection object by ProgID ("korADO.clsADO"),
// hands it the library's default script object ("korHost.ScriptObject") in Constructor, and uses only the
// library's public classes. BREAK and CLEAR BREAKS keep their definitions in that object's Breaks, where
// the fields of every result read them.
//
// Statements that answer with rows by their form (SELECT, WITH ... SELECT, VALUES, SHOW, ...) open as
// dynasets (large ones stream forward only, SET LARGE); others run through ExecuteSQL, and rows they happen
// to answer with are printed through a dynaset too. EXEC of a procedure opens its rows as a dynaset when the
// database says that it answers with rows (CallReturnsRows) and the call has no output variables, whose
// values only ExecuteSQL brings back. Rows print as they arrive, a
// page of SET PAGESIZE rows at a time (result_pages.h).
// SAVE runs the last such query again as a client dynaset and saves it to a file in one of the platform's
// persistence formats; LOAD opens a saved file as a dynaset (no connection needed) and prints it as a
// query's rows.
// Each CONNECT makes a new connection object (the library keeps per-session state in it, such as whether
// the provider has transactions); DISCONNECT, a new CONNECT and the end of the session commit, then call
// Disconnect and Destructor.
//
// Bind and substitution variables belong to the console: they outlive connections. While connected they
// are also declared in the connection's BindVariables and SubstVariables, where the library reads them;
// after each connect they are declared there again.
//
// Failures: nothing here throws. An error the library raises is printed ("Error 0x... (source): ..."),
// a problem the console finds itself too ("Error: ..."); either counts as a failed command, which ends a
// script under WHENEVER SQLERROR EXIT and never ends an interactive session.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "about_view.h"
#include "korado/companions/script_object.h"
#include "korado/connection/clsADO.h"
#include "korado/dictionary/clsDictionary.h"
#include "korado/platform/services.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/runtime/variant.h"
#include "line_input.h"
#include "output.h"
#include "sql_text.h"

namespace korado::console {

class Console {
  public:
    // `input`: standard input, for the questions the console asks (substitution values, the connection
    // prompt). `interactive`: a person at a terminal types the commands.
    Console(LineSource& input, bool interactive);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // A connection string (has "="), a combined login ("user/password@DSN"), or "" for the sample
    // database. True when connected.
    bool Connect(const std::string& target);
    // Asks for the connection in the terminal and connects through the library's data-link prompt.
    bool ConnectByPrompt();

    // Runs the lines of `source` until its end, EXIT, or an error under WHENEVER SQLERROR EXIT.
    void Run(LineSource& source);
    // Runs one -c text: its lines, then whatever statement it left without a terminator.
    void RunText(const std::string& text);
    // Runs a script file (-f, @file); "-" is standard input.
    void RunFile(const std::string& path);

    bool Finished() const noexcept { return finished_; }
    int ExitStatus() const noexcept { return exit_status_; }
    // Ends the connection as the session's end asks: commit, unless EXIT ROLLBACK or a WHENEVER exit
    // without COMMIT.
    void Close();

  private:
    struct Session {
        Ref<clsADO> ado;
        std::string user, dsn, connection;
    };
    struct BindVariable {
        std::string name;
        std::int32_t type = 0;  // enumParameterDataType
        std::int32_t size = -1;
        std::int32_t mode = 0;  // enumParameterMode
        Variant value;
    };
    enum class EndAction { Commit, Rollback };

    // ---- input ----
    void Feed(StatementBuffer& buffer, const std::string& line);
    void RunBuffer(StatementBuffer& buffer);
    void RunStatements(const std::string& text, bool block);
    bool IsCommand(const std::string& line) const;
    void RunCommand(const std::string& line);
    std::optional<std::string> SubstituteIn(const std::string& text);

    // ---- statements ----
    // `call`: a procedure call ("{call ...}") rather than a statement.
    void RunSql(const std::string& sql, bool call = false);
    // Whether a procedure call answers with rows, as far as the database can tell before it runs: every
    // PostgreSQL function does; a MariaDB or MySQL procedure does when its definition has a statement that
    // does. Not known: false, and the call runs as a statement (whose rows print all the same).
    bool CallReturnsRows(const std::string& call);
    void OpenRows(const std::string& sql, Ref<Collection> names, bool call);
    // Prints the dynaset's rows, then closes it.
    void PrintDynaset(clsDynasetADO& rows);
    void PrintRows(clsDynasetADO& rows);
    // A statement failed without raising: says so unless the library showed a message since `messages`.
    void StatementFailed(std::size_t messages);

    // ---- commands ----
    void CmdVariable(const std::vector<std::string>& args);
    void CmdExec(const std::string& rest);
    void CmdPrint(const std::vector<std::string>& args);
    void CmdDefine(const std::string& rest);
    void CmdUndefine(const std::vector<std::string>& args);
    void CmdConnect(const std::string& rest);
    void CmdDisconnect();
    void CmdCommit();
    void CmdRollback();
    void CmdSet(const std::vector<std::string>& args);
    void CmdSetPageSize(const std::vector<std::string>& args);
    void CmdBreak(const std::vector<std::string>& args);
    void CmdClear(const std::vector<std::string>& args);
    void ShowBreaks();
    void CmdShow(const std::vector<std::string>& args);
    void CmdWhenever(const std::vector<std::string>& args);
    void CmdExit(const std::vector<std::string>& args);
    void CmdSave(const std::string& rest);
    void CmdLoad(const std::string& rest);
    // ABOUT shows the library's About dialog as text; ABOUT SAVE saves the connection details through it.
    void CmdAbout(const std::vector<std::string>& args);

    // ---- dictionary commands (dictionary_commands.cpp) ----
    // `rest`: the command's text after its first word.
    void CmdDescribe(const std::string& rest);
    void CmdList(const std::string& rest);
    void CmdCreateDatabase(const std::string& rest);
    void CmdCopy(const std::string& rest);
    // Whether "CREATE DATABASE ..." is the console's command rather than a server's SQL statement.
    bool IsCreateDatabaseCommand(const std::vector<std::string>& words) const;
    // The connection's dictionary, or null (said why) when there is no connection.
    Ref<clsDictionary> Dictionary();
    // Prints a dictionary answer's names under `heading`, with the row count a query prints.
    void PrintNames(const std::string& heading, const Collection& names);
    // Copies the rows of `rows` into `table`; false when a row could not be inserted (said why).
    bool InsertRows(clsDynasetADO& rows, const std::string& table, const std::vector<std::string>& names,
                    std::int64_t& copied);

    // ---- connections ----
    // Connects a new connection object. A failure is printed and counts, except that with `quiet_when_closed`
    // a connect that raised nothing and opened nothing says nothing (a prompt the user cancelled).
    bool Open(std::string user, std::string password, std::string dsn, Variant connection_string,
              bool quiet_when_closed = false);
    // A new connection object, constructed with the console's settings; raises what the library raises.
    Ref<clsADO> NewConnectionObject();
    void EndSession(EndAction action);
    bool Connected();

    // ---- variables ----
    BindVariable* FindBind(std::string_view name);
    // Declares `v` in the connection's BindVariables; false when the library did not take its mode.
    bool DeclareInLibrary(BindVariable& v);
    void DefineInLibrary(const std::string& name, const std::string& value);
    void ListBinds(const std::vector<const BindVariable*>& which);
    std::string* FindDefine(std::string_view name);

    // ---- outcome ----
    void Fail();
    void Finish(int status, EndAction action);

    LineSource& input_;
    const bool interactive_;
    std::shared_ptr<ConsoleMessageBox> message_box_;
    std::unique_ptr<platform::ScopedMessageBox> message_box_scope_;
    Ref<companions::ScriptObject> script_object_;
    std::shared_ptr<ConsoleFormView> form_view_;
    std::shared_ptr<about::FormView> previous_form_view_;
    std::optional<Session> session_;

    std::vector<BindVariable> binds_;
    std::vector<std::pair<std::string, std::string>> defines_;

    bool autocommit_ = false;
    bool alerts_ = true;
    bool substitution_ = true;
    std::int32_t page_size_ = 14;  // rows per page; 0: the whole result is one page
    bool large_ = true;
    std::optional<int> whenever_exit_;
    EndAction whenever_action_ = EndAction::Rollback;

    std::string last_statement_;
    bool last_was_block_ = false;
    // The last query that opened as rows, for SAVE: its text, its bind variables' names, and whether it
    // was a procedure call.
    struct Query {
        std::string sql;
        std::vector<std::string> names;
        bool call = false;
    };
    std::optional<Query> last_query_;
    int script_depth_ = 0;

    bool finished_ = false;
    int exit_status_ = 0;
    EndAction end_action_ = EndAction::Commit;
};

}  // namespace korado::console
