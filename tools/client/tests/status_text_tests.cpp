#include <gtest/gtest.h>

#include "status_text.h"

namespace varnox::client {
namespace {

TEST(StatusText, NamesAndNumbers) {
    struct Case {
        std::uint16_t status;
        const char* described;
    };
    const Case cases[] = {
        {0, "OK (0x0000)"},
        {0x2002, "request failed (0x2002)"},
        {0x2004, "access denied (0x2004)"},
        {5, "system error 5 (0x0005)"},
        {0x2003, "system error 8195 (0x2003)"},
        {0xFFFF, "system error 65535 (0xFFFF)"},
    };
    for (const Case& c : cases) EXPECT_EQ(DescribeStatus(c.status), c.described) << c.status;
}

}  // namespace
}  // namespace varnox::client
