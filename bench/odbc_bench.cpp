// Reading 1,000,000 rows of 8 mixed columns from PostgreSQL (DSN korado_pg), every field's value on every
// row, in one run:
//   BM_OdbcRowByRow     the loop typical ODBC wrappers use: the DSN as configured, one row per SQLFetch,
//                       SQLGetData per column;
//   BM_OdbcRawBlock     a raw block cursor: column arrays bound once, 500 rows per SQLFetch, with the driver
//                       options the bridge connects with (the best this driver does);
//   BM_OdbcForwardOnly  the same through a forward-only ADODB.Recordset over the bridge, inside a transaction
//                       as the library's sessions read (the bridge then keeps the server working ahead).
// Targets: BM_OdbcForwardOnly at least 2x faster than BM_OdbcRowByRow and within 1.3x BM_OdbcRawBlock.
// Three more show where the difference comes from: BM_OdbcRowByRowStreaming is the row-by-row loop with
// the bridge's driver options (psqlODBC streams through a server cursor instead of reading the whole result
// into memory first), BM_OdbcBridgeCursor reads through the provider's cursor without the platform objects,
// BM_OdbcForwardOnlyAutocommit reads outside a transaction, where psqlODBC fetches alone.
// BM_OdbcDynasetForwardOnly reads the same rows as a host does, through clsADO::CreateDynaset with
// IsLargeRecordset true in a session with transactions (target: within 1.3x BM_OdbcForwardOnly: the
// dynaset's own work per row, its fields' copies, the link check and the host's break check, stays small
// beside the driver's).
//
// The servers come from scripts/services: started when they are not running, their settings taken from
// `scripts/services env`. The table is created once and kept.
#include <benchmark/benchmark.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_servers.h"
#include "dataaccess/provider.h"
#include "korado/companions/script_object.h"
#include "korado/connection/clsADO.h"
#include "korado/parameters/clsParameter.h"
#include "korado/platform/adodb.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"

namespace {

constexpr int kRows = 1000000;
constexpr const char* kTable = "korado_bench_rows";
constexpr const char* kSelect =
    "SELECT id, qty, price, amount, name, created, stamp, flag FROM korado_bench_rows ORDER BY id";

// KORADO_BENCH_ODBC_ROWS reads fewer rows, for profiling under valgrind where a million take too long.
int ReadRows() {
    static const int rows = [] {
        const char* s = std::getenv("KORADO_BENCH_ODBC_ROWS");
        int n = s ? std::atoi(s) : kRows;
        return n > 0 && n < kRows ? n : kRows;
    }();
    return rows;
}
const char* SelectText() {
    static const std::string text =
        ReadRows() < kRows ? std::string(kSelect) + " LIMIT " + std::to_string(ReadRows()) : kSelect;
    return text.c_str();
}

std::string ConnectString() {
    return std::string("DSN=korado_pg;UID=") + std::getenv("KORADO_PG_USER") +
           ";PWD=" + std::getenv("KORADO_PG_PASSWORD") + ";";
}

// The options the bridge adds for psqlODBC (AddDriverOptions).
constexpr const char* kBridgeOptions = "Protocol=7.4-2;BoolsAsChar=0;UseDeclareFetch=1;Fetch=10000;";

// The raw loops' own connection: the driver manager and psqlODBC with nothing of the library in between.
struct RawConnection {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool ok = false;
    std::string error;

