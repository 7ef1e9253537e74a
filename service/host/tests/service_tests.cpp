// The service under the real service control manager: registered, started, managed over
// its management interface, used with the protocol client, stopped and started console_.

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "block_client.h"
#include "configuration.h"
#include "installed_service.h"
#include "management.h"
#include "records.h"
#include "remote_management.h"
#include "share_host.h"

namespace varnox::testing {
namespace {

using config::ClientRecord;
using config::RECORD_BUFFER_SIZE;
using config::ServerRecord;

constexpr std::uint32_t LOOPBACK = 0x0100007F;  // 127.0.0.1 as it lies in a socket address

// Adds a share of `source` on `port` that admits 127.0.0.1 with full access; 0 on failure.
std::int32_t AddShare(rpc::RemoteManagement& console, const std::string& source, std::uint16_t port) {
    std::uint8_t buffer[RECORD_BUFFER_SIZE] = {};
    ServerRecord record = {};
    std::strncpy(record.Source, source.c_str(), sizeof record.Source - 1);
    record.Port = port;
    std::memcpy(buffer, &record, sizeof record);
    std::int32_t server = 0;
    if (!console.AddServer(&server, buffer).succeeded()) return 0;

    std::uint8_t clientBuffer[RECORD_BUFFER_SIZE] = {};
    ClientRecord client = {};
    client.IpAddress = LOOPBACK;
    client.Access = ACCESS_FULL;
    std::memcpy(clientBuffer, &client, sizeof client);
    if (!console.AddStaticClient(server, clientBuffer).succeeded()) return 0;
    return server;
}

client::Result<client::BlockClient> ConnectTo(std::uint16_t port) {
    auto connection = client::BlockClient::Connect("127.0.0.1", port);
    if (connection.ok()) (void)connection.value().SetTimeout(std::chrono::seconds(10));
    return connection;
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::mt19937 generator(seed);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(service_.Error(), ""); }

    InstalledService service_;
    rpc::RemoteManagement console_;
};

TEST_F(ServiceTest, StopKeepsBothSharesStartedAndTheNextStartServesTheSameData) {
    TempImage first(1 << 20), second(1 << 20);
    const std::uint16_t firstPort = FreePort(), secondPort = FreePort();
    ASSERT_NE(firstPort, secondPort);
    ASSERT_TRUE(service_.Start(console_)) << service_.Error();
    const std::int32_t a = AddShare(console_, first.Path(), firstPort);
    const std::int32_t b = AddShare(console_, second.Path(), secondPort);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    ASSERT_TRUE(console_.StartServer(a).succeeded());
    ASSERT_TRUE(console_.StartServer(b).succeeded());

    const auto firstData = Pattern(64 * 1024, 1), secondData = Pattern(64 * 1024, 2);
    for (auto [port, data] : {std::pair{firstPort, &firstData}, std::pair{secondPort, &secondData}}) {
        auto connection = ConnectTo(port);
        ASSERT_TRUE(connection.ok()) << connection.error().message;
        auto written = connection.value().Write(4096, *data);
        ASSERT_TRUE(written.ok()) << written.error().message;
    }

    ASSERT_TRUE(service_.Stop());
    const std::string saved = ReadWholeFile(service_.LocalsPath());
    EXPECT_EQ(CountOf(saved, "Started=\"1\""), 2) << saved;
    // Both server threads ended with the process: nothing listens any more.
    EXPECT_FALSE(ConnectTo(firstPort).ok());
    EXPECT_FALSE(ConnectTo(secondPort).ok());

    ASSERT_TRUE(service_.Start(console_)) << service_.Error();
    for (auto [port, data] : {std::pair{firstPort, &firstData}, std::pair{secondPort, &secondData}}) {
        auto connection = ConnectTo(port);
        ASSERT_TRUE(connection.ok()) << connection.error().message;
        std::vector<std::uint8_t> back(data->size());
        auto read = connection.value().Read(4096, static_cast<std::uint32_t>(back.size()), back);
        ASSERT_TRUE(read.ok()) << read.error().message;
        EXPECT_EQ(back, *data);
    }
    std::uint8_t record[RECORD_BUFFER_SIZE] = {};
    ASSERT_TRUE(console_.GetServer(a, record).delivered());
    std::int32_t next = 0;
    ASSERT_TRUE(console_.EnumServers(0, &next).succeeded());
    ASSERT_NE(next, 0);
    ASSERT_TRUE(console_.GetServer(next, record).succeeded());
    EXPECT_EQ(reinterpret_cast<ServerRecord*>(record)->Started, 1);
}

// Only the system may send the shutdown control (ControlService refuses it with 87), so
// the handler runs in-process here, after a change made through the operations the
// management interface runs.
TEST(ServiceControlTest, ShutdownRightAfterAChangeWritesNothingMore) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "vnx-shutdown-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
    config::SetConfigDirectory(folder);
    config::LoadConfiguration();

