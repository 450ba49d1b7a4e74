// The benchmarks' table: 1,000,000 rows of 8 mixed columns in one SQLite file, made in a temporary folder
// on first use and removed at exit, and the query that reads every column of it.
#pragma once

#include <string>

struct sqlite3;

namespace bench {

inline constexpr int kRows = 1000000;
inline constexpr const char* kQuery = "SELECT id, qty, price, ratio, code, note, day, maybe FROM bench";

// Aborts the program with SQLite's message unless `rc` is SQLITE_OK, SQLITE_ROW or SQLITE_DONE.
void Check(int rc, sqlite3* db, const char* what);

// The peak resident set's growth over a stretch of work: "5" written to /proc/self/clear_refs resets the
// peak (VmHWM) to the current resident set; where that is refused, the growth of VmHWM itself, which misses
// a peak lower than an earlier one.
// The resident set now (VmRSS), in megabytes; 0 when it cannot be read.
double ResidentMegabytes();

class PeakWatch {
  public:
    PeakWatch();
    // Megabytes above the resident set when the watch was made.
    double Growth() const;

  private:
    double base_ = 0;
};

class Table {
  public:
    // The file's path; makes the file on the first call (aborts the program when it cannot).
    static const std::string& File();

  private:
    Table();
    ~Table();

    std::string dir_;
    std::string file_;
};

}  // namespace bench
