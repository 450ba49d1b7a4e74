#include "console.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "data_link_prompt.h"
#include "help.h"
#include "korado/export.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/parameters/clsSubstVariables.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"
#include "password_mask.h"
#include "result_pages.h"
#include "sample_database.h"

namespace korado::console {
namespace {

// ExecuteSQL leaves RecordsAffected alone when the statement failed and the library reported the failure
// itself (a message, or its error component) instead of raising: a value it never writes tells the two
// apart.
constexpr std::int32_t kNotRun = INT32_MIN;

// Statements run as long as they take: a console user interrupts a long one.
constexpr std::int32_t kCommandTimeout = 0;
// Page sizes (rows the platform reads at a time) of the dynasets the library opens.
constexpr std::int32_t kPageSize = 10;
constexpr std::int32_t kLargePageSize = 100;
// SQL*Plus's largest page.
constexpr std::int32_t kMaxPageSize = 50000;
constexpr int kMaxScriptDepth = 20;

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

bool ValidName(std::string_view name) {
    if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!IsNameChar(static_cast<unsigned char>(c))) return false;
    return true;
}

bool OneOf(const std::string& word, std::initializer_list<const char*> words) {
    for (const char* w : words)
        if (word == w) return true;
    return false;
}

std::string TypeText(std::int32_t type, std::int32_t size) {
    switch (type) {
        case korTypeNumber:
            return "NUMBER";
        case korTypeVarchar2:
            return size > 0 ? "VARCHAR2(" + std::to_string(size) + ")" : "VARCHAR2";
        case korTypeDate:
            return "DATE";
        default:
            return "(value's type)";
    }
}

std::string ModeText(std::int32_t mode) {
    switch (mode) {
        case korParamOut:
            return "OUT";
        case korParamInOut:
            return "INOUT";
        default:
            return "IN";
    }
}

std::string Unquote(const std::string& text, char quote) {
    std::string out;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        out += text[i];
        if (text[i] == quote && text[i + 1] == quote) ++i;
    }
    return out;
}

bool IsQuoted(const std::string& text, char quote) {
    return text.size() >= 2 && text.front() == quote && text.back() == quote;
}

// A number as the console stores it: whole numbers as integers, so that PRINT shows them as typed.
Variant NumberValue(double d) {
    if (std::trunc(d) == d && d >= INT32_MIN && d <= INT32_MAX) return Variant(static_cast<std::int32_t>(d));
    return Variant(d);
}

// The value of "EXEC :name := value" for a variable of `type`, or nullopt with `problem` set.
std::optional<Variant> ParseValue(const std::string& text, std::int32_t type, std::int32_t size,
                                  std::string& problem) {
    if (Upper(text) == "NULL") return Variant();
    const bool quoted = IsQuoted(text, '\'');
    const std::string s = quoted ? Unquote(text, '\'') : text;
    switch (type) {
        case korTypeNumber:
            if (std::optional<double> d = ParseNumber(s)) return NumberValue(*d);
            problem = "\"" + s + "\" is not a number.";
            return std::nullopt;
        case korTypeDate:
            if (std::optional<Date> d = ParseDate(s)) return Variant(*d);
            problem = "\"" + s + "\" is not a date (YYYY-MM-DD [HH:MM:SS]).";
            return std::nullopt;
        case korTypeVarchar2:
            if (size > 0 && Len(s) > static_cast<std::size_t>(size)) {
                problem = "The value is longer than VARCHAR2(" + std::to_string(size) + ").";
                return std::nullopt;
            }
            return Variant(s);
        default:
            if (!quoted)
                if (std::optional<double> d = ParseNumber(s)) return NumberValue(*d);
            return Variant(s);
    }
}

// The exit status of "EXIT n" and "WHENEVER SQLERROR EXIT n".
std::optional<int> ParseStatus(const std::string& word) {
    const std::string w = Upper(word);
    if (w == "SUCCESS") return 0;
    if (w == "FAILURE") return 1;
    if (w == "WARNING") return 2;
    if (w.empty() || w.find_first_not_of("0123456789") != std::string::npos || w.size() > 3)
        return std::nullopt;
    const int n = std::stoi(w);
    return n <= 255 ? std::optional<int>(n) : std::nullopt;
}

std::string LineNumberPrompt(std::size_t line) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%3zu  ", line);
    return buf;
}

}  // namespace

Console::Console(LineSource& input, bool interactive)
    : input_(input),
      interactive_(interactive),
      message_box_(std::make_shared<ConsoleMessageBox>()),
      message_box_scope_(std::make_unique<platform::ScopedMessageBox>(message_box_)),
      form_view_(std::make_shared<ConsoleFormView>()),
      previous_form_view_(about::SetFormView(form_view_)) {
    try {
        script_object_ = CreateObjectAs<companions::ScriptObject>(companions::kScriptObject);
    } catch (const Error& e) {
        PrintError(e);
    }
}

Console::~Console() {
    Close();
    about::SetFormView(std::move(previous_form_view_));
}

// ---- input ---------------------------------------------------------------------------------------------

void Console::Run(LineSource& source) {
    StatementBuffer buffer;
    while (!finished_) {
        std::optional<std::string> line =
            source.ReadLine(buffer.Empty() ? std::string("SQL> ") : LineNumberPrompt(buffer.Lines() + 1));
        if (!line) {
            if (source.IsTerminal()) std::printf("\n");
            break;
        }
        source.Remember(*line);
        Feed(buffer, *line);
        std::fflush(stdout);
    }
    if (!finished_ && !buffer.Empty()) RunBuffer(buffer);
    std::fflush(stdout);
}

void Console::RunText(const std::string& text) {
    StatementBuffer buffer;
    std::size_t from = 0;
    while (!finished_ && from <= text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string::npos) to = text.size();
        std::string line = text.substr(from, to - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Feed(buffer, line);
        from = to + 1;
    }
    if (!finished_ && !buffer.Empty()) RunBuffer(buffer);
    std::fflush(stdout);
}

