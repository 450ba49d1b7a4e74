// The native provider's commands: markers, parameters, prepared statements, results, output values,
// statement-level rollback and the time-out.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/pg/pg_cursor.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::pg {
namespace {

// The savepoint that makes a failed statement inside a transaction undo only itself.
constexpr const char* kSavepoint = "SAVEPOINT korado_statement";
constexpr const char* kRelease = "RELEASE SAVEPOINT korado_statement";
constexpr const char* kUndo = "ROLLBACK TO SAVEPOINT korado_statement; RELEASE SAVEPOINT korado_statement";

bool IsOutput(const ParamBinding& p) {
    return p.direction == ado::adParamOutput || p.direction == ado::adParamInputOutput;
}

bool Sends(const ParamBinding& p) { return p.direction != ado::adParamReturnValue; }

std::string_view Trim(std::string_view t) {
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
    return t;
}

}  // namespace

std::string NumberMarkers(std::string_view text, std::size_t& markers, bool& several) {
    std::string out;
    out.reserve(text.size() + 8);
    markers = 0;
    several = false;
    bool after_semicolon = false;
    std::vector<bool> escapes;  // the open braces: true for an escape clause, whose brace goes
    std::size_t i = 0;
    auto copy_until = [&](std::string_view end) {
        std::size_t stop = text.find(end, i);
        stop = stop == std::string_view::npos ? text.size() : stop + end.size();
        out.append(text.substr(i, stop - i));
        i = stop;
    };
    while (i < text.size()) {
        char c = text[i];
        if (after_semicolon && !std::isspace(static_cast<unsigned char>(c)) && c != ';') several = true;
        if (c == '\'' || c == '"') {
            // A doubled quote inside is one quote: the scan ends the literal there and starts it anew. An
            // escape string (E'...') also takes a quote after a backslash as text.
            const bool escapes =
                c == '\'' && i > 0 && (text[i - 1] == 'E' || text[i - 1] == 'e') &&
                (i < 2 || !(std::isalnum(static_cast<unsigned char>(text[i - 2])) || text[i - 2] == '_'));
            std::size_t stop = i + 1;
            while (stop < text.size() && text[stop] != c) stop += escapes && text[stop] == '\\' ? 2 : 1;
            stop = stop >= text.size() ? text.size() : stop + 1;
            out.append(text.substr(i, stop - i));
            i = stop;
        } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            copy_until("\n");
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            copy_until("*/");
        } else if (c == '$' && i + 1 < text.size() &&
                   (text[i + 1] == '$' || std::isalpha(static_cast<unsigned char>(text[i + 1])) ||
                    text[i + 1] == '_')) {
            // A dollar quote: $tag$ ... $tag$ (a $n parameter starts with a digit and is left alone).
            std::size_t close = i + 1;
            while (close < text.size() && text[close] != '$' &&
                   (std::isalnum(static_cast<unsigned char>(text[close])) || text[close] == '_'))
                ++close;
            if (close < text.size() && text[close] == '$') {
                std::string_view tag = text.substr(i, close - i + 1);
                out.append(tag);
                i = close + 1;
                copy_until(tag);
            } else {
                out.push_back(c);
                ++i;
            }
        } else if (c == '{' || (c == '}' && !escapes.empty())) {
            // ODBC's escape clauses, which psqlODBC translates for programs written for the bridge: {d
            // '...'}, {t '...'}, {ts '...'}, {fn f(...)}, {oj ...}, {escape '...'}. Other braces stay.
            if (c == '}') {
                if (!escapes.back()) out.push_back(c);
                escapes.pop_back();
                ++i;
                continue;
            }
            std::size_t word = i + 1;
            while (word < text.size() && std::isspace(static_cast<unsigned char>(text[word]))) ++word;
            std::size_t end = word;
            while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]))) ++end;
            std::string keyword(text.substr(word, end - word));
            for (char& k : keyword) k = static_cast<char>(std::tolower(static_cast<unsigned char>(k)));
            static constexpr std::pair<std::string_view, std::string_view> kClauses[] = {
                {"d", "DATE"}, {"t", "TIME"}, {"ts", "TIMESTAMP"},
                {"fn", ""},    {"oj", ""},    {"escape", "ESCAPE"}};
            const auto* clause = std::find_if(std::begin(kClauses), std::end(kClauses),
                                              [&](const auto& k) { return k.first == keyword; });
            const bool known = clause != std::end(kClauses) && end < text.size() &&
                               std::isspace(static_cast<unsigned char>(text[end]));
            escapes.push_back(known);
            if (known) {
                out.append(clause->second);
                i = clause->second.empty() ? end + 1 : end;
            } else {
                out.push_back(c);
                ++i;
            }
        } else if (c == '?') {
            out.push_back('$');
            out += std::to_string(++markers);
            ++i;
        } else {
            if (c == ';') after_semicolon = true;
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

std::unique_ptr<Statement> PgSession::Prepare(std::string_view text, const ExecuteOptions& options) {
    return std::make_unique<PgStatement>(*this, text, options);
}

PgStatement::PgStatement(PgSession& session, std::string_view text, const ExecuteOptions& options)
    : session_(session), text_(text), options_(options) {}

PgStatement::~PgStatement() {
    std::lock_guard guard(session_.lock);
    cursor_.reset();
    Drain();
    try {
        Finish(false);
    } catch (const Error&) {
        // A failed RELEASE on a lost link: the session already says it is broken.
    }
    for (PGresult* r : buffered_) PQclear(r);
}

// The command as the server runs it: a stored procedure, or ODBC's call escape ("{call f(?)}", "{? = call
// f(?)}") which programs written for the bridge send as text, becomes CALL for a procedure and SELECT for a
// function; markers are numbered later.
std::string PgStatement::CommandText(std::span<ParamBinding> params) {
    consume_outputs_ = false;
    skip_outputs_ = false;
    std::string text(Trim(text_));
    const bool escape = text.size() > 2 && text.front() == '{' && text.back() == '}';
    if (!escape && options_.command_type != ado::adCmdStoredProc) return text;
    if (escape) {
        std::string_view inner = Trim(std::string_view(text).substr(1, text.size() - 2));
        if (!inner.empty() && inner.front() == '?') {
            inner = Trim(inner.substr(1));
            if (!inner.empty() && inner.front() == '=') inner = Trim(inner.substr(1));
        }
        if (inner.size() > 5 && (inner.substr(0, 5) == "call " || inner.substr(0, 5) == "CALL "))
            inner = Trim(inner.substr(5));
        text = std::string(inner);
    }
    bool has_outputs = false;
    bool has_return = false;
    for (const ParamBinding& p : params) {
        has_outputs |= IsOutput(p);
        has_return |= p.direction == ado::adParamReturnValue;
    }
    std::size_t paren = text.find('(');
    std::string name(Trim(std::string_view(text).substr(0, paren)));
    // Is it a procedure (CALL) or a function (SELECT)? pg_proc knows, by the name as the server folds it.
    std::string folded;
    {
        std::size_t dot = name.rfind('.');
        std::string_view base =
            dot == std::string::npos ? std::string_view(name) : std::string_view(name).substr(dot + 1);
        if (!base.empty() && base.front() == '"') {
            folded = std::string(base.substr(1, base.size() >= 2 ? base.size() - 2 : 0));
        } else {
            for (char c : base)
                folded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    session_.FreeConnection();
    const char* values[] = {folded.c_str()};
    PGresult* r = PQexecParams(session_.conn(),
                               "SELECT prokind FROM pg_proc WHERE proname = $1 "
                               "ORDER BY pg_function_is_visible(oid) DESC LIMIT 1",
                               1, nullptr, values, nullptr, nullptr, 0);
    if (!r) session_.FailConnection();
    if (PQresultStatus(r) != PGRES_TUPLES_OK) session_.Fail(r);
    const bool procedure = PQntuples(r) == 1 && PQgetvalue(r, 0, 0)[0] == 'p';
    PQclear(r);
    // An argument list of markers only is the parameters' own: it is written anew, since a function takes
    // no argument for an OUT parameter (its value comes back in the result) while a procedure takes NULL.
    std::string arguments = paren == std::string::npos ? std::string() : text.substr(paren);
    if (arguments.find_first_not_of("(?, )\t\n") == std::string::npos) {
        arguments.assign(1, '(');
        int n = 0;
        for (const ParamBinding& p : params) {
            if (!Sends(p) || (!procedure && p.direction == ado::adParamOutput)) continue;
            arguments += n++ ? ", ?" : "?";
        }
        arguments += ")";
        skip_outputs_ = !procedure;
    }
    consume_outputs_ = has_outputs || has_return;
    if (procedure) return "CALL " + name + arguments;
    if (has_return && !has_outputs) return "SELECT " + name + arguments;
    return "SELECT * FROM " + name + arguments;
}

void PgStatement::Execute(std::span<ParamBinding> params) {
    std::lock_guard guard(session_.lock);
    cursor_.reset();
    Drain();
    Finish(false);
    for (PGresult* r : buffered_) PQclear(r);
    buffered_.clear();
    detached_ = false;
    rows_affected_ = -1;
    outputs_.clear();
    session_.FreeConnection();
    if (session_.broken) session_.FailConnection();

    // The server ends a statement at its time-out itself (statement_timeout), so a time-out costs no
    // thread and no second connection; the setting is sent only when it changes.
    const int timeout_ms = options_.timeout_seconds > 0 ? options_.timeout_seconds * 1000 : 0;
    if (session_.server_timeout_ms != timeout_ms) {
        session_.Run(("SET statement_timeout = " + std::to_string(timeout_ms)).c_str());
        session_.server_timeout_ms = timeout_ms;
    }
    try {
        std::string command = CommandText(params);
        std::size_t markers = 0;
        bool several = false;
        std::string numbered = NumberMarkers(command, markers, several);

        // The values in marker order: those a stored procedure's generated text has no marker for are not
        // sent.
        std::vector<Oid> types;
        std::vector<std::string> texts;
        std::vector<const char*> values;
        std::vector<const ParamBinding*> sent;
        for (const ParamBinding& p : params) {
            if (!Sends(p) || (skip_outputs_ && p.direction == ado::adParamOutput)) continue;
            sent.push_back(&p);
        }
        if (sent.size() > markers) sent.resize(markers);
        if (sent.size() < markers) {
            throw ProviderError(
                {MakeDiagnostic("07002", "No value given for one or more required parameters.")});
        }
        texts.resize(sent.size());
        values.resize(sent.size());
        types.resize(sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            types[i] = OidForParameter(sent[i]->type, sent[i]->value);
            values[i] = ParameterText(sent[i]->value, sent[i]->type, texts[i]) ? texts[i].c_str() : nullptr;
        }

        PGconn* conn = session_.conn();
        const bool batch = several && markers == 0;
        const PgSession::Prepared* prepared = batch ? nullptr : session_.FindPrepared(numbered, types);
        if (session_.in_transaction && prepared) {
            SendWithSavepoint(*prepared, values);
        } else {
            if (session_.in_transaction) {
                // The savepoint comes first: a statement the server refuses to prepare aborts a transaction
                // too.
                session_.Run(kSavepoint);
                savepoint_ = true;
            }
            int sent_ok = 0;
            if (batch) {
                sent_ok = PQsendQuery(conn, numbered.c_str());
            } else {
                prepared = &session_.PrepareCached(numbered, types);
                sent_ok = PQsendQueryPrepared(conn, prepared->name.c_str(), static_cast<int>(values.size()),
                                              values.empty() ? nullptr : values.data(), nullptr, nullptr, 0);
            }
            if (!sent_ok) session_.FailConnection();
            PQsetSingleRowMode(conn);
            finished_ = false;
        }
        session_.Claim(this);
        {
            std::lock_guard c(session_.cancel_mutex);
            session_.running = true;
        }
        Start(PQgetResult(conn));
    } catch (Error& e) {
        // A prepared statement whose table was made anew with other columns: the server refuses to run the
        // old plan ("cached plan must not change result type"); prepared again it runs. The failed attempt
        // changed nothing (inside a transaction its savepoint undid it).
        const auto* provider = dynamic_cast<const ProviderError*>(&e);
        if (provider && !retried_ && !provider->Records().empty() &&
            provider->Records().front().sql_state == "0A000" && finished_ && !savepoint_ &&
            session_.ForgetPrepared()) {
            retried_ = true;
            Execute(params);
            retried_ = false;
            return;
        }
        retried_ = false;
        if (e.SQLText().empty()) e.WithSQL(text_);
        // Failed before anything was sent: the savepoint stays unused.
        if (finished_ && savepoint_) {
            savepoint_ = false;
            try {
                session_.Run(kUndo);
            } catch (const Error&) {
            }
        }
        throw;
    }
}

void PgStatement::SendWithSavepoint(const PgSession::Prepared& prepared,
                                    const std::vector<const char*>& values) {
    // One round trip instead of three: the savepoint, the statement and the savepoint's release go to the
    // server together. A statement that fails makes the server skip the release; Finish then undoes it. The
    // server answers the savepoint at once (the flush request), so that a cancel is let through only once it
    // can no longer reach the savepoint.
    // The two are prepared statements of the session too: parsed once, they cost the server little more
    // than the subtransaction itself.
    const PgSession::Prepared& savepoint_statement = session_.PrepareCached(kSavepoint, {}, true);
    const PgSession::Prepared& release_statement = session_.PrepareCached(kRelease, {}, true);
    PGconn* conn = session_.conn();
    const bool sent =
        PQenterPipelineMode(conn) &&
        PQsendQueryPrepared(conn, savepoint_statement.name.c_str(), 0, nullptr, nullptr, nullptr, 0) &&
        PQsendFlushRequest(conn) &&
        PQsendQueryPrepared(conn, prepared.name.c_str(), static_cast<int>(values.size()),
                            values.empty() ? nullptr : values.data(), nullptr, nullptr, 0) &&
        PQsendQueryPrepared(conn, release_statement.name.c_str(), 0, nullptr, nullptr, nullptr, 0) &&
        PQpipelineSync(conn);
    if (!sent) {
        PQexitPipelineMode(conn);
        session_.FailConnection();
    }
    finished_ = false;
    pipelined_ = true;
    savepoint_ = true;
    PGresult* savepoint = PQgetResult(conn);
    if (!savepoint || PQresultStatus(savepoint) != PGRES_COMMAND_OK) {
        if (!savepoint) savepoint = PQmakeEmptyPGresult(conn, PGRES_FATAL_ERROR);
        Fail(savepoint);
    }
    PQclear(savepoint);
    if (PGresult* end = PQgetResult(conn)) PQclear(end);  // the null that ends the savepoint's results
    PQsetSingleRowMode(conn);
}

void PgStatement::Start(PGresult* result) {
    while (true) {
        if (!result) {
            Finish(false);
            return;
        }
        switch (PQresultStatus(result)) {
            case PGRES_SINGLE_TUPLE:
            case PGRES_TUPLES_OK:
                if (consume_outputs_) {
                    // The call's row holds the output values; the rows are not the caller's.
                    do {
                        if (PQresultStatus(result) == PGRES_FATAL_ERROR) Fail(result);
                        if (PQntuples(result) > 0 && outputs_.empty()) {
                            std::vector<ColumnInfo> columns;
                            std::vector<ValueKind> kinds;
                            session_.DescribeColumns(result, columns, kinds, false);
                            outputs_.resize(kinds.size());
                            for (int c = 0; c < PQnfields(result); ++c) {
                                if (PQgetisnull(result, 0, c)) {
                                    outputs_[static_cast<std::size_t>(c)].AssignNull();
                                } else {
                                    ReadValue(kinds[static_cast<std::size_t>(c)], PQgetvalue(result, 0, c),
                                              PQgetlength(result, 0, c),
                                              outputs_[static_cast<std::size_t>(c)]);
                                }
                            }
                        }
                        bool last = PQresultStatus(result) == PGRES_TUPLES_OK;
                        PQclear(result);
                        result = last ? nullptr : Pull();
                    } while (result);
                    result = Pull();
                    continue;
                }
                cursor_ = std::make_unique<PgCursor>(*this, result);
                return;
            case PGRES_COMMAND_OK: {
                const char* tuples = PQcmdTuples(result);
                rows_affected_ = tuples[0] ? std::strtoll(tuples, nullptr, 10) : -1;
                PQclear(result);
                // Whether anything follows: the common single statement then frees the connection at once.
                PGresult* next = Pull();
                if (next) {
                    buffered_.push_front(next);
                } else {
                    Finish(false);
                }
                return;
            }
            case PGRES_EMPTY_QUERY:
                PQclear(result);
                result = Pull();
                continue;
            default:
                Fail(result);
        }
    }
}

PGresult* PgStatement::Pull() {
    if (!buffered_.empty()) {
        PGresult* r = buffered_.front();
        buffered_.pop_front();
        return r;
    }
    if (finished_ || detached_) return nullptr;
    std::lock_guard guard(session_.lock);
    return PQgetResult(session_.conn());
}

void PgStatement::Buffer() {
    if (finished_ || detached_) return;
    bool failed = false;
    while (PGresult* r = PQgetResult(session_.conn())) {
        failed |= PQresultStatus(r) == PGRES_FATAL_ERROR;
        buffered_.push_back(r);
    }
    detached_ = true;
    Finish(failed);
}

void PgStatement::Drain() noexcept {
    if (finished_ || detached_) return;
    // The rest of an answer the caller no longer wants: a long one is cut short by the server's cancel
    // (inside a transaction the savepoint undoes the cancelled statement alone).
    bool cancelled = false;
    while (PGresult* r = PQgetResult(session_.conn())) {
        if (!cancelled && PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
            std::lock_guard c(session_.cancel_mutex);
            char buffer[256];
            if (session_.cancel) PQcancel(session_.cancel, buffer, sizeof buffer);
            cancelled = true;
        }
        PQclear(r);
    }
    detached_ = true;
    try {
        Finish(cancelled);
    } catch (const Error&) {
    }
}

void PgStatement::Finish(bool failed) {
    if (finished_) return;
    finished_ = true;
    {
        std::lock_guard c(session_.cancel_mutex);
        session_.running = false;
    }
    session_.last_contact = std::chrono::steady_clock::now();
    session_.Release(this);
    if (pipelined_) {
        pipelined_ = false;
        PGconn* conn = session_.conn();
        // The release's result and the null after it, then the pipeline's end.
        bool released = false;
        for (int i = 0; i < 2; ++i) {
            PGresult* r = PQgetResult(conn);
            if (!r) break;
            released = PQresultStatus(r) == PGRES_COMMAND_OK;
            PQclear(r);
        }
        if (PGresult* sync = PQgetResult(conn)) PQclear(sync);
        PQexitPipelineMode(conn);
        if (released && !failed) {
            savepoint_ = false;
            return;
        }
        failed = true;
    }
    if (savepoint_) {
        savepoint_ = false;
        session_.Run(failed ? kUndo : kRelease);
    }
}

void PgStatement::Fail(PGresult* result) {
    Diagnostic d = ResultDiagnostic(result);
    PQclear(result);
    if (PQstatus(session_.conn()) == CONNECTION_BAD || odbc::IsConnectionLost(d.sql_state))
        session_.broken = true;
    cursor_.reset();
    if (!finished_ && !detached_) {
        while (PGresult* r = PQgetResult(session_.conn())) PQclear(r);
    }
    detached_ = true;
    for (PGresult* r : buffered_) PQclear(r);
    buffered_.clear();
    try {
        Finish(true);
    } catch (const Error&) {
        // The undo failed too (a lost link): the statement's own failure says more.
    }
    // query_canceled covers both a cancel request and the time-out; the server's text tells them apart.
    if (d.sql_state == "57014" && d.description.find("statement timeout") != std::string::npos) {
        d = MakeDiagnostic("HYT00", std::move(d.description));
    }
    ProviderError error({std::move(d)});
    error.WithSQL(text_);
    throw error;
}

bool PgStatement::NextResult() {
    std::lock_guard guard(session_.lock);
    if (cursor_) {
        while (cursor_->Next()) {
        }
        cursor_.reset();
    }
    rows_affected_ = -1;
    PGresult* next = Pull();
    if (!next) {
        Finish(false);
        return false;
    }
    Start(next);
    return true;
}

void PgStatement::FetchOutputParameters(std::span<ParamBinding> params) {
    std::size_t column = 0;
    for (ParamBinding& p : params) {
        if (p.direction == ado::adParamReturnValue) {
            // A function's value is the first (only) column of "SELECT f(...)".
            if (!outputs_.empty()) p.value = outputs_[0];
            continue;
        }
        if (!IsOutput(p)) continue;
        if (column < outputs_.size()) p.value = outputs_[column];
        ++column;
    }
}

}  // namespace korado::dataaccess::pg
