// The native PostgreSQL provider against libpq itself, on the PostgreSQL of scripts/services:
//   BM_LibpqSingleRow       the million rows of BM_OdbcRawBlock's table read by a plain libpq loop in
//                           single-row mode that converts every value to its platform type;
//   BM_PgNativeForwardOnly  the same rows through a forward-only ADODB.Recordset over "Provider=PostgreSQL",
//                           inside a transaction as the library's sessions read, every field's value read;
//                           counter peak_rss_growth_mb: the read streams, it does not hold the result;
//   BM_LibpqPreparedInsert  10,000 one-row INSERTs with three parameters, one prepared statement, one
//                           transaction;
//   BM_PgNativeInsert       the same through clsADO::ExecuteSQL with three bind variables.
// Targets: BM_PgNativeForwardOnly within 1.3x BM_LibpqSingleRow and at least 3x faster than
// BM_OdbcRowByRow; BM_PgNativeInsert within 2x BM_LibpqPreparedInsert; under 16 MB of peak memory growth.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_servers.h"
#include "dataaccess/providers/odbc/odbc_provider.h"
#include "korado/connection/clsADO.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/platform/adodb.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kInserts = 10000;
constexpr const char* kTable = "korado_bench_rows";
constexpr const char* kSelect =
    "SELECT id, qty, price, amount, name, created, stamp, flag FROM korado_bench_rows ORDER BY id";

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string Port() { return Env("KORADO_PG_PORT").empty() ? "5432" : Env("KORADO_PG_PORT"); }

std::string LibpqConninfo() {
    return "host=127.0.0.1 port=" + Port() + " dbname=korado user=" + Env("KORADO_PG_USER") +
           " password=" + Env("KORADO_PG_PASSWORD");
}

std::string NativeSource() { return "Provider=PostgreSQL;Data Source=127.0.0.1:" + Port() + "/korado"; }

bool Exec(PGconn* c, const std::string& sql, std::string* first = nullptr) {
    PGresult* r = PQexec(c, sql.c_str());
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (ok && first && PQntuples(r) > 0) *first = PQgetvalue(r, 0, 0);
    PQclear(r);
    return ok;
}

// The rows of BM_OdbcRawBlock's table, made here as there when a run has not made them yet.
bool PrepareTable(std::string& why) {
    static bool ready = false;
    static bool tried = false;
    static std::string failure;
    if (!tried) {
        tried = true;
        if (PrepareServers(failure)) {
            PGconn* c = PQconnectdb(LibpqConninfo().c_str());
            std::string count;
            if (PQstatus(c) != CONNECTION_OK) {
                failure = PQerrorMessage(c);
            } else if (Exec(c, std::string("SELECT count(*) FROM ") + kTable, &count) &&
                       count == std::to_string(kRows)) {
                ready = true;
            } else {
                ready =
                    Exec(c, std::string("DROP TABLE IF EXISTS ") + kTable) &&
                    Exec(c, std::string("CREATE TABLE ") + kTable +
                                " (id integer PRIMARY KEY, qty bigint, price double precision, amount "
                                "numeric(12,2), name varchar(40), created date, stamp timestamp, flag "
                                "boolean)") &&
                    Exec(c, std::string("INSERT INTO ") + kTable +
                                " SELECT g, g * 10, g * 0.5, (g % 100000) / 100.0, 'name ' || g, date "
                                "'2020-01-01' + g % 1000, timestamp '2020-01-01' + g * interval '1 second', "
                                "g % 2 = 0 FROM generate_series(1, " +
                                std::to_string(kRows) + ") g") &&
                    Exec(c, std::string("ANALYZE ") + kTable);
                if (!ready) failure = PQerrorMessage(c);
            }
            PQfinish(c);
        }
    }
    why = failure;
    return ready;
}

// The peak resident set's growth over one read (as dynaset_bench.cpp measures it).
double StatusMegabytes(const char* key) {
    double kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const std::size_t n = std::strlen(key);
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, key, n) == 0) {
                std::sscanf(line + n, "%lf", &kb);
                break;
            }
        }
        std::fclose(f);
    }
    return kb / 1024.0;
}

