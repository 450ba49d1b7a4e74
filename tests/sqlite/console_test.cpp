// The console host, driven through standard input as a user or a script drives it: connections and the
// line they print, statements with bind and substitution variables, the library's errors and messages,
// transactions, and exit statuses. The program is the real korado, run in a private home folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/console_runner.h"

namespace korado::test {
namespace {

using ::testing::HasSubstr;

#ifndef KORADO_APP_PATH
#define KORADO_APP_PATH ""
#endif

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(KORADO_APP_PATH).empty())
            GTEST_SKIP() << "built without the console host (korado_app)";
        // ODBC lookups must not find the machine's data sources.
        std::filesystem::create_directories(console_.Dir().File("odbc"));
        for (const char* file : {"odbc.ini", "odbcinst.ini"})
            std::ofstream(console_.Dir().File("odbc/") + file);
        console_.SetEnv("ODBCSYSINI", console_.Dir().File("odbc"));
        console_.SetEnv("ODBCINI", console_.Dir().File("odbc/odbc.ini"));
    }

    // "Provider=SQLite;Data Source=<file>;" for a file in the test's folder.
    std::string Connection(const std::string& file) const {
        return "Provider=SQLite;Data Source=" + console_.Dir().File(file) + ";";
    }
    // The library reports an SQLite file as its data source: the file's name, then its whole path.
    std::string Dsn(const std::string& path) const {
        return std::filesystem::path(path).filename().string() + " (" + path + ")";
    }
    std::string ConnectedLine(const std::string& file) const {
        return "Connected: user= dsn=" + Dsn(console_.Dir().File(file)) + " connection=" + Connection(file);
    }

    // Runs `input` on the SQLite file `file` (`more` arguments after it); the exit status and standard error
    // must be these.
    ConsoleRun Script(const std::string& file, const std::string& input, int status = 0,
                      const std::string& err = "", std::vector<std::string> more = {}) {
        more.insert(more.begin(), Connection(file));
        ConsoleRun run = console_.Run(more, input);
        EXPECT_EQ(run.exit_status, status) << run.Transcript();
        EXPECT_EQ(run.err, err) << run.Transcript();
        return run;
    }
    // What the statement `sql` prints on the SQLite file `file`.
    std::string Query(const std::string& file, const std::string& sql) const {
        return console_.Run({Connection(file), "-c", sql}).out;
    }

    ConsoleRunner console_{KORADO_APP_PATH};
};

TEST_F(ConsoleTest, SampleDatabaseAnswersTheFirstQuery) {
    ConsoleRun run = console_.Run({},
                                  "select count(*) as n from order_lines;\n"
                                  "select lines, total from order_totals where order_id = 1002;\n");
    ASSERT_EQ(run.exit_status, 0) << run.Transcript();
    const std::string path = console_.SampleDatabase();
    EXPECT_TRUE(HasLine(
        run.out, "Connected: user= dsn=" + Dsn(path) + " connection=Provider=SQLite;Data Source=" + path))
        << run.Transcript();
    // The sample's rows are computed, so a new sample always holds as many.
    EXPECT_THAT(run.out, HasSubstr("  n\n---\n375\n\n1 row selected.\n"));
    EXPECT_THAT(run.out, HasSubstr("lines  total\n----- ------\n    4 417.45\n"));
    EXPECT_EQ(run.err, "");
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".building-0"));

    // The second run opens the file the first one built.
    const auto built = std::filesystem::last_write_time(path);
    run = console_.Run({"-c", "select count(*) from customers", "-c", "select count(*) from orders"});
    ASSERT_EQ(run.exit_status, 0) << run.Transcript();
    EXPECT_THAT(run.out, HasSubstr("      40\n"));
    EXPECT_THAT(run.out, HasSubstr("     150\n"));
    EXPECT_EQ(std::filesystem::last_write_time(path), built);
}