    std::uint8_t buffer[RECORD_BUFFER_SIZE] = {};
    ServerRecord record = {};
    std::strcpy(record.Source, "C:\\shared.img");
    record.Port = 9123;
    std::memcpy(buffer, &record, sizeof record);
    std::int32_t server = 0;
    ASSERT_EQ(config::AddServer(&server, buffer), 0);
    const std::string locals = folder + "\\Locals.xml";
    const std::string afterChange = ReadWholeFile(locals);
    ASSERT_NE(afterChange.find("shared.img"), std::string::npos) << afterChange;

    host::ServiceControlHandler(SERVICE_CONTROL_SHUTDOWN);
    EXPECT_EQ(host::CurrentServiceState(), static_cast<unsigned long>(SERVICE_STOPPED));
    EXPECT_EQ(ReadWholeFile(locals), afterChange);
    EXPECT_FALSE(FileExists(folder + "\\Locals.bak.xml"));
    // The model was left alone too: the server is still configured.
    std::int32_t next = 0;
    EXPECT_EQ(config::EnumServers(0, &next), 0);
    EXPECT_EQ(next, server);

    config::EmptyConfiguration();
    DeleteFileA(locals.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_F(ServiceTest, InterrogateLeavesTheServiceRunning) {
    ASSERT_TRUE(service_.Start(console_)) << service_.Error();
    EXPECT_EQ(service_.Control(SERVICE_CONTROL_INTERROGATE), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(service_.State(), static_cast<DWORD>(SERVICE_RUNNING));
    std::uint8_t name[64] = {};
    EXPECT_TRUE(console_.GetServerName(name, sizeof name).succeeded());
}

TEST_F(ServiceTest, StartedDirectlyItExitsWithZeroAndLeavesTheFileAlone) {
    const std::string original = "<?xml version=\"1.0\" encoding=\"GB2312\"?><Services><Server Port=\"1\"/></Services>";
    {
        std::ofstream out(service_.LocalsPath(), std::ios::binary);
        out << original;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + service_.Exe() + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               service_.Folder().c_str(), &startup, &process))
        << "CreateProcessA() failed: " << GetLastError();
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadWholeFile(service_.LocalsPath()), original);
    EXPECT_FALSE(FileExists(service_.Folder() + "\\Locals.bak.xml"));
}

// Each client writes into its own region and keeps what the server acknowledged; the
// write in flight when the connection ends may land or not, but nothing acknowledged
// may be missing.
TEST_F(ServiceTest, StopWhileEightClientsWorkLosesNoAcknowledgedWrite) {
    constexpr int CLIENTS = 8;
    constexpr std::size_t REGION = 1 << 20;
    TempImage image(CLIENTS * REGION);
    const std::uint16_t port = FreePort();
    ASSERT_TRUE(service_.Start(console_)) << service_.Error();
    const std::int32_t share = AddShare(console_, image.Path(), port);
    ASSERT_NE(share, 0);
    ASSERT_TRUE(console_.StartServer(share).succeeded());

    struct Progress {
        std::vector<std::uint8_t> expected;  // the region as acknowledged
        std::vector<std::uint8_t> pending;   // the region if the write in flight landed
        std::size_t pendingOffset = 0, pendingLength = 0;
        int acknowledged = 0;
    };
    std::vector<Progress> progress(CLIENTS);
    std::atomic<int> connected{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < CLIENTS; ++i) {
        progress[i].expected.assign(image.Initial().begin() + i * REGION, image.Initial().begin() + (i + 1) * REGION);
        clients.emplace_back([&, i] {
            Progress& mine = progress[i];
            auto connection = ConnectTo(port);
            if (!connection.ok()) return;
            ++connected;
            std::mt19937 generator(static_cast<unsigned>(i + 100));
            for (;;) {
                const std::size_t length = 512 * (1 + generator() % 256);
                const std::size_t offset = 512 * (generator() % ((REGION - length) / 512 + 1));
                const auto data = Pattern(length, generator());
                mine.pending = mine.expected;
                std::memcpy(mine.pending.data() + offset, data.data(), length);
                mine.pendingOffset = offset;
                mine.pendingLength = length;
                if (!connection.value().Write(i * REGION + offset, data).ok()) return;
                mine.expected.swap(mine.pending);
                mine.pendingLength = 0;
                ++mine.acknowledged;
            }
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (connected.load() < CLIENTS && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(service_.Stop());
    for (auto& client : clients) client.join();

    EXPECT_EQ(connected.load(), CLIENTS);
    const auto contents = image.Contents();
    ASSERT_EQ(contents.size(), CLIENTS * REGION);
    for (int i = 0; i < CLIENTS; ++i) {
        const Progress& mine = progress[i];
        EXPECT_GT(mine.acknowledged, 0) << "client " << i;
        for (std::size_t at = 0; at < REGION; ++at) {
            const std::uint8_t actual = contents[i * REGION + at];
            const bool inFlight = mine.pendingLength != 0 && at >= mine.pendingOffset &&
                                  at < mine.pendingOffset + mine.pendingLength;
            if (actual == mine.expected[at] || (inFlight && actual == mine.pending[at])) continue;
            ADD_FAILURE() << "client " << i << " lost a write at region offset " << at;
            break;
        }
    }
}

}  // namespace
}  // namespace varnox::testing
