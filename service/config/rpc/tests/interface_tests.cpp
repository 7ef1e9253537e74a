// Every procedure of the management interface called through the RPC runtime, from a
// client stub in this process to the service's registration and manager routines.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "block_client.h"
#include "management_test_host.h"
#include "password_digest.h"
#include "share_host.h"

namespace varnox::rpc::testing {
namespace {

using config::ClientRecord;
using config::ServerRecord;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

using InterfaceTest = ManagementTest;

TEST_F(InterfaceTest, ServerNameNeedsRoomForItsTerminator) {
    const std::string name = config::SERVER_NAME_TEXT;
    std::vector<std::uint8_t> text(64, 0xCC);
    const auto exact = static_cast<std::uint32_t>(name.size());
    const CallOutcome tooShort = Remote().GetServerName(text.data(), exact);
    ASSERT_TRUE(tooShort.delivered()) << tooShort.rpcStatus;
    EXPECT_EQ(tooShort.result, -1);
    // Nothing of the name came back, and nothing beyond the buffer was touched.
    EXPECT_EQ(std::string(text.begin(), text.begin() + exact).find("Varnox"), std::string::npos);
    EXPECT_EQ(text[exact], 0xCC);

    const CallOutcome enough = Remote().GetServerName(text.data(), exact + 1);
    ASSERT_TRUE(enough.delivered());
    EXPECT_EQ(enough.result, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data())), name);
    EXPECT_EQ(text[exact + 1], 0xCC);
}

TEST_F(InterfaceTest, LastErrorTextNeeds1024AndStartsEmpty) {
    EXPECT_EQ(ManagementTestHost::Get().InitialLastError(), "");
    std::vector<std::uint8_t> text(config::LAST_ERROR_TEXT_SIZE, 0xCC);
    const CallOutcome shortBuffer = Remote().GetLastErrorText(text.data(), config::LAST_ERROR_TEXT_SIZE - 1);
    ASSERT_TRUE(shortBuffer.delivered());
    EXPECT_EQ(shortBuffer.result, -1);
    const CallOutcome fullBuffer = Remote().GetLastErrorText(text.data(), config::LAST_ERROR_TEXT_SIZE);
    ASSERT_TRUE(fullBuffer.delivered());
    EXPECT_EQ(fullBuffer.result, 0);
}

TEST_F(InterfaceTest, DuplicateRefusalTextStaysAfterLaterSuccesses) {
    const std::int32_t server = AddServer(MakeServer("c:\\a.img", 9000));
    const RecordBuffer client = ToBuffer(MakeClient(Address(10, 0, 0, 5), 0));
    ASSERT_TRUE(Remote().AddStaticClient(server, client.data()).succeeded());
    const CallOutcome duplicate = Remote().AddStaticClient(server, client.data());
    ASSERT_TRUE(duplicate.delivered());
    EXPECT_EQ(duplicate.result, -1);
    EXPECT_EQ(LastError(), config::DUPLICATE_CLIENT_TEXT);

    // The connected list has the same rule and the same text.
    ASSERT_TRUE(Remote().AddConnectedClient(server, client.data()).succeeded());
    EXPECT_EQ(Remote().AddConnectedClient(server, client.data()).result, -1);

    ASSERT_TRUE(Remote().AddStaticClient(server, ToBuffer(MakeClient(Address(10, 0, 0, 6), 0)).data()).succeeded());
    AddServer(MakeServer("c:\\b.img", 9001));
    EXPECT_EQ(LastError(), config::DUPLICATE_CLIENT_TEXT);
}