TEST_F(ConsoleTest, SessionWithBindVariables) {
    ConsoleRun run = Script("shop.db",
                            "create table t (id integer primary key, name varchar(20), born date,\n"
                            "                score numeric(6,2));\n"
                            "VARIABLE id NUMBER\n"
                            "variable nm varchar2 (20) in;\n"
                            "var d DATE\n"
                            "exec :id := 1\n"
                            "EXECUTE :nm := 'O''Brien';\n"
                            "exec :d := '2020-02-29'\n"
                            "insert into t values (:id, :nm, :d, 12.5);\n"
                            "exec :id := 2\n"
                            "exec :nm := NULL\n"
                            "insert into t (id, name, born) values (:ID, :nm, :d);\n"
                            "select * from t order by id;\n"
                            "update t set score = score + 1 where name = :nm or id = :id\n"
                            "/\n"
                            "variable\n"
                            "print nm id\n");
    EXPECT_EQ(run.out, ConnectedLine("shop.db") +
                           "\nStatement processed.\n1 row affected.\n1 row affected.\n"
                           "id name    born       score\n"
                           "-- ------- ---------- -----\n"
                           " 1 O'Brien 2020-02-29  12.5\n"
                           " 2         2020-02-29\n"
                           "\n2 rows selected.\n1 row affected.\n"
                           "VARIABLE DATATYPE     MODE\n"
                           "-------- ------------ ----\n"
                           "id       NUMBER       IN\n"
                           "nm       VARCHAR2(20) IN\n"
                           "d        DATE         IN\n"
                           "nm\n--\n\n\nid\n--\n 2\n\n");
}

TEST_F(ConsoleTest, FailingStatementsAndExitStatus) {
    // A query that cannot open prints the library's report: its title, the provider's error (number and
    // message) and the SQL.
    const std::string report =
        "Tabulon Universal Exception\n-2147217865: no such table: nosuch\n\nSQL=\"select * from nosuch\"\n";
    // Without WHENEVER a script goes on after an error and ends with status 0.
    ConsoleRun run = Script("k.db",
                            "create table k (id integer primary key);\n"
                            "insert into k values (1);\n"
                            "select * from nosuch;\n"
                            "insert into k values (2);\n",
                            0, report);
    EXPECT_THAT(run.out, HasSubstr("1 row affected.\n1 row affected.\n"));
    run = Script("k.db", "whenever sqlerror exit 2\nselect * from nosuch;\nselect 1;\n", 2, report);
    EXPECT_EQ(run.out.find("selected"), std::string::npos) << run.out;

    // With it, the first error ends the run with status 1 and rolls back; the statement after it never runs.
    Script("k.db",
           "WHENEVER SQLERROR EXIT\n"
           "insert into k values (3);\n"
           "insert into k values (1);\n"
           "insert into k values (4);\n",
           1, "Error 0x80040012 (korADO): UNIQUE constraint failed: k.id\n");
    EXPECT_THAT(Query("k.db", "select id from k order by id"),
                HasSubstr("id\n--\n 1\n 2\n\n2 rows selected.\n"));

    // A failure the library reports with a message (a statement with bind variables) counts the same; the
    // status and COMMIT come from the WHENEVER command.
    Script("k.db",
           "whenever sqlerror exit 3 commit\n"
           "variable v number\n"
           "exec :v := 5\n"
           "insert into k values (:v);\n"
           "insert into k values (:v);\n"
           "insert into k values (6);\n",
           3, "Tabulon Universal Exception\nUNIQUE constraint failed: k.id\n");
    EXPECT_THAT(Query("k.db", "select count(*) as n from k"), HasSubstr("n\n-\n3\n"));

    // -c statements and problems korado finds itself count too; EXIT sets the status of a clean run.
    Script("k.db", "", 1, "Error: Bind variable \"nothere\" is not declared.\n",
           {"-c", "whenever sqlerror exit failure", "-c", "print nothere", "-c", "select 1"});
    Script("k.db", "select 1;\nexit 7\nselect 2;\n", 7);
    EXPECT_EQ(console_.Run({"--no-such-option"}).exit_status, 2);
}

