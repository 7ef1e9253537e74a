#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "handle_allocator.h"

namespace varnox::config {
namespace {

TEST(HandleAllocatorTest, HandlesAreDistinctPositiveAndNotReusedAtOnce) {
    HandleAllocator handles;
    std::set<std::int32_t> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::int32_t handle = handles.Allocate();
        EXPECT_GT(handle, 0);
        EXPECT_TRUE(seen.insert(handle).second) << handle;
    }
    handles.Release(5);
    EXPECT_NE(handles.Allocate(), 5);
}

TEST(HandleAllocatorTest, WrappingSkipsZeroAndNegatives) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    HandleAllocator handles(kMax - 1);
    EXPECT_EQ(handles.Allocate(), kMax - 1);
    EXPECT_EQ(handles.Allocate(), kMax);
    EXPECT_EQ(handles.Allocate(), 1);
    EXPECT_EQ(HandleAllocator(0).Allocate(), 1);
    EXPECT_EQ(HandleAllocator(-7).Allocate(), 1);
}

}  // namespace
}  // namespace varnox::config
