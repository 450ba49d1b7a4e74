// ExecuteSQL against the raw driver: 10,000 one-row INSERTs with three bind variables into an SQLite file,
// inside one transaction. BM_ExecuteSQLInsert goes through the connection object (the connection check,
// bind-variable rewriting, the platform Command of the last statement bound again, output-value
// population); BM_RawPreparedInsert prepares once and binds and steps per row. The library's target:
// within 2x the raw loop.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <random>
#include <string>
#include <string_view>

#include "korado/connection/clsADO.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/registry.h"

namespace {

constexpr int kRows = 10000;

std::string FreshDatabase(const char* tag) {
    auto dir = std::filesystem::temp_directory_path() / ("korado-bench-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    std::string file = (dir / (std::string(tag) + ".db")).string();
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "create table t (a integer, b varchar(50), c real)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return file;
}

void BM_RawPreparedInsert(benchmark::State& state) {
    std::string file = FreshDatabase("raw");
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    for (auto _ : state) {
        sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "insert into t values (?, ?, ?)", -1, &stmt, nullptr);
        for (int i = 0; i < kRows; ++i) {
            std::string text = "row " + std::to_string(i);
            sqlite3_bind_int(stmt, 1, i);
            sqlite3_bind_text(stmt, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(stmt, 3, i * 0.5);
            if (sqlite3_step(stmt) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
        sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    std::filesystem::remove_all(std::filesystem::path(file).parent_path());
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_RawPreparedInsert)->Unit(benchmark::kMillisecond);

void BM_ExecuteSQLInsert(benchmark::State& state) {
    using namespace korado;
    std::string file = FreshDatabase("library");
    {
        Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
        ado->Constructor(nullptr, true, 30, korParamIn, korTypeOther, 100, 1000);
        std::string user, pass, dsn;
        Variant cs("Provider=SQLite;Data Source=" + file);
        if (!ado->Connect(user, pass, dsn, cs)) state.SkipWithError("connect failed");
        Ref<clsBindVariables> vars = ado->BindVariables();
        Ref<clsParameter> a = vars->Add("a"), b = vars->Add("b"), c = vars->Add("c");
        a->SetDataType(korTypeNumber);
        b->SetDataType(korTypeVarchar2);
        c->SetDataType(korTypeNumber);
        Ref<Collection> names = MakeCollection({"a", "b", "c"});
        // ExecuteSQL rewrites the text it is given, so a host running one statement again refills its own
        // buffer: what is measured is the library's work, not the host's allocating a new string each time.
        constexpr std::string_view kText = "insert into t values (:a, :b, :c)";
        std::string sql;
        for (auto _ : state) {
            for (int i = 0; i < kRows; ++i) {
                a->SetValue(i);
                b->SetValue("row " + std::to_string(i));
                c->SetValue(i * 0.5);
                sql.assign(kText);
                std::int32_t affected = 0;
                Ref<ado::Recordset> rs;
                ado->ExecuteSQL(sql, names, affected, rs);
                if (affected != 1) state.SkipWithError("insert failed");
            }
            ado->Rollback();
        }
        ado->SetAllowTransactions(false);  // commits the transaction Rollback opened, so Close may go ahead
        ado->Disconnect();
        ado->Destructor();
    }
    ReleaseGlobals();
    std::filesystem::remove_all(std::filesystem::path(file).parent_path());
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ExecuteSQLInsert)->Unit(benchmark::kMillisecond);

}  // namespace