void Console::RunFile(const std::string& path) {
    if (path.empty()) {
        PrintProblem("No script file named.");
        return Fail();
    }
    if (script_depth_ >= kMaxScriptDepth) {
        PrintProblem("Scripts call each other too deeply (more than " + std::to_string(kMaxScriptDepth) +
                     " levels): " + path);
        return Fail();
    }
    std::unique_ptr<StreamSource> source;
    if (path == "-") {
        source = std::make_unique<StreamSource>(stdin, false);
    } else {
        source = StreamSource::Open(path);
        if (!source) {
            PrintProblem("Cannot open the script \"" + path + "\": " + std::strerror(errno));
            return Fail();
        }
    }
    ++script_depth_;
    Run(*source);
    --script_depth_;
}

void Console::Feed(StatementBuffer& buffer, const std::string& line) {
    const std::string trimmed = TrimBlanks(line);
    if (buffer.Empty()) {
        if (trimmed.empty() || trimmed.rfind("--", 0) == 0) return;
        if (trimmed == "/") {
            if (last_statement_.empty()) {
                PrintProblem("There is no statement to run again.");
                return Fail();
            }
            return RunStatements(last_statement_, last_was_block_);
        }
        if (IsCommand(trimmed)) return RunCommand(trimmed);
    } else if (trimmed == "/") {
        return RunBuffer(buffer);
    }
    if (buffer.Add(line)) RunBuffer(buffer);
}

void Console::RunBuffer(StatementBuffer& buffer) {
    last_statement_ = buffer.Text();
    last_was_block_ = buffer.IsBlock();
    buffer.Clear();
    RunStatements(last_statement_, last_was_block_);
}

void Console::RunStatements(const std::string& text, bool block) {
    std::optional<std::string> sql = SubstituteIn(text);
    if (!sql) return Fail();
    if (block) return RunSql(*sql);
    for (const std::string& statement : SplitStatements(*sql)) {
        if (finished_) break;
        RunSql(statement);
    }
}

std::optional<std::string> Console::SubstituteIn(const std::string& text) {
    if (!substitution_ || text.find('&') == std::string::npos) return text;
    std::string missing;
    auto value = [&](const std::string& name, bool keep) -> std::optional<std::string> {
        if (std::string* v = FindDefine(name)) return *v;
        if (!input_.IsTerminal()) return std::nullopt;
        std::optional<std::string> answer = input_.ReadLine("Enter value for " + name + ": ");
        if (!answer) return std::nullopt;
        if (keep) {
            defines_.emplace_back(name, *answer);
            DefineInLibrary(name, *answer);
        }
        return answer;
    };
    std::optional<std::string> out = Substitute(text, value, missing);
    if (!out) {
        PrintProblem("Substitution variable \"" + missing + "\" is not defined (DEFINE " + missing +
                     " = value defines it; SET DEFINE OFF turns substitution off).");
    }
    return out;
}

bool Console::IsCommand(const std::string& line) const {
    if (line[0] == '@') return true;
    const std::vector<std::string> w = Words(WithoutTerminator(line));
    if (w.empty()) return false;
    const std::string k = Upper(w[0]);
    const std::string second = w.size() > 1 ? Upper(w[1]) : std::string();
    if (OneOf(k, {"VAR",      "VARIABLE", "EXEC",    "EXECUTE", "PRINT",      "PRI",   "DEFINE",   "DEF",
                  "UNDEFINE", "UNDEF",    "CONNECT", "CONN",    "DISCONNECT", "DISC",  "WHENEVER", "HELP",
                  "?",        "EXIT",     "QUIT",    "REM",     "REMARK",     "BREAK", "CLEAR",
                  "ABOUT"}))
        return true;
    // MariaDB's LOAD DATA, LOAD XML and LOAD INDEX are SQL.
    if (k == "SAVE") return w.size() > 1;
    if (k == "LOAD") return w.size() > 1 && !OneOf(second, {"DATA", "XML", "INDEX"});
    // Other forms of these are SQL the database should see ("ROLLBACK TO SAVEPOINT s", "SET search_path").
    if (k == "COMMIT" || k == "ROLLBACK") return w.size() == 1 || (w.size() == 2 && second == "WORK");
    if (OneOf(k, {"DESCRIBE", "DESC", "LIST"})) return true;
    // PostgreSQL's COPY names a table or a query first; "COPY TO" is the console's.
    if (k == "COPY") return w.size() == 1 || OneOf(second, {"TO", "--HELP"});
    if (k == "CREATE" && second == "DATABASE") return IsCreateDatabaseCommand(w);
    if (k == "SET")
        return OneOf(second, {"AUTOCOMMIT", "AUTO", "ALERTS", "DEFINE", "PAGESIZE", "PAGES", "LARGE"});
    if (k == "SHOW" || k == "SHO")
        return OneOf(second, {"PROVIDER", "DBMS", "USER", "CATALOG", "VERSION", "AUTOCOMMIT", "AUTO",
                              "ALERTS", "DEFINE", "PAGESIZE", "PAGES", "LARGE", "BREAKS", "BREAK"});
    return false;
}

