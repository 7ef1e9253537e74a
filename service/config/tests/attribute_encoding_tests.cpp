// The attribute forms of the record fields, case by case.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "attribute_encoding.h"
#include "fake_backends.h"

namespace varnox::config {
namespace {

using testing::Address;

struct AddressCase {
    std::uint8_t bytes[4];
    std::int32_t written;
};

TEST(AttributeEncodingTest, AddressesAreTheirBytesReadLittleEndianAsSignedDecimals) {
    const AddressCase cases[] = {
        {{10, 0, 0, 200}, -939524086},     {{192, 168, 0, 1}, 16820416},
        {{127, 0, 0, 1}, 16777343},        {{0, 0, 0, 0}, 0},
        {{255, 255, 255, 255}, -1},        {{0, 0, 0, 128}, INT32_MIN},
        {{255, 255, 255, 127}, INT32_MAX},
    };
    for (const auto& c : cases) {
        const std::uint32_t field = Address(c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3]);
        EXPECT_EQ(AddressToAttribute(field), c.written) << int{c.bytes[0]} << "." << int{c.bytes[3]};
        const std::uint32_t back = AddressFromAttribute(c.written);
        EXPECT_EQ(std::memcmp(&back, c.bytes, 4), 0) << c.written;
    }
}

struct CapabilityCase {
    std::uint64_t bytes;
    std::int32_t written;
    std::uint64_t readBack;
};

TEST(AttributeEncodingTest, CapacityIsWrittenInSectorsRoundedDownAndReadBackUnsigned) {
    constexpr std::uint64_t kTiB = 1ull << 40;
    const CapabilityCase cases[] = {
        {0, 0, 0},
        {511, 0, 0},
        {512, 1, 512},
        {1023, 1, 512},
        {1ull << 30, 2097152, 1ull << 30},
        {kTiB, INT32_MIN, kTiB},               // 2^31 sectors: the sign bit
        {2 * kTiB - 512, -1, 2 * kTiB - 512},  // the largest that survives
        {2 * kTiB, 0, 0},                      // beyond it only the low 32 bits stay
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CapabilityToAttribute(c.bytes), c.written) << c.bytes;
        EXPECT_EQ(CapabilityFromAttribute(c.written), c.readBack) << c.bytes;
    }
}

TEST(AttributeEncodingTest, DigestsAreLowercaseHexPairsInByteOrder) {
    std::uint8_t digest[DIGEST_SIZE];
    for (std::size_t i = 0; i < DIGEST_SIZE; ++i) digest[i] = static_cast<std::uint8_t>(i * 13 + 0x0A);
    const std::string text = DigestToAttribute(digest);
    EXPECT_EQ(text, "0a1724313e4b5865727f8c99a6b3c0cddae7f401");
    std::uint8_t back[DIGEST_SIZE];
    std::memset(back, 0xEE, sizeof back);
    DigestFromAttribute(text, back);
    EXPECT_EQ(std::memcmp(back, digest, DIGEST_SIZE), 0);
}

struct DigestCase {
    const char* text;
    std::uint8_t first[4];  // the first four bytes read
    std::uint8_t last;      // byte 19
};

TEST(AttributeEncodingTest, DigestTextIsReadTolerantly) {
    const DigestCase cases[] = {
        {"", {0, 0, 0, 0}, 0},
        {"ab", {0xAB, 0, 0, 0}, 0},                                            // short: the rest stay zero
        {"abc", {0xAB, 0, 0, 0}, 0},                                           // half a pair is no pair
        {"ABcd", {0xAB, 0xCD, 0, 0}, 0},                                       // either case
        {"zz01", {0, 0x01, 0, 0}, 0},                                          // a bad pair leaves its byte
        {"0g11", {0, 0x11, 0, 0}, 0},                                          // one bad digit spoils the pair
        {"0102030405060708090a0b0c0d0e0f10111213ff", {1, 2, 3, 4}, 0xFF},      // all 40
        {"0102030405060708090a0b0c0d0e0f1011121314ffff", {1, 2, 3, 4}, 0x14},  // beyond 40: ignored
        {" 1020304", {0, 0x02, 0x03, 0x04}, 0},                                // no skipping of blanks
    };
    for (const auto& c : cases) {
        std::uint8_t digest[DIGEST_SIZE];
        std::memset(digest, 0xEE, sizeof digest);
        DigestFromAttribute(c.text, digest);
        EXPECT_EQ(std::memcmp(digest, c.first, 4), 0) << c.text;
        EXPECT_EQ(digest[19], c.last) << c.text;
        if (std::strlen(c.text) >= 40) continue;
        for (std::size_t i = 4; i < 19; ++i) EXPECT_EQ(digest[i], 0) << c.text << " byte " << i;
    }
}