TEST_F(ConsoleTest, OutputVariablesAreRefusedBySqlite) {
    // The library's message, its CR LF line breaks as line breaks; the variable stays an input.
    const std::string message =
        "Tabulon Universal Exception\n"
        "Output variables are not supported.\n"
        "\n"
        "You may be able to use output variables when using a different driver. There is also a possibility "
        "that your database does not support output variables at all.\n";
    ConsoleRun run = Script("o.db",
                            "variable total number out\n"
                            "variable total\n"
                            "variable other varchar2(10) inout\n",
                            0, message + message);
    EXPECT_THAT(run.out, HasSubstr("total    NUMBER   IN\n"));

    // SET ALERTS OFF silences the message; the refusal still counts as an error in a script.
    run = Script("o.db",
                 "set alerts off\nwhenever sqlerror exit 4\nvariable x number out\n"
                 "select 1;\n",
                 4, "Error: The variable x stays IN (SET ALERTS ON shows the library's reason).\n");
    EXPECT_EQ(run.out.find("selected"), std::string::npos) << run.out;
}

TEST_F(ConsoleTest, SubstitutionVariables) {
    // In a script nobody can answer for an undefined variable: the statement does not run.
    ConsoleRun run =
        Script("s.db",
               "define tab = pets\n"
               "DEFINE greeting = 'good day'\n"
               "create table &tab (name varchar(20));\n"
               "insert into &tab. values ('&greeting');\n"
               "define\n"
               "select name from &&tab;\n"
               "undefine tab\n"
               "set define off\n"
               "select 'AT&T' as x;\n"
               "set define on\n"
               "select count(*) from &tab;\n",
               0,
               "Error: Substitution variable \"tab\" is not defined (DEFINE tab = value defines it; "
               "SET DEFINE OFF turns substitution off).\n");
    EXPECT_THAT(run.out, HasSubstr("DEFINE tab = \"pets\"\nDEFINE greeting = \"good day\"\n"));
    EXPECT_THAT(run.out, HasSubstr("name\n--------\ngood day\n"));
    EXPECT_THAT(run.out, HasSubstr("x\n----\nAT&T\n"));
    EXPECT_EQ(run.out.find("count(*)"), std::string::npos) << run.out;
}

TEST_F(ConsoleTest, StatementsEndWhereTheUserMeansThem) {
    ConsoleRun run =
        Script("r.db",
               "-- a comment line\n"
               "create table log (msg varchar(40));\n"
               "create table items (\n"
               "  id integer,   -- the key; this ; is a comment\n"
               "  label varchar(20)\n"
               ");\n"
               "create trigger items_log after insert on items\n"
               "begin\n"
               "  insert into log values ('added ' || new.label);\n"
               "end;\n"
               "/\n"
               "insert into items values (1, 'semi;colon'); insert into items values (2, 'it''s');\n"
               "select label\n"
               "  from items\n"
               " order by id\n"
               "/\n"
               "select count(*) as n from log;\n"
               "/\n"
               "select 'unfinished' as last_one\n");
    EXPECT_EQ(run.out, ConnectedLine("r.db") +
                           "\nStatement processed.\nStatement processed.\nStatement processed.\n"
                           "1 row affected.\n1 row affected.\n"
                           "label\n----------\nsemi;colon\nit's\n\n2 rows selected.\n"
                           "n\n-\n2\n\n1 row selected.\n"
                           "n\n-\n2\n\n1 row selected.\n"
                           "last_one\n----------\nunfinished\n\n1 row selected.\n");
}

TEST_F(ConsoleTest, TransactionsAndCommands) {
    ConsoleRun run = Script("x.db",
                            "create table a (n integer);\n"
                            "commit\n"
                            "insert into a values (1);\n"
                            "rollback;\n"
                            "insert into a values (2);\n"
                            "COMMIT WORK\n"
                            "set autocommit on\n"
                            "show autocommit\n"
                            "insert into a values (3);\n"
                            "rollback\n"
                            "set autocommit off\n"
                            "insert into a values (4);\n"
                            "rollback\n"
                            "select n from a order by n;\n"
                            "show provider\n"
                            "show user\n"
                            "disconnect\n"
                            "select 1;\n"
                            "show provider\n"
                            "help\n",
                            0, "Error: Not connected (CONNECT connects).\nError: Not connected.\n");
    EXPECT_THAT(run.out, HasSubstr("Commit complete.\n1 row affected.\nRollback complete.\n1 row affected.\n"
                                   "Commit complete.\nautocommit ON\n1 row affected.\nRollback complete.\n"
                                   "1 row affected.\nRollback complete.\n"
                                   "n\n-\n2\n3\n\n2 rows selected.\n"
                                   "PROVIDER is \"SQLite\"\n"));
    EXPECT_THAT(run.out, HasSubstr("USER is \"\"\nDisconnected.\n"));
    EXPECT_THAT(run.out, HasSubstr("WHENEVER SQLERROR EXIT")) << "HELP lists the commands";

    // The end of the input commits; CONNECT opens another database, committing the first.
    const std::string connect_y = "connect " + Connection("y.db") + "\n";
    run = Script("x.db", "insert into a values (5);\n" + connect_y + "create table b (n integer);\n");
    EXPECT_TRUE(HasLine(run.out, ConnectedLine("y.db"))) << run.out;
    run = console_.Run({Connection("x.db"), "-c", "select count(*) as n from a", "-c",
                        "connect " + Connection("y.db"), "-c", "select count(*) as n from b"});
    EXPECT_THAT(run.out, HasSubstr("n\n-\n3\n")) << run.Transcript();
    EXPECT_THAT(run.out, HasSubstr("n\n-\n0\n")) << run.Transcript();
}

