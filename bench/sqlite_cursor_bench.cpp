// Reading 1,000,000 rows of 8 mixed columns from one SQLite file, every field of every row:
//   BM_SqliteRawStep        sqlite3_step / sqlite3_column_* into the values a user would keep
//   BM_SqliteForwardOnly    a server-side forward-only Recordset (target: within 1.5 times the raw loop)
//   BM_SqliteClientCursor   a client-side static Recordset, buffering included (target: within 2 times)
// The file is made once per run in a temporary folder. Counters: rows/s, and rss_growth_MB, the growth of
// the resident set while the benchmark ran (the forward-only cursor must stay flat; the client cursor holds
// every row).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"

namespace {

constexpr int kRows = 1000000;
const char* const kQuery = "SELECT id, qty, price, ratio, code, note, day, maybe FROM bench";

double ResidentMegabytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        std::abort();
    }
}

// The benchmark database, made on first use and removed at exit.
class Database {
  public:
    static const std::string& File() {
        static Database db;
        return db.file_;
    }

  private:
    Database() {
        dir_ = std::filesystem::temp_directory_path() / ("korado-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        file_ = (dir_ / "bench.db").string();
        sqlite3* db = nullptr;
        Check(sqlite3_open(file_.c_str(), &db), db, "open");
        Check(sqlite3_exec(db,
                           "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                           "CREATE TABLE bench(id INTEGER PRIMARY KEY, qty INTEGER, price REAL, ratio DOUBLE,"
                           " code VARCHAR(12), note TEXT, day DATE, maybe INTEGER); BEGIN",
                           nullptr, nullptr, nullptr),
              db, "create");
        sqlite3_stmt* insert = nullptr;
        Check(sqlite3_prepare_v2(db, "INSERT INTO bench VALUES (?,?,?,?,?,?,?,?)", -1, &insert, nullptr), db,
              "prepare");
        std::mt19937 rng(42);
        std::string note;
        char code[16], day[16];
        for (int i = 1; i <= kRows; ++i) {
            std::snprintf(code, sizeof code, "C%08d", static_cast<int>(rng() % 100000000));
            note.assign(60 + rng() % 140, static_cast<char>('a' + i % 26));
            std::snprintf(day, sizeof day, "20%02d-%02d-%02d", static_cast<int>(rng() % 30),
                          static_cast<int>(1 + rng() % 12), static_cast<int>(1 + rng() % 28));
            sqlite3_bind_int64(insert, 1, i);
            sqlite3_bind_int64(insert, 2, static_cast<long long>(rng() % 1000));
            sqlite3_bind_double(insert, 3, (rng() % 100000) / 100.0);
            sqlite3_bind_double(insert, 4, static_cast<double>(rng()) / 4294967296.0);
            sqlite3_bind_text(insert, 5, code, -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 6, note.data(), static_cast<int>(note.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 7, day, -1, SQLITE_STATIC);
            if (i % 3 == 0) {
                sqlite3_bind_null(insert, 8);
            } else {
                sqlite3_bind_int64(insert, 8, i * 7LL);
            }
            Check(sqlite3_step(insert), db, "insert");
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
        sqlite3_close(db);
    }
    ~Database() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::filesystem::path dir_;
    std::string file_;
};

// Samples the resident set during a run; reports its largest growth over the start.
class RssWatch {
  public:
    RssWatch() : start_(ResidentMegabytes()) {}
    void Sample() {
        double now = ResidentMegabytes() - start_;
        if (now > growth_) growth_ = now;
    }
    double growth() const { return growth_; }

  private:
    double start_;
    double growth_ = 0;
};

void Report(benchmark::State& state, std::int64_t rows, const RssWatch& rss) {
    state.counters["rows_per_s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["rss_growth_MB"] = rss.growth();
}

void BM_SqliteRawStep(benchmark::State& state) {
    const std::string& file = Database::File();
    sqlite3* db = nullptr;
    Check(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
    RssWatch rss;
    std::int64_t rows = 0;
    // What a caller keeps of each row: the numbers, and the texts copied into reused strings.
    std::int64_t id = 0, qty = 0, maybe = 0;
    double price = 0, ratio = 0;
    bool maybe_null = false;
    std::string code, note, day;
    for (auto _ : state) {
        sqlite3_stmt* stmt = nullptr;
        Check(sqlite3_prepare_v2(db, kQuery, -1, &stmt, nullptr), db, "prepare");
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            id = sqlite3_column_int64(stmt, 0);
            qty = sqlite3_column_int64(stmt, 1);
            price = sqlite3_column_double(stmt, 2);
            ratio = sqlite3_column_double(stmt, 3);
            code.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 4)),
                        static_cast<std::size_t>(sqlite3_column_bytes(stmt, 4)));
            note.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 5)),
                        static_cast<std::size_t>(sqlite3_column_bytes(stmt, 5)));
            day.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 6)),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt, 6)));
            maybe_null = sqlite3_column_type(stmt, 7) == SQLITE_NULL;
            if (!maybe_null) maybe = sqlite3_column_int64(stmt, 7);
            benchmark::DoNotOptimize(id + qty + maybe + static_cast<std::int64_t>(maybe_null));
            benchmark::DoNotOptimize(price + ratio);
            benchmark::DoNotOptimize(code.data());
            benchmark::DoNotOptimize(note.data());
            benchmark::DoNotOptimize(day.data());
            if (++rows % 100000 == 0) rss.Sample();
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    Report(state, rows, rss);
}

void ReadThroughRecordset(benchmark::State& state, std::int32_t location) {
    using namespace korado;
    const std::string& file = Database::File();
    Ref<ado::Connection> connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open("Provider=SQLite;Mode=Read;Data Source=" + file);
    RssWatch rss;
    std::int64_t rows = 0;
    for (auto _ : state) {
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(location);
        rs->Open(Variant(kQuery), Variant(Ref<ado::Connection>(connection)));
        rss.Sample();
        Ref<ado::Fields> fields = rs->Fields();
        const std::int32_t n = fields->Count();
        while (!rs->Eof()) {
            for (std::int32_t i = 0; i < n; ++i) {
                const Variant& v = fields->At(i)->Value();
                benchmark::DoNotOptimize(&v);
            }
            rs->MoveNext();
            if (++rows % 100000 == 0) rss.Sample();
        }
        rs->Close();
    }
    Report(state, rows, rss);
}

void BM_SqliteForwardOnly(benchmark::State& state) { ReadThroughRecordset(state, korado::ado::adUseServer); }
void BM_SqliteClientCursor(benchmark::State& state) { ReadThroughRecordset(state, korado::ado::adUseClient); }

BENCHMARK(BM_SqliteRawStep)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SqliteForwardOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SqliteClientCursor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
