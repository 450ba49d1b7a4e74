#include "bench_table.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace bench {

void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        std::abort();
    }
}

namespace {

// A "Vm...:" line of /proc/self/status in megabytes; 0 when it cannot be read.
double StatusMegabytes(const char* key) {
    double kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const std::size_t n = std::char_traits<char>::length(key);
        while (std::fgets(line, sizeof line, f)) {
            if (std::char_traits<char>::compare(line, key, n) == 0) {
                std::sscanf(line + n, "%lf", &kb);
                break;
            }
        }
        std::fclose(f);
    }
    return kb / 1024.0;
}

}  // namespace

PeakWatch::PeakWatch() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    const bool reset = f && std::fputs("5", f) >= 0 && std::fclose(f) == 0;
    if (f && !reset) std::fclose(f);
    base_ = reset ? StatusMegabytes("VmRSS:") : StatusMegabytes("VmHWM:");
}

double ResidentMegabytes() { return StatusMegabytes("VmRSS:"); }

double PeakWatch::Growth() const { return std::max(0.0, StatusMegabytes("VmHWM:") - base_); }

const std::string& Table::File() {
    static Table table;
    return table.file_;
}

Table::Table() {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("korado-bench-" + std::to_string(getpid()));
    dir_ = dir.string();
    std::filesystem::create_directories(dir);
    file_ = (dir / "bench.db").string();
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

Table::~Table() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

}  // namespace bench