void Console::RunCommand(const std::string& raw) {
    const std::string first = Upper(Words(raw)[0]);
    if (OneOf(first, {"REM", "REMARK"})) return;
    std::string line = raw;
    // DEFINE and UNDEFINE name variables; replacing "&x" in them would define the value's name instead.
    if (!OneOf(first, {"DEFINE", "DEF", "UNDEFINE", "UNDEF"})) {
        std::optional<std::string> substituted = SubstituteIn(raw);
        if (!substituted) return Fail();
        line = TrimBlanks(*substituted);
    }
    if (!line.empty() && line[0] == '@') return RunFile(WithoutTerminator(line.substr(1)));

    const std::string body = WithoutTerminator(line);
    const std::vector<std::string> words = Words(body);
    if (words.empty()) return;
    const std::string keyword = Upper(words[0]);
    const std::vector<std::string> args(words.begin() + 1, words.end());
    const std::string rest = TrimBlanks(std::string_view(body).substr(words[0].size()));

    if (OneOf(keyword, {"VAR", "VARIABLE"})) return CmdVariable(args);
    if (OneOf(keyword, {"EXEC", "EXECUTE"})) return CmdExec(rest);
    if (OneOf(keyword, {"PRINT", "PRI"})) return CmdPrint(args);
    if (OneOf(keyword, {"DEFINE", "DEF"})) return CmdDefine(rest);
    if (OneOf(keyword, {"UNDEFINE", "UNDEF"})) return CmdUndefine(args);
    if (OneOf(keyword, {"CONNECT", "CONN"})) return CmdConnect(rest);
    if (OneOf(keyword, {"DISCONNECT", "DISC"})) return CmdDisconnect();
    if (keyword == "COMMIT") return CmdCommit();
    if (keyword == "ROLLBACK") return CmdRollback();
    if (keyword == "SET") return CmdSet(args);
    if (OneOf(keyword, {"SHOW", "SHO"})) return CmdShow(args);
    if (keyword == "WHENEVER") return CmdWhenever(args);
    if (keyword == "BREAK") return CmdBreak(args);
    if (keyword == "CLEAR") return CmdClear(args);
    if (OneOf(keyword, {"EXIT", "QUIT"})) return CmdExit(args);
    if (keyword == "SAVE") return CmdSave(rest);
    if (keyword == "LOAD") return CmdLoad(rest);
    if (OneOf(keyword, {"DESCRIBE", "DESC"})) return CmdDescribe(rest);
    if (keyword == "LIST") return CmdList(rest);
    if (keyword == "CREATE") return CmdCreateDatabase(TrimBlanks(std::string_view(rest).substr(words[1].size())));
    if (keyword == "COPY") return CmdCopy(rest);
    if (keyword == "ABOUT") return CmdAbout(args);
    if (OneOf(keyword, {"HELP", "?"})) {
        std::fputs(kCommandsText, stdout);
        return;
    }
    PrintProblem("Unknown command: " + words[0]);
    Fail();
}

// ---- statements ----------------------------------------------------------------------------------------

void Console::RunSql(const std::string& sql, bool call) {
    if (!session_) {
        PrintProblem("Not connected (CONNECT connects).");
        return Fail();
    }
    const std::vector<std::string> names =
        BindNamesIn(sql, [&](std::string_view name) { return FindBind(name) != nullptr; });
    Ref<Collection> param_names;
    if (!names.empty()) {
        param_names = MakeRef<Collection>();
        for (const std::string& name : names) param_names->Add(Variant(name));
    }
    // Output variables get their values back only from ExecuteSQL: a call that has them runs there.
    const bool outputs = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        const BindVariable* v = FindBind(name);
        return v->mode == korParamOut || v->mode == korParamInOut;
    });
    if (call ? !outputs && CallReturnsRows(sql) : ReturnsRows(sql)) {
        last_query_ = Query{sql, names, call};
        return OpenRows(sql, param_names, call);
    }

    Ref<clsADO> ado = session_->ado;
    std::string text = sql;
    std::int32_t affected = kNotRun;
    Ref<ado::Recordset> rows;
    const std::size_t messages = message_box_->Shown();
    try {
        ado->ExecuteSQL(text, param_names, affected, rows);
    } catch (const Error& e) {
        PrintError(e);
        return Fail();
    }
    if (affected == kNotRun) return StatementFailed(messages);

    // The library copied the values of output variables into its own variables; the console's follow.
    if (Ref<clsBindVariables> binds = ado->BindVariables()) {
        for (const std::string& name : names) {
            BindVariable* v = FindBind(name);
            Ref<clsParameter> p = binds->Item(Variant(name));
            if (!v || !p) continue;
            const std::int32_t mode = p->Mode();
            if (mode == korParamOut || mode == korParamInOut) v->value = p->Value();
        }
    }

    if (rows && rows->State() != ado::adStateClosed) {
        // Rows from a statement that answers with them only now and then (PRAGMA, RETURNING, a call)
        // print as a query's do.
        auto dynaset = MakeRef<clsDynasetADO>();
        dynaset->Constructor2(rows, sql, ado);
        if (dynaset->Error() == 0) return PrintDynaset(*dynaset);
        dynaset->Detach();
        return Fail();
    }
    const std::string verb = FirstKeyword(sql);
    if (affected >= 0 && (OneOf(verb, {"INSERT", "UPDATE", "DELETE", "MERGE", "REPLACE", "UPSERT"}) ||
                          (verb == "WITH" && affected > 0))) {
        std::printf(affected == 1 ? "1 row affected.\n" : "%d rows affected.\n", affected);
    } else {
        std::printf("Statement processed.\n");
    }
}

