#include <gtest/gtest.h>

#include "share_text.h"

namespace varnox::disk_tool {
namespace {

TEST(ShareText, AccessLevelsByNameAndNumber) {
    EXPECT_EQ(AccessText(0), "full (0)");
    EXPECT_EQ(AccessText(1), "read-only (1)");
    EXPECT_EQ(AccessText(2), "none (2)");
    // Any level from 2 up denies everything, and the number shows what the server said.
    EXPECT_EQ(AccessText(7), "none (7)");
}

TEST(ShareText, SizesKeepTheExactFigure) {
    struct Case {
        std::uint64_t bytes;
        const char* count;
        const char* block;
    };
    const Case cases[] = {
        {0, "0 bytes", "0 B"},
        {1, "1 byte", "1 B"},
        {1023, "1023 bytes", "1023 B"},
        {1024, "1024 bytes (1 KiB)", "1 KiB"},
        {1536, "1536 bytes (1.5 KiB)", "1536 B"},
        {4096, "4096 bytes (4 KiB)", "4 KiB"},
        {2097152, "2097152 bytes (2 MiB)", "2 MiB"},
        {3 * 1024 * 1024 + 100, "3145828 bytes (3.0 MiB)", "3145828 B"},
        {1ull << 40, "1099511627776 bytes (1 TiB)", "1024 GiB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ByteCountText(c.bytes), c.count);
        EXPECT_EQ(BlockSizeText(c.bytes), c.block);
    }
}

}  // namespace
}  // namespace varnox::disk_tool