TEST_F(ConsoleTest, ConnectionForms) {
    // A password in the connection string does not come back in the Connected line.
    ConsoleRun run = console_.Run(
        {"Provider=SQLite;Data Source=" + console_.Dir().File("p.db") + ";Password=s3cret"}, "connect\n");
    EXPECT_EQ(run.exit_status, 0) << run.Transcript();
    EXPECT_EQ(run.out, ConnectedLine("p.db") + "\n" +
                           "Connected: user= dsn=" + Dsn(console_.SampleDatabase()) +
                           " connection=Provider=SQLite;Data Source=" + console_.SampleDatabase() + "\n");

    // A combined login names an ODBC data source; an unknown one gets the library's advice.
    run = console_.Run({"scott/tiger@no_such_dsn", "-c", "whenever sqlerror exit", "-c", "select 1"});
    EXPECT_EQ(run.exit_status, 1) << run.Transcript();
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with(
        "Error 0x80040006 (korADO): There was a problem connecting to a database through ODBC."))
        << run.err;
    EXPECT_THAT(run.err, HasSubstr("Data source name not found"));
    EXPECT_THAT(run.err, HasSubstr("Error: Not connected (CONNECT connects).\n"));
    EXPECT_EQ(run.err.find("tiger"), std::string::npos) << run.err;

    run = console_.Run({"just-a-word", "-c", "select 1"});
    EXPECT_THAT(run.err, HasSubstr("\"just-a-word\" is neither a connection string"));

    // --prompt answers the library's data-link prompt; not read from a terminal, the answers are echoed.
    const std::string q = console_.Dir().File("q.db");
    run = console_.Run({"--prompt"}, "sqlite\n" + q + "\nbob\nhunter2\nselect 1 as one;\n");
    EXPECT_EQ(run.exit_status, 0) << run.Transcript();
    EXPECT_EQ(run.out, "Provider (SQLite or ODBC) [SQLite]: sqlite\nDatabase file: " + q +
                           "\nUser: bob\nPassword: \nTest connection succeeded.\n" + ConnectedLine("q.db") +
                           "User ID=bob;\none\n---\n  1\n\n1 row selected.\n");

    // A failed test connection may be retried or given up.
    run = console_.Run({"--prompt"}, "odbc\nno_such_dsn\n\n\nn\n");
    EXPECT_THAT(run.out, HasSubstr("Test connection failed: [unixODBC]")) << run.Transcript();
    EXPECT_THAT(run.out, HasSubstr("Data source name not found")) << run.Transcript();
    EXPECT_THAT(run.out, HasSubstr("Connection cancelled.\n"));
}

