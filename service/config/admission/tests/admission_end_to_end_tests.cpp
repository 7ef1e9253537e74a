// Admission, connection tracking and host names with everything real: shares started
// through the management interface on temporary images, clients of the block protocol
// on 127.0.0.1, and the hooks the model installs in every engine it starts.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "block_client.h"
#include "host_name_lookup.h"
#include "management_test_host.h"
#include "name_resolver.h"
#include "password_digest.h"
#include "share_host.h"

namespace varnox::rpc::testing {
namespace {

using config::ClientRecord;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char PASSWORD[] = "reader";
constexpr char MANAGE_PASSWORD[] = "keeper";

// Polls until `done` or the limit; the engine closes connections on its own threads.
template <typename Condition>
bool Eventually(Condition done, milliseconds limit = seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

class AdmissionEndToEnd : public ManagementTest {
protected:
    // A running share on its own image and port with these static clients.
    std::int32_t StartShare(const std::vector<ClientRecord>& clients) {
        images_.push_back(std::make_unique<varnox::testing::TempImage>(1 << 20));
        config::ServerRecord record = MakeServer(images_.back()->Path(), varnox::testing::FreePort());
        const Sha1Digest password = PasswordDigest(PASSWORD);
        const Sha1Digest manage = PasswordDigest(MANAGE_PASSWORD);
        std::memcpy(record.Password, password.data(), password.size());
        std::memcpy(record.ManagePassword, manage.data(), manage.size());
        const std::int32_t server = AddServer(record);
        for (const ClientRecord& client : clients) AddStatic(server, client);
        const CallOutcome started = Remote().StartServer(server);
        EXPECT_TRUE(started.succeeded()) << started.rpcStatus << " " << started.result;
        ports_[server] = record.Port;
        return server;
    }

    client::BlockClient Connect(std::int32_t server) {
        auto connection = client::BlockClient::Connect("127.0.0.1", ports_.at(server));
        EXPECT_TRUE(connection.ok()) << connection.error().message;
        if (!connection.ok()) return {};
        (void)connection.value().SetTimeout(seconds(10));
        return std::move(connection.value());
    }

    // The access a new connection gets; nullopt when it is refused (closed unanswered).
    std::optional<std::uint32_t> AccessOfNewConnection(std::int32_t server) {
        client::BlockClient connection = Connect(server);
        auto info = connection.Info();
        if (!info.ok()) return std::nullopt;
        (void)connection.Close();
        return info.value().access;
    }

    static void Authenticate(client::BlockClient& connection, const char* password) {
        const Sha1Digest digest = PasswordDigest(password);
        const auto result = connection.Authenticate(digest);
        ASSERT_TRUE(result.ok()) << result.error().message;
    }

    std::vector<std::unique_ptr<varnox::testing::TempImage>> images_;
    std::map<std::int32_t, std::uint16_t> ports_;
};

TEST_F(AdmissionEndToEnd, ExactRecordBeatsAnyAddressAlsoWhenDenying) {
    const std::int32_t server = StartShare({MakeClient(0, ACCESS_FULL), MakeClient(LOOPBACK, ACCESS_FULL)});
    // The any-address record alone would have given read-only.
    EXPECT_EQ(AccessOfNewConnection(server), std::optional<std::uint32_t>(ACCESS_FULL));

    const std::int32_t exact = Handles(server, false).at(1);
    ASSERT_TRUE(Remote().SetStaticClient(exact, ToBuffer(MakeClient(LOOPBACK, ACCESS_NONE)).data()).succeeded());
    EXPECT_EQ(AccessOfNewConnection(server), std::nullopt);
    EXPECT_TRUE(Records(server, true).empty()) << "a refused client is not listed";
}

TEST_F(AdmissionEndToEnd, AnyAddressGivesReadOnly) {
    const std::int32_t server = StartShare({MakeClient(Address(10, 0, 0, 5), ACCESS_FULL), MakeClient(0, ACCESS_FULL)});
    client::BlockClient connection = Connect(server);
    auto info = connection.Info();
    ASSERT_TRUE(info.ok()) << info.error().message;
    EXPECT_EQ(info.value().access, ACCESS_READ_ONLY);
    std::vector<std::uint8_t> block(512);
    EXPECT_TRUE(connection.Read(0, 512, block).ok());
    EXPECT_FALSE(connection.Write(0, block).ok());
}

TEST_F(AdmissionEndToEnd, EmptyStaticListRefusesEveryone) {
    const std::int32_t server = StartShare({});
    EXPECT_EQ(AccessOfNewConnection(server), std::nullopt);
    EXPECT_TRUE(Records(server, true).empty());
}

TEST_F(AdmissionEndToEnd, ProvedPasswordsAreListedWithTheirLevel) {
    struct Case {
        const char* password;
        std::uint32_t access;  // of the connection and of its connected record
    };
    const Case cases[] = {{MANAGE_PASSWORD, ACCESS_FULL}, {PASSWORD, ACCESS_READ_ONLY}};
    const std::int32_t server = StartShare({MakeClient(LOOPBACK, ACCESS_READ_ONLY)});
    const std::optional<std::string> name = config::LookUpHostName(LOOPBACK);
    for (const Case& c : cases) {
        client::BlockClient connection = Connect(server);
        ASSERT_EQ(connection.Info().value().access, ACCESS_READ_ONLY);
        Authenticate(connection, c.password);
        EXPECT_EQ(connection.Info().value().access, c.access) << c.password;

        const std::vector<ClientRecord> connected = Records(server, true);
        ASSERT_EQ(connected.size(), 1u) << c.password;
        EXPECT_EQ(connected[0].IpAddress, LOOPBACK);
        EXPECT_EQ(connected[0].Access, c.access) << c.password;
        EXPECT_EQ(connected[0].Status, config::CLIENT_STATUS_CONNECTED);
        EXPECT_EQ(connected[0].HasName, name ? config::HAS_NAME_RESOLVED : config::HAS_NAME_FAILED);
        if (name) {
            EXPECT_EQ(std::string(connected[0].HostName), *name);
        }

        (void)connection.Close();
        EXPECT_TRUE(Eventually([&] { return Records(server, true).empty(); })) << c.password;
    }
}

TEST_F(AdmissionEndToEnd, TwoConnectionsFromOneAddressMakeOneRecord) {
    const std::int32_t server = StartShare({MakeClient(LOOPBACK, ACCESS_FULL)});
    client::BlockClient first = Connect(server);
    client::BlockClient second = Connect(server);
    Authenticate(first, PASSWORD);
    Authenticate(second, MANAGE_PASSWORD);
    const std::vector<ClientRecord> connected = Records(server, true);
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].Access, ACCESS_READ_ONLY) << "the first proof's record stays";

