#include <gtest/gtest.h>

#include <string>

#include "digest_hex.h"
#include "password_digest.h"

namespace varnox {
namespace {

constexpr const char* ABC_DIGEST = "a9993e364706816aba3e25717850c26c9cd0d89d";

TEST(DigestHex, FormatsLowercaseFirstByteFirst) {
    Sha1Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(0xF0 - 11 * i);
    EXPECT_EQ(DigestToHex(digest), "f0e5dacfc4b9aea3988d82776c61564b40352a1f");
}

struct HexCase {
    const char* text;
    const char* errorPart;  // nullptr: parses to the digest of "abc"
};

TEST(DigestHex, ParseTable) {
    const HexCase cases[] = {
        {"a9993e364706816aba3e25717850c26c9cd0d89d", nullptr},
        {"A9993E364706816ABA3E25717850C26C9CD0D89D", nullptr},
        {"a9993E364706816aba3e25717850c26c9CD0d89D", nullptr},
        {"", "not 0 characters"},
        {"a9993e364706816aba3e25717850c26c9cd0d89", "not 39 characters"},
        {"a9993e364706816aba3e25717850c26c9cd0d89d0", "not 41 characters"},
        {"0xa9993e364706816aba3e25717850c26c9cd0d8", "character 2 "},
        {"g9993e364706816aba3e25717850c26c9cd0d89d", "character 1 "},
        {"a9993e364706816aba3e25717850c26c9cd0d89 ", "character 40 "},
        {"a9993e364706816aba3e-5717850c26c9cd0d89d", "character 21 "},
    };
    for (const HexCase& c : cases) {
        const DigestFromHex parsed = ParseDigestHex(c.text);
        if (c.errorPart == nullptr) {
            ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.error;
            EXPECT_EQ(parsed.digest, PasswordDigest("abc")) << c.text;
        } else {
            EXPECT_FALSE(parsed.ok()) << c.text;
            EXPECT_NE(parsed.error.find(c.errorPart), std::string::npos) << c.text << ": " << parsed.error;
        }
    }
}

TEST(DigestHex, RoundTripsThroughText) {
    const Sha1Digest digest = PasswordDigest("secret");
    const DigestFromHex parsed = ParseDigestHex(DigestToHex(digest));
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.digest, digest);
    EXPECT_EQ(DigestToHex(PasswordDigest("abc")), ABC_DIGEST);
}

}  // namespace
}  // namespace varnox
