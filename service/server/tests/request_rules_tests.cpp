#include "request_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnox {
namespace {

TEST(RequestRules, ReadRefusals) {
    struct Case {
        std::uint32_t access, length;
        std::optional<std::uint16_t> status;
    };
    const Case cases[] = {
        {ACCESS_FULL, MAX_TRANSFER_LENGTH, std::nullopt},
        {ACCESS_READ_ONLY, 0, std::nullopt},
        {ACCESS_FULL, MAX_TRANSFER_LENGTH + 1, ERR_REQUEST_FAILED},
        {ACCESS_READ_ONLY, 0xFFFFFFFF, ERR_REQUEST_FAILED},
        {ACCESS_NONE, 1, ERR_ACCESS_DENIED},
        {ACCESS_NONE, MAX_TRANSFER_LENGTH + 1, ERR_ACCESS_DENIED},
        {7, 512, ERR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        const auto refusal = CheckRead(c.access, c.length);
        ASSERT_EQ(refusal.has_value(), c.status.has_value()) << c.access << "/" << c.length;
        if (refusal) {
            EXPECT_EQ(refusal->status, *c.status);
        }
    }
}

TEST(RequestRules, WriteRefusals) {
    struct Case {
        std::uint32_t access, length;
        bool refused;
    };
    const Case cases[] = {
        {ACCESS_FULL, MAX_TRANSFER_LENGTH, false},       {ACCESS_FULL, 0, false},
        {ACCESS_FULL, MAX_TRANSFER_LENGTH + 1, true},    {ACCESS_READ_ONLY, 1, true},
        {ACCESS_NONE, 1, true},                          {3, 1, true},
    };
    for (const Case& c : cases) {
        const auto refusal = CheckWrite(c.access, c.length);
        EXPECT_EQ(refusal.has_value(), c.refused) << c.access << "/" << c.length;
        if (refusal) {
            EXPECT_EQ(refusal->status, ERR_ACCESS_DENIED);
        }
    }
}

TEST(RequestRules, EqualPasswordsMatchThePasswordFirst) {
    ShareCredentials share;
    share.password.fill(5);
    share.managePassword.fill(5);
    Credential credential;
    credential.fill(5);
    const auto result = Authenticate(credential, share, ACCESS_READ_ONLY);
    EXPECT_EQ(result.status, STATUS_OK);
    EXPECT_EQ(result.newAccess, ACCESS_READ_ONLY);
    EXPECT_EQ(result.connectedIdentity, std::optional<std::uint32_t>(1));
}

TEST(RequestRules, ResponseHeaderLeavesTheEchoBytes) {
    std::vector<std::uint8_t> buffer(64, 0xCC);
    WriteResponseHeader(buffer, 0x2004, 0x01020304, 0x0A0B0C0D);
    const std::vector<std::uint8_t> expected = {0x04, 0x20, 0xCC, 0xCC, 0x04, 0x03, 0x02, 0x01,
                                                0x0D, 0x0C, 0x0B, 0x0A, 0xCC};
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 13), expected);
}

TEST(RequestRules, DiskInfoLayout) {
    std::vector<std::uint8_t> buffer(64, 0xCC);
    WriteDiskInfo(buffer, ACCESS_NONE, 0x0102030405060708ull);
    const std::vector<std::uint8_t> expected = {0, 2, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 0xCC};
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + 12, buffer.begin() + 29), expected);
}

TEST(RequestRules, StartFailureStatusKeepsTheLow16Bits) {
    EXPECT_EQ(StartFailureStatus(5), 5);
    EXPECT_EQ(StartFailureStatus(0x80070017), 0x0017);
}

}  // namespace
}  // namespace varnox
