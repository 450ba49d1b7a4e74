#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <memory>

#include "korado/qt/data_link_dialog.h"

namespace korado::qt {
namespace {

struct EnvironmentDeleter {
    void operator()(SQLHENV env) const noexcept { SQLFreeHandle(SQL_HANDLE_ENV, env); }
};
using Environment = std::unique_ptr<std::remove_pointer_t<SQLHENV>, EnvironmentDeleter>;

void Collect(SQLHENV env, SQLUSMALLINT first, std::vector<std::string>& names) {
    SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
    SQLCHAR description[512];
    SQLSMALLINT name_length = 0, description_length = 0;
    for (SQLUSMALLINT direction = first;; direction = SQL_FETCH_NEXT) {
        SQLRETURN rc = SQLDataSources(env, direction, name, sizeof name, &name_length, description,
                                      sizeof description, &description_length);
        if (!SQL_SUCCEEDED(rc)) break;
        names.emplace_back(reinterpret_cast<const char*>(name));
    }
}

}  // namespace

std::vector<std::string> OdbcDataSources() {
    SQLHENV raw = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) return {};
    Environment env(raw);
    SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);

    std::vector<std::string> names;
    Collect(env.get(), SQL_FETCH_FIRST_USER, names);
    Collect(env.get(), SQL_FETCH_FIRST_SYSTEM, names);
    // A name defined both for the user and for the system is one data source to choose (the user's wins
    // when the driver manager connects).
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

}  // namespace korado::qt