class PeakWatch {
  public:
    PeakWatch() {
        FILE* f = std::fopen("/proc/self/clear_refs", "w");
        const bool reset = f && std::fputs("5", f) >= 0 && std::fclose(f) == 0;
        if (f && !reset) std::fclose(f);
        base_ = reset ? StatusMegabytes("VmRSS:") : StatusMegabytes("VmHWM:");
    }
    double Growth() const { return std::max(0.0, StatusMegabytes("VmHWM:") - base_); }

  private:
    double base_ = 0;
};

int Digits(const char* p, int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
    return v;
}

void BM_LibpqSingleRow(benchmark::State& state) {
    using namespace korado;
    std::string why;
    if (!PrepareTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    PGconn* c = PQconnectdb(LibpqConninfo().c_str());
    std::vector<Variant> values(8);
    std::int64_t sum = 0;
    for (auto _ : state) {
        PQsendQuery(c, kSelect);
        PQsetSingleRowMode(c);
        int rows = 0;
        while (PGresult* r = PQgetResult(c)) {
            if (PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
                std::int32_t id = 0;
                std::from_chars(PQgetvalue(r, 0, 0), PQgetvalue(r, 0, 0) + PQgetlength(r, 0, 0), id);
                values[0].Assign(id);
                std::int64_t qty = 0;
                std::from_chars(PQgetvalue(r, 0, 1), PQgetvalue(r, 0, 1) + PQgetlength(r, 0, 1), qty);
                values[1].Assign(qty);
                double price = 0;
                std::from_chars(PQgetvalue(r, 0, 2), PQgetvalue(r, 0, 2) + PQgetlength(r, 0, 2), price);
                values[2].Assign(price);
                Decimal amount;
                dataaccess::odbc::ParsePlainDecimal(
                    std::string_view(PQgetvalue(r, 0, 3), PQgetlength(r, 0, 3)), amount);
                values[3].Assign(amount);
                values[4].AssignString(std::string_view(PQgetvalue(r, 0, 4), PQgetlength(r, 0, 4)));
                const char* d = PQgetvalue(r, 0, 5);
                values[5].Assign(DateFromParts({Digits(d, 4), Digits(d + 5, 2), Digits(d + 8, 2)}));
                const char* t = PQgetvalue(r, 0, 6);
                values[6].Assign(DateFromParts({Digits(t, 4), Digits(t + 5, 2), Digits(t + 8, 2),
                                                Digits(t + 11, 2), Digits(t + 14, 2), Digits(t + 17, 2)}));
                values[7].Assign(PQgetvalue(r, 0, 7)[0] == 't');
                sum += id;
                ++rows;
            }
            PQclear(r);
        }
        if (rows != kRows) state.SkipWithError("wrong row count");
    }
    PQfinish(c);
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_LibpqSingleRow)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PgNativeForwardOnly(benchmark::State& state) {
    using namespace korado;
    std::string why;
    if (!PrepareTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    Ref<ado::Connection> connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open(NativeSource(), Env("KORADO_PG_USER"), Env("KORADO_PG_PASSWORD"));
    connection->BeginTrans();
    std::int64_t sum = 0;
    double peak = 0;
    for (auto _ : state) {
        PeakWatch watch;
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(ado::adUseServer);
        rs->Open(Variant(kSelect), Variant(connection), ado::adOpenForwardOnly, ado::adLockReadOnly);
        Ref<ado::Fields> fields = rs->Fields();
        const std::int32_t count = fields->Count();
        int rows = 0;
        while (!rs->Eof()) {
            for (std::int32_t i = 0; i < count; ++i) {
                const Variant& v = fields->At(i)->Value();
                if (i == 0 && !v.IsNull()) sum += *v.get_if<std::int32_t>();
            }
            ++rows;
            rs->MoveNext();
        }
        rs->Close();
        peak = std::max(peak, watch.Growth());
        if (rows != kRows) state.SkipWithError("wrong row count");
    }
    connection->CommitTrans();
    connection->Close();
    benchmark::DoNotOptimize(sum);
    state.counters["peak_rss_growth_mb"] = peak;
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_PgNativeForwardOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr const char* kInsertTable = "korado_bench_insert";

bool PrepareInsertTable(std::string& why) {
    if (!PrepareServers(why)) return false;
    PGconn* c = PQconnectdb(LibpqConninfo().c_str());
    // Every round's rows are rolled back; the vacuum clears what earlier runs left, so that a run's inserts
    // do not slow down with the table's dead rows.
    bool ok = PQstatus(c) == CONNECTION_OK &&
              Exec(c, std::string("CREATE TABLE IF NOT EXISTS ") + kInsertTable +
                          " (a integer, b varchar(50), c double precision)") &&
              Exec(c, std::string("VACUUM ") + kInsertTable);
    if (!ok) why = PQerrorMessage(c);
    PQfinish(c);
    return ok;
}

void BM_LibpqPreparedInsert(benchmark::State& state) {
    std::string why;
    if (!PrepareInsertTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    PGconn* c = PQconnectdb(LibpqConninfo().c_str());
    const Oid types[] = {23, 0, 701};
    PQclear(PQprepare(c, "ins", (std::string("INSERT INTO ") + kInsertTable + " VALUES ($1, $2, $3)").c_str(),
                      3, types));
    for (auto _ : state) {
        Exec(c, "BEGIN");
        for (int i = 0; i < kInserts; ++i) {
            std::string a = std::to_string(i), b = "row " + std::to_string(i), cc = std::to_string(i * 0.5);
            const char* values[] = {a.c_str(), b.c_str(), cc.c_str()};
            PGresult* r = PQexecPrepared(c, "ins", 3, values, nullptr, nullptr, 0);
            if (PQresultStatus(r) != PGRES_COMMAND_OK) state.SkipWithError(PQerrorMessage(c));
            PQclear(r);
        }
        Exec(c, "ROLLBACK");
    }
    PQfinish(c);
    state.SetItemsProcessed(state.iterations() * kInserts);
}
BENCHMARK(BM_LibpqPreparedInsert)->Unit(benchmark::kMillisecond);

void BM_PgNativeInsert(benchmark::State& state) {
    using namespace korado;
    std::string why;
    if (!PrepareInsertTable(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    {
        Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
        ado->Constructor(nullptr, true, 30, korParamIn, korTypeOther, 100, 1000);
        std::string user = Env("KORADO_PG_USER"), password = Env("KORADO_PG_PASSWORD"), dsn;
        Variant cs(NativeSource());
        if (!ado->Connect(user, password, dsn, cs)) state.SkipWithError("connect failed");
        Ref<clsBindVariables> vars = ado->BindVariables();
        Ref<clsParameter> a = vars->Add("a"), b = vars->Add("b"), c = vars->Add("c");
        a->SetDataType(korTypeNumber);
        b->SetDataType(korTypeVarchar2);
        c->SetDataType(korTypeNumber);
        Ref<Collection> names = MakeCollection({"a", "b", "c"});
        const std::string text = std::string("insert into ") + kInsertTable + " values (:a, :b, :c)";
        std::string sql;
        for (auto _ : state) {
            for (int i = 0; i < kInserts; ++i) {
                a->SetValue(i);
                b->SetValue("row " + std::to_string(i));
                c->SetValue(i * 0.5);
                sql.assign(text);
                std::int32_t affected = 0;
                Ref<ado::Recordset> rs;
                ado->ExecuteSQL(sql, names, affected, rs);
                if (affected != 1) state.SkipWithError("insert failed");
            }
            ado->Rollback();
        }
        ado->SetAllowTransactions(false);
        ado->Disconnect();
        ado->Destructor();
    }
    ReleaseGlobals();
    state.SetItemsProcessed(state.iterations() * kInserts);
}
BENCHMARK(BM_PgNativeInsert)->Unit(benchmark::kMillisecond);

}  // namespace
