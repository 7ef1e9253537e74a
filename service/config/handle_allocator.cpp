#include "handle_allocator.h"

#include <limits>

namespace varnox::config {

std::int32_t HandleAllocator::Allocate() {
    for (;;) {
        const std::int32_t handle = next_;
        next_ = next_ == std::numeric_limits<std::int32_t>::max() ? 1 : next_ + 1;
        if (live_.insert(handle).second) return handle;
    }
}

}  // namespace varnox::config