bool Console::CallReturnsRows(const std::string& call) {
    Ref<clsADO> ado = session_->ado;
    const std::string dbms = ado->DBMSName();
    // psqlODBC runs a call as SELECT * FROM f(...): every function answers with rows.
    if (dbms == "PostgreSQL") return true;
    if (dbms != "MariaDB" && dbms != "MySQL") return false;

    // "{call [db.]name(...)}": a procedure whose definition the server keeps as written.
    std::size_t from = call.find_first_not_of(" \t{");
    if (from == std::string::npos || Upper(call.substr(from, 5)) != "CALL ") return false;
    from = call.find_first_not_of(" \t", from + 5);
    if (from == std::string::npos) return false;
    std::size_t to = from;
    while (to < call.size() && (IsNameChar(static_cast<unsigned char>(call[to])) || call[to] == '.')) ++to;
    const std::string name = call.substr(from, to - from);
    const std::size_t dot = name.find('.');
    if (name.empty() || (dot != std::string::npos && name.find('.', dot + 1) != std::string::npos))
        return false;
    const std::string schema = dot == std::string::npos ? "database()" : "'" + name.substr(0, dot) + "'";
    std::string sql =
        "select routine_definition from information_schema.routines where routine_type = 'PROCEDURE' "
        "and routine_schema = " +
        schema + " and routine_name = '" + name.substr(dot + 1) + "'";
    Ref<Collection> no_names;
    std::int32_t affected = kNotRun;
    Ref<ado::Recordset> rows;
    std::string body;
    try {
        ado->ExecuteSQL(sql, no_names, affected, rows);
        if (!rows || rows->State() == ado::adStateClosed) return false;
        if (!rows->Eof()) {
            const Variant definition = rows->Fields()->Item(Variant(0))->Value();
            if (definition.IsString()) body = *definition.get_if<std::string>();
        }
        rows->Close();
    } catch (const Error&) {
        // Not known: the call runs as a statement, whose rows print all the same.
        return false;
    }
    return BodyReturnsRows(body);
}

void Console::OpenRows(const std::string& sql, Ref<Collection> names, bool call) {
    Ref<clsADO> ado = session_->ado;
    std::string text = sql;
    bool large = large_;
    Ref<clsDynasetADO> rows;
    const std::size_t messages = message_box_->Shown();
    try {
        rows = call ? ado->CreateDynasetFromProc(text, names, large) : ado->CreateDynaset(text, names, large);
    } catch (const Error& e) {
        PrintError(e);
        return Fail();
    }
    // No dynaset: the library reported why.
    if (!rows) return StatementFailed(messages);
    PrintDynaset(*rows);
}

void Console::StatementFailed(std::size_t messages) {
    if (message_box_->Shown() == messages) {
        PrintProblem(alerts_ ? "The statement failed; the library's error log says why."
                             : "The statement failed (SET ALERTS ON shows the library's message).");
    }
    Fail();
}

void Console::PrintDynaset(clsDynasetADO& rows) {
    try {
        PrintRows(rows);
    } catch (const Error& e) {
        PrintError(e);
        Fail();
    }
    rows.Detach();
}

void Console::PrintRows(clsDynasetADO& rows) {
    Ref<ado::Recordset> rs = rows.Recordset();
    const Ref<clsFieldsADO>& fields = rows.FieldsCollection();
    // A call that answered with no result set.
    if (!rs || rs->State() == ado::adStateClosed || !fields || fields->Count() == 0) {
        std::printf("Statement processed.\n");
        return;
    }
    const std::int32_t count = fields->Count();
    Ref<ado::Fields> types = rs->Fields();
    std::vector<Ref<clsFieldADO>> columns;
    std::vector<std::string> headings;
    std::vector<bool> numeric;
    for (std::int32_t i = 0; i < count; ++i) {
        columns.push_back(fields->Item(Variant(i)));
        headings.push_back(columns.back()->Name());
        numeric.push_back(IsNumericType(types->Item(Variant(i))->Type()));
    }
    // The columns the break definitions bound to as the fields were made.
    std::vector<bool> break_column(columns.size(), false);
    Ref<companions::clsBreaks> breaks = script_object_ ? script_object_->Breaks() : nullptr;
    for (std::int32_t i = 1; breaks && i <= breaks->Count(); ++i) {
        const std::int32_t column = breaks->Item(Variant(i))->Column();
        if (column >= 0 && column < count) break_column[static_cast<std::size_t>(column)] = true;
    }

    ResultPages pages(stdout, std::move(headings), std::move(numeric), page_size_);
    // A dynaset opened from a call or from an open recordset has not read whether any row is there.
    bool end = rs->Eof() || rows.EOF_();
    std::int32_t blank_lines = 0;
    while (!end) {
        // A page starts with every value shown, as a reader of that page has not seen the ones before.
        const bool page_start = pages.AtPageStart();
        pages.StartRow(blank_lines);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (break_column[c] && !page_start) {
                pages.AddCell(columns[c]->ReportValue());
            } else {
                pages.AddCell(columns[c]->ReadValue());
            }
        }
        rows.MoveNext();
        end = rows.EOF_();
        blank_lines = breaks ? breaks->SkipLines() : 0;
    }
    const std::int64_t total = pages.Finish();
    if (total == 0) {
        std::printf("no rows selected\n");
    } else if (total == 1) {
        std::printf("\n1 row selected.\n");
    } else {
        std::printf("\n%lld rows selected.\n", static_cast<long long>(total));
    }
}

// ---- commands ------------------------------------------------------------------------------------------

