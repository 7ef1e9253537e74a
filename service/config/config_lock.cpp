#include "config_lock.h"

namespace varnox::config {

void ConfigLock::lock() {
    mutex_.lock();
    if (depth_++ == 0) owner_.store(std::this_thread::get_id());
}

void ConfigLock::unlock() {
    if (--depth_ == 0) owner_.store(std::thread::id{});
    mutex_.unlock();
}

bool ConfigLock::HeldByCurrentThread() const {
    return owner_.load() == std::this_thread::get_id();
}

}  // namespace varnox::config
