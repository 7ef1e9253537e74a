// The engine end to end: a real DiskServer on a temporary image, driven over 127.0.0.1
// by the protocol client.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "disk_server.h"
#include "log_line.h"
#include "share_host.h"

namespace varnox::testing {
namespace {

using client::BlockClient;

constexpr std::size_t kImageSize = 8 * 1024 * 1024;

Credential Filled(std::uint8_t value) {
    Credential c;
    c.fill(value);
    return c;
}

ShareSettings SettingsFor(const TempImage& image, std::uint16_t port) {
    ShareSettings settings;
    settings.source = image.Path();
    settings.port = port;
    settings.credentials = {Filled(0x11), Filled(0x22)};
    return settings;
}

// What the hooks saw; the hooks are plain functions, so they record into globals.
struct HookLog {
    std::mutex mutex;
    std::uint32_t grantedAccess = ACCESS_FULL;
    bool admit = true;
    int queries = 0;
    std::vector<std::uint32_t> disconnected;
    std::vector<std::uint32_t> connectedIdentities;
};
HookLog hookLog;

int TestAccessQuery(DiskServer*, std::uint32_t, std::uint32_t* access) {
    std::lock_guard<std::mutex> guard(hookLog.mutex);
    ++hookLog.queries;
    *access = hookLog.grantedAccess;
    return hookLog.admit ? 1 : 0;
}

int TestClientDisconnected(DiskServer*, std::uint32_t address) {
    std::lock_guard<std::mutex> guard(hookLog.mutex);
    hookLog.disconnected.push_back(address);
    return 0;
}

void TestClientConnected(DiskServer*, std::uint32_t, std::uint32_t identity) {
    std::lock_guard<std::mutex> guard(hookLog.mutex);
    hookLog.connectedIdentities.push_back(identity);
}

// Collects LogLine's lines for one test.
class LogCapture {
public:
    LogCapture() {
        SetLogLineObserver([this](std::string_view line) {
            std::lock_guard<std::mutex> guard(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { SetLogLineObserver({}); }
    bool Contains(const std::string& prefix) {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const auto& line : lines_) {
            if (line.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

class DiskServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> guard(hookLog.mutex);
            hookLog.grantedAccess = ACCESS_FULL;
            hookLog.admit = true;
            hookLog.queries = 0;
            hookLog.disconnected.clear();
            hookLog.connectedIdentities.clear();
        }
        host = std::make_unique<ShareHost>(SettingsFor(image, FreePort()));
        ASSERT_TRUE(host->Start());
    }
    void TearDown() override { EXPECT_EQ(host->Stop(), 0); }

    BlockClient Connect() {
        auto connection = host->Connect();
        EXPECT_TRUE(connection.ok()) << connection.error().message;
        return std::move(connection.value());
    }

    TempImage image{kImageSize};
    std::unique_ptr<ShareHost> host;
};

TEST_F(DiskServerTest, ReadWriteInfoMatchTheImageFile) {
    BlockClient c = Connect();
    auto info = c.Info();
    ASSERT_TRUE(info.ok()) << info.error().message;
    EXPECT_EQ(info.value().size, kImageSize);
    EXPECT_EQ(info.value().access, ACCESS_FULL);

    std::vector<std::uint8_t> data(100000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
    ASSERT_TRUE(c.Write(12345, data).ok());
    std::vector<std::uint8_t> back(data.size());
    ASSERT_TRUE(c.Read(12345, static_cast<std::uint32_t>(back.size()), back).ok());
    EXPECT_EQ(back, data);

    std::vector<std::uint8_t> expected = image.Initial();
    std::copy(data.begin(), data.end(), expected.begin() + 12345);
    EXPECT_EQ(image.Contents(), expected) << "the image file holds exactly what was written";
}

TEST_F(DiskServerTest, LargestReadArrivesWholeAndInOrder) {
    BlockClient c = Connect();
    std::vector<std::uint8_t> out(MAX_TRANSFER_LENGTH);
    ASSERT_TRUE(c.Read(4096, MAX_TRANSFER_LENGTH, out).ok());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), image.Initial().begin() + 4096));
    auto info = c.Info();
    EXPECT_TRUE(info.ok()) << "the next request is served after the whole response";
}

TEST_F(DiskServerTest, HeaderInPiecesIsActedOnOnce) {
    BlockClient c = Connect();
    RequestHeader request{};
    request.opcode = OP_GET_INFO;
    request.echo = 0x4242;
    std::uint8_t bytes[32];
    std::memcpy(bytes, &request, sizeof request);
    ASSERT_TRUE(c.SendRaw(std::span(bytes, 10)).ok());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(c.SendRaw(std::span(bytes + 10, 22)).ok());
    auto response = c.ReceiveResponse();
    ASSERT_TRUE(response.ok()) << response.error().message;
    EXPECT_EQ(response.value().header.echo, 0x4242);
    EXPECT_EQ(response.value().header.dataLength, 16u);
    EXPECT_TRUE(c.Info().ok()) << "exactly one answer: the stream is still in step";
}

TEST_F(DiskServerTest, UnknownOpcodeIsNeverAnswered) {
    BlockClient c = Connect();
    ASSERT_TRUE(c.SetTimeout(std::chrono::milliseconds(500)).ok());
    RequestHeader request{};
    request.opcode = 0x81;
    ASSERT_TRUE(c.SendRaw(std::span(reinterpret_cast<const std::uint8_t*>(&request), sizeof request)).ok());
    EXPECT_FALSE(c.Info().ok()) << "nothing after an unknown opcode is answered";
}

TEST_F(DiskServerTest, SignatureDiffersBetweenConnectionsAndHoldsOnOne) {
    BlockClient a = Connect();
    BlockClient b = Connect();
    std::vector<std::uint8_t> a1(512), a2(512), b1(512);
    ASSERT_TRUE(a.Read(0, 512, a1).ok());
    ASSERT_TRUE(a.Read(0, 512, a2).ok());
    ASSERT_TRUE(b.Read(0, 512, b1).ok());
    auto signature = [](const std::vector<std::uint8_t>& sector) {
        std::uint32_t value;
        std::memcpy(&value, sector.data() + DISK_SIGNATURE_OFFSET, 4);
        return value;
    };
    EXPECT_EQ(signature(a1), signature(a2));
    EXPECT_NE(signature(a1), signature(b1));
    EXPECT_TRUE(std::equal(a1.begin(), a1.begin() + 440, image.Initial().begin()));
    EXPECT_EQ(image.Contents(), image.Initial()) << "the disk itself is unchanged";
}

TEST_F(DiskServerTest, AuthenticateChangesAccessAndCallsTheHook) {
    hookLog.grantedAccess = ACCESS_READ_ONLY;
    host->Server().SetHooks(TestAccessQuery, TestClientDisconnected, TestClientConnected);
    BlockClient c = Connect();
    std::vector<std::uint8_t> data(512, 7);
    auto denied = c.Write(0, data);
    ASSERT_FALSE(denied.ok());
    EXPECT_EQ(denied.error().code, ERR_ACCESS_DENIED);
    ASSERT_TRUE(c.Authenticate(Filled(0x11)).ok());
    EXPECT_FALSE(c.Write(0, data).ok()) << "the Password credential leaves it read-only";
    ASSERT_TRUE(c.Authenticate(Filled(0x22)).ok());
    EXPECT_TRUE(c.Write(0, data).ok());
    EXPECT_FALSE(c.Authenticate(Filled(0x99)).ok());
    EXPECT_EQ(c.Info().value().access, ACCESS_NONE);
    std::lock_guard<std::mutex> guard(hookLog.mutex);
    EXPECT_EQ(hookLog.connectedIdentities, (std::vector<std::uint32_t>{1, 0}));
}

TEST_F(DiskServerTest, RefusedClientIsClosedWithoutAByte) {
    hookLog.admit = false;
    host->Server().SetHooks(TestAccessQuery, TestClientDisconnected, TestClientConnected);
    BlockClient c = Connect();
    auto info = c.Info();
    EXPECT_FALSE(info.ok());
    EXPECT_NE(info.error().kind, client::ErrorKind::Protocol) << "no protocol byte arrives";
    EXPECT_TRUE(host->WaitForConnections(0));
    std::lock_guard<std::mutex> guard(hookLog.mutex);
    EXPECT_EQ(hookLog.queries, 1);
    EXPECT_TRUE(hookLog.disconnected.empty()) << "a refused connection causes no disconnect";
}

TEST_F(DiskServerTest, ConnectionAcceptedBeforeHooksKeepsFullAccess) {
    BlockClient early = Connect();
    ASSERT_TRUE(early.Info().ok());
    hookLog.grantedAccess = ACCESS_READ_ONLY;
    host->Server().SetHooks(TestAccessQuery, TestClientDisconnected, TestClientConnected);
    BlockClient late = Connect();
    std::vector<std::uint8_t> data(16, 1);
    EXPECT_TRUE(early.Write(0, data).ok());
    EXPECT_FALSE(late.Write(0, data).ok());
    EXPECT_EQ(late.Info().value().access, ACCESS_READ_ONLY);
}

TEST_F(DiskServerTest, TwoConnectionsFromOneAddressInEitherClosingOrder) {
    host->Server().SetHooks(TestAccessQuery, TestClientDisconnected, TestClientConnected);
    for (const bool firstClosesFirst : {true, false}) {
        hookLog.disconnected.clear();
        BlockClient first = Connect();
        ASSERT_TRUE(first.Info().ok());
        BlockClient second = Connect();
        ASSERT_TRUE(second.Info().ok());
        ASSERT_TRUE(host->WaitForConnections(2));
        EXPECT_EQ(host->Server().AddressEntryCount(), 1u);

        BlockClient& closing = firstClosesFirst ? first : second;
        BlockClient& staying = firstClosesFirst ? second : first;
        ASSERT_TRUE(closing.Close().ok());
        ASSERT_TRUE(host->WaitForConnections(1));
        {
            std::lock_guard<std::mutex> guard(hookLog.mutex);
            EXPECT_EQ(hookLog.disconnected.size(), firstClosesFirst ? 1u : 0u);
        }
        EXPECT_EQ(host->Server().AddressEntryCount(), firstClosesFirst ? 0u : 1u);
        EXPECT_TRUE(staying.Info().ok()) << "the other connection is still served";
        ASSERT_TRUE(staying.Close().ok());
        ASSERT_TRUE(host->WaitForConnections(0));
        std::lock_guard<std::mutex> guard(hookLog.mutex);
        EXPECT_EQ(hookLog.disconnected, std::vector<std::uint32_t>{0x0100007F})
            << (firstClosesFirst ? "first closed first" : "second closed first");
        EXPECT_EQ(host->Server().AddressEntryCount(), 0u);
    }
}

TEST_F(DiskServerTest, IdleClientThatClosesIsRemovedAtOnce) {
    BlockClient c = Connect();
    ASSERT_TRUE(c.Info().ok());
    ASSERT_TRUE(host->WaitForConnections(1));
    ASSERT_TRUE(c.Close().ok());
    EXPECT_TRUE(host->WaitForConnections(0, std::chrono::seconds(2)));
}

TEST_F(DiskServerTest, StopEngineClosesEveryConnection) {
    std::vector<BlockClient> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(Connect());
        ASSERT_TRUE(clients.back().Info().ok());
    }
    EXPECT_EQ(host->Stop(), 0);
    for (auto& c : clients) {
        auto info = c.Info();
        EXPECT_FALSE(info.ok()) << "a connection outlived its server";
    }
}

// A process started while the share runs, with handle inheritance on (as a console or a
// test does to pass its output files), must not keep the share's sockets open: the stop
// would then wait for that process to end.
TEST_F(DiskServerTest, ProcessStartedMeanwhileDoesNotHoldTheShareOpen) {
    BlockClient client = Connect();
    ASSERT_TRUE(client.Info().ok());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    char commandLine[] = "cmd.exe /c exit";
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                               &startup, &child))
        << "CreateProcessA() failed: " << GetLastError();
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        EXPECT_EQ(host->Stop(), 0);
        stopped = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stopped && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool stoppedWithChildAlive = stopped;
    TerminateProcess(child.hProcess, 0);
    stopper.join();
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_TRUE(stoppedWithChildAlive) << "the stop waited for an unrelated process";
    EXPECT_FALSE(client.Info().ok());
}

TEST_F(DiskServerTest, ConnectionOutsideTheAddressMapEndsWithTheServer) {
    host->Server().SetHooks(TestAccessQuery, TestClientDisconnected, TestClientConnected);
    BlockClient first = Connect();
    BlockClient second = Connect();
    ASSERT_TRUE(first.Info().ok());
    ASSERT_TRUE(second.Info().ok());
    ASSERT_TRUE(first.Close().ok());
    ASSERT_TRUE(host->WaitForConnections(1));
    ASSERT_EQ(host->Server().AddressEntryCount(), 0u);
    EXPECT_EQ(host->Stop(), 0);
    EXPECT_FALSE(second.Info().ok());
}

TEST(DiskServer, SecondShareOnTheSamePortFailsAtBind) {
    TempImage image(1 << 20);
    const std::uint16_t port = FreePort();
    ShareHost first(SettingsFor(image, port));
    ASSERT_TRUE(first.Start());
    LogCapture log;
    ShareHost second(SettingsFor(image, port));
    second.Launch();
    EXPECT_EQ(second.Join(), 0) << "the second share's server thread ends by itself";
    EXPECT_TRUE(log.Contains("bind() failed: "));
    EXPECT_EQ(first.Stop(), 0);
}

TEST(DiskServer, SourceThatIsNotReadyDoesNotRun) {
    ShareSettings settings;
    settings.source = "C:\\no\\such\\folder\\disk.img";
    settings.port = FreePort();
    DiskServer server(settings);
    EXPECT_FALSE(server.Source().ready);
    EXPECT_EQ(server.RunServer(), -1);
}

TEST(DiskServer, ImageSourceIsMeasuredExactly) {
    TempImage image(3 * 1024 * 1024 + 512);
    const DiskSource source = OpenSource(image.Path());
    DiskSource copy = source;
    EXPECT_TRUE(source.ready);
    EXPECT_EQ(source.kind, SourceKind::SOURCE_IMAGE_FILE);
    EXPECT_EQ(source.size, 3 * 1024 * 1024 + 512);
    CloseSource(copy);
}

TEST(DiskServer, WorkerCountIsTwicePerProcessorAtMostSixteen) {
    EXPECT_EQ(WorkerCountFor(4), 8u);
    EXPECT_EQ(WorkerCountFor(8), 16u);
    EXPECT_EQ(WorkerCountFor(12), 16u);
    EXPECT_EQ(WorkerCountFor(1), 2u);
}

// Many clients writing random sizes into their own regions and reading them back, then
// the whole image checked: nothing lost, nothing torn, every connection served.
TEST_F(DiskServerTest, LoadKeepsEveryWriteIntact) {
    constexpr int kClients = 16;
    constexpr std::size_t kRegion = kImageSize / kClients;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    std::vector<std::vector<std::uint8_t>> expected(kClients);
    std::atomic<int> failures{0};
    std::atomic<long> operations{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kClients; ++k) {
        expected[k].assign(image.Initial().begin() + k * kRegion, image.Initial().begin() + (k + 1) * kRegion);
        threads.emplace_back([&, k] {
            auto connection = host->Connect();
            if (!connection.ok()) {
                ++failures;
                return;
            }
            BlockClient& c = connection.value();
            std::mt19937 random(static_cast<unsigned>(k));
            std::vector<std::uint8_t> data, back;
            int rounds = 0;
            while (std::chrono::steady_clock::now() < until || rounds == 0) {
                const std::size_t length = 1 + random() % std::min<std::size_t>(kRegion, MAX_TRANSFER_LENGTH);
                const std::size_t offset = random() % (kRegion - length + 1);
                data.resize(length);
                for (auto& b : data) b = static_cast<std::uint8_t>(random());
                const std::uint64_t at = k * kRegion + offset;
                if (!c.Write(at, data).ok()) ++failures;
                std::copy(data.begin(), data.end(), expected[k].begin() + static_cast<std::ptrdiff_t>(offset));
                back.resize(length);
                if (!c.Read(at, static_cast<std::uint32_t>(length), back).ok() || back != data) ++failures;
                ++rounds;
                operations += 2;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    const std::vector<std::uint8_t> contents = image.Contents();
    ASSERT_EQ(contents.size(), kImageSize);
    for (int k = 0; k < kClients; ++k) {
        EXPECT_TRUE(std::equal(expected[k].begin(), expected[k].end(), contents.begin() + k * kRegion))
            << "region of client " << k;
    }
    std::printf("load: %ld requests over %d connections\n", operations.load(), kClients);
}

}  // namespace
}  // namespace varnox::testing