    // The connection accepted first heads the address: its close is reported, and the
    // record goes although the other connection is still open.
    (void)first.Close();
    EXPECT_TRUE(Eventually([&] { return Records(server, true).empty(); }));
    EXPECT_TRUE(second.Info().ok());
}

TEST_F(AdmissionEndToEnd, StoppedServerKeepsTheRecordsOfItsConnections) {
    const std::int32_t server = StartShare({MakeClient(LOOPBACK, ACCESS_FULL)});
    client::BlockClient connection = Connect(server);
    Authenticate(connection, MANAGE_PASSWORD);
    ASSERT_EQ(Records(server, true).size(), 1u);
    // The engine is taken out of the entry before it closes its connections, so their
    // disconnections find no entry to report to.
    ASSERT_TRUE(Remote().StopServer(server).succeeded());
    EXPECT_FALSE(connection.Info().ok());
    EXPECT_EQ(Records(server, true).size(), 1u);
}

TEST_F(AdmissionEndToEnd, ResolverNamesUnresolvedStaticClients) {
    const std::int32_t server = AddServer(MakeServer("c:\\unused.img", 9000));
    AddStatic(server, MakeClient(0, ACCESS_READ_ONLY));
    AddStatic(server, MakeClient(LOOPBACK, ACCESS_FULL));
    AddStatic(server, MakeClient(Address(10, 0, 0, 7), ACCESS_FULL, config::HAS_NAME_RESOLVED, "kept"));
    const std::int32_t failed = AddStatic(server, MakeClient(Address(10, 0, 0, 8), ACCESS_FULL));
    ASSERT_TRUE(Remote()
                    .SetStaticClient(failed, ToBuffer(MakeClient(0, ACCESS_FULL, config::HAS_NAME_FAILED)).data())
                    .succeeded());

    // One pass with the system's lookups, the pauses only counted.
    std::vector<std::uint32_t> lookedUp;
    int pauses = 0;
    config::ResolverPacing pacing;
    pacing.lookup = [&](std::uint32_t address) {
        lookedUp.push_back(address);
        return config::LookUpHostName(address);
    };
    pacing.sleep = [&](milliseconds pause) {
        ++pauses;
        return pause != config::RESOLVER_PASS_PAUSE;
    };
    config::RunNameResolver(pacing);

    EXPECT_EQ(lookedUp, std::vector<std::uint32_t>{LOOPBACK});
    EXPECT_GT(pauses, 0);
    const std::vector<ClientRecord> records = Records(server, false);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].HasName, config::HAS_NAME_NOT_RESOLVED);
    EXPECT_EQ(records[1].HasName, config::HAS_NAME_RESOLVED);
    EXPECT_EQ(std::string(records[1].HostName), config::LookUpHostName(LOOPBACK).value_or("(none)"));
    EXPECT_STREQ(records[2].HostName, "kept");
    EXPECT_EQ(records[3].HasName, config::HAS_NAME_FAILED);
    EXPECT_EQ(records[3].IpAddress, Address(10, 0, 0, 8)) << "a set keeps the address";
}

