#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench_options.h"

namespace varnox::bench {
namespace {

TEST(BenchServerOptions, DefaultsAndEveryOption) {
    const ParsedServerOptions none = ParseServerOptions({}, true);
    ASSERT_EQ(none.error, "");
    EXPECT_EQ(none.options.port, 0);
    EXPECT_EQ(none.options.imageSize, 128ull << 20);
    EXPECT_FALSE(none.options.zeroSendBuffer);
    EXPECT_FALSE(none.options.memoryOnly);

    const std::vector<std::string_view> all = {"--port",    "7000", "--size",        "64M",
                                               "--seconds", "30",   "--sndbuf-zero", "--memory"};
    const ParsedServerOptions parsed = ParseServerOptions(all, true);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.port, 7000);
    EXPECT_EQ(parsed.options.imageSize, 64ull << 20);
    EXPECT_DOUBLE_EQ(parsed.options.maxSeconds, 30);
    EXPECT_TRUE(parsed.options.zeroSendBuffer);
    EXPECT_TRUE(parsed.options.memoryOnly);
}

TEST(BenchServerOptions, RefusedArguments) {
    struct Case {
        std::vector<std::string_view> args;
        bool memoryMode;
        std::string error;
    };
    const Case cases[] = {
        {{"--memory"}, false, "unknown argument '--memory'"},
        {{"--port"}, true, "option --port needs a value"},
        {{"--port", "65536"}, true, "--port: '65536' is not between 0 and 65535"},
        {{"--size", "1M"}, true, "--size: '1M' is smaller than 4 MiB"},
        {{"--size", "big"}, true, "--size: 'big' is not a number (decimal, 0x hex, optional K/M/G suffix)"},
        {{"--seconds", "0"}, true, "--seconds: '0' is not a positive number of seconds"},
        {{"serve"}, true, "unknown argument 'serve'"},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseServerOptions(c.args, c.memoryMode).error, c.error);
    EXPECT_TRUE(ParseServerOptions(std::vector<std::string_view>{"-h"}, false).help);
}

}  // namespace
}  // namespace varnox::bench
