#include "help.h"

#include <string>

namespace korado::console {

const char* const kUsageText =
    R"(Usage: korado [CONNECTION] [-c STATEMENT]... [-f FILE]... [--prompt] [--help] [--version]

korado is a SQL*Plus-like console over the korADO library: it runs SQL statements and
commands against an SQLite file or any ODBC data source and prints the results as text.

CONNECTION, one of:
  Key=Value;...          a connection string, e.g. "Provider=SQLite;Data Source=shop.db"
                         or "Provider=MSDASQL;DSN=korado_pg;UID=me;PWD=secret"
  user/password@DSN      a combined login for an ODBC data source (DSN); the password may
                         be left out (user@DSN)
  (nothing)              the sample database: an SQLite file created on first use at
                         ${XDG_DATA_HOME:-~/.local/share}/korado/sample.db (or at
                         $KORADO_SAMPLE_DB), with the tables customers, products, orders,
                         order_lines and the view order_totals

Options:
  -c STATEMENT   run STATEMENT (a statement or a command; the ";" may be left out);
                 may be given several times; all -c run first, in order
  -f FILE        run the statements and commands in FILE ("-" for standard input);
                 may be given several times, run after the -c statements, in order
  --prompt       ask for the connection in the terminal instead: provider (SQLite or
                 ODBC), data source (file or DSN), user and password (not echoed), then
                 a test connection; the answer is the library's data-link prompt
  --help         show this text
  --version      show the version

Query results can be saved to files and opened again without a database (SAVE and LOAD
below).

With -c or -f, korado runs them and exits. Otherwise it reads standard input: with line
editing and a history (${XDG_STATE_HOME:-~/.local/state}/korado/history) when that is a
terminal, or as a script when it is a pipe or a file. The history file is readable by
its owner only, and a line that carries a password (CONNECT user/password@DSN, a PWD=
or Password= entry) is kept in it with the password masked as ***, not as typed.
)";

const char* const kCommandsText =
    R"(Statements
  A SQL statement ends with ";" at the end of a line, or with a line holding only "/".
  Several statements on one line, each ending with ";", run one after the other.
  Blocks end only with a "/" line: statements starting with DECLARE or BEGIN (not a
  transaction's BEGIN), CREATE statements with a BEGIN (SQLite triggers), and CREATE
  PROCEDURE, FUNCTION or PACKAGE without a $$-quoted body. A "/" line alone runs the
  last statement again. A statement left unfinished at the end of the input runs too.
  ";", ":name" and "--" inside quotes ('...', "...", $$...$$) and comments are text.

Commands (one line each, any letter case, a final ";" is accepted)
  VARIABLE [name [NUMBER|VARCHAR2(n)|DATE] [IN|OUT|INOUT]]
                      declare a bind variable (no type: bound with its value's own type;
                      default mode IN); VARIABLE name shows one, VARIABLE alone lists all.
                      A statement naming :name is run with the variable as a parameter.
                      Providers without output parameters (SQLite) refuse OUT and INOUT.
  EXEC[UTE] :name := value
                      set a bind variable: a number, 'text' (with '' for a quote), a date
                      as 'YYYY-MM-DD [HH:MM:SS]', or NULL
  EXEC[UTE] proc(args)
                      call a procedure through the ODBC call escape {call proc(args)};
                      EXEC {...} runs the escape as written. Rows the procedure answers
                      with print as a query's (pages, breaks): a PostgreSQL function's,
                      a MariaDB procedure's whose definition has a SELECT. A call with
                      OUT or INOUT variables runs as a statement, so that PRINT shows
                      their values
  PRINT [name...]     show bind variables (all when no name is given); after a statement
                      or EXEC, OUT and INOUT variables hold the values it returned
  DEFINE [name [= value]]
                      set a substitution variable ('value' or "value" keep blanks);
                      DEFINE name shows one, DEFINE alone lists all
  UNDEFINE name...    remove substitution variables
  &name, &&name       replaced by the variable's value before anything else reads the
                      line, inside quotes too; a "." right after the name is dropped
                      ("&t._old"). In a terminal an undefined name is asked for (&&name
                      keeps the answer); in a script it is an error. SET DEFINE OFF
                      turns substitution off.
  CONNECT [CONNECTION]
                      connect (forms as on the command line; nothing: the sample
                      database); CONNECT --prompt asks as --prompt does. The current
                      connection is committed and closed first.
  DISCONNECT          commit and close the connection
  COMMIT, ROLLBACK    end the current transaction and start the next
  SET AUTOCOMMIT ON|OFF
                      ON: every statement is committed at once (the library's
                      AllowTransactions off); OFF (the default): work is committed by
                      COMMIT, DISCONNECT, CONNECT and EXIT
  SET ALERTS ON|OFF   show or hide the messages the library shows (DisplayAlerts)
  SET DEFINE ON|OFF   substitution of &name on or off
  SET PAGESIZE n      rows per page of a result (default 14); each page has its own
                      headings and column widths, pages are a blank line apart. 0: the
                      whole result is one page (held in memory until it is printed)
  SET LARGE ON|OFF    ON (the default): results stream from the database, forward
                      only; OFF: the whole result is read first (a client-side cursor)
  BREAK ON column [SKIP n] [NODUPLICATES|DUPLICATES] [ON column ...]
                      report breaks, as SQL*Plus: a value of a break column that repeats
                      the row above prints blank (NODUPLICATES, the default; DUPLICATES
                      prints it), except on the first row of a page; SKIP n prints n
                      blank lines before a row whose value changed (not at the top of
                      a page, and not counted in PAGESIZE). A change of an
                      outer (earlier) column prints the inner ones again. A BREAK
                      command replaces the definitions before it; BREAK alone lists them
  CLEAR BREAKS        remove the break definitions
  SAVE file [XML|ADTG]
                      run the last query again (reading all its rows) and save its result
                      to a new file in the platform's persistence format: ADTG, the binary
                      one (the default), or XML. A file that exists is not replaced
  LOAD file           open a saved result (no connection needed) and print it as a
                      query's rows, with pages and breaks
  SHOW PROVIDER|DBMS|USER|CATALOG|VERSION|AUTOCOMMIT|ALERTS|PAGESIZE|LARGE|BREAKS
  WHENEVER SQLERROR EXIT [n|SUCCESS|FAILURE] [COMMIT|ROLLBACK]
                      in a script, the first error ends the run with exit status n
                      (default 1), rolling back unless COMMIT is given
  WHENEVER SQLERROR CONTINUE
                      errors do not end the run (the default)
  DESC[RIBE] [schema.]name
                      the columns of a table or view, as the library's dictionary
                      reports them: Name, Null? (NOT NULL or blank) and Type, the type
                      as the dictionary names it (VarWChar(60), Numeric(10,2), ...).
                      A name in double quotes is taken as written; a bare name is
                      looked up as typed, then in lower and in upper case
  LIST TABLES [pattern], LIST VIEWS [pattern], LIST SCHEMAS
                      the names of the tables, views or schemas of the database, in the
                      order the database gives them. A pattern is a name, or the start
                      of names followed by % ("ord%"; anything after the % is ignored);
                      letter case counts. Quote a pattern with blanks: 'my tab%'
  CREATE DATABASE file
                      create a new SQLite database file (an existing file is refused)
                      and connect to it; the current connection is committed and closed.
                      Quote a name with blanks ('my shop.db'). Connected to a server, a
                      plain name (CREATE DATABASE shop) is the server's SQL statement
  COPY TO table USING query
                      create a new table of the current database with the columns of the
                      query's result, then insert its rows (in one transaction; under
                      SET AUTOCOMMIT OFF the current one, so ROLLBACK undoes the copy).
                      A table name in double quotes is taken as written
  ABOUT               what the library's About dialog shows for the connection: its title,
                      the provider (with its version suffix), Provider Name, Version and
                      Description, then every connection property as a table of Property
                      Name, Value ("*****" for a property named Password), Attribute and
                      Type
  ABOUT SAVE          save the connection details through the About dialog's Save: asks
                      for a file name (empty: cancel; a relative name is taken from the
                      current folder), writes "Provider: ..." and one line per property
                      (name, value, attribute and type numbers; passwords as they are)
                      with CR LF line breaks, and shows the library's confirmation
  command --help      the entry of DESCRIBE, LIST, CREATE DATABASE, COPY, SAVE, LOAD or ABOUT
  @file, START file   run the statements and commands in a file
  REM[ARK] text, -- text
                      a comment
  HELP                this text
  EXIT|QUIT [n|SUCCESS|FAILURE] [COMMIT|ROLLBACK]
                      commit (unless ROLLBACK) and leave with exit status n (default 0);
                      the end of the input does the same

