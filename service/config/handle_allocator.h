#pragma once
// The 32-bit handles that name server entries and client records outside the model: never
// 0 (0 starts and ends every enumeration), never negative, unique among everything alive,
// and not handed out again soon after a deletion, so a console holding a stale handle
// finds nothing rather than somebody else's record.

#include <cstdint>
#include <unordered_set>

namespace varnox::config {

class HandleAllocator {
public:
    explicit HandleAllocator(std::int32_t next = 1) : next_(next > 0 ? next : 1) {}

    std::int32_t Allocate();
    void Release(std::int32_t handle) { live_.erase(handle); }

private:
    std::int32_t next_;
    std::unordered_set<std::int32_t> live_;
};

}  // namespace varnox::config
