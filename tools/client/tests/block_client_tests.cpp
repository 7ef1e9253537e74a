#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fake_server_fixture.h"
#include "password_digest.h"

namespace varnox::client::testing {
namespace {

constexpr std::uint64_t DISK_SIZE = 3 * 1024 * 1024;

FakeServerOptions Options(std::uint32_t access, std::uint64_t diskSize = DISK_SIZE) {
    FakeServerOptions options;
    options.diskSize = diskSize;
    options.access = access;
    options.credentials.password = PasswordDigest("reader");
    options.credentials.managePassword = PasswordDigest("manager");
    return options;
}

std::vector<std::uint8_t> RawRequest(std::uint8_t opcode, std::uint64_t offset, std::uint32_t length,
                                     std::uint16_t echo) {
    RequestHeader header{};
    header.opcode = opcode;
    header.echo = echo;
    header.offset = offset;
    header.length = length;
    std::vector<std::uint8_t> bytes(sizeof header);
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

using BlockClientTest = FakeServerTest;

TEST_F(BlockClientTest, InfoReportsSizeAndInitialAccess) {
    for (const std::uint32_t access : {ACCESS_FULL, ACCESS_READ_ONLY, ACCESS_NONE}) {
        ASSERT_TRUE(StartServer(Options(access, 1234567)));
        BlockClient client;
        ASSERT_TRUE(ConnectClient(client));
        auto info = client.Info();
        ASSERT_TRUE(info.ok()) << info.error().message;
        EXPECT_EQ(info.value().access, access);
        EXPECT_EQ(info.value().size, 1234567u);
        server->Stop();
    }
}

// Sector 0 is left out: the server puts a per-connection signature over part of it.
TEST_F(BlockClientTest, ReadsMatchTheDiskByteForByte) {
    ASSERT_TRUE(StartServer(Options(ACCESS_READ_ONLY)));
    BlockClient client;
    ASSERT_TRUE(ConnectClient(client));
    struct Case {
        std::uint64_t offset;
        std::uint32_t length;
    };
    const Case cases[] = {{4096, 512}, {513, 3}, {DISK_SIZE - 100, 100}, {12345, MAX_TRANSFER_LENGTH}, {700, 0}};
    for (const Case& c : cases) {
        std::vector<std::uint8_t> out(c.length + 1, 0xEE);
        auto read = client.Read(c.offset, c.length, out);
        ASSERT_TRUE(read.ok()) << read.error().message;
        EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end() - 1), server->DiskBytes(c.offset, c.length))
            << "at " << c.offset;
        EXPECT_EQ(out.back(), 0xEE) << "wrote past the requested length at " << c.offset;
    }
}

TEST_F(BlockClientTest, WrittenDataReadBackUnchanged) {
    ASSERT_TRUE(StartServer(Options(ACCESS_FULL)));
    BlockClient client;
    ASSERT_TRUE(ConnectClient(client));
    struct Case {
        std::uint64_t offset;
        std::size_t length;
    };
    const Case cases[] = {{4096, 512}, {1, 7}, {DISK_SIZE - 4096, 4096}, {65536, MAX_TRANSFER_LENGTH}};
    std::uint8_t seed = 1;
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> data = Pattern(c.length, seed++);
        auto written = client.Write(c.offset, data);
        ASSERT_TRUE(written.ok()) << written.error().message;
        EXPECT_EQ(server->DiskBytes(c.offset, c.length), data) << "at " << c.offset;
        std::vector<std::uint8_t> back(c.length);
        auto read = client.Read(c.offset, static_cast<std::uint32_t>(c.length), back);
        ASSERT_TRUE(read.ok()) << read.error().message;
        EXPECT_EQ(back, data) << "at " << c.offset;
    }
}

struct RefusalCase {
    const char* name;
    std::uint32_t access;
    bool write;
    std::uint64_t offset;
    std::uint16_t status;
    const char* message;
};