SET and SHOW with other words, COMMIT and ROLLBACK with other words (ROLLBACK TO
SAVEPOINT s) are SQL statements and go to the database.

Output
  Rows: pages of SET PAGESIZE rows, printed as the rows arrive, each with the column
  names, a line of dashes and the values (numbers right-aligned, NULL empty); then
  "N rows selected.", "1 row selected." or "no rows selected". A query that fails to
  open prints the library's report (its message, then SQL="statement").
  INSERT, UPDATE, DELETE, MERGE and REPLACE: "N rows affected." ("1 row affected.").
  Other statements: "Statement processed."
  After every successful connect, one line:
    Connected: user=<user> dsn=<data source> connection=<connection string>
  with the values the library reports: the connection string comes back without its
  password (korado ends a connection string with ";", the form the library takes a
  password out of).
  Errors the library raises: "Error 0x<number in hex> (<source>): <description>", the
  description as the library wrote it, over several lines where it has line breaks.
  Problems korado finds itself: "Error: <text>". Messages the library shows: their title
  on one line, their text below. Errors and messages go to standard error, the rest to
  standard output. The library's error component also logs the failures it is handed,
  to standard error and ${XDG_STATE_HOME:-~/.local/state}/korado/error.log.

Exit status
  0, or the n of EXIT n; in a script with WHENEVER SQLERROR EXIT, n (default 1) at the
  first error (a failed statement or command). An interactive session never ends on an
  error. 2 for a command line korado does not understand.
)";

std::string CommandHelp(std::string_view command) {
    // An entry is its first line, "  " and the command, and the lines indented deeper below it.
    const std::string_view text = kCommandsText;
    const std::string head = "\n  " + std::string(command);
    std::size_t from = text.find(head);
    if (from == std::string_view::npos) return {};
    ++from;
    std::size_t to = text.find('\n', from);
    while (to != std::string_view::npos && text.compare(to + 1, 4, "    ") == 0) to = text.find('\n', to + 1);
    return std::string(text.substr(from, to == std::string_view::npos ? text.npos : to + 1 - from));
}

}  // namespace korado::console
