// Query time-outs for drivers that do not enforce SQL_ATTR_QUERY_TIMEOUT themselves.
//
// MariaDB Connector/ODBC refuses the attribute (01S02, "no timeout") and the SQLite3 ODBC driver accepts
// and ignores it, yet the platform promises that a command past its CommandTimeout fails. A TimeoutGuard
// around each executing call asks one background thread to SQLCancel the statement when the deadline
// passes; ODBC defines SQLCancel from another thread as the way to interrupt a synchronous call, and the
// interrupted call then fails with the driver's own text. The guard's destructor withdraws the request and
// waits for a cancel in progress, so the statement handle is never cancelled after its call returned.
//
// The thread starts with the first guard and ends with the process.
#pragma once

#include <sql.h>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace korado::dataaccess::odbc {

class TimeoutGuard {
  public:
    // No guard when `after` is zero or negative. `fired` is set (before SQLCancel) when the deadline passed.
    TimeoutGuard(SQLHSTMT statement, std::chrono::milliseconds after, std::atomic<bool>& fired);
    ~TimeoutGuard();
    TimeoutGuard(const TimeoutGuard&) = delete;
    TimeoutGuard& operator=(const TimeoutGuard&) = delete;

  private:
    std::uint64_t ticket_ = 0;
};

}  // namespace korado::dataaccess::odbc
