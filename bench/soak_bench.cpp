// A soak: one million operations on one SQLite connection, as a long-running host makes them, in a fixed
// cycle of ten: six inserts with three bind variables, two selects through CreateDynaset read to the end
// and released (client-side and large), and two failures that take the diagnosis paths, five kinds in
// turn: a syntax error and a missing table through ExecuteSQL (raised to the host), a missing table through
// CreateDynaset and a duplicate key with bind variables (shown through the shared error object), and an
// error entry asked for that is not there (reported to the error component, which writes the error log).
// Alerts are off, so nothing waits for a box; the error log goes to a file in the benchmark's folder and
// standard error to /dev/null while it runs. The work is committed every 10,000 operations.
//   Counter rss_growth_mb: the resident set after the last operation minus the resident set after the
//   first 100,000 (which have filled SQLite's page cache and the library's caches): target under 8 MB.
//   Counters *_us: the mean time of each kind of operation, in microseconds.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "bench_table.h"
#include "korado/connection/clsADO.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/platform/modGlobals.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/runtime/error.h"
#include "korado/runtime/registry.h"

namespace {

constexpr int kCalls = 1000000;
constexpr int kSettle = 100000;

// Standard error to /dev/null for the object's lifetime: a failure's line goes there as well as to the log.
class QuietStandardError {
  public:
    QuietStandardError() : saved_(dup(STDERR_FILENO)) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~QuietStandardError() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

  private:
    int saved_;
};

enum Kind { kInsert, kSelect, kSyntax, kMissingTable, kMissingTableDynaset, kDuplicate, kLogged, kKinds };
constexpr std::array<const char*, kKinds> kKindNames = {
    "insert_us",          "select_us",    "syntax_error_us", "missing_table_us",
    "missing_dynaset_us", "duplicate_us", "logged_us"};

Kind KindOf(int call) {
    switch (call % 10) {
        case 6:
        case 9:
            return kSelect;
        case 7:
        case 8:
            return static_cast<Kind>(kSyntax + (call / 10 * 2 + call % 10 - 7) % 5);
        default:
            return kInsert;
    }
}

void BM_SoakExecuteSQL(benchmark::State& state) {
    using namespace korado;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("korado-soak-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    // The error component takes its log's path from XDG_STATE_HOME when it is made; the globals go first so
    // that it is made afresh.
    ReleaseGlobals();
    const char* old_state = std::getenv("XDG_STATE_HOME");
    const std::string saved_state = old_state ? old_state : "";
    setenv("XDG_STATE_HOME", dir.c_str(), 1);

    double growth = 0;
    std::array<double, kKinds> seconds{};
    std::array<int, kKinds> counts{};
    for (auto _ : state) {
        QuietStandardError quiet;
        Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
        ado->Constructor(nullptr, true, 30, korParamIn, korTypeOther, 10, 100);
        ado->SetDisplayAlerts(false);
        std::string user, pass, dsn;
        Variant cs("Provider=SQLite;Data Source=" + (dir / "soak.db").string());
        if (!ado->Connect(user, pass, dsn, cs)) {
            state.SkipWithError("connect failed");
            break;
        }
        std::int32_t affected = 0;
        Ref<ado::Recordset> rs;
        Ref<Collection> none;
        std::string sql = "create table soak (id integer primary key, name varchar(40), amount real)";
        ado->ExecuteSQL(sql, none, affected, rs);
        ado->Commit();

        Ref<clsBindVariables> vars = ado->BindVariables();
        Ref<clsParameter> id = vars->Add("id"), name = vars->Add("name"), amount = vars->Add("amount");
        id->SetDataType(korTypeNumber);
        name->SetDataType(korTypeVarchar2);
        amount->SetDataType(korTypeNumber);
        Ref<Collection> names = MakeCollection({"id", "name", "amount"});
        std::int32_t next_id = 1;
        double settled = 0;
        for (int call = 0; call < kCalls; ++call) {
            const Kind kind = KindOf(call);
            const auto start = std::chrono::steady_clock::now();
            try {
                switch (kind) {
                    case kInsert:
                    case kDuplicate:
                        id->SetValue(kind == kDuplicate ? 1 : next_id++);
                        name->SetValue("row " + std::to_string(call));
                        amount->SetValue(call * 0.5);
                        sql = "insert into soak values (:id, :name, :amount)";
                        ado->ExecuteSQL(sql, names, affected, rs);
                        break;
                    case kSelect: {
                        bool large = call % 10 == 9;
                        sql = "select id, name, amount from soak order by id desc limit 20";
                        Ref<clsDynasetADO> dynaset = ado->CreateDynaset(sql, none, large);
                        if (!dynaset) throw Error(0, "soak", "the dynaset did not open");
                        while (!dynaset->EOF_()) dynaset->MoveNext();
                        dynaset->Detach();
                        dynaset->Destructor();
                        break;
                    }
                    case kSyntax:
                        sql = "selec id from soak";
                        ado->ExecuteSQL(sql, none, affected, rs);
                        break;
                    case kMissingTable:
                        sql = "select * from no_such_table";
                        ado->ExecuteSQL(sql, none, affected, rs);
                        break;
                    case kMissingTableDynaset: {
                        bool large = false;
                        sql = "select * from no_such_table";
                        Ref<clsDynasetADO> dynaset = ado->CreateDynaset(sql, none, large);
                        if (dynaset) throw Error(0, "soak", "a dynaset opened on a missing table");
                        break;
                    }
                    case kLogged:
                        // No error of that index: reported through the error component, which writes the log.
                        if (ado->Errors(Variant(99)))
                            throw Error(0, "soak", "an error entry that cannot be there");
                        break;
                    case kKinds:
                        break;
                }
                if (kind == kSyntax || kind == kMissingTable) {
                    state.SkipWithError("a failing statement succeeded");
                    break;
                }
            } catch (const Error& e) {
                if (kind != kSyntax && kind != kMissingTable && kind != kMissingTableDynaset) {
                    state.SkipWithError(e.Description().c_str());
                    break;
                }
            }
            rs = nullptr;
            seconds[kind] += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ++counts[kind];
            if (call % 10000 == 9999) ado->Commit();
            if (call + 1 == kSettle) settled = bench::ResidentMegabytes();
        }
        growth = bench::ResidentMegabytes() - settled;
        std::error_code missing;
        if (std::filesystem::file_size(dir / "korado" / "error.log", missing) == 0)
            state.SkipWithError("nothing reached the error log");
        ado->SetAllowTransactions(false);  // commits, so that Disconnect may close the connection
        ado->Disconnect();
        ado->Destructor();
        ado = nullptr;
        ReleaseGlobals();
    }
    if (saved_state.empty()) {
        unsetenv("XDG_STATE_HOME");
    } else {
        setenv("XDG_STATE_HOME", saved_state.c_str(), 1);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    state.counters["rss_growth_mb"] = growth;
    for (int k = 0; k < kKinds; ++k)
        if (counts[k]) state.counters[kKindNames[k]] = seconds[k] / counts[k] * 1e6;
}
BENCHMARK(BM_SoakExecuteSQL)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
