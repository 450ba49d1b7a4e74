#include "dataaccess/providers/odbc/odbc_watchdog.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "dataaccess/providers/odbc/odbc_session.h"

namespace korado::dataaccess::odbc {
namespace {

using Clock = std::chrono::steady_clock;

class Watchdog {
  public:
    static Watchdog& Instance() {
        static Watchdog watchdog;
        return watchdog;
    }

    std::uint64_t Arm(const std::shared_ptr<SessionCore>& core, SQLHSTMT statement,
                      Clock::time_point deadline, std::atomic<bool>* fired) {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        std::uint64_t ticket = ++last_ticket_;
        pending_.emplace(ticket, Entry{core, statement, deadline, fired});
        wake_.notify_all();
        return ticket;
    }

    // An interrupt already under way for this ticket goes on; the session ignores it once the call has
    // left its list.
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
        // Keeps the core (and so the connection KILL QUERY names) until the interrupt is done.
        std::shared_ptr<SessionCore> core;
        SQLHSTMT statement;
        Clock::time_point deadline;
        std::atomic<bool>* fired;  // valid while the call is in the session's list
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
            Entry entry = std::move(next->second);
            pending_.erase(next);
            lock.unlock();
            entry.core->Interrupt(entry.statement, SessionCore::Why::kTimeout, entry.fired);
            entry.core.reset();
            lock.lock();
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

TimeoutGuard::TimeoutGuard(const std::shared_ptr<SessionCore>& core, SQLHSTMT statement,
                           std::chrono::milliseconds after, std::atomic<bool>& fired) {
    if (after.count() > 0) ticket_ = Watchdog::Instance().Arm(core, statement, Clock::now() + after, &fired);
}

TimeoutGuard::~TimeoutGuard() {
    if (ticket_) Watchdog::Instance().Disarm(ticket_);
}

}  // namespace korado::dataaccess::odbc