TEST_F(InterfaceTest, EnumerationStartsAndEndsWithZero) {
    std::int32_t next = 77;
    CallOutcome outcome = Remote().EnumServers(0, &next);
    ASSERT_TRUE(outcome.succeeded());
    EXPECT_EQ(next, 0);

    const std::int32_t first = AddServer(MakeServer("c:\\a.img", 9000));
    const std::int32_t second = AddServer(MakeServer("c:\\b.img", 9001));
    const std::int32_t third = AddServer(MakeServer("c:\\c.img", 9002));
    EXPECT_TRUE(Remote().EnumServers(0, &next).succeeded());
    EXPECT_EQ(next, first);
    EXPECT_TRUE(Remote().EnumServers(first, &next).succeeded());
    EXPECT_EQ(next, second);
    EXPECT_TRUE(Remote().EnumServers(third, &next).succeeded());
    EXPECT_EQ(next, 0);

    EXPECT_TRUE(Remote().DeleteServer(second).succeeded());
    next = 77;
    outcome = Remote().EnumServers(second, &next);
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_EQ(next, 0);
    EXPECT_TRUE(Remote().EnumServers(first, &next).succeeded());
    EXPECT_EQ(next, third);
    // Handles naming nothing: -1, except that deleting nothing is not an error.
    RecordBuffer record{};
    EXPECT_EQ(Remote().GetServer(second, record.data()).result, -1);
    EXPECT_EQ(Remote().StartServer(second).result, -1);
    EXPECT_EQ(Remote().StopServer(second).result, -1);
    EXPECT_EQ(Remote().DeleteServer(second).result, 0);
    EXPECT_EQ(Remote().EnumStaticClients(second, 0, &next).result, -1);
    EXPECT_EQ(Remote().EnumConnectedClients(second, 0, &next).result, -1);
    EXPECT_EQ(Remote().AddStaticClient(second, record.data()).result, -1);
    EXPECT_EQ(Remote().GetStaticClient(second, record.data()).result, -1);
    EXPECT_EQ(Remote().SetStaticClient(second, record.data()).result, -1);
    EXPECT_EQ(Remote().DeleteStaticClient(second, 1).result, -1);
    EXPECT_EQ(Remote().GetConnectedClient(second, record.data()).result, -1);
    EXPECT_EQ(Remote().SetConnectedClient(second, record.data()).result, -1);
    EXPECT_EQ(Remote().DeleteConnectedClient(second, 1).result, -1);
}