    explicit RawConnection(const std::string& options = {}) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::string cs = ConnectString() + options;
        SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, nullptr,
                                        0, nullptr, SQL_DRIVER_NOPROMPT);
        ok = SQL_SUCCEEDED(rc);
        if (!ok) error = Diagnostic(SQL_HANDLE_DBC, dbc);
    }
    ~RawConnection() {
        if (ok) SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    static std::string Diagnostic(SQLSMALLINT type, SQLHANDLE h) {
        SQLCHAR state[6] = {}, message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLGetDiagRec(type, h, 1, state, &native, message, sizeof message, &length);
        return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
    }
    bool Exec(const std::string& sql, std::string* first_value = nullptr) {
        SQLHSTMT stmt;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        SQLRETURN rc =
            SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
        bool good = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
        if (!good) error = Diagnostic(SQL_HANDLE_STMT, stmt);
        if (good && first_value && SQL_SUCCEEDED(SQLFetch(stmt))) {
            char buffer[64] = {};
            SQLLEN ind = 0;
            SQLGetData(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &ind);
            *first_value = buffer;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return good;
    }
};

// Creates and fills the table once; later runs find it.
bool PrepareTable(std::string& why) {
    static bool ready = false;
    static std::string failure;
    static bool tried = false;
    if (tried) {
        why = failure;
        return ready;
    }
    tried = true;
    if (!PrepareServers(failure)) {
        why = failure;
        return false;
    }
    RawConnection c;
    if (!c.ok) {
        why = failure = c.error;
        return false;
    }
    std::string count;
    if (c.Exec(std::string("SELECT count(*) FROM ") + kTable, &count) && count == std::to_string(kRows)) {
        ready = true;
        return true;
    }
    c.Exec(std::string("DROP TABLE IF EXISTS ") + kTable);
    bool made =
        c.Exec(std::string("CREATE TABLE ") + kTable +
               " (id integer PRIMARY KEY, qty bigint, price double precision, amount numeric(12,2), name "
               "varchar(40),"
               " created date, stamp timestamp, flag boolean)") &&
        c.Exec(std::string("INSERT INTO ") + kTable +
               " SELECT g, g * 10, g * 0.5, (g % 100000) / 100.0, 'name ' || g, date '2020-01-01' + g % 1000,"
               " timestamp '2020-01-01' + g * interval '1 second', g % 2 = 0 FROM generate_series(1, " +
               std::to_string(kRows) + ") g") &&
        c.Exec(std::string("ANALYZE ") + kTable);
    if (!made) {
        why = failure = c.error;
        return false;
    }
    ready = true;
    return true;
}

// What each loop does with every value, so that no read is optimised away.
struct Sink {
    std::int64_t sum = 0;
    void Add(std::int64_t v) { sum += v; }
};

void RowByRow(benchmark::State& state, const std::string& options) {
    std::string why;
    if (!PrepareTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    RawConnection c(options);
    Sink sink;
    for (auto _ : state) {
        SQLHSTMT stmt;
        SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &stmt);
        SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(SelectText())), SQL_NTS);
        int rows = 0;
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            SQLINTEGER id;
            SQLBIGINT qty;
            double price;
            char amount[64];
            SQLWCHAR name[82];
            SQL_DATE_STRUCT created;
            SQL_TIMESTAMP_STRUCT stamp;
            unsigned char flag;
            SQLLEN ind[8];
            SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &ind[0]);
            SQLGetData(stmt, 2, SQL_C_SBIGINT, &qty, 0, &ind[1]);
            SQLGetData(stmt, 3, SQL_C_DOUBLE, &price, 0, &ind[2]);
            SQLGetData(stmt, 4, SQL_C_CHAR, amount, sizeof amount, &ind[3]);
            SQLGetData(stmt, 5, SQL_C_WCHAR, name, sizeof name, &ind[4]);
            SQLGetData(stmt, 6, SQL_C_TYPE_DATE, &created, 0, &ind[5]);
            SQLGetData(stmt, 7, SQL_C_TYPE_TIMESTAMP, &stamp, 0, &ind[6]);
            SQLGetData(stmt, 8, SQL_C_BIT, &flag, 0, &ind[7]);
            sink.Add(id + qty + static_cast<std::int64_t>(price) + amount[0] + name[0] + created.day +
                     stamp.second + flag + ind[4]);
            ++rows;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        if (rows != ReadRows()) state.SkipWithError("wrong row count");
    }
    benchmark::DoNotOptimize(sink.sum);
    state.SetItemsProcessed(state.iterations() * ReadRows());
}
void BM_OdbcRowByRow(benchmark::State& state) { RowByRow(state, {}); }
BENCHMARK(BM_OdbcRowByRow)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OdbcRowByRowStreaming(benchmark::State& state) { RowByRow(state, kBridgeOptions); }
BENCHMARK(BM_OdbcRowByRowStreaming)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OdbcRawBlock(benchmark::State& state) {
    std::string why;
    if (!PrepareTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    RawConnection c(kBridgeOptions);
    Sink sink;
    constexpr SQLULEN kBlock = 500;
    std::vector<SQLINTEGER> id(kBlock);
    std::vector<SQLBIGINT> qty(kBlock);
    std::vector<double> price(kBlock);
    std::vector<char> amount(kBlock * 64);
    std::vector<SQLWCHAR> name(kBlock * 82);
    std::vector<SQL_DATE_STRUCT> created(kBlock);
    std::vector<SQL_TIMESTAMP_STRUCT> stamp(kBlock);
    std::vector<unsigned char> flag(kBlock);
    std::vector<SQLLEN> ind(kBlock * 8);
    for (auto _ : state) {
        SQLHSTMT stmt;
        SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &stmt);
        SQLULEN fetched = 0;
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlock), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(SelectText())), SQL_NTS);
        SQLBindCol(stmt, 1, SQL_C_SLONG, id.data(), sizeof(SQLINTEGER), &ind[0 * kBlock]);
        SQLBindCol(stmt, 2, SQL_C_SBIGINT, qty.data(), sizeof(SQLBIGINT), &ind[1 * kBlock]);
        SQLBindCol(stmt, 3, SQL_C_DOUBLE, price.data(), sizeof(double), &ind[2 * kBlock]);
        SQLBindCol(stmt, 4, SQL_C_CHAR, amount.data(), 64, &ind[3 * kBlock]);
        SQLBindCol(stmt, 5, SQL_C_WCHAR, name.data(), 82 * sizeof(SQLWCHAR), &ind[4 * kBlock]);
        SQLBindCol(stmt, 6, SQL_C_TYPE_DATE, created.data(), sizeof(SQL_DATE_STRUCT), &ind[5 * kBlock]);
        SQLBindCol(stmt, 7, SQL_C_TYPE_TIMESTAMP, stamp.data(), sizeof(SQL_TIMESTAMP_STRUCT),
                   &ind[6 * kBlock]);
        SQLBindCol(stmt, 8, SQL_C_BIT, flag.data(), 1, &ind[7 * kBlock]);
        std::size_t rows = 0;
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            for (SQLULEN r = 0; r < fetched; ++r) {
                sink.Add(id[r] + qty[r] + static_cast<std::int64_t>(price[r]) + amount[r * 64] +
                         name[r * 82] + created[r].day + stamp[r].second + flag[r] + ind[4 * kBlock + r]);
            }
            rows += fetched;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        if (rows != static_cast<std::size_t>(ReadRows())) state.SkipWithError("wrong row count");
    }
    benchmark::DoNotOptimize(sink.sum);
    state.SetItemsProcessed(state.iterations() * ReadRows());
}
BENCHMARK(BM_OdbcRawBlock)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OdbcBridgeCursor(benchmark::State& state) {
    using namespace korado;
    std::string why;
    if (!PrepareTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    dataaccess::OpenRequest request;
    request.connection_string = dataaccess::ConnectionString::Parse("DSN=korado_pg");
    request.user = std::getenv("KORADO_PG_USER");
    request.password = std::getenv("KORADO_PG_PASSWORD");
    std::unique_ptr<dataaccess::Session> session = dataaccess::FindProvider("MSDASQL")->Open(request);
    Sink sink;
    std::vector<Variant> values(8);
    for (auto _ : state) {
        std::unique_ptr<dataaccess::Statement> st = session->Prepare(SelectText(), {});
        st->Execute({});
        dataaccess::Cursor* cursor = st->Result();
        int rows = 0;
        while (cursor->Next()) {
            for (std::size_t i = 0; i < values.size(); ++i) cursor->Read(i, values[i]);
            sink.Add(values[0].IsNull() ? 0 : *values[0].get_if<std::int32_t>());
            ++rows;
        }
        if (rows != ReadRows()) state.SkipWithError("wrong row count");
    }
    benchmark::DoNotOptimize(sink.sum);
    state.SetItemsProcessed(state.iterations() * ReadRows());
}
BENCHMARK(BM_OdbcBridgeCursor)->Unit(benchmark::kMillisecond)->Iterations(3);

void ForwardOnly(benchmark::State& state, bool in_transaction) {
    using namespace korado;
    std::string why;
    if (!PrepareTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    Ref<ado::Connection> connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open("DSN=korado_pg", std::getenv("KORADO_PG_USER"), std::getenv("KORADO_PG_PASSWORD"));
    if (in_transaction) connection->BeginTrans();
    Sink sink;
    for (auto _ : state) {
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(ado::adUseServer);
        rs->Open(Variant(SelectText()), Variant(connection), ado::adOpenForwardOnly, ado::adLockReadOnly);
        Ref<ado::Fields> fields = rs->Fields();
        const std::int32_t count = fields->Count();
        int rows = 0;
        while (!rs->Eof()) {
            for (std::int32_t i = 0; i < count; ++i) {
                const Variant& v = fields->At(i)->Value();
                if (i == 0 && !v.IsNull()) sink.Add(*v.get_if<std::int32_t>());
            }
            ++rows;
            rs->MoveNext();
        }
        rs->Close();
        if (rows != ReadRows()) state.SkipWithError("wrong row count");
    }
    if (in_transaction) connection->CommitTrans();
    connection->Close();
    benchmark::DoNotOptimize(sink.sum);
    state.SetItemsProcessed(state.iterations() * ReadRows());
}
// Inside a transaction, as the library's sessions read.
void BM_OdbcForwardOnly(benchmark::State& state) { ForwardOnly(state, true); }
BENCHMARK(BM_OdbcForwardOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OdbcForwardOnlyAutocommit(benchmark::State& state) { ForwardOnly(state, false); }
BENCHMARK(BM_OdbcForwardOnlyAutocommit)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OdbcDynasetForwardOnly(benchmark::State& state) {
    using namespace korado;
    std::string why;
    if (!PrepareTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
    ado->Constructor(CreateObjectAs<Dispatch>(companions::kScriptObject), true, 0, korParamIn, korTypeVarchar2,
                     10, 100);
    std::string user = std::getenv("KORADO_PG_USER"), password = std::getenv("KORADO_PG_PASSWORD"), dsn;
    Variant connection_string("DSN=korado_pg");
    if (!ado->Connect(user, password, dsn, connection_string)) {
        state.SkipWithError("cannot connect to korado_pg");
        return;
    }
    Sink sink;
    for (auto _ : state) {
        std::string sql = SelectText();
        Ref<Collection> names;
        bool large = true;
        Ref<clsDynasetADO> dynaset = ado->CreateDynaset(sql, names, large);
        if (!dynaset) {
            state.SkipWithError("the dynaset did not open");
            break;
        }
        std::vector<Ref<clsFieldADO>> columns;
        for (std::int32_t i = 0; i < dynaset->FieldsCollection()->Count(); ++i)
            columns.push_back(dynaset->FieldsCollection()->Item(Variant(i)));
        int rows = 0;
        while (!dynaset->EOF_()) {
            for (const Ref<clsFieldADO>& field : columns) benchmark::DoNotOptimize(&field->ReadValue());
            if (const auto* id = columns[0]->ReadValue().get_if<std::int32_t>()) sink.Add(*id);
            ++rows;
            dynaset->MoveNext();
        }
        columns.clear();
        dynaset->Detach();
        dynaset->Destructor();
        if (rows != ReadRows()) state.SkipWithError("wrong row count");
    }
    ado->Commit();
    ado->Disconnect();
    ado->Destructor();
    benchmark::DoNotOptimize(sink.sum);
    state.SetItemsProcessed(state.iterations() * ReadRows());
}
BENCHMARK(BM_OdbcDynasetForwardOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
