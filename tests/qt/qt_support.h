// Driving the Qt views from a test: answering the modal dialogs they open, keeping screenshots, and the
// PostgreSQL data source of scripts/services.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

namespace korado::qt::test {

// Saves what `widget` shows as <build>/screenshots/<name>.png.
void SaveScreenshot(QWidget* widget, const std::string& name);

// Runs `action` on the next modal dialog of type W once it is open (from inside its event loop). A dialog
// that never comes fails the test; one left open by a failed action is rejected so that no test hangs.
template <class W>
void WhenModal(std::function<void(W*)> action, int timeout_ms = 10000) {
    auto* timer = new QTimer(qApp);
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, waited, timeout_ms, action = std::move(action)] {
        if (auto* dialog = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(dialog);
            return;
        }
        if ((*waited += timer->interval()) > timeout_ms) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no " << W::staticMetaObject.className() << " opened";
            if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) other->reject();
        }
    });
    timer->start(10);
}

// The PostgreSQL data source and test account, from `eval "$(scripts/services env)"`.
struct PgAccount {
    std::string dsn = "korado_pg";
    std::string user;
    std::string password;
};
// Empty when the server can be used, else why not.
std::string PgUnavailable(PgAccount& account);
// True when CI demands the servers (KORADO_REQUIRE_SERVERS=1).
bool ServersRequired();

}  // namespace korado::qt::test

// Skips (or with KORADO_REQUIRE_SERVERS=1 fails) the test when PostgreSQL cannot be reached.
#define KORADO_REQUIRE_PG(account)                                            \
    do {                                                                      \
        std::string korado_why_ = ::korado::qt::test::PgUnavailable(account); \
        if (!korado_why_.empty()) {                                           \
            if (::korado::qt::test::ServersRequired()) FAIL() << korado_why_; \
            GTEST_SKIP() << korado_why_;                                      \
        }                                                                     \
    } while (0)

#include "korado/connection/clsADO.h"

namespace korado::qt::test {

// A library session as a host holds one; ends it the way a host must and drops the library-wide
// references, so that each test starts afresh.
class Session {
  public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    clsADO& ado() { return *ado_; }
    // Connect with this connection string; the error raised, if any, is handed back through `failure`.
    bool Connect(const std::string& connection_string, std::string* failure = nullptr);

  private:
    Ref<clsADO> ado_;
};

}  // namespace korado::qt::test