TEST_F(BlockClientTest, RefusalsNameTheRequestAndStatusAndKeepTheConnection) {
    const RefusalCase cases[] = {
        {"read with no access", ACCESS_NONE, false, 4096, ERR_ACCESS_DENIED,
         "read at 4096 (512 bytes): access denied (0x2004)"},
        {"write on read-only", ACCESS_READ_ONLY, true, 4096, ERR_ACCESS_DENIED,
         "write at 4096 (512 bytes): access denied (0x2004)"},
        {"read past the end", ACCESS_FULL, false, DISK_SIZE - 256, ERR_REQUEST_FAILED,
         "read at 3145472 (512 bytes): request failed (0x2002)"},
    };
    for (const RefusalCase& c : cases) {
        ASSERT_TRUE(StartServer(Options(c.access)));
        const std::vector<std::uint8_t> before = server->DiskBytes(0, DISK_SIZE);
        BlockClient client;
        ASSERT_TRUE(ConnectClient(client));
        std::vector<std::uint8_t> bytes(512, 0x5A);
        auto result = c.write ? client.Write(c.offset, bytes) : client.Read(c.offset, 512, bytes);
        ASSERT_FALSE(result.ok()) << c.name;
        EXPECT_EQ(result.error().kind, ErrorKind::Status) << c.name;
        EXPECT_EQ(result.error().code, c.status) << c.name;
        EXPECT_EQ(result.error().message, c.message) << c.name;
        EXPECT_TRUE(server->DiskBytes(0, DISK_SIZE) == before) << c.name << ": the disk changed";
        // The stream is still in step: the next request gets its own answer.
        EXPECT_TRUE(client.Info().ok()) << c.name;
        server->Stop();
    }
}

TEST_F(BlockClientTest, OversizedTransfersAreRefusedBeforeSending) {
    ASSERT_TRUE(StartServer(Options(ACCESS_FULL)));
    BlockClient client;
    ASSERT_TRUE(ConnectClient(client));
    const std::uint16_t echo = client.NextEcho();
    std::vector<std::uint8_t> big(MAX_TRANSFER_LENGTH + 1);

    auto write = client.Write(0, big);
    ASSERT_FALSE(write.ok());
    EXPECT_EQ(write.error().kind, ErrorKind::Usage);
    EXPECT_NE(write.error().message.find("write at 0 (2097153 bytes): longer than the 2 MiB"), std::string::npos)
        << write.error().message;

    auto read = client.Read(0, MAX_TRANSFER_LENGTH + 1, big);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind, ErrorKind::Usage);

    auto shortBuffer = client.Read(4096, 16, std::span(big).first(8));
    ASSERT_FALSE(shortBuffer.ok());
    EXPECT_EQ(shortBuffer.error().kind, ErrorKind::Usage);

    EXPECT_EQ(client.NextEcho(), echo) << "a refused request went out";
    EXPECT_TRUE(client.Info().ok());
}

struct AuthCase {
    const char* name;
    const char* password;
    std::uint32_t initialAccess;
    std::uint16_t status;
    std::uint32_t accessAfter;
    std::optional<std::uint32_t> identity;
};

TEST_F(BlockClientTest, AuthenticateSetsAccessAndReportsTheIdentity) {
    const AuthCase cases[] = {
        {"manage password", "manager", ACCESS_READ_ONLY, STATUS_OK, ACCESS_FULL, ACCESS_FULL},
        {"read password", "reader", ACCESS_READ_ONLY, STATUS_OK, ACCESS_READ_ONLY, ACCESS_READ_ONLY},
        {"wrong password", "guess", ACCESS_FULL, ERR_ACCESS_DENIED, ACCESS_NONE, std::nullopt},
    };
    for (const AuthCase& c : cases) {
        ASSERT_TRUE(StartServer(Options(c.initialAccess)));
        BlockClient client;
        ASSERT_TRUE(ConnectClient(client));
        auto result = client.Authenticate(PasswordDigest(c.password));
        if (c.status == STATUS_OK) {
            EXPECT_TRUE(result.ok()) << c.name << ": " << result.error().message;
        } else {
            ASSERT_FALSE(result.ok()) << c.name;
            EXPECT_EQ(result.error().code, c.status) << c.name;
            EXPECT_EQ(result.error().message, "authenticate: access denied (0x2004)") << c.name;
        }
        auto info = client.Info();
        ASSERT_TRUE(info.ok()) << c.name << ": " << info.error().message;
        EXPECT_EQ(info.value().access, c.accessAfter) << c.name;
        std::vector<std::uint32_t> expected;
        if (c.identity) expected.push_back(*c.identity);
        EXPECT_EQ(server->Identities(), expected) << c.name;
        server->Stop();
    }
}

