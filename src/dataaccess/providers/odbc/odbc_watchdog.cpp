#include "dataaccess/providers/odbc/odbc_watchdog.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace korado::dataaccess::odbc {
namespace {

using Clock = std::chrono::steady_clock;

class Watchdog {
  public:
    static Watchdog& Instance() {
        static Watchdog watchdog;
        return watchdog;
    }

    std::uint64_t Arm(SQLHSTMT statement, Clock::time_point deadline, std::atomic<bool>* fired) {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        std::uint64_t ticket = ++last_ticket_;
        pending_.emplace(ticket, Entry{statement, deadline, fired});
        wake_.notify_all();
        return ticket;
    }

    // Holding the mutex while cancelling is what makes this wait for a cancel in progress.
    void Disarm(std::uint64_t ticket) {
        std::lock_guard lock(mutex_);
        pending_.erase(ticket);
    }

    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            wake_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
    }

  private:
    struct Entry {
        SQLHSTMT statement;
        Clock::time_point deadline;
        std::atomic<bool>* fired;
    };

    void Run() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (pending_.empty()) {
                wake_.wait(lock);
                continue;
            }
            auto next = pending_.begin();
            for (auto it = pending_.begin(); it != pending_.end(); ++it)
                if (it->second.deadline < next->second.deadline) next = it;
            // A copy: the entry may be withdrawn while this thread waits.
            Clock::time_point deadline = next->second.deadline;
            if (Clock::now() < deadline) {
                wake_.wait_until(lock, deadline);
                continue;
            }
            Entry entry = next->second;
            pending_.erase(next);
            entry.fired->store(true);
            SQLCancel(entry.statement);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::uint64_t, Entry> pending_;
    std::uint64_t last_ticket_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace

TimeoutGuard::TimeoutGuard(SQLHSTMT statement, std::chrono::milliseconds after, std::atomic<bool>& fired) {
    if (after.count() > 0) ticket_ = Watchdog::Instance().Arm(statement, Clock::now() + after, &fired);
}

TimeoutGuard::~TimeoutGuard() {
    if (ticket_) Watchdog::Instance().Disarm(ticket_);
}

}  // namespace korado::dataaccess::odbc