TEST_F(InterfaceTest, RecordsCrossWhole) {
    ServerRecord sent = MakeServer("c:\\images\\disk.img", 3260);
    sent.IpAddress = Address(192, 168, 0, 1);
    sent.Capability = (2ull << 40) - 512;
    sent.Cache = -5;
    sent.AuthMode = 7;
    sent.Started = 1;  // the service decides that
    const Sha1Digest password = PasswordDigest("pw");
    std::memcpy(sent.Password, password.data(), password.size());
    const std::int32_t server = AddServer(sent);
    EXPECT_NE(server, 0);

    RecordBuffer buffer;
    buffer.fill(0xCC);
    ASSERT_TRUE(Remote().GetServer(server, buffer.data()).succeeded());
    const ServerRecord got = FromBuffer<ServerRecord>(buffer);
    sent.Started = 0;
    EXPECT_EQ(std::memcmp(&got, &sent, sizeof got), 0);
    // The rest of the 2048 bytes comes back cleared, not as whatever the service's heap held.
    for (std::size_t i = sizeof(ServerRecord); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i;
}

TEST_F(InterfaceTest, StartTwiceAndUnopenableSource) {
    varnox::testing::TempImage image(1 << 20);
    const std::uint16_t port = varnox::testing::FreePort();
    const std::int32_t server = AddServer(MakeServer(image.Path(), port));
    ASSERT_TRUE(Remote().StartServer(server).succeeded());
    EXPECT_EQ(Server(server).Started, 1);
    const CallOutcome again = Remote().StartServer(server);
    ASSERT_TRUE(again.delivered());
    EXPECT_EQ(again.result, -1);
    EXPECT_EQ(Server(server).Started, 1);
    EXPECT_TRUE(Remote().StopServer(server).succeeded());
    EXPECT_EQ(Server(server).Started, 0);

    const std::int32_t missing =
        AddServer(MakeServer(ManagementTestHost::Get().Directory() + "\\no-such.img", varnox::testing::FreePort()));
    const CallOutcome failed = Remote().StartServer(missing);
    ASSERT_TRUE(failed.delivered());
    EXPECT_EQ(failed.result, -1);
    EXPECT_EQ(Server(missing).Started, 0);
}

TEST_F(InterfaceTest, StoppingAStoppedServerStillSaves) {
    const std::int32_t server = AddServer(MakeServer("c:\\a.img", 9000));
    const std::string path = ManagementTestHost::Get().LocalsPath();
    ASSERT_TRUE(FileExists(path));
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    const CallOutcome stopped = Remote().StopServer(server);
    ASSERT_TRUE(stopped.delivered());
    EXPECT_EQ(stopped.result, 0);
    ASSERT_TRUE(FileExists(path));
    EXPECT_NE(ReadFile(path).find("Started=\"0\""), std::string::npos);
}

TEST_F(InterfaceTest, DeletedRunningServerRunsOnDetachedAndRefusesNewClients) {
    // The image outlives the test: the detached engine holds it open until the process ends.
    static varnox::testing::TempImage image(1 << 20);
    const std::uint16_t port = varnox::testing::FreePort();
    const std::int32_t server = AddServer(MakeServer(image.Path(), port));
    AddStatic(server, MakeClient(LOOPBACK, 0));
    ASSERT_TRUE(Remote().StartServer(server).succeeded());

    auto open = client::BlockClient::Connect("127.0.0.1", port);
    ASSERT_TRUE(open.ok()) << open.error().message;
    (void)open.value().SetTimeout(std::chrono::seconds(10));
    ASSERT_TRUE(open.value().Info().ok());

    ASSERT_TRUE(Remote().DeleteServer(server).succeeded());
    std::int32_t next = 77;
    EXPECT_TRUE(Remote().EnumServers(0, &next).succeeded());
    EXPECT_EQ(next, 0);

    // The open connection goes on working.
    std::vector<std::uint8_t> data(4096);
    const auto read = open.value().Read(4096, 4096, data);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image.Initial().begin() + 4096));

    // A new one reaches the engine, which finds nobody to admit it.
    auto refused = client::BlockClient::Connect("127.0.0.1", port);
    ASSERT_TRUE(refused.ok()) << "the engine stopped listening: " << refused.error().message;
    (void)refused.value().SetTimeout(std::chrono::seconds(10));
    EXPECT_FALSE(refused.value().Info().ok());
}

TEST_F(InterfaceTest, DeleteStaticClientOfAnotherServerRemovesNothing) {
    const std::int32_t first = AddServer(MakeServer("c:\\a.img", 9000));
    const std::int32_t second = AddServer(MakeServer("c:\\b.img", 9001));
    AddStatic(first, MakeClient(Address(10, 0, 0, 1), 0));
    const std::int32_t foreign = AddStatic(second, MakeClient(Address(10, 0, 0, 2), 0));

    const CallOutcome outcome = Remote().DeleteStaticClient(first, foreign);
    ASSERT_TRUE(outcome.delivered());
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(Handles(second, false), std::vector<std::int32_t>{foreign});
    EXPECT_EQ(Handles(first, false).size(), 1u);

    EXPECT_TRUE(Remote().DeleteStaticClient(second, foreign).succeeded());
    EXPECT_TRUE(Handles(second, false).empty());
    EXPECT_EQ(Remote().DeleteStaticClient(second, foreign).result, -1);
}

