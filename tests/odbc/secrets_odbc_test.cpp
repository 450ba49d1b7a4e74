// Passwords against the real servers: a session connects with the password in every letter case of its key
// and every quoting, fails with a wrong one (full of the connection-string syntax's own characters) and
// with a wrong data source, reconnects, and then nothing it handed back, raised, showed or wrote holds a
// piece of either password. The console does the same and its screen, history and error log are read.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "korado/errors/clsADOError.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/convert.h"
#include "support/console_runner.h"
#include "support/odbc_servers.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado::test {
namespace {

#ifndef KORADO_APP_PATH
#define KORADO_APP_PATH ""
#endif

const std::string kWrongPassword = "Wq;7}xK'v\"m=Z}";
const std::string kWrongPlainPassword = "Wq7xKvmZ";

// `value` as the connection-string syntax quotes it: braced ("}}" for "}"), or in double or single quotes
// (the quote doubled); a blank: as it is.
std::string Quoted(const std::string& value, char open) {
    if (open == ' ') return value;
    const char close = open == '{' ? '}' : open;
    std::string out(1, open);
    for (char c : value) {
        if (c == close) out += c;
        out += c;
    }
    return out + close;
}

// Everything a session showed, by where it showed it.
struct Outputs {
    std::vector<std::pair<std::string, std::string>> texts;
    void Add(const std::string& where, const std::string& text) { texts.emplace_back(where, text); }
    void AddSession(const std::string& step, Session& s) {
        for (const auto& box : s.boxes().Shown()) Add(step + " message box", box.title + "\n" + box.text);
        for (const auto& r : s.errors().Reports())
            Add(step + " error report", r.source + "\n" + r.description);
        for (const auto& [text, title] : s.errors().Log().alerts) Add(step + " alert", text + CStr(title));
        Add(step + " server error", s.ado().LastServerErrText());
        if (g_ADOError) Add(step + " shared error", g_ADOError->LastErrText());
        Ref<ado::Connection> c = s.ado().Connection();
        if (!c) return;
        Add(step + " ConnectionString", c->ConnectionString());
        Ref<ado::Errors> errors = c->Errors();
        for (std::int32_t i = 0; i < errors->Count(); ++i)
            Add(step + " Errors", errors->Item(Variant(i))->Description());
        Ref<ado::Properties> properties = c->Properties();
        for (std::int32_t i = 0; i < properties->Count(); ++i) {
            Ref<ado::Property> p = properties->Item(Variant(i));
            if (!p->Value().IsNull()) Add(step + " property " + p->Name(), CStr(p->Value()));
        }
        s.boxes().Clear();
        s.errors().Clear();
    }
    // Fails for each text holding `piece` characters in a row of `secret`.
    void ExpectNone(const std::string& secret, std::size_t piece = 4) const {
        for (const auto& [where, text] : texts)
            for (std::size_t i = 0; i + piece <= secret.size(); ++i)
                EXPECT_EQ(text.find(secret.substr(i, piece)), std::string::npos)
                    << "\"" << secret.substr(i, piece) << "\" in " << where << ":\n"
                    << text;
    }
};

class Secrets : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (!Target().server) GTEST_SKIP() << "no password to keep";
        KORADO_REQUIRE_ODBC(Target());
    }
    const OdbcTarget& Target() const { return GetOdbcTarget(GetParam()); }
    bool Odbc() const { return Target().provider == "MSDASQL"; }
    // The source with the account's user and `password_entry`, last.
    std::string With(const std::string& source, const std::string& password_entry) const {
        return source + (Odbc() ? "UID=" : "User ID=") + Target().user + ";" + password_entry + ";";
    }
    std::string WrongSource() const {
        return Odbc() ? "DSN=ko_no_such_dsn;" : "Provider=PostgreSQL;Data Source=127.0.0.1:1/korado;";
    }
};

