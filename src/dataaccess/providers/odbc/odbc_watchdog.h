// Query time-outs for drivers that do not enforce SQL_ATTR_QUERY_TIMEOUT themselves.
//
// MariaDB Connector/ODBC refuses the attribute (01S02, "no timeout") and the SQLite3 ODBC driver accepts
// and ignores it, yet the platform promises that a command past its CommandTimeout fails. A TimeoutGuard
// around each executing call asks one background thread to interrupt the call when the deadline passes,
// through the session (SessionCore::Interrupt), which acts only on a call still inside the driver and
// marks it timed out first. The watchdog's own mutex guards only its list of deadlines: an interrupt (on
// MariaDB a connect and a KILL QUERY) runs outside it, so one slow interrupt does not hold back the
// deadlines of other sessions.
//
// The thread starts with the first guard and ends with the process.
#pragma once

#include <sql.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

namespace korado::dataaccess::odbc {

class SessionCore;

class TimeoutGuard {
  public:
    // No guard when `after` is zero or negative. `fired` is set when the deadline passed while the call
    // was still in the driver, before it is interrupted. The guard must end before the call leaves the
    // session's list of calls in progress.
    TimeoutGuard(const std::shared_ptr<SessionCore>& core, SQLHSTMT statement,
                 std::chrono::milliseconds after, std::atomic<bool>& fired);
    ~TimeoutGuard();
    TimeoutGuard(const TimeoutGuard&) = delete;
    TimeoutGuard& operator=(const TimeoutGuard&) = delete;

  private:
    std::uint64_t ticket_ = 0;
};

}  // namespace korado::dataaccess::odbc