// Rows of the sample database under SQL*Plus's report breaks and pages, with the large (streamed) and the
// client-side result sets alike: a break column's repeated value is blank except on a page's first row,
// SKIP puts blank lines before a changed value but not at a page's top, and each page is aligned on its own
// rows.
TEST_F(ConsoleTest, BreaksAndPagesOfTheSampleDatabase) {
    const std::string script =
        "break on category skip 1\n"
        "select category, name, unit_price from products\n"
        " where category in ('Coffee', 'Food', 'Tea') order by category, name;\n"
        "set pagesize 3\n"
        "select category, name from products where category in ('Coffee', 'Equipment')\n"
        " order by category, name;\n"
        "clear breaks\n"
        "select product_id, name from products where product_id <= 7 order by product_id;\n"
        "set pagesize 0\n"
        "select name from products where product_id between 5 and 7 order by product_id;\n";
    const std::string expected =
        "category name                unit_price\n"
        "-------- ------------------- ----------\n"
        "Coffee   Decaf beans 500 g         13.5\n"
        "         Espresso beans 1 kg       24.5\n"
        "         Filter coffee 500 g      11.95\n"
        "\n"
        "Food     Almond biscuits           5.25\n"
        "         Dark chocolate 70%         3.9\n"
        "         Honey 250 g                6.8\n"
        "\n"
        "Tea      Earl Grey 250 g            9.9\n"
        "         Green tea 100 g           8.75\n"
        "         Rooibos 200 g              7.6\n"
        "\n9 rows selected.\n"
        "category name\n"
        "-------- -------------------\n"
        "Coffee   Decaf beans 500 g\n"
        "         Espresso beans 1 kg\n"
        "         Filter coffee 500 g\n"
        "\n"
        "category  name\n"
        "--------- -----------------\n"
        "Equipment Espresso machine\n"
        "          Hand grinder\n"
        "          Kettle, gooseneck\n"
        "\n"
        "category  name\n"
        "--------- -----------------\n"
        "Equipment Milk frother\n"
        "          Pour-over dripper\n"
        "\n8 rows selected.\n"
        "breaks cleared\n"
        "product_id name\n"
        "---------- -------------------\n"
        "         1 Espresso beans 1 kg\n"
        "         2 Filter coffee 500 g\n"
        "         3 Decaf beans 500 g\n"
        "\n"
        "product_id name\n"
        "---------- ---------------\n"
        "         4 Green tea 100 g\n"
        "         5 Earl Grey 250 g\n"
        "         6 Rooibos 200 g\n"
        "\n"
        "product_id name\n"
        "---------- ------------\n"
        "         7 Hand grinder\n"
        "\n7 rows selected.\n"
        "name\n"
        "---------------\n"
        "Earl Grey 250 g\n"
        "Rooibos 200 g\n"
        "Hand grinder\n"
        "\n3 rows selected.\n";
    for (const char* large : {"on", "off"}) {
        SCOPED_TRACE(large);
        ConsoleRun run = console_.Run({}, std::string("set large ") + large + "\n" + script);
        ASSERT_EQ(run.exit_status, 0) << run.Transcript();
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.substr(run.out.find('\n') + 1), expected);
    }
}

// Statements answer as their form says: a WITH runs as its main statement does, and rows that a statement
// answers with only now and then (PRAGMA, RETURNING) print as a query's.
TEST_F(ConsoleTest, RowsFromEveryKindOfStatement) {
    ConsoleRun run = Script("w.db",
                            "create table w (n integer);\n"
                            "with recursive c (n) as (select 1 union all select n + 1 from c where n < 3)\n"
                            "  insert into w select n from c;\n"
                            "with c as (select n from w where n > 1) select count(*) as n from c;\n"
                            "values (1, 'a');\n"
                            "pragma user_version = 7;\n"
                            "pragma user_version;\n"
                            "insert into w values (9) returning n * 2 as twice;\n"
                            "select n from w where n > 100;\n");
    EXPECT_EQ(run.out, ConnectedLine("w.db") +
                           "\nStatement processed.\n3 rows affected.\n"
                           "n\n-\n2\n\n1 row selected.\n"
                           "column1 column2\n------- -------\n      1 a\n\n1 row selected.\n"
                           "Statement processed.\n"
                           "user_version\n------------\n           7\n\n1 row selected.\n"
                           "twice\n-----\n   18\n\n1 row selected.\n"
                           "no rows selected\n");
}

