// Reading the table of sqlite_cursor_bench.cpp (1,000,000 rows of 8 mixed columns) through the library's
// result sets, every field of every row, as a C++ host reads them: clsADO::CreateDynaset, then MoveNext to
// EOF, each field's value taken with clsFieldADO::ReadValue (the value the field keeps for the row, without
// a copy; the late-bound Value would add a copy per cell that the host's own code does not need). The host
// gives the default script object, as the console does: the dynaset tells its Breaks after every MoveNext,
// with no break defined.
//   BM_DynasetForwardOnly   IsLargeRecordset true: server-side, forward-only (target: within 1.6 times
//                           BM_SqliteRawStep, and under 16 MB of peak memory growth)
//   BM_DynasetClient        IsLargeRecordset false: the client cursor holds every row (target: within 2.5
//                           times BM_SqliteRawStep)
// Counter peak_rss_growth_mb: how far the process's peak resident set (VmHWM) rose above the resident set at
// the start of a read, the largest over the benchmark's iterations. Writing "5" to /proc/self/clear_refs
// resets the peak to the current resident set before each read; where that write is refused, the counter is
// the growth of VmHWM itself, which misses a peak lower than an earlier one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_table.h"
#include "korado/companions/script_object.h"
#include "korado/connection/clsADO.h"
#include "korado/parameters/clsParameter.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/registry.h"

namespace {


void ReadThroughDynaset(benchmark::State& state, bool large) {
    using namespace korado;
    Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
    ado->Constructor(CreateObjectAs<Dispatch>(companions::kScriptObject), false, 0, korParamIn,
                     korTypeVarchar2, 10, 100);
    std::string user, password, dsn;
    Variant connection_string("Provider=SQLite;Mode=Read;Data Source=" + bench::Table::File());
    if (!ado->Connect(user, password, dsn, connection_string)) {
        state.SkipWithError("cannot connect to the benchmark table");
        return;
    }
    std::int64_t rows = 0;
    double peak_growth = 0;
    for (auto _ : state) {
        bench::PeakWatch peak;
        std::string sql = bench::kQuery;
        Ref<Collection> names;
        bool is_large = large;
        Ref<clsDynasetADO> dynaset = ado->CreateDynaset(sql, names, is_large);
        if (!dynaset) {
            state.SkipWithError("the dynaset did not open");
            break;
        }
        const Ref<clsFieldsADO>& fields = dynaset->FieldsCollection();
        std::vector<Ref<clsFieldADO>> columns;
        for (std::int32_t i = 0; i < fields->Count(); ++i) columns.push_back(fields->Item(Variant(i)));
        while (!dynaset->EOF_()) {
            for (const Ref<clsFieldADO>& field : columns) {
                const Variant& value = field->ReadValue();
                benchmark::DoNotOptimize(&value);
            }
            dynaset->MoveNext();
            ++rows;
        }
        columns.clear();
        dynaset->Detach();
        dynaset->Destructor();
        peak_growth = std::max(peak_growth, peak.Growth());
    }
    ado->Disconnect();
    ado->Destructor();
    state.counters["rows_per_s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["peak_rss_growth_mb"] = peak_growth;
}

void BM_DynasetForwardOnly(benchmark::State& state) { ReadThroughDynaset(state, true); }
void BM_DynasetClient(benchmark::State& state) { ReadThroughDynaset(state, false); }

BENCHMARK(BM_DynasetForwardOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DynasetClient)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
