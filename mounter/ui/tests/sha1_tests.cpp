#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "digest_hex.h"
#include "password_digest.h"
#include "sha1.h"

namespace varnox {
namespace {

struct KnownDigest {
    const char* name;
    std::string message;
    const char* hex;
};

class Sha1KnownDigests : public ::testing::TestWithParam<KnownDigest> {};

TEST_P(Sha1KnownDigests, OneShotMatches) {
    const KnownDigest& c = GetParam();
    EXPECT_EQ(DigestToHex(PasswordDigest(c.message)), c.hex);
}

// The FIPS 180-1 vectors: one block, a 56-byte message whose padding needs a second
// block, and a long message of many blocks; plus the empty message.
INSTANTIATE_TEST_SUITE_P(
    Vectors, Sha1KnownDigests,
    ::testing::Values(KnownDigest{"abc", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
                      KnownDigest{"two_blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                                  "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
                      KnownDigest{"million_a", std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
                      KnownDigest{"empty", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"}),
    [](const ::testing::TestParamInfo<KnownDigest>& param) { return std::string(param.param.name); });

std::vector<std::uint8_t> Message(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + 17);
    return bytes;
}

TEST(Sha1Incremental, PiecesCrossingBlockBoundariesEqualOneShot) {
    const std::vector<std::uint8_t> message = Message(1000);
    const Sha1Digest expected = Sha1Of(message);
    // Each pattern repeats until the message is used up.
    const std::vector<std::vector<std::size_t>> patterns = {
        {1}, {63}, {64}, {65}, {7, 57}, {60, 8}, {0, 3, 128, 1}, {200},
    };
    for (const auto& pattern : patterns) {
        Sha1 sha;
        std::size_t at = 0;
        for (std::size_t i = 0; at < message.size(); ++i) {
            const std::size_t piece = std::min(pattern[i % pattern.size()], message.size() - at);
            sha.Update(std::span<const std::uint8_t>(message).subspan(at, piece));
            at += piece;
        }
        EXPECT_EQ(sha.Finish(), expected) << "first piece " << pattern.front() << " of " << pattern.size();
    }
}

TEST(Sha1Incremental, FinishStartsOver) {
    Sha1 sha;
    sha.Update("something else entirely");
    (void)sha.Finish();
    sha.Update("abc");
    EXPECT_EQ(DigestToHex(sha.Finish()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
}  // namespace varnox