void Console::CmdVariable(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::vector<const BindVariable*> all;
        for (const BindVariable& v : binds_) all.push_back(&v);
        return ListBinds(all);
    }
    const std::string& name = args[0];
    if (!ValidName(name)) {
        PrintProblem("\"" + name +
                     "\" is not a valid variable name (letters, digits and _, starting with a letter).");
        return Fail();
    }

    // "VARCHAR2 ( 20 )" and "VARCHAR2(20)" are one word.
    std::string declaration;
    for (std::size_t i = 1; i < args.size(); ++i) declaration += Upper(args[i]) + " ";
    std::string norm;
    int depth = 0;
    for (char c : declaration) {
        if (c == '(') {
            while (!norm.empty() && norm.back() == ' ') norm.pop_back();
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == ' ' && depth > 0) {
            continue;
        }
        norm += c;
    }
    const std::vector<std::string> tokens = Words(norm);
    std::optional<std::int32_t> type, mode;
    std::int32_t size = -1;
    bool usage = false;
    std::size_t i = 0;
    if (i < tokens.size()) {
        const std::string& t = tokens[i];
        const std::size_t paren = t.find('(');
        const std::string base = t.substr(0, paren);
        std::string inside;
        if (paren != std::string::npos) {
            if (t.back() != ')') usage = true;
            inside = t.substr(paren + 1, t.size() - paren - 2);
        }
        if (base == "NUMBER") {
            type = korTypeNumber;
        } else if (OneOf(base, {"VARCHAR2", "VARCHAR", "CHAR", "NVARCHAR2", "NCHAR"})) {
            type = korTypeVarchar2;
            if (paren != std::string::npos) {
                if (inside.empty() || inside.size() > 6 ||
                    inside.find_first_not_of("0123456789") != std::string::npos || std::stoi(inside) == 0) {
                    usage = true;
                } else {
                    size = std::stoi(inside);
                }
            }
        } else if (base == "DATE") {
            type = korTypeDate;
            if (paren != std::string::npos) usage = true;
        }
        if (type) ++i;
    }
    if (i < tokens.size()) {
        const std::string& m = tokens[i];
        if (m == "IN" && i + 1 < tokens.size() && tokens[i + 1] == "OUT") {
            mode = korParamInOut;
            i += 2;
        } else if (m == "IN") {
            mode = korParamIn;
            ++i;
        } else if (m == "OUT") {
            mode = korParamOut;
            ++i;
        } else if (m == "INOUT" || m == "IN/OUT") {
            mode = korParamInOut;
            ++i;
        }
    }
    if (usage || i != tokens.size()) {
        PrintProblem("Usage: VARIABLE name [NUMBER|VARCHAR2(n)|DATE] [IN|OUT|INOUT]");
        return Fail();
    }

    BindVariable* v = FindBind(name);
    if (v && !type && !mode) return ListBinds({v});
    if (!v) {
        binds_.push_back(BindVariable{name, korTypeOther, -1, korParamIn, Variant()});
        v = &binds_.back();
    }
    if (type) {
        v->type = *type;
        v->size = size;
        v->value = Variant();
    }
    if (mode) v->mode = *mode;
    if (!session_) return;
    const std::int32_t wanted = v->mode;
    if (!DeclareInLibrary(*v)) {
        // The library said why (a provider without output parameters shows a message); what it kept counts.
        if (Ref<clsBindVariables> binds = session_->ado->BindVariables())
            if (Ref<clsParameter> p = binds->Item(Variant(v->name))) v->mode = p->Mode();
        if (v->mode == wanted) {
            PrintProblem("The library did not take the variable " + v->name + ".");
        } else if (!alerts_) {
            PrintProblem("The variable " + v->name + " stays " + ModeText(v->mode) +
                         " (SET ALERTS ON shows the library's reason).");
        }
        Fail();
    }
}

void Console::ListBinds(const std::vector<const BindVariable*>& which) {
    if (which.empty()) {
        std::printf("No bind variables declared.\n");
        return;
    }
    Table table;
    table.headings = {"VARIABLE", "DATATYPE", "MODE"};
    table.numeric = {false, false, false};
    for (const BindVariable* v : which)
        table.rows.push_back({v->name, TypeText(v->type, v->size), ModeText(v->mode)});
    PrintTable(stdout, table);
}

void Console::CmdExec(const std::string& rest) {
    if (rest.empty()) {
        PrintProblem("Usage: EXEC :name := value, or EXEC procedure(arguments)");
        return Fail();
    }
    if (rest[0] != ':') {
        // A procedure call goes through the ODBC call escape, which drivers translate into their own syntax.
        return RunSql(rest[0] == '{' ? rest : "{call " + rest + "}", /*call=*/true);
    }
    std::size_t j = 1;
    while (j < rest.size() && IsNameChar(static_cast<unsigned char>(rest[j]))) ++j;
    const std::string name = rest.substr(1, j - 1);
    std::size_t k = rest.find_first_not_of(" \t", j);
    if (name.empty() || k == std::string::npos || rest.compare(k, 2, ":=") != 0) {
        PrintProblem("Usage: EXEC :name := value");
        return Fail();
    }
    BindVariable* v = FindBind(name);
    if (!v) {
        PrintProblem("Bind variable \"" + name + "\" is not declared (VARIABLE " + name + " declares it).");
        return Fail();
    }
    std::string problem;
    std::optional<Variant> value = ParseValue(TrimBlanks(rest.substr(k + 2)), v->type, v->size, problem);
    if (!value) {
        PrintProblem(problem);
        return Fail();
    }
    v->value = *value;
    if (!session_) return;
    if (Ref<clsBindVariables> binds = session_->ado->BindVariables())
        if (Ref<clsParameter> p = binds->Item(Variant(v->name))) p->SetValue(v->value);
}

void Console::CmdPrint(const std::vector<std::string>& args) {
    std::vector<BindVariable*> which;
    if (args.empty()) {
        if (binds_.empty()) std::printf("No bind variables declared.\n");
        for (BindVariable& v : binds_) which.push_back(&v);
    }
    bool missing = false;
    for (const std::string& raw : args) {
        const std::string name = raw[0] == ':' ? raw.substr(1) : raw;
        if (BindVariable* v = FindBind(name)) {
            which.push_back(v);
        } else {
            PrintProblem("Bind variable \"" + name + "\" is not declared.");
            missing = true;
        }
    }
    for (BindVariable* v : which) {
        Table table;
        table.headings = {v->name};
        table.numeric = {v->type == korTypeNumber || v->value.IsNumber()};
        table.rows = {{CellText(v->value)}};
        PrintTable(stdout, table);
        std::printf("\n");
    }
    if (missing) Fail();
}