TEST(AttributeEncodingTest, OnlyAResolvedNameIsSavedAsResolved) {
    const std::pair<std::uint8_t, std::int32_t> cases[] = {{0, 0}, {1, 1}, {2, 0}, {3, 0}, {255, 0}};
    for (const auto& [hasName, written] : cases) EXPECT_EQ(HasNameToAttribute(hasName), written) << int{hasName};
}

TEST(AttributeEncodingTest, HostNameIsWrittenOnlyWithANameAndCutTo127) {
    std::string longName(200, 'h');
    struct Case {
        std::uint8_t hasName;
        std::string name;
        std::string written;
    };
    const Case cases[] = {
        {0, "alpha", ""},
        {1, "alpha", "alpha"},
        {2, "alpha", "alpha"},  // written, though saved as not resolved: a reader ignores it
        {1, longName, std::string(127, 'h')},
    };
    for (const auto& c : cases) {
        ClientRecord client = testing::MakeClient(1, 0, c.hasName);
        // All 128 bytes set: the field need not hold a terminator.
        std::memset(client.HostName, 0, sizeof client.HostName);
        std::memcpy(client.HostName, c.name.data(), std::min(c.name.size(), sizeof client.HostName));
        EXPECT_EQ(HostNameToAttribute(client), c.written) << int{c.hasName} << " " << c.name.size();
    }
}

TEST(AttributeEncodingTest, SourceIsAtMost259CharactersEvenWithoutATerminator) {
    ServerRecord server = testing::MakeServer("", 0);
    std::memset(server.Source, 'x', sizeof server.Source);
    EXPECT_EQ(SourceToAttribute(server), std::string(259, 'x'));
    server = testing::MakeServer("\\\\.\\PhysicalDrive1", 0);
    EXPECT_EQ(SourceToAttribute(server), "\\\\.\\PhysicalDrive1");
}

TEST(AttributeEncodingTest, NumbersAreCutToTheirFieldsLowBits) {
    EXPECT_EQ(PortFromAttribute(3260), 3260);
    EXPECT_EQ(PortFromAttribute(65536 + 3260), 3260);
    EXPECT_EQ(PortFromAttribute(-1), 65535);
    EXPECT_EQ(ByteFromAttribute(1), 1);
    EXPECT_EQ(ByteFromAttribute(257), 1);
    EXPECT_EQ(ByteFromAttribute(-1), 255);
}

TEST(AttributeEncodingTest, CopyToFieldCutsAndTerminates) {
    char field[8];
    std::memset(field, 'z', sizeof field);
    CopyToField("abc", field, sizeof field);
    EXPECT_STREQ(field, "abc");
    EXPECT_EQ(field[7], 0);
    CopyToField("abcdefghij", field, sizeof field);
    EXPECT_STREQ(field, "abcdefg");
}

TEST(AttributeEncodingTest, IntegerTextsAreDecimalThirtyTwoBitNumbers) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"3260", 3260},
        {"-939524086", -939524086},
        {"+7", 7},
        {" 12 ", 12},
        {"\t-1\r\n", -1},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"-", std::nullopt},
        {"12a", std::nullopt},
        {"0x10", std::nullopt},
        {"1 2", std::nullopt},
        {"1.5", std::nullopt},
        {"abc", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseAttributeInt(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace varnox::config