TEST_P(Secrets, NoOutputHoldsAPassword) {
    const OdbcTarget& t = Target();
    Outputs out;
    for (const char* key : {"PWD", "Password", "pwd", "PASSWORD"}) {
        // A value as it is too. Its entry ends with ";": the string handed back keeps a plain last entry
        // that no ";" closes, as it always has (the host wrote it there itself).
        for (char open : {'{', '"', '\'', ' '}) {
            const std::string step = std::string(key) + "=" + open;
            Session s;
            ConnectResult r = s.Connect(With(t.Source(), key + ("=" + Quoted(t.password, open))));
            ASSERT_TRUE(r.ok) << step;
            out.Add(step + " handed back", r.user + "\n" + r.dsn + "\n" + r.connection_string);
            out.Add(step + " Extended Properties", s.ado().ConnectionProperty("Extended Properties"));
            s.ado().Reconnect();
            EXPECT_TRUE(s.ado().IsConnected()) << step;
            out.AddSession(step + " connected", s);

            for (const std::string& source : {t.Source(), WrongSource()}) {
                const std::string& wrong = open == ' ' ? kWrongPlainPassword : kWrongPassword;
                const std::string cs = With(source, key + ("=" + Quoted(wrong, open)));
                std::optional<Error> e = RaisedError([&] { r = s.Connect(cs); });
                ASSERT_FALSE(r.ok && !e) << cs;
                std::string told = e ? e->Source() + "\n" + e->Description() : "";
                for (const auto& report : s.errors().Reports()) told += "\n" + report.description;
                // The password arrived whole: the server refused it, the driver did not stumble on it.
                if (source == t.Source())
                    EXPECT_NE(
                        told.find(Odbc() && !t.IsPostgreSQL() ? "Access denied" : "password authentication"),
                        std::string::npos)
                        << cs << "\n"
                        << told;
                out.Add(step + " told", told);
                out.Add(step + " failed, handed back", r.connection_string);
                out.AddSession(step + " failed", s);
            }
        }
    }
    if (Odbc()) {  // the data source's own string, inside the platform's
        for (const std::string& password : {t.password, kWrongPassword}) {
            Session s;
            ConnectResult r;
            RaisedError([&] {
                r = s.Connect(
                    With(t.Source(), "Extended Properties=" + Quoted("PWD=" + Quoted(password, '{'), '"')));
            });
            EXPECT_EQ(r.ok, password == t.password);
            out.Add("nested, handed back", r.connection_string);
            out.AddSession("nested", s);
        }
    }
    // The test account's password begins with its user's name: it is looked for whole.
    out.ExpectNone(t.password, t.password.size());
    out.ExpectNone(kWrongPassword);
    out.ExpectNone(kWrongPlainPassword);
}

// A user or database name with the syntax's own characters, in each quoting, reaches the server as one
// name: the server refuses that very name, no key it seemed to hold took effect.
TEST_P(Secrets, NamesWithTheSyntaxCharactersArriveWhole) {
    const OdbcTarget& t = Target();
    const std::string password = (Odbc() ? "PWD=" : "Password=") + Quoted(t.password, '"') + ";";
    for (const std::string name : {"a;Database=other", "x' host=evil", "y}};DSN=korado_maria"}) {
        for (char open : {'{', '"', '\''}) {
            // psqlODBC takes a braced value with a "}" inside as written, braces and all: still one value.
            const bool as_written = Odbc() && t.IsPostgreSQL() && name.find('}') != std::string::npos;
            std::vector<std::pair<std::string, std::string>> cases = {
                {t.Source() + (Odbc() ? "UID=" : "User ID=") + Quoted(name, open) + ";" + password,
                 as_written ? Quoted(name, '{') : name}};
            if (!Odbc())
                cases.emplace_back(With(t.Source(), password + "Initial Catalog=" + Quoted(name, open)),
                                   name);
            for (const auto& [cs, refused] : cases) {
                Session s;
                ConnectResult r;
                std::optional<Error> e = RaisedError([&, &cs = cs] { r = s.Connect(cs); });
                std::string told = e ? e->Description() : "";
                for (const auto& report : s.errors().Reports()) told += "\n" + report.description;
                EXPECT_FALSE(r.ok) << cs;
                EXPECT_NE(told.find(refused), std::string::npos) << cs << "\n" << told;
            }
        }
    }
}

TEST_P(Secrets, TheConsoleShowsAndKeepsNoPassword) {
    if (std::string(KORADO_APP_PATH).empty()) GTEST_SKIP() << "built without the console host (korado_app)";
    const OdbcTarget& t = Target();
    ConsoleRunner console(KORADO_APP_PATH);
    std::vector<std::string> typed = {
        "connect " + With(t.Source(), "Pwd=" + Quoted(t.password, '"')),
        "connect " + With(t.Source(), "password=" + Quoted(kWrongPassword, '\'')),
        "connect " + With(WrongSource(), "PWD=" + Quoted(kWrongPassword, '{')),
    };
    if (Odbc()) {
        typed.push_back("CONNECT " + t.user + "/" + t.password + "@" + t.dsn);
        typed.push_back("CONNECT " + t.user + "/" + kWrongPassword + "@" + t.dsn);
    }
    typed.push_back("exit");
    ConsoleRun run = console.RunInTerminal({With(t.Source(), "PASSWORD=" + Quoted(t.password, '{'))}, typed);
    EXPECT_EQ(run.exit_status, 0) << run.out;
    EXPECT_NE(run.out.find("Connected: "), std::string::npos) << run.out;
    std::string screen = run.out;
    for (const std::string& line : typed) {
        const std::size_t echo = screen.find("SQL> " + line + "\n");
        ASSERT_NE(echo, std::string::npos) << "no echo of " << line << " in:\n" << run.out;
        screen.erase(echo + 5, line.size());
    }
    Outputs out;
    out.Add("screen", screen);
    for (const char* file : {"state/korado/history", "state/korado/error.log"}) {
        std::ostringstream text;
        text << std::ifstream(console.Dir().File(file), std::ios::binary).rdbuf();
        out.Add(file, text.str());
    }
    // The test account's password begins with its user's name: it is looked for whole.
    out.ExpectNone(t.password, t.password.size());
    out.ExpectNone(kWrongPassword);
}

INSTANTIATE_TEST_SUITE_P(Dsns, Secrets, ::testing::ValuesIn(OdbcTargetNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado::test