// What the new settings and break definitions read back as, and the forms they refuse.
TEST_F(ConsoleTest, BreakAndPageCommands) {
    ConsoleRun run =
        Script("b.db",
               "show pagesize\nshow large\nbreak\n"
               "break on dept skip 2 on job dup on \"Name\" nodup\n"
               "break\nset pages 5\nset large off\nshow pages\nshow large\n"
               "break on a skip page\nbreak skip 1\nset pagesize 50001\nclear\n"
               "clear breaks\nshow breaks\n",
               0,
               "Error: SKIP PAGE is not supported. Usage: BREAK ON column [SKIP n] "
               "[NODUPLICATES|DUPLICATES] [ON column ...]\n"
               "Error: Usage: BREAK ON column [SKIP n] [NODUPLICATES|DUPLICATES] [ON column ...]\n"
               "Error: Usage: SET PAGESIZE n (0 to 50000; 0 prints a result as one page)\n"
               "Error: Usage: CLEAR BREAKS\n");
    EXPECT_EQ(run.out, ConnectedLine("b.db") +
                           "\npagesize 14\nlarge ON\nno breaks defined\n"
                           "break on DEPT skip 2 nodup\n"
                           "      on JOB dup\n"
                           "      on NAME nodup\n"
                           "pagesize 5\nlarge OFF\nbreaks cleared\nno breaks defined\n");
}

