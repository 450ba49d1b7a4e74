// Changing rows through the client cursor against the raw driver: one numeric column of each of 10,000
// rows of an SQLite table is changed and stored, inside one transaction. BM_UpdateClient goes through a
// client dynaset as a host does (clsADO::CreateDynaset in a session with transactions, the field's Value
// written, the dynaset's Update per row, Commit; underneath, the generated keyed UPDATE with the changed
// column's original value); BM_RawPreparedUpdate prepares that same UPDATE once and binds and steps per row.
// The library's target: within 2x the raw loop. Both sides commit, so each round starts from the values the
// last one stored.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "korado/companions/script_object.h"
#include "korado/connection/clsADO.h"
#include "korado/parameters/clsParameter.h"
#include "korado/platform/modGlobals.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"

namespace {

constexpr int kRows = 10000;

std::string FreshTable(const char* tag) {
    auto dir =
        std::filesystem::temp_directory_path() / ("korado-bench-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    std::string file = (dir / (std::string(tag) + ".db")).string();
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db,
                 "create table t (id integer primary key, a integer, b varchar(20));"
                 "insert into t (a, b) with recursive c(i) as (select 1 union all select i + 1 from c "
                 "where i < 10000) select i, 'row ' || i from c",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return file;
}

void BM_RawPreparedUpdate(benchmark::State& state) {
    std::string file = FreshTable("raw");
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    std::vector<long long> values(kRows);
    for (int i = 0; i < kRows; ++i) values[static_cast<std::size_t>(i)] = i + 1;
    for (auto _ : state) {
        sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "UPDATE \"main\".\"t\" SET \"a\" = ? WHERE \"id\" = ? AND \"a\" = ?", -1,
                           &stmt, nullptr);
        for (int i = 0; i < kRows; ++i) {
            long long& value = values[static_cast<std::size_t>(i)];
            sqlite3_bind_int64(stmt, 1, value + 1);
            sqlite3_bind_int64(stmt, 2, i + 1);
            sqlite3_bind_int64(stmt, 3, value);
            if (sqlite3_step(stmt) != SQLITE_DONE || sqlite3_changes(db) != 1)
                state.SkipWithError("update failed");
            sqlite3_reset(stmt);
            ++value;
        }
        sqlite3_finalize(stmt);
        sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    std::filesystem::remove_all(std::filesystem::path(file).parent_path());
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_RawPreparedUpdate)->Unit(benchmark::kMillisecond);

void BM_UpdateClient(benchmark::State& state) {
    using namespace korado;
    std::string file = FreshTable("library");
    {
        // A session with transactions, as a host opens one: Connect begins the transaction, Commit ends
        // it and begins the next.
        Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
        ado->Constructor(CreateObjectAs<Dispatch>(companions::kScriptObject), true, 0, korParamIn,
                         korTypeVarchar2, 10, 100);
        std::string user, password, dsn;
        Variant connection_string("Provider=SQLite;Data Source=" + file);
        std::string sql = "SELECT id, a FROM t ORDER BY id";
        Ref<Collection> names;
        bool is_large = false;
        Ref<clsDynasetADO> dynaset;
        if (ado->Connect(user, password, dsn, connection_string))
            dynaset = ado->CreateDynaset(sql, names, is_large);
        if (!dynaset) {
            state.SkipWithError("the dynaset did not open");
        } else {
            Ref<clsFieldADO> a = dynaset->FieldsCollection()->Item(Variant(1));
            for (auto _ : state) {
                dynaset->MoveFirst();
                for (; !dynaset->EOF_(); dynaset->MoveNext()) {
                    Variant value(CLngLng(a->ReadValue()) + 1);
                    a->SetValue(value);
                    if (dynaset->Update() != 0) state.SkipWithError("update failed");
                }
                ado->Commit();
            }
            a = nullptr;
            dynaset->Detach();
            dynaset->Destructor();
        }
        // Commit began the next transaction; a connection does not close inside one.
        ado->CommitTransaction();
        ado->Disconnect();
        ado->Destructor();
    }
    ReleaseGlobals();
    std::filesystem::remove_all(std::filesystem::path(file).parent_path());
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_UpdateClient)->Unit(benchmark::kMillisecond);

}  // namespace
