// Saving the benchmarks' table (1,000,000 rows of 8 mixed columns, bench_table.h) from a client recordset
// to a file, and opening the saved file again, through the platform's recordset as a host does.
//   BM_SaveAdtg   Recordset.Save in the binary format (target: within 1.5 times BM_DynasetClient)
//   BM_SaveXml    Recordset.Save in XML (target: within 4 times BM_DynasetClient)
//   BM_OpenAdtg   Recordset.Open of the binary file without a connection, every row read into the client
//                 cursor's store (target: within 2 times BM_DynasetClient)
// A save is timed alone: the recordset holding the rows is opened once, before the first round, as a host
// that saves a result it already shows. Removing each round's file is not timed.
// Counter peak_rss_growth_mb of the saves: how far the resident set's peak rose while saving, which a
// writer that streams keeps small whatever the row count (limit for BM_SaveAdtg: 32 MB).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_table.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"

namespace {

using namespace korado;

// A folder of its own for the saved files, removed at exit.
class Files {
  public:
    static const Files& Get() {
        static Files files;
        return files;
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  private:
    Files()
        : dir_(std::filesystem::temp_directory_path() /
               ("korado-persist-bench-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir_);
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_;
};

// The whole table in a client recordset.
Ref<ado::Recordset> ClientRows(Ref<ado::Connection>& connection) {
    connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open("Provider=SQLite;Mode=Read;Data Source=" + bench::Table::File());
    Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    rs->SetCursorLocation(ado::adUseClient);
    rs->Open(Variant(bench::kQuery), Variant(connection), ado::adOpenStatic, ado::adLockReadOnly);
    return rs;
}


void Save(benchmark::State& state, std::int32_t format) {
    Ref<ado::Connection> connection;
    Ref<ado::Recordset> rs = ClientRows(connection);
    const std::string file = Files::Get().Path(format == ado::adPersistXML ? "save.xml" : "save.adtg");
    double growth = 0;
    for (auto _ : state) {
        bench::PeakWatch peak;
        rs->Save(Variant(file), format);
        state.PauseTiming();
        growth = std::max(growth, peak.Growth());
        std::filesystem::remove(file);
        state.ResumeTiming();
    }
    rs->Close();
    connection->Close();
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(bench::kRows) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["peak_rss_growth_mb"] = growth;
}

void BM_SaveAdtg(benchmark::State& state) { Save(state, ado::adPersistADTG); }
void BM_SaveXml(benchmark::State& state) { Save(state, ado::adPersistXML); }

void BM_OpenAdtg(benchmark::State& state) {
    const std::string file = Files::Get().Path("open.adtg");
    if (!std::filesystem::exists(file)) {
        Ref<ado::Connection> connection;
        Ref<ado::Recordset> rs = ClientRows(connection);
        rs->Save(Variant(file), ado::adPersistADTG);
        rs->Close();
        connection->Close();
    }
    for (auto _ : state) {
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(ado::adUseClient);
        rs->Open(Variant(file));
        if (rs->RecordCount() != bench::kRows) {
            state.SkipWithError("the file did not give every row");
            break;
        }
        rs->Close();
    }
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(bench::kRows) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

BENCHMARK(BM_SaveAdtg)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SaveXml)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OpenAdtg)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
