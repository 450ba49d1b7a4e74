// Points in the bridge's threaded paths where a test can hold a thread, to reach a race's window every
// time rather than by luck. Without a hook installed each point is one relaxed load.
#pragma once

#include <atomic>

namespace korado::dataaccess::odbc::seams {

enum class Point {
    kCallReturned,      // the executing thread: the driver's call has returned, the call is still listed
    kRelayFetchFailed,  // the relay's thread: its guarded FETCH has failed, the undo has not run
};

using Hook = void (*)(Point);

inline std::atomic<Hook>& CurrentHook() noexcept {
    static std::atomic<Hook> hook{nullptr};
    return hook;
}

// Tests only; nullptr removes the hook.
inline void SetHook(Hook hook) noexcept { CurrentHook().store(hook); }

inline void Reach(Point point) noexcept {
    if (Hook hook = CurrentHook().load(std::memory_order_acquire)) hook(point);
}

}  // namespace korado::dataaccess::odbc::seams