void Console::CmdDefine(const std::string& rest) {
    if (rest.empty()) {
        for (const auto& [name, value] : defines_)
            std::printf("DEFINE %s = \"%s\"\n", name.c_str(), value.c_str());
        return;
    }
    const std::size_t eq = rest.find('=');
    const std::string name = TrimBlanks(std::string_view(rest).substr(0, eq));
    if (!ValidName(name)) {
        PrintProblem("Usage: DEFINE [name [= value]]");
        return Fail();
    }
    if (eq == std::string::npos) {
        if (std::string* value = FindDefine(name)) {
            std::printf("DEFINE %s = \"%s\"\n", name.c_str(), value->c_str());
            return;
        }
        PrintProblem("Substitution variable \"" + name + "\" is not defined.");
        return Fail();
    }
    std::string value = TrimBlanks(std::string_view(rest).substr(eq + 1));
    if (IsQuoted(value, '\'')) {
        value = Unquote(value, '\'');
    } else if (IsQuoted(value, '"')) {
        value = Unquote(value, '"');
    }
    if (std::string* existing = FindDefine(name)) {
        *existing = value;
    } else {
        defines_.emplace_back(name, value);
    }
    DefineInLibrary(name, value);
}

void Console::CmdUndefine(const std::vector<std::string>& args) {
    if (args.empty()) {
        PrintProblem("Usage: UNDEFINE name...");
        return Fail();
    }
    for (const std::string& name : args) {
        std::erase_if(defines_, [&](const auto& d) { return TextEquals(d.first, name); });
        if (!session_) continue;
        if (Ref<clsSubstVariables> substs = session_->ado->SubstVariables())
            if (substs->Exists(Variant(name))) substs->Delete(Variant(name));
    }
}

void Console::CmdConnect(const std::string& rest) {
    if (Upper(rest) == "--PROMPT") {
        ConnectByPrompt();
    } else {
        Connect(rest);
    }
}

void Console::CmdDisconnect() {
    if (!session_) {
        std::printf("Not connected.\n");
        return;
    }
    EndSession(EndAction::Commit);
    std::printf("Disconnected.\n");
}

void Console::CmdCommit() {
    if (!session_) {
        PrintProblem("Not connected.");
        return Fail();
    }
    try {
        session_->ado->Commit();
        std::printf("Commit complete.\n");
    } catch (const Error& e) {
        PrintError(e);
        Fail();
    }
}

void Console::CmdRollback() {
    if (!session_) {
        PrintProblem("Not connected.");
        return Fail();
    }
    try {
        session_->ado->Rollback();
        std::printf("Rollback complete.\n");
    } catch (const Error& e) {
        PrintError(e);
        Fail();
    }
}

void Console::CmdSet(const std::vector<std::string>& args) {
    const std::string what = Upper(args[0]);
    if (what == "PAGESIZE" || what == "PAGES") return CmdSetPageSize(args);
    const std::string value = args.size() == 2 ? Upper(args[1]) : std::string();
    const bool on = value == "ON" || (value == "IMMEDIATE" && (what == "AUTOCOMMIT" || what == "AUTO"));
    if (!on && value != "OFF") {
        PrintProblem("Usage: SET " + what + " ON|OFF");
        return Fail();
    }
    if (what == "AUTOCOMMIT" || what == "AUTO") {
        autocommit_ = on;
        if (!session_) return;
        Ref<clsADO> ado = session_->ado;
        if (ado->AllowTransactions() != on) return;
        ado->SetAllowTransactions(!on);
        // Turning transactions back on begins none (the library tests its flag before storing the new one):
        // the console begins the transaction that work from now on belongs to.
        if (!on) ado->BeginTransaction();
    } else if (what == "ALERTS") {
        alerts_ = on;
        if (session_) session_->ado->SetDisplayAlerts(on);
    } else if (what == "LARGE") {
        large_ = on;
    } else {
        substitution_ = on;
    }
}

void Console::CmdSetPageSize(const std::vector<std::string>& args) {
    const std::string n = args.size() == 2 ? args[1] : std::string();
    if (n.empty() || n.size() > 5 || n.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(n) > kMaxPageSize) {
        PrintProblem("Usage: SET PAGESIZE n (0 to " + std::to_string(kMaxPageSize) +
                     "; 0 prints a result as one page)");
        return Fail();
    }
    page_size_ = std::stoi(n);
}

void Console::CmdBreak(const std::vector<std::string>& args) {
    if (args.empty()) return ShowBreaks();
    struct Definition {
        std::string column;
        bool duplicates = false;
        std::int32_t skip = 0;
    };
    std::vector<Definition> definitions;
    const auto usage = [&](const std::string& problem) {
        PrintProblem(problem + "Usage: BREAK ON column [SKIP n] [NODUPLICATES|DUPLICATES] [ON column ...]");
        Fail();
    };
    // Abbreviations as SQL*Plus takes them: NODUP, DUP and anything longer up to the whole word.
    const auto abbreviates = [](const std::string& word, std::string_view full, std::size_t shortest) {
        return word.size() >= shortest && full.substr(0, word.size()) == word;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string w = Upper(args[i]);
        if (w == "ON") {
            if (i + 1 == args.size()) return usage("");
            std::string column = args[++i];
            if (IsQuoted(column, '"')) column = Unquote(column, '"');
            definitions.push_back(Definition{column});
        } else if (definitions.empty()) {
            return usage("");
        } else if (w == "SKIP") {
            const std::string n = i + 1 < args.size() ? Upper(args[++i]) : std::string();
            if (n == "PAGE") return usage("SKIP PAGE is not supported. ");
            if (n.empty() || n.size() > 3 || n.find_first_not_of("0123456789") != std::string::npos)
                return usage("");
            definitions.back().skip = std::stoi(n);
        } else if (abbreviates(w, "NODUPLICATES", 5)) {
            definitions.back().duplicates = false;
        } else if (abbreviates(w, "DUPLICATES", 3)) {
            definitions.back().duplicates = true;
        } else {
            return usage("");
        }
    }
    if (!script_object_) {
        PrintProblem("There is no script object to keep breaks in.");
        return Fail();
    }
    // A BREAK command replaces every definition before it, as in SQL*Plus.
    try {
        Ref<companions::clsBreaks> breaks = script_object_->Breaks();
        breaks->Clear();
        for (const Definition& d : definitions) breaks->Add(d.column, d.duplicates, d.skip);
    } catch (const Error& e) {
        PrintError(e);
        Fail();
    }
}

