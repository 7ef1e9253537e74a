#pragma once
// ConfigLock: the one lock over the whole configuration model. It is re-entrant because
// the management operations call each other (a hook step, a save) while holding it.
// It also knows whether the calling thread holds it, so code that must never wait for an
// engine while holding it can check that, and tests can see it.

#include <atomic>
#include <mutex>
#include <thread>

namespace varnox::config {

class ConfigLock {
public:
    void lock();
    void unlock();
    bool HeldByCurrentThread() const;

private:
    std::recursive_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;  // only touched by the owner
};

using ConfigLockGuard = std::lock_guard<ConfigLock>;

}  // namespace varnox::config
