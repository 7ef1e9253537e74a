// The whole configuration under load: management calls on several threads while real
// shares start, stop and take connections whose hooks take ConfigLock inside the
// engine's lock. Bounded: a deadlock ends the program instead of hanging it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "configuration_fixture.h"
#include "tracking_hooks.h"

namespace varnox::config::testing {
namespace {

using ::varnox::testing::FreePort;
using ::varnox::testing::TempImage;

void RunBounded(const std::vector<std::function<void()>>& bodies, std::chrono::seconds limit) {
    std::atomic<std::size_t> finished{0};
    std::vector<std::thread> threads;
    for (const auto& body : bodies) {
        threads.emplace_back([&finished, body] {
            body();
            ++finished;
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (finished.load() != bodies.size()) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "threads still running after %lld s: deadlock\n",
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (auto& thread : threads) thread.join();
}

using ConfigurationConcurrencyTest = ConfigurationTest;

TEST_F(ConfigurationConcurrencyTest, CallsConnectionsStartsAndStopsTogether) {
    UseTrackingHooks();
    LoadConfiguration();
    TempImage images[2] = {TempImage(1 << 20), TempImage(1 << 20)};
    std::uint16_t ports[2];
    std::int32_t shares[2];
    for (int i = 0; i < 2; ++i) {
        ports[i] = FreePort();
        shares[i] = Add(MakeServer(images[i].Path(), ports[i]));
    }

    std::atomic<bool> stopping{false};
    std::atomic<int> added{0}, deleted{0}, served{0};
    auto adder = [&](std::uint8_t tag) {
        return [&, tag] {
            for (int i = 0; i < 40; ++i) {
                std::int32_t server = 0;
                if (AddServer(&server, ToBuffer(MakeServer("churn.img", tag)).data()) != 0) continue;
                ++added;
                AddStaticClient(server, ToBuffer(MakeClient(Address(10, tag, 0, 1))).data());
                AddConnectedClient(server, ToBuffer(MakeClient(Address(10, tag, 0, 2))).data());
                if (i % 2 == 0) {
                    DeleteServer(server);
                    ++deleted;
                }
            }
        };
    };
    auto walker = [&] {
        while (!stopping) {
            std::int32_t server = 0;
            RecordBuffer buffer{};
            while (EnumServers(server, &server) == 0 && server != 0) {
                GetServer(server, buffer.data());
                std::int32_t client = 0;
                while (EnumStaticClients(server, client, &client) == 0 && client != 0) {
                    if (GetStaticClient(client, buffer.data()) == 0) SetStaticClient(client, buffer.data());
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    auto starter = [&] {
        for (int round = 0; round < 3; ++round) {
            for (const std::int32_t share : shares) StartServer(share);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            for (const std::int32_t share : shares) StopServer(share);
        }
        stopping = true;
    };
    auto connector = [&] {
        const std::array<std::uint8_t, CREDENTIAL_SIZE> zeros{};
        while (!stopping) {
            for (const std::uint16_t port : ports) {
                auto connection = client::BlockClient::Connect("127.0.0.1", port);
                if (!connection.ok()) continue;
                (void)connection.value().SetTimeout(std::chrono::seconds(10));
                if (connection.value().Authenticate(zeros).ok() && connection.value().Info().ok()) ++served;
                (void)connection.value().Close();
            }
        }
    };

    RunBounded({adder(1), adder(2), walker, starter, connector, connector}, std::chrono::seconds(180));

    EXPECT_GT(served.load(), 0);
    EXPECT_EQ(Servers().size(), static_cast<std::size_t>(2 + added.load() - deleted.load()));
    for (const std::int32_t share : shares) EXPECT_EQ(Server(share).Started, 0);
    // The file holds the same model.
    const std::size_t inMemory = Servers().size();
    EmptyConfiguration();
    LoadConfiguration();
    EXPECT_EQ(Servers().size(), inMemory);
}

}  // namespace
}  // namespace varnox::config::testing