TEST_F(InterfaceTest, StaticAddsAreConfiguredRecordsConnectedAddsAsSent) {
    const std::int32_t server = AddServer(MakeServer("c:\\a.img", 9000));
    struct Case {
        std::uint8_t hasName;
        std::uint8_t status;
        std::uint8_t storedHasName;
    };
    const Case cases[] = {{2, 1, 0}, {1, 1, 1}, {0, 3, 0}, {7, 0, 0}};
    std::uint8_t octet = 1;
    for (const Case c : cases) {
        ClientRecord record = MakeClient(Address(10, 0, 1, octet), 1, c.hasName, "name");
        record.Status = c.status;
        ASSERT_TRUE(Remote().AddStaticClient(server, ToBuffer(record).data()).succeeded());
        ASSERT_TRUE(Remote().AddConnectedClient(server, ToBuffer(record).data()).succeeded());
        ++octet;
    }
    const std::vector<ClientRecord> configured = Records(server, false);
    const std::vector<ClientRecord> connected = Records(server, true);
    ASSERT_EQ(configured.size(), std::size(cases));
    ASSERT_EQ(connected.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(configured[i].Status, 0) << i;
        EXPECT_EQ(configured[i].HasName, cases[i].storedHasName) << i;
        EXPECT_EQ(connected[i].Status, cases[i].status) << i;
        EXPECT_EQ(connected[i].HasName, cases[i].hasName) << i;
        EXPECT_STREQ(connected[i].HostName, "name") << i;
    }
}

TEST_F(InterfaceTest, SetKeepsTheAddressAndCopiesTheRest) {
    const std::int32_t server = AddServer(MakeServer("c:\\a.img", 9000));
    const std::uint32_t address = Address(10, 0, 0, 5);
    const std::int32_t client = AddStatic(server, MakeClient(address, 0));
    ClientRecord change = MakeClient(Address(10, 9, 9, 9), 2, 1, "renamed");
    ASSERT_TRUE(Remote().SetStaticClient(client, ToBuffer(change).data()).succeeded());
    RecordBuffer buffer{};
    ASSERT_TRUE(Remote().GetStaticClient(client, buffer.data()).succeeded());
    ClientRecord got = FromBuffer<ClientRecord>(buffer);
    EXPECT_EQ(got.IpAddress, address);
    EXPECT_EQ(got.Access, 2);
    EXPECT_EQ(got.HasName, 1);
    EXPECT_STREQ(got.HostName, "renamed");
    EXPECT_NE(ReadFile(ManagementTestHost::Get().LocalsPath()).find("renamed"), std::string::npos);

    ClientRecord connected = MakeClient(address, 1);
    connected.Status = 1;
    ASSERT_TRUE(Remote().AddConnectedClient(server, ToBuffer(connected).data()).succeeded());
    const std::int32_t handle = Handles(server, true).at(0);
    ASSERT_TRUE(Remote().SetConnectedClient(handle, ToBuffer(change).data()).succeeded());
    ASSERT_TRUE(Remote().GetConnectedClient(handle, buffer.data()).succeeded());
    got = FromBuffer<ClientRecord>(buffer);
    EXPECT_EQ(got.IpAddress, address);
    EXPECT_EQ(got.Access, 2);
    EXPECT_STREQ(got.HostName, "renamed");
    // A static handle is not a connected one, nor the other way round.
    EXPECT_EQ(Remote().SetConnectedClient(client, ToBuffer(change).data()).result, -1);
    EXPECT_EQ(Remote().GetStaticClient(handle, buffer.data()).result, -1);
    EXPECT_TRUE(Remote().DeleteConnectedClient(server, handle).succeeded());
    EXPECT_TRUE(Handles(server, true).empty());
}

TEST(InterfaceAbsent, CallsToAnEndpointNobodyServesFailCleanly) {
    // Only one implicit binding per process: re-bind the host's client to nowhere and back.
    RemoteManagement& client = ManagementTestHost::Get().Client();
    ASSERT_EQ(client.Bind("varnoxsvc-nobody-listens"), 0u);
    std::int32_t next = 77;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const CallOutcome outcome = client.EnumServers(0, &next);
        EXPECT_FALSE(outcome.delivered());
        EXPECT_EQ(outcome.rpcStatus, static_cast<std::uint32_t>(RPC_S_SERVER_UNAVAILABLE));
        EXPECT_EQ(next, 77);
    }
    EXPECT_FALSE(RpcStatusText(RPC_S_SERVER_UNAVAILABLE).empty());
    ASSERT_EQ(client.Bind(ManagementTestHost::Get().Endpoint()), 0u);
    EXPECT_TRUE(client.EnumServers(0, &next).succeeded());
}

}  // namespace
}  // namespace varnox::rpc::testing