// Consoles, shares starting and stopping, and clients coming and going, all at once.
// Each thread does a fixed amount of work; the test fails, rather than hangs, if they do
// not all finish in time.
TEST_F(AdmissionEndToEnd, ManagementCallsShareStartsAndConnectionsTogether) {
    const std::int32_t served = StartShare({MakeClient(LOOPBACK, ACCESS_FULL)});
    const std::int32_t toggled = StartShare({MakeClient(0, ACCESS_FULL)});
    std::atomic<int> rpcFailures{0};
    std::atomic<int> connections{0};
    std::atomic<bool> stopConnecting{false};

    std::vector<std::future<void>> work;
    for (int console = 0; console < 3; ++console) {
        work.push_back(std::async(std::launch::async, [&, console] {
            for (int round = 0; round < 40; ++round) {
                const std::uint32_t address = Address(10, 1, static_cast<std::uint8_t>(console),
                                                      static_cast<std::uint8_t>(round));
                const RecordBuffer record = ToBuffer(MakeClient(address, ACCESS_READ_ONLY));
                if (!Remote().AddStaticClient(served, record.data()).delivered()) ++rpcFailures;
                for (const std::int32_t handle : Handles(served, false)) {
                    RecordBuffer got{};
                    if (!Remote().GetStaticClient(handle, got.data()).delivered()) ++rpcFailures;
                    if (FromBuffer<ClientRecord>(got).IpAddress == address &&
                        !Remote().DeleteStaticClient(served, handle).delivered()) {
                        ++rpcFailures;
                    }
                }
                (void)Records(served, true);
                std::int32_t next = 0;
                if (!Remote().EnumServers(0, &next).delivered()) ++rpcFailures;
            }
        }));
    }
    work.push_back(std::async(std::launch::async, [&] {
        for (int cycle = 0; cycle < 3; ++cycle) {
            if (!Remote().StopServer(toggled).succeeded()) ++rpcFailures;
            if (!Remote().StartServer(toggled).succeeded()) ++rpcFailures;
        }
    }));
    std::future<void> clients = std::async(std::launch::async, [&] {
        while (!stopConnecting) {
            auto connection = client::BlockClient::Connect("127.0.0.1", ports_.at(served));
            if (!connection.ok()) continue;
            (void)connection.value().SetTimeout(seconds(10));
            const Sha1Digest digest = PasswordDigest(PASSWORD);
            if (connection.value().Authenticate(digest).ok()) ++connections;
            (void)connection.value().Close();
        }
    });

    const auto deadline = std::chrono::steady_clock::now() + seconds(120);
    for (auto& done : work) {
        if (done.wait_until(deadline) != std::future_status::ready) {
            ADD_FAILURE() << "management calls did not finish: deadlock?";
            std::fflush(stdout);
            std::_Exit(3);
        }
    }
    stopConnecting = true;
    if (clients.wait_until(deadline) != std::future_status::ready) {
        ADD_FAILURE() << "clients did not finish: deadlock?";
        std::_Exit(3);
    }
    EXPECT_EQ(rpcFailures.load(), 0);
    EXPECT_GT(connections.load(), 0);
    EXPECT_EQ(Server(toggled).Started, 1);
    EXPECT_EQ(AccessOfNewConnection(toggled), std::optional<std::uint32_t>(ACCESS_READ_ONLY));
    EXPECT_TRUE(Eventually([&] { return Records(served, true).empty(); }));
}

}  // namespace
}  // namespace varnox::rpc::testing