TEST_F(BlockClientTest, ManageCredentialAllowsTheWriteReadOnlyRefused) {
    ASSERT_TRUE(StartServer(Options(ACCESS_READ_ONLY)));
    BlockClient client;
    ASSERT_TRUE(ConnectClient(client));
    const std::vector<std::uint8_t> data = Pattern(512, 9);

    auto refused = client.Write(8192, data);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "write at 8192 (512 bytes): access denied (0x2004)");

    auto authenticated = client.Authenticate(PasswordDigest("manager"));
    ASSERT_TRUE(authenticated.ok()) << authenticated.error().message;
    auto written = client.Write(8192, data);
    ASSERT_TRUE(written.ok()) << written.error().message;
    EXPECT_EQ(server->DiskBytes(8192, 512), data);
}

// A disk operation that cannot start is answered with the system error; for a read the
// answer still carries the announced amount of junk, which must be taken off the stream.
TEST_F(BlockClientTest, DiskStartFailureReportsTheSystemErrorAndKeepsFraming) {
    FakeServerOptions options = Options(ACCESS_FULL);
    options.diskStartError = 0x80070015;  // the low 16 bits: ERROR_NOT_READY
    ASSERT_TRUE(StartServer(options));
    BlockClient client;
    ASSERT_TRUE(ConnectClient(client));
    std::vector<std::uint8_t> bytes(4096);

    auto read = client.Read(4096, 4096, bytes);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().code, 21u);
    EXPECT_EQ(read.error().message, "read at 4096 (4096 bytes): system error 21 (0x0015)");

    auto write = client.Write(4096, bytes);
    ASSERT_FALSE(write.ok());
    EXPECT_EQ(write.error().message, "write at 4096 (4096 bytes): system error 21 (0x0015)");

    auto info = client.Info();
    EXPECT_TRUE(info.ok()) << info.error().message;
}

TEST_F(BlockClientTest, EchoMismatchIsAProtocolErrorThatEndsTheConnection) {
    ASSERT_TRUE(StartServer(Options(ACCESS_FULL)));
    BlockClient client;
    ASSERT_TRUE(ConnectClient(client));

    const std::uint16_t first = client.NextEcho();
    ASSERT_TRUE(client.Info().ok());
    EXPECT_EQ(client.NextEcho(), static_cast<std::uint16_t>(first + 1));

    // An answer nobody asked for is waiting when the client's own request goes out.
    const auto stray = static_cast<std::uint16_t>(client.NextEcho() + 0x100);
    ASSERT_TRUE(client.SendRaw(RawRequest(OP_GET_INFO, 0, 0, stray)).ok());
    auto info = client.Info();
    ASSERT_FALSE(info.ok());
    EXPECT_EQ(info.error().kind, ErrorKind::Protocol);
    EXPECT_NE(info.error().message.find("echoes 0x0102 but the request carried 0x0002"), std::string::npos)
        << info.error().message;
    EXPECT_FALSE(client.IsConnected());

    auto after = client.Info();
    ASSERT_FALSE(after.ok());
    EXPECT_EQ(after.error().message, "get info: not connected");
}

TEST_F(BlockClientTest, RawResponseEchoesTheRequest) {
    ASSERT_TRUE(StartServer(Options(ACCESS_FULL, 5000)));
    BlockClient client;
    ASSERT_TRUE(ConnectClient(client));
    ASSERT_TRUE(client.SendRaw(RawRequest(OP_GET_INFO, 0, 0, 0xBEEF)).ok());
    auto response = client.ReceiveResponse();
    ASSERT_TRUE(response.ok()) << response.error().message;
    EXPECT_EQ(response.value().header.echo, 0xBEEF);
    EXPECT_EQ(response.value().header.status, STATUS_OK);
    ASSERT_EQ(response.value().data.size(), sizeof(DiskInfo));
    DiskInfo info{};
    std::memcpy(&info, response.value().data.data(), sizeof info);
    EXPECT_EQ(info.size, 5000u);
}

}  // namespace
}  // namespace varnox::client::testing
