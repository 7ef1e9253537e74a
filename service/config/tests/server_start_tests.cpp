// Servers started and stopped by the configuration with real engines on temporary
// images, reached over 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "configuration_fixture.h"
#include "disk_server_runner.h"
#include "tracking_hooks.h"

namespace varnox::config::testing {
namespace {

using ::varnox::testing::FreePort;
using ::varnox::testing::TempImage;

// Lines sent to the debugger: OutputDebugStringA raises an exception that a vectored
// handler sees first, before the debugger (or nobody) gets it.
class DebuggerLines {
public:
    DebuggerLines() { handler_ = AddVectoredExceptionHandler(1, &DebuggerLines::Seen); }
    ~DebuggerLines() {
        if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
    }
    static std::vector<std::string> Take() {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::exchange(lines_, {});
    }

private:
    static LONG CALLBACK Seen(EXCEPTION_POINTERS* exception) {
        const EXCEPTION_RECORD* record = exception->ExceptionRecord;
        if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
            const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
            const auto length = static_cast<std::size_t>(record->ExceptionInformation[0]);
            std::lock_guard<std::mutex> guard(mutex_);
            lines_.emplace_back(text, strnlen(text, length));
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }
    void* handler_;
    static inline std::mutex mutex_;
    static inline std::vector<std::string> lines_;
};

bool Answers(std::uint16_t port) {
    auto connection = client::BlockClient::Connect("127.0.0.1", port);
    if (!connection.ok()) return false;
    (void)connection.value().SetTimeout(std::chrono::seconds(10));
    const bool answered = connection.value().Info().ok();
    (void)connection.value().Close();
    return answered;
}

class ServerStartTest : public ConfigurationTest {
protected:
    ServerStartTest() { UseTrackingHooks(); }
    ServerRecord Share() { return MakeServer(image.Path(), port); }
    TempImage image{1 << 20};
    std::uint16_t port = FreePort();
};

TEST_F(ServerStartTest, StartServerRunsTheShareAndStopServerEndsIt) {
    LoadConfiguration();
    const std::int32_t server = Add(Share());
    EXPECT_FALSE(Answers(port));
    ASSERT_EQ(StartServer(server), 0);
    EXPECT_EQ(Server(server).Started, 1);
    EXPECT_NE(LocalsBytes().find("Started=\"1\""), std::string::npos);
    EXPECT_TRUE(Answers(port));
    EXPECT_EQ(StartServer(server), -1);  // already running
    EXPECT_TRUE(Answers(port));

    ASSERT_EQ(StopServer(server), 0);
    EXPECT_EQ(Server(server).Started, 0);
    EXPECT_NE(LocalsBytes().find("Started=\"0\""), std::string::npos);
    EXPECT_FALSE(Answers(port));
    // And again, on the same port.
    ASSERT_EQ(StartServer(server), 0);
    EXPECT_TRUE(Answers(port));
}

TEST_F(ServerStartTest, TheStartedEngineGetsTheHooksAndIsFoundByThem) {
    LoadConfiguration();
    const std::int32_t server = Add(Share());
    {
        std::lock_guard<std::mutex> guard(Sightings().mutex);
        Sightings().queries.clear();
    }
    ASSERT_EQ(StartServer(server), 0);
    ASSERT_TRUE(Answers(port));
    std::lock_guard<std::mutex> guard(Sightings().mutex);
    ASSERT_EQ(Sightings().queries.size(), 1u);
    EXPECT_NE(Sightings().queries[0].first, nullptr);
    EXPECT_EQ(Sightings().queries[0].second, server);
    EXPECT_EQ(NextServerOwning(Sightings().queries[0].first, server), 0);
}

TEST_F(ServerStartTest, AuthenticatedClientsAreListedWhileConnected) {
    LoadConfiguration();
    const std::int32_t server = Add(Share());
    ASSERT_EQ(StartServer(server), 0);
    auto connection = client::BlockClient::Connect("127.0.0.1", port);
    ASSERT_TRUE(connection.ok());
    (void)connection.value().SetTimeout(std::chrono::seconds(10));
    const std::array<std::uint8_t, CREDENTIAL_SIZE> zeros{};  // the share's Password digest
    ASSERT_TRUE(connection.value().Authenticate(zeros).ok());
    std::int32_t client = 0;
    ASSERT_EQ(EnumConnectedClients(server, 0, &client), 0);
    ASSERT_NE(client, 0);
    RecordBuffer buffer{};
    ASSERT_EQ(GetConnectedClient(client, buffer.data()), 0);
    EXPECT_EQ(FromBuffer<ClientRecord>(buffer).IpAddress, Address(127, 0, 0, 1));
    (void)connection.value().Close();
    for (int i = 0; i < 500 && client != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EnumConnectedClients(server, 0, &client);
    }
    EXPECT_EQ(client, 0);
}

TEST_F(ServerStartTest, EveryStartWritesItsDebuggerLine) {
    LoadConfiguration();
    const std::int32_t good = Add(Share());
    const std::int32_t bad = Add(MakeServer(directory.File("missing.img"), FreePort()));
    DebuggerLines lines;
    DebuggerLines::Take();
    ASSERT_EQ(StartServer(good), 0);
    EXPECT_EQ(StartServer(bad), -1);
    EXPECT_EQ(Server(bad).Started, 0);
    const auto seen = DebuggerLines::Take();
    ASSERT_EQ(seen.size(), 2u);
    unsigned engine = 0, thread = 0;
    ASSERT_EQ(std::sscanf(seen[0].c_str(), "Start server %x %x", &engine, &thread), 2) << seen[0];
    EXPECT_EQ(seen[0].back(), '\n');
    EXPECT_NE(thread, 0u);
    // The engine named is the one that then asks the hooks.
    {
        std::lock_guard<std::mutex> guard(Sightings().mutex);
        Sightings().queries.clear();
    }
    ASSERT_TRUE(Answers(port));
    std::lock_guard<std::mutex> guard(Sightings().mutex);
    ASSERT_EQ(Sightings().queries.size(), 1u);
    EXPECT_EQ(engine, static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(Sightings().queries[0].first)));
    EXPECT_EQ(seen[1], "Start server 0 0\n");
}

TEST_F(ServerStartTest, AServerThatEndsWithinItsFirstSecondHasNotStarted) {
    LoadConfiguration();
    const std::int32_t first = Add(Share());
    ASSERT_EQ(StartServer(first), 0);
    // The same port again: the second engine cannot listen and ends at once.
    TempImage other(1 << 20);
    const std::int32_t second = Add(MakeServer(other.Path(), port));
    EXPECT_EQ(StartServer(second), -1);
    EXPECT_EQ(Server(second).Started, 0);
    EXPECT_TRUE(Answers(port));
}

TEST_F(ServerStartTest, AServerSavedAsStartedRunsAfterEveryServiceStart) {
    LoadFile("<Services><Server Port=\"" + std::to_string(port) + "\" Source=\"" + image.Path() +
             "\" Started=\"1\"/></Services>");
    EXPECT_EQ(OnlyServer().Started, 1);
    EXPECT_TRUE(Answers(port));

    StopAllServers();
    EXPECT_FALSE(Answers(port));
    EXPECT_EQ(OnlyServer().Started, 1);
    SaveConfiguration();
    EXPECT_NE(LocalsBytes().find("Started=\"1\""), std::string::npos);
    EmptyConfiguration();
    EXPECT_TRUE(Servers().empty());

    LoadConfiguration();
    EXPECT_EQ(OnlyServer().Started, 1);
    EXPECT_TRUE(Answers(port));
}

}  // namespace
}  // namespace varnox::config::testing