void Console::CmdClear(const std::vector<std::string>& args) {
    if (args.size() != 1 || !OneOf(Upper(args[0]), {"BREAKS", "BREAK", "BRE"})) {
        PrintProblem("Usage: CLEAR BREAKS");
        return Fail();
    }
    if (script_object_) script_object_->Breaks()->Clear();
    std::printf("breaks cleared\n");
}

void Console::ShowBreaks() {
    Ref<companions::clsBreaks> breaks = script_object_ ? script_object_->Breaks() : nullptr;
    if (!breaks || breaks->Count() == 0) {
        std::printf("no breaks defined\n");
        return;
    }
    for (std::int32_t i = 1; i <= breaks->Count(); ++i) {
        Ref<companions::clsBreak> b = breaks->Item(Variant(i));
        std::string line = i == 1 ? "break on " : "      on ";
        line += b->ReportElement();
        if (b->Skip() > 0) line += " skip " + std::to_string(b->Skip());
        line += b->Duplicates() ? " dup" : " nodup";
        std::printf("%s\n", line.c_str());
    }
}

void Console::CmdShow(const std::vector<std::string>& args) {
    const std::string what = Upper(args[0]);
    if (what == "PAGESIZE" || what == "PAGES") {
        std::printf("pagesize %d\n", page_size_);
        return;
    }
    if (what == "LARGE") {
        std::printf("large %s\n", large_ ? "ON" : "OFF");
        return;
    }
    if (what == "BREAKS" || what == "BREAK") return ShowBreaks();
    if (what == "AUTOCOMMIT" || what == "AUTO") {
        std::printf("autocommit %s\n", autocommit_ ? "ON" : "OFF");
        return;
    }
    if (what == "ALERTS") {
        std::printf("alerts %s\n", alerts_ ? "ON" : "OFF");
        return;
    }
    if (what == "DEFINE") {
        std::printf("define %s\n", substitution_ ? "ON" : "OFF");
        return;
    }
    if (what == "VERSION") {
        std::string platform = session_ ? session_->ado->Version() : std::string();
        std::printf("VERSION is \"korado %s%s%s\"\n", kVersionText, platform.empty() ? "" : ", platform ",
                    platform.c_str());
        return;
    }
    if (!session_) {
        PrintProblem("Not connected.");
        return Fail();
    }
    Ref<clsADO> ado = session_->ado;
    std::string text;
    if (what == "PROVIDER") {
        text = ado->Provider();
    } else if (what == "DBMS") {
        text = ado->DBMSName();
        const std::string version = ado->ConnectionProperty("DBMS Version");
        if (!version.empty()) text += " " + version;
    } else if (what == "USER") {
        text = session_->user;
    } else {
        text = ado->CurrentCatalog();
    }
    std::printf("%s is \"%s\"\n", what.c_str(), text.c_str());
}

void Console::CmdAbout(const std::vector<std::string>& args) {
    const bool save = args.size() == 1 && Upper(args[0]) == "SAVE";
    if (args.size() == 1 && args[0] == "--help") {
        std::fputs((CommandHelp("ABOUT") + CommandHelp("ABOUT SAVE")).c_str(), stdout);
        return;
    }
    if (!args.empty() && !save) {
        PrintProblem("Usage: ABOUT [SAVE]");
        return Fail();
    }
    if (!session_) {
        PrintProblem("Not connected.");
        return Fail();
    }
    // The library shows its form through the console's view and reports its own failures; nothing here
    // raises.
    form_view_->SetQuiet(save);
    session_->ado->About();
    form_view_->SetQuiet(false);
    if (!save) return;
    // Pressing Save: the library's file-system component asks this dialog for the file, writes it and
    // confirms through a message.
    platform::ScopedFileDialog dialog(std::make_shared<TerminalFileDialog>(input_));
    about::AboutForm()->cmdSave_Click();
}

void Console::CmdWhenever(const std::vector<std::string>& args) {
    const auto usage = [&] {
        PrintProblem("Usage: WHENEVER SQLERROR EXIT [n|SUCCESS|FAILURE] [COMMIT|ROLLBACK] | CONTINUE");
        Fail();
    };
    if (args.size() < 2 || Upper(args[0]) != "SQLERROR") return usage();
    const std::string what = Upper(args[1]);
    if (what == "CONTINUE") {
        if (args.size() > 3 || (args.size() == 3 && !OneOf(Upper(args[2]), {"NONE", "COMMIT", "ROLLBACK"})))
            return usage();
        whenever_exit_.reset();
        return;
    }
    if (what != "EXIT") return usage();
    int status = 1;
    EndAction action = EndAction::Rollback;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string w = Upper(args[i]);
        if (w == "COMMIT") {
            action = EndAction::Commit;
        } else if (w == "ROLLBACK") {
            action = EndAction::Rollback;
        } else if (std::optional<int> n = ParseStatus(w); n && i == 2) {
            status = *n;
        } else {
            return usage();
        }
    }
    whenever_exit_ = status;
    whenever_action_ = action;
    if (interactive_) std::printf("(An interactive session does not end on errors; scripts do.)\n");
}

void Console::CmdExit(const std::vector<std::string>& args) {
    int status = 0;
    EndAction action = EndAction::Commit;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string w = Upper(args[i]);
        if (w == "COMMIT") {
            action = EndAction::Commit;
        } else if (w == "ROLLBACK") {
            action = EndAction::Rollback;
        } else if (std::optional<int> n = ParseStatus(w); n && i == 0) {
            status = *n;
        } else {
            PrintProblem("Usage: EXIT [n|SUCCESS|FAILURE] [COMMIT|ROLLBACK]");
            return Fail();
        }
    }
    Finish(status, action);
}

