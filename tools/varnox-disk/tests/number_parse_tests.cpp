#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "number_parse.h"

namespace varnox::disk_tool {
namespace {

TEST(NumberParse, NumbersInEveryFormAndTheirLimits) {
    struct Case {
        std::string_view text;
        std::optional<std::uint64_t> value;  // none: refused
    };
    const Case cases[] = {
        {"0", 0},
        {"4096", 4096},
        {"0x1000", 4096},
        {"0XfF", 255},
        {"4K", 4096},
        {"4k", 4096},
        {"2M", 2097152},
        {"1G", 1073741824},
        {"0x10K", 16384},
        {"18446744073709551615", UINT64_MAX},
        {"0xFFFFFFFFFFFFFFFF", UINT64_MAX},
        {"16777215T", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"0x10000000000000000", std::nullopt},
        {"17179869184G", std::nullopt},  // 2^64 once multiplied
        {"17179869183G", 17179869183ull << 30},
        {"", std::nullopt},
        {"K", std::nullopt},
        {"0x", std::nullopt},
        {"0xK", std::nullopt},
        {"12 ", std::nullopt},
        {"+5", std::nullopt},
        {"-5", std::nullopt},
        {"1.5", std::nullopt},
        {"0b101", std::nullopt},
        {"4KB", std::nullopt},
    };
    for (const Case& c : cases) {
        auto parsed = ParseNumber(c.text);
        if (c.value) {
            ASSERT_TRUE(parsed.ok()) << "'" << c.text << "': " << parsed.error().message;
            EXPECT_EQ(parsed.value(), *c.value) << "'" << c.text << "'";
        } else {
            EXPECT_FALSE(parsed.ok()) << "'" << c.text << "' gave " << parsed.value();
        }
    }
}

TEST(NumberParse, Seconds) {
    struct Case {
        std::string_view text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"2", 2.0},
        {"0.5", 0.5},
        {".25", 0.25},
        {"3.", 3.0},
        {"0", std::nullopt},
        {"0.000", std::nullopt},
        {"", std::nullopt},
        {".", std::nullopt},
        {"1e3", std::nullopt},
        {"-1", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1234567890", std::nullopt},
    };
    for (const Case& c : cases) {
        auto parsed = ParseSeconds(c.text);
        if (c.value) {
            ASSERT_TRUE(parsed.ok()) << "'" << c.text << "': " << parsed.error().message;
            EXPECT_DOUBLE_EQ(parsed.value(), *c.value) << "'" << c.text << "'";
        } else {
            EXPECT_FALSE(parsed.ok()) << "'" << c.text << "' gave " << parsed.value();
        }
    }
}

}  // namespace
}  // namespace varnox::disk_tool
