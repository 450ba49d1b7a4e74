// The dictionary's column list against SQLite's own: an SQLite file holding 2,000 tables of 8 columns, and
// the columns of one of them asked 200 times.
//   BM_DictionaryColumns  clsDictionary::Columns(Null, "t1000") through the connection object's Dictionary
//                         (the columns schema rowset, each field's value copied into the entry)
//                         (target: within 3 times BM_RawTableInfo)
//   BM_RawTableInfo       sqlite3: "PRAGMA table_info(t1000)" prepared, stepped to the end reading every
//                         column of every row, and finalized, 200 times
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench_table.h"
#include "korado/companions/script_object.h"
#include "korado/connection/clsADO.h"
#include "korado/dictionary/clsDictionary.h"
#include "korado/parameters/clsParameter.h"
#include "korado/runtime/registry.h"

namespace {

constexpr int kTables = 2000;
constexpr int kCalls = 200;
constexpr const char* kTable = "t1000";

// The file of 2,000 tables, made on first use in a temporary folder and removed at exit.
class ManyTables {
  public:
    static const std::string& File() {
        static ManyTables tables;
        return tables.file_;
    }

  private:
    ManyTables() {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("korado-bench-dictionary-" + std::to_string(getpid()));
        dir_ = dir.string();
        std::filesystem::create_directories(dir);
        file_ = (dir / "tables.db").string();
        sqlite3* db = nullptr;
        bench::Check(sqlite3_open(file_.c_str(), &db), db, "open");
        std::string sql = "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;";
        for (int i = 0; i < kTables; ++i) {
            sql += "CREATE TABLE t" + std::to_string(i) +
                   " (id INTEGER PRIMARY KEY, name VARCHAR(60) NOT NULL, price NUMERIC(10,2), ratio DOUBLE,"
                   " note TEXT, born DATE, flag BOOLEAN DEFAULT 0, data BLOB);";
        }
        sql += "COMMIT;";
        bench::Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db, "create");
        sqlite3_close(db);
    }
    ~ManyTables() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::string dir_;
    std::string file_;
};

void BM_RawTableInfo(benchmark::State& state) {
    sqlite3* db = nullptr;
    bench::Check(sqlite3_open_v2(ManyTables::File().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
    const std::string sql = std::string("PRAGMA table_info(") + kTable + ")";
    std::int64_t columns = 0;
    for (auto _ : state) {
        for (int call = 0; call < kCalls; ++call) {
            sqlite3_stmt* stmt = nullptr;
            bench::Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db, "prepare");
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                const int n = sqlite3_column_count(stmt);
                for (int c = 0; c < n; ++c) {
                    const unsigned char* text = sqlite3_column_text(stmt, c);
                    benchmark::DoNotOptimize(text);
                }
                ++columns;
            }
            sqlite3_finalize(stmt);
        }
    }
    sqlite3_close(db);
    state.counters["columns"] = static_cast<double>(columns) / static_cast<double>(state.iterations());
}

void BM_DictionaryColumns(benchmark::State& state) {
    using namespace korado;
    Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
    ado->Constructor(CreateObjectAs<Dispatch>(companions::kScriptObject), false, 0, korParamIn,
                     korTypeVarchar2, 10, 100);
    std::string user, password, dsn;
    Variant connection_string("Provider=SQLite;Mode=Read;Data Source=" + ManyTables::File());
    if (!ado->Connect(user, password, dsn, connection_string)) {
        state.SkipWithError("cannot connect to the benchmark's tables");
        return;
    }
    Ref<clsDictionary> dictionary = ado->Dictionary();
    const Variant schema = Variant::Null();
    const Variant table(std::string{kTable});
    std::int64_t columns = 0;
    for (auto _ : state) {
        for (int call = 0; call < kCalls; ++call) {
            const Variant answer = dictionary->Columns(schema, table);
            const Ref<Collection> list = answer.ObjectAs<Collection>();
            if (!list || list->Count() == 0) {
                state.SkipWithError("Columns gave no columns");
                break;
            }
            columns += list->Count();
        }
    }
    ado->Disconnect();
    ado->Destructor();
    state.counters["columns"] = static_cast<double>(columns) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_RawTableInfo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DictionaryColumns)->Unit(benchmark::kMillisecond);

}  // namespace
