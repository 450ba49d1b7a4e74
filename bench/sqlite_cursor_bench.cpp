// Reading 1,000,000 rows of 8 mixed columns from one SQLite file, every field of every row:
//   BM_SqliteRawStep        sqlite3_step / sqlite3_column_* into the values a user would keep
//   BM_SqliteForwardOnly    a server-side forward-only Recordset (target: within 1.5 times the raw loop)
//   BM_SqliteClientCursor   a client-side static Recordset, buffering included (target: within 2 times)
// The table (bench_table.h) is made once per run in a temporary folder. Counters: rows/s, and rss_growth_MB, the growth of
// the resident set while the benchmark ran (the forward-only cursor must stay flat; the client cursor holds
// every row).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench_table.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"

namespace {

using bench::Check;
using bench::kQuery;

double ResidentMegabytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

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
    const std::string& file = bench::Table::File();
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
    const std::string& file = bench::Table::File();
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
