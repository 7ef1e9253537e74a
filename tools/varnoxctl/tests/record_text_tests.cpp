#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "record_text.h"

namespace varnox::console {
namespace {

std::uint32_t Bytes(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

TEST(RecordText, AddressesReadAndWriteFirstOctetFirst) {
    struct Case {
        const char* text;
        bool valid;
        std::uint32_t address;
    };
    const Case cases[] = {
        {"192.168.0.1", true, Bytes(192, 168, 0, 1)},
        {"10.0.0.200", true, Bytes(10, 0, 0, 200)},
        {"255.255.255.255", true, Bytes(255, 255, 255, 255)},
        {"0.0.0.0", true, 0},
        {"any", true, 0},
        {"256.0.0.1", false, 0},
        {"1.2.3", false, 0},
        {"1.2.3.4.5", false, 0},
        {"1.2.3.", false, 0},
        {".1.2.3", false, 0},
        {"1..2.3", false, 0},
        {"01.2.3.4", false, 0},
        {"1.2.3.4 ", false, 0},
        {"1.2.3.1000", false, 0},
        {"a.b.c.d", false, 0},
        {"", false, 0},
        {"ANY", false, 0},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseAddress(c.text);
        ASSERT_EQ(parsed.has_value(), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(*parsed, c.address) << c.text;
        }
    }
    EXPECT_EQ(FormatAddress(Bytes(192, 168, 0, 1)), "192.168.0.1");
    // The little-endian reading of 192.168.0.1 is the number the file stores.
    EXPECT_EQ(Bytes(192, 168, 0, 1), 16820416u);
    EXPECT_EQ(FormatAddress(0), "0.0.0.0");
}

TEST(RecordText, AccessLevelsByName) {
    for (const std::uint8_t level : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}}) {
        const auto parsed = ParseAccess(AccessName(level));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(*parsed, level);
    }
    // Every level from 2 up means no access, so it reads back as 2.
    EXPECT_EQ(AccessName(200), "none");
    EXPECT_FALSE(ParseAccess("readonly").has_value());
    EXPECT_FALSE(ParseAccess("0").has_value());
}

TEST(RecordText, Capacities) {
    EXPECT_EQ(FormatCapacity(0), "0 B");
    EXPECT_EQ(FormatCapacity(1023), "1023 B");
    EXPECT_EQ(FormatCapacity(1024), "1.0 KiB");
    EXPECT_EQ(FormatCapacity(1536ull << 20), "1.5 GiB");
    EXPECT_EQ(FormatCapacity((2ull << 40) - 512), "2.0 TiB");

    struct Case {
        const char* text;
        std::optional<std::uint64_t> bytes;
    };
    const Case cases[] = {
        {"4096", 4096},       {"4K", 4096},       {"64m", 64ull << 20}, {"2T", 2ull << 40}, {"0", 0},
        {"", std::nullopt},   {"K", std::nullopt}, {"-1", std::nullopt}, {"1.5G", std::nullopt},
        {"99999999999T", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseCapacity(c.text), c.bytes) << c.text;
}

TEST(RecordText, IntegersWithinRange) {
    EXPECT_EQ(ParseInteger("65535", 1, 65535), 65535);
    EXPECT_FALSE(ParseInteger("65536", 1, 65535).has_value());
    EXPECT_FALSE(ParseInteger("0", 1, 65535).has_value());
    EXPECT_EQ(ParseInteger("-2147483648", std::numeric_limits<std::int32_t>::min(), 0),
              std::numeric_limits<std::int32_t>::min());
    EXPECT_FALSE(ParseInteger("9223372036854775808", 0, std::numeric_limits<std::int64_t>::max()).has_value());
    EXPECT_FALSE(ParseInteger("12a", 0, 100).has_value());
    EXPECT_FALSE(ParseInteger("-", -5, 5).has_value());
    EXPECT_FALSE(ParseInteger("+3", 0, 5).has_value());
}

TEST(RecordText, HostNameColumnFollowsHasName) {
    config::ClientRecord record{};
    std::strcpy(record.HostName, "alpha");
    record.HasName = config::HAS_NAME_RESOLVED;
    EXPECT_EQ(HostNameText(record), "alpha");
    record.HasName = config::HAS_NAME_NOT_RESOLVED;
    EXPECT_EQ(HostNameText(record), "(not looked up yet)");
    record.HasName = config::HAS_NAME_FAILED;
    EXPECT_EQ(HostNameText(record), "(no name found)");

    // A name that fills the field without a terminator is shown whole, not overrun.
    std::memset(record.HostName, 'x', sizeof record.HostName);
    record.HasName = config::HAS_NAME_RESOLVED;
    EXPECT_EQ(HostNameText(record), std::string(sizeof record.HostName, 'x'));
}

}  // namespace
}  // namespace varnox::console