TEST_F(ConsoleTest, HelpAndScriptFiles) {
    ConsoleRun run = console_.Run({"--help"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(run.out.starts_with("Usage: korado [CONNECTION] [-c STATEMENT]... [-f FILE]...")) << run.out;

    // Scripts run from files, -f after -c.
    const std::string script = console_.Dir().File("script.sql");
    std::ofstream(script) << "select 'from the file' as origin;\r\n";
    run = Script("f.db", "", 0, "", {"-f", script, "-c", "select 'from -c' as origin"});
    EXPECT_LT(run.out.find("from -c"), run.out.find("from the file")) << run.out;
    run = console_.Run({Connection("f.db"), "-f", console_.Dir().File("missing.sql")});
    EXPECT_THAT(run.err, HasSubstr("Error: Cannot open the script"));
}

// The dictionary's answers on the sample database: a table's columns with their types, the names that
// match a pattern (letter case counts, everything after the first % is ignored), views and schemas.
TEST_F(ConsoleTest, DictionaryCommandsOnTheSampleDatabase) {
    ConsoleRun run = console_.Run({},
                                  "describe customers\n"
                                  "DESC main.products;\n"
                                  "desc MAIN.CUSTOMERS\n"
                                  "list tables ord%\n"
                                  "list tables 'ord%x'\n"
                                  "list tables Ord%\n"
                                  "list views\n"
                                  "list schemas\n");
    ASSERT_EQ(run.exit_status, 0) << run.Transcript();
    EXPECT_EQ(run.err, "");
    const std::string customers =
        "Name        Null?    Type\n"
        "----------- -------- ------------\n"
        "customer_id NOT NULL Integer\n"
        "name        NOT NULL VarWChar(60)\n"
        "city        NOT NULL VarWChar(40)\n"
        "country     NOT NULL VarWChar(40)\n"
        "email                VarWChar(80)\n"
        "created_on  NOT NULL DBDate\n";
    const std::string orders = "TABLE_NAME\n-----------\norder_lines\norders\n\n2 rows selected.\n";
    EXPECT_EQ(run.out.substr(run.out.find('\n') + 1),
              customers +
                  "Name       Null?    Type\n"
                  "---------- -------- -------------\n"
                  "product_id NOT NULL Integer\n"
                  "name       NOT NULL VarWChar(60)\n"
                  "category   NOT NULL VarWChar(30)\n"
                  "unit_price NOT NULL Numeric(10,2)\n" +
                  customers + orders + orders + "no rows selected\n" +
                  "VIEW_NAME\n------------\norder_totals\n\n1 row selected.\n"
                  "SCHEMA_NAME\n-----------\nmain\n\n1 row selected.\n");
}

// What the dictionary commands refuse, each on its own: the message, and the error counted (the script
// ends with WHENEVER's status).
TEST_F(ConsoleTest, DictionaryCommandsRefuseBadInput) {
    // Each message, and the commands that get it.
    const std::pair<std::string, std::vector<const char*>> cases[] = {
        {"Error: Usage: DESCRIBE [schema.]name\n", {"describe", "desc a.b.c", "desc \"open", "desc main."}},
        {"Error: A blank name names no table.\n", {"desc \"\"", "copy to \" \" using select 1"}},
        {"Error: Object nosuch does not exist.\n", {"desc nosuch"}},
        {"Error: Object Customers does not exist.\n", {"desc \"Customers\""}},
        {"Error: Object temp.customers does not exist.\n", {"desc temp.customers"}},
        {"Error: Usage: LIST TABLES [pattern], LIST VIEWS [pattern] or LIST SCHEMAS\n",
         {"list", "list tables a b", "list schemas main", "list 'tables'"}},
        {"Error: Usage: COPY TO table USING query\n",
         {"copy", "copy to t", "copy to t using", "copy to 'open using select 1"}},
        {"Error: Usage: CREATE DATABASE file\n", {"create database", "create database a b"}},
        {"Error: A blank name names no file.\n", {"create database ''"}},
    };
    for (const auto& [err, commands] : cases) {
        for (const char* command : commands) {
            SCOPED_TRACE(command);
            ConsoleRun run = console_.Run({}, std::string("whenever sqlerror exit 5\n") + command +
                                                  "\nselect 1 as one;\n");
            EXPECT_EQ(run.exit_status, 5) << run.Transcript();
            EXPECT_EQ(run.err, err);
            EXPECT_EQ(run.out.find("one"), std::string::npos) << run.out;
        }
    }
    // Without a connection the dictionary has nothing to answer from.
    ConsoleRun run = console_.Run({}, "disconnect\ndesc customers\nlist tables\ncopy to t using select 1\n");
    EXPECT_EQ(run.err, "Error: Not connected (CONNECT connects).\nError: Not connected (CONNECT connects).\n"
                       "Error: Not connected (CONNECT connects).\n");

    // Each command's --help is its HELP entry.
    for (const char* command : {"desc", "DESCRIBE", "list", "create database", "copy"}) {
        SCOPED_TRACE(command);
        const ConsoleRun help = console_.Run({"-c", std::string(command) + " --help"});
        const ConsoleRun all = console_.Run({"-c", "help"});
        EXPECT_EQ(help.err, "");
        std::string head = std::string("  ") + command;
        for (char& ch : head) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        const std::string entry = help.out.substr(help.out.find('\n') + 1);
        EXPECT_TRUE(entry.starts_with(head.substr(0, 6))) << entry;
        EXPECT_NE(all.out.find(entry), std::string::npos) << entry;
    }
}

// CREATE DATABASE makes a new SQLite file and connects to it, committing the connection before; the work
// after it is committed at the end like any session's. A file that exists is refused and the connection
// stays the one it was.
TEST_F(ConsoleTest, CreateDatabaseConnectsToTheNewFile) {
    const std::string made = console_.Dir().File("made.db");
    const std::string blanks = console_.Dir().File("my shop.db");
    ConsoleRun run = Script("first.db",
                            "create table old (n integer);\n"
                            "insert into old values (1);\n"
                            "create database " + made + "\n"
                            "create table t (n integer, label varchar(10));\n"
                            "insert into t values (7, 'seven');\n"
                            "list tables\n"
                            "create database '" + blanks + "'\n"
                            "show provider\n");
    EXPECT_THAT(run.out, HasSubstr("1 row affected.\nDatabase " + made + " created.\n" + ConnectedLine("made.db") +
                                   "\nStatement processed.\n1 row affected.\n"
                                   "TABLE_NAME\n----------\nt\n\n1 row selected.\nDatabase " +
                                   blanks + " created.\nConnected: "));
    EXPECT_THAT(run.out, HasSubstr("PROVIDER is \"SQLite\"\n"));
    EXPECT_THAT(Query("first.db", "select count(*) as n from old"), HasSubstr("n\n-\n1\n"));
    EXPECT_THAT(Query("made.db", "select * from t"), HasSubstr("\n7 seven\n"));
    EXPECT_TRUE(std::filesystem::exists(blanks));

    // An existing file is neither overwritten nor connected to; the session goes on where it was.
    run = console_.Run({Connection("first.db")}, "whenever sqlerror exit 3\ncreate database " + made +
                                                      "\nselect 1;\n");
    EXPECT_EQ(run.exit_status, 3) << run.Transcript();
    EXPECT_NE(run.err, "");
    EXPECT_EQ(run.out, ConnectedLine("first.db") + "\n");
    // Without WHENEVER the session goes on; the report is the one above (its log line has its own time).
    run = console_.Run({Connection("first.db")}, "create database " + made + "\ninsert into old values (2);\n");
    EXPECT_EQ(run.exit_status, 0) << run.Transcript();
    EXPECT_NE(run.err, "");
    EXPECT_THAT(Query("first.db", "select count(*) as n from old"), HasSubstr("n\n-\n2\n"));
    EXPECT_THAT(Query("made.db", "select count(*) as n from t"), HasSubstr("n\n-\n1\n"));
}

// COPY TO makes a table with the query's columns and copies its rows: read back, they are the query's rows.
// Under AUTOCOMMIT the copy commits as one; otherwise ROLLBACK takes it back with the table.
TEST_F(ConsoleTest, CopyToMakesATableOfTheQuerysRows) {
    const std::string query =
        "select o.order_id, o.order_date, c.name, c.email, l.quantity, l.unit_price\n"
        "  from orders o join customers c on c.customer_id = o.customer_id\n"
        "  join order_lines l on l.order_id = o.order_id where o.order_id between 1001 and 1012";
    ConsoleRun run = console_.Run({}, "set pagesize 0\n" + query + " order by 1, 5, 6;\n");
    ASSERT_EQ(run.exit_status, 0) << run.Transcript();
    const std::string original = run.out.substr(run.out.find('\n') + 1);
    ASSERT_THAT(original, HasSubstr(" rows selected.\n"));
    const std::string count = original.substr(original.rfind('\n', original.size() - 2) + 1);

    // The command is one line.
    std::string one_line = query;
    std::replace(one_line.begin(), one_line.end(), '\n', ' ');
    run = console_.Run({}, "set pagesize 0\ncopy to order_copy using " + one_line +
                               "\n"
                               "desc order_copy\n"
                           "select * from order_copy order by 1, 5, 6;\n");
    EXPECT_EQ(run.exit_status, 0) << run.Transcript();
    EXPECT_EQ(run.err, "");
    const std::string rows = count.substr(0, count.find(' '));
    EXPECT_THAT(run.out, HasSubstr("Table order_copy created.\n" + rows + " rows copied.\n"));
    EXPECT_THAT(run.out, HasSubstr("order_date       DBDate\nname             VarWChar(60)\n"));
    EXPECT_THAT(run.out, HasSubstr(original));

    // A quoted name with a blank, under AUTOCOMMIT; then the same name again: the table exists.
    run = console_.Run({}, "set autocommit on\n"
                           "copy to \"line copy\" using select * from order_lines where order_id = 1002\n"
                           "rollback\n"
                           "select count(*) as n from \"line copy\";\n"
                           "whenever sqlerror exit 4\n"
                           "copy to \"line copy\" using select * from order_lines\n");
    EXPECT_EQ(run.exit_status, 4) << run.Transcript();
    EXPECT_THAT(run.out, HasSubstr("Table line copy created.\n4 rows copied.\nRollback complete.\nn\n-\n4\n"));
    EXPECT_NE(run.err, "");
    EXPECT_THAT(console_.Run({}, "select count(*) as n from \"line copy\";\n").out, HasSubstr("n\n-\n4\n"));

    // Without AUTOCOMMIT the copy is part of the session's transaction.
    run = console_.Run({}, "copy to gone using select * from products\nrollback\ndesc gone\n");
    EXPECT_THAT(run.out, HasSubstr("Table gone created.\n24 rows copied.\nRollback complete.\n"));
    EXPECT_EQ(run.err, "Error: Object gone does not exist.\n");

    // Names that read as SQL are names: the rows go to the columns the table got, brackets and backquotes
    // made "_", and the table the name seems to drop is still there.
    run = console_.Run({}, "copy to \"x\"\"; DROP TABLE products; --\" using "
                           "select 1 as \"a]b\", 2 as \"c\"\"d\", 3 as \"e`f\"\n"
                           "select * from \"x\"\"; DROP TABLE products; --\";\n"
                           "select count(*) as n from products;\n");
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, HasSubstr("1 row copied.\na_b c\"d e_f\n--- --- ---\n  1   2   3\n"));
    EXPECT_THAT(run.out, HasSubstr("n\n--\n24\n"));
}

}  // namespace
}  // namespace korado::test
