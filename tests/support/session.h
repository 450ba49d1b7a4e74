// A library session as a host holds one: a clsADO made through the class registry and constructed without a
// host script object (the library only keeps it), with the message boxes and the error component recorded.
// Destroying it ends the session the way a host must (Destructor) and drops the library-wide references, so
// that every test starts from a fresh library state and nothing leaks.
#pragma once

#include <memory>
#include <string>

#include "korado/connection/clsADO.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/parameters/clsSubstVariables.h"
#include "support/support.h"

namespace korado::test {

struct ConnectResult {
    bool ok = false;
    std::string user, password, dsn, connection_string;
};

class Session {
  public:
    explicit Session(bool allow_transactions = true, std::int32_t default_mode = 0,
                     std::int32_t default_type = 0);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    clsADO& ado() { return *ado_; }
    MessageBoxCapture& boxes() { return boxes_; }
    ErrorCapture& errors() { return errors_; }

    // Connect with the four by-reference arguments; returns what they came back as.
    ConnectResult Connect(const std::string& connection_string, std::string user = {}, std::string pass = {},
                          std::string dsn = {});
    // ExecuteSQL with the names given (none: a null name collection); returns the affected count.
    std::int32_t Execute(std::string sql, std::initializer_list<Variant> names = {},
                         Ref<ado::Recordset>* recordset = nullptr);
    // The first column of the first row of a query, read through ExecuteSQL.
    Variant Scalar(const std::string& sql);
    // CreateDynaset without bind variables.
    Ref<clsDynasetADO> Dynaset(std::string sql, bool large = false);

  private:
    MessageBoxCapture boxes_;
    ErrorCapture errors_;
    Ref<clsADO> ado_;
};

// "Provider=SQLite;Data Source=<file>".
inline std::string SqliteConnectionString(const std::string& file) {
    return "Provider=SQLite;Data Source=" + file;
}

}  // namespace korado::test
