#include "qt_support.h"

#include <QDir>
#include <cstdlib>

#include "korado/errors/modErrorHandler.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"

namespace korado::qt::test {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

bool ServersRequired() { return Env("KORADO_REQUIRE_SERVERS") == "1"; }

void SaveScreenshot(QWidget* widget, const std::string& name) {
    QDir().mkpath(KORADO_SCREENSHOT_DIR);
    const QString path = QString(KORADO_SCREENSHOT_DIR "/%1.png").arg(QString::fromStdString(name));
    EXPECT_TRUE(widget->grab().save(path)) << path.toStdString();
}

std::string PgUnavailable(PgAccount& account) {
    if (Env("ODBCINI").empty() || Env("ODBCSYSINI").empty())
        return "the ODBC test servers are not configured: run eval \"$(scripts/services env)\"";
    account.user = Env("KORADO_PG_USER");
    account.password = Env("KORADO_PG_PASSWORD");
    if (account.user.empty()) return "no PostgreSQL test account in the environment (KORADO_PG_USER)";
    static const std::string probed = [&] {
        std::string why;
        TryWith(
            [&] {
                Ref<ado::Connection> c = CreateObjectAs<ado::Connection>("ADODB.Connection");
                c->Open("Provider=MSDASQL;Data Source=" + account.dsn + ";User ID=" + account.user +
                        ";Password=" + account.password + ";");
                c->Close();
            },
            [&](const Error& e) { why = "PostgreSQL does not answer: " + e.Description(); });
        return why;
    }();
    return probed;
}

}  // namespace korado::qt::test

#include "korado/platform/modGlobals.h"

namespace korado::qt::test {

Session::Session() {
    ado_ = CreateObjectAs<clsADO>("korADO.clsADO");
    ado_->Constructor(nullptr, true, 30, 0, 0, 10, 100);
}

Session::~Session() {
    // A session keeps a transaction open, which Disconnect would refuse to end.
    TryIgnore([&] {
        if (ado_->Connection() && ado_->Connection()->State() == ado::adStateOpen)
            ado_->Connection()->RollbackTrans();
    });
    ado_->Disconnect();
    ado_->Destructor();
    ado_ = nullptr;
    ReleaseGlobals();
}

bool Session::Connect(const std::string& connection_string, std::string* failure) {
    std::string user, pass, dsn;
    Variant cs(connection_string);
    bool ok = false;
    TryWith([&] { ok = ado_->Connect(user, pass, dsn, cs); },
            [&](const Error& e) {
                if (failure) *failure = e.Description();
            });
    return ok;
}

}  // namespace korado::qt::test