// ---- connections ---------------------------------------------------------------------------------------

bool Console::Connect(const std::string& target) {
    const std::string t = TrimBlanks(target);
    if (t.empty()) {
        const std::string path = apps::SampleDatabasePath();
        std::string problem;
        if (!apps::EnsureSampleDatabase(path, problem)) {
            PrintProblem(problem);
            Fail();
            return false;
        }
        return Open("", "", "", Variant(apps::SqliteConnectionString(path)));
    }
    if (!IsLogin(t)) {
        // The library takes a password out of the string it hands back only from an entry closed by ";".
        return Open("", "", "", Variant(t.back() == ';' ? t : t + ";"));
    }
    if (const std::size_t at = t.find('@'); at != std::string::npos) {
        // The library splits the combined login itself; the data source it names is an ODBC DSN.
        // Quoted, so that an alias with a ";" stays one name.
        std::string dsn;
        AppendEntry(dsn, "DSN", t.substr(at + 1));
        dsn.pop_back();  // the ";" the login never had
        return Open(t, "", "", Variant(dsn));
    }
    // Appended rather than added to a literal: g++ 12 takes the literal's copy for an overlapping one.
    std::string problem(1, '"');
    problem.append(MaskLogin(t)).append(
        "\" is neither a connection string (Key=Value;...) nor a login (user/password@DSN). "
        "CONNECT alone opens the sample database.");
    PrintProblem(problem);
    Fail();
    return false;
}

bool Console::ConnectByPrompt() {
    auto prompt = std::make_shared<TerminalDataLinkPrompt>(input_);
    {
        platform::ScopedDataLinkPrompt scope(prompt);
        if (Open("", "", "", Variant(std::string()), /*quiet_when_closed=*/true)) return true;
    }
    if (!prompt->Answer()) {
        Fail();
        return false;
    }
    // The data-link path of Connect hands back the string the prompt built but leaves the connection it
    // got from the prompt closed; the answer, tested already, opens as a connection string.
    return Open("", "", "", Variant(*prompt->Answer()));
}

bool Console::Open(std::string user, std::string password, std::string dsn, Variant connection_string,
                   bool quiet_when_closed) {
    EndSession(EndAction::Commit);
    Ref<clsADO> ado;
    bool connected = false;
    bool raised = false;
    try {
        ado = NewConnectionObject();
        connected = ado->Connect(user, password, dsn, connection_string);
    } catch (const Error& e) {
        PrintError(e);
        raised = true;
    }
    if (!connected) {
        if (ado) ado->Destructor();
        if (raised || !quiet_when_closed) {
            if (!raised) PrintProblem("Not connected.");
            Fail();
        }
        return false;
    }
    const std::string text =
        connection_string.IsString() ? *connection_string.get_if<std::string>() : std::string();
    std::printf("Connected: user=%s dsn=%s connection=%s\n", user.c_str(), dsn.c_str(), text.c_str());
    std::fflush(stdout);
    session_ = Session{ado, user, dsn, text};
    for (BindVariable& v : binds_) DeclareInLibrary(v);
    for (const auto& [name, value] : defines_) DefineInLibrary(name, value);
    return true;
}

Ref<clsADO> Console::NewConnectionObject() {
    Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
    ado->Constructor(Ref<Dispatch>(script_object_), !autocommit_, kCommandTimeout, korParamIn, korTypeOther,
                     kPageSize, kLargePageSize);
    ado->SetDisplayAlerts(alerts_);
    return ado;
}

void Console::EndSession(EndAction action) {
    if (!session_) return;
    Ref<clsADO> ado = session_->ado;
    session_.reset();
    try {
        if (action == EndAction::Commit) {
            ado->CommitTransaction();
        } else if (ado->AllowTransactions() && ado->AreTransactionsAvailable()) {
            ado->RollbackTransaction();
        }
    } catch (const Error& e) {
        PrintError(e);
    }
    try {
        ado->Disconnect();
        ado->Destructor();
    } catch (const Error& e) {
        PrintError(e);
    }
}

void Console::Close() { EndSession(end_action_); }

// ---- variables -----------------------------------------------------------------------------------------

Console::BindVariable* Console::FindBind(std::string_view name) {
    for (BindVariable& v : binds_)
        if (TextEquals(v.name, name)) return &v;
    return nullptr;
}

std::string* Console::FindDefine(std::string_view name) {
    for (auto& [n, value] : defines_)
        if (TextEquals(n, name)) return &value;
    return nullptr;
}

bool Console::DeclareInLibrary(BindVariable& v) {
    if (!session_) return true;
    Ref<clsBindVariables> binds = session_->ado->BindVariables();
    if (!binds) return false;
    Ref<clsParameter> p = binds->Add(v.name);
    if (!p) return false;
    p->SetDataType(v.type);
    p->SetSize(v.size);
    std::int32_t mode = v.mode;
    p->SetMode(mode);
    p->SetValue(v.value);
    return p->Mode() == v.mode;
}

void Console::DefineInLibrary(const std::string& name, const std::string& value) {
    if (!session_) return;
    if (Ref<clsSubstVariables> substs = session_->ado->SubstVariables())
        if (Ref<clsParameter> p = substs->Add(name)) p->SetValue(Variant(value));
}

// ---- outcome -------------------------------------------------------------------------------------------

void Console::Fail() {
    if (!interactive_ && whenever_exit_ && !finished_) Finish(*whenever_exit_, whenever_action_);
}

void Console::Finish(int status, EndAction action) {
    finished_ = true;
    exit_status_ = status;
    end_action_ = action;
}

}  // namespace korado::console
