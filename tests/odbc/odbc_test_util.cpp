#include "odbc/odbc_test_util.h"

#include <unistd.h>

namespace korado::test {

std::string Unique(const std::string& base) { return base + "_" + std::to_string(::getpid()); }

std::unique_ptr<Session> OpenSession(const OdbcTarget& target, std::string_view extra) {
    dataaccess::OpenRequest request;
    request.connection_string = dataaccess::ConnectionString::Parse(target.Source() + std::string(extra));
    request.user = target.user;
    request.password = target.password;
    return dataaccess::FindProvider(target.provider)->Open(request);
}

Rows ReadAll(Cursor& cursor) {
    Rows rows;
    std::size_t n = cursor.Columns().size();
    while (cursor.Next()) {
        std::vector<Variant> row(n);
        for (std::size_t i = 0; i < n; ++i) cursor.Read(i, row[i]);
        rows.push_back(std::move(row));
    }
    return rows;
}

Outcome RunSql(Session& session, std::string_view sql, std::vector<ParamBinding> params,
               ExecuteOptions options) {
    std::unique_ptr<Statement> statement = session.Prepare(sql, options);
    statement->Execute(params);
    Outcome outcome;
    bool first_rows = true;
    do {
        ++outcome.results;
        if (Cursor* cursor = statement->Result()) {
            Rows rows = ReadAll(*cursor);
            if (first_rows) {
                outcome.columns = cursor->Columns();
                outcome.rows = std::move(rows);
                first_rows = false;
            }
        } else {
            outcome.affected = statement->RowsAffected();
        }
    } while (statement->NextResult());
    return outcome;
}

void RunQuietly(Session& session, std::string_view sql) {
    try {
        RunSql(session, sql);
    } catch (const Error&) {
    }
}

ParamBinding In(std::int32_t type, Variant value, std::int32_t size) {
    return {.type = type, .direction = ado::adParamInput, .size = size, .value = std::move(value)};
}

ParamBinding Out(std::int32_t type, std::int32_t size) {
    return {.type = type, .direction = ado::adParamOutput, .size = size};
}

ParamBinding InOut(std::int32_t type, Variant value, std::int32_t size) {
    return {.type = type, .direction = ado::adParamInputOutput, .size = size, .value = std::move(value)};
}

void OdbcTest::SetUp() {
    target_ = &GetOdbcTarget(GetParam());
    KORADO_REQUIRE_ODBC(*target_);
    session_ = OpenSession(*target_);
}

std::string TargetName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

// Every OdbcTest body, in every file, runs once per DSN.
INSTANTIATE_TEST_SUITE_P(Dsn, OdbcTest, ::testing::ValuesIn(OdbcTargetNames()), TargetName);

}  // namespace korado::test
