// Many threads on one model: management calls, hook calls and starts and stops at once.
// The test checks that nothing deadlocks (within a generous bound) and that the model is
// consistent afterwards.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "configuration_model.h"
#include "fake_backends.h"

namespace varnox::config {
namespace {

using testing::Address;
using testing::FakeRunner;
using testing::FakeStore;
using testing::MakeClient;
using testing::MakeServer;
using testing::RecordBuffer;
using testing::ToBuffer;

// Runs the bodies on threads of their own; a run that does not end in time is a deadlock,
// and since deadlocked threads cannot be joined, the process ends there.
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
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (auto& thread : threads) thread.join();
}

TEST(ModelConcurrencyTest, CallsHooksStartsAndStopsInterleaveWithoutDeadlock) {
    FakeStore store;
    FakeRunner runner;
    ConfigurationModel model(&store, &runner);
    store.WatchLock(&model.Lock());
    runner.WatchLock(&model.Lock());
    model.Load();

    // A stopping engine's workers report disconnections through a hook on their own
    // thread; a stop made while holding ConfigLock would hang here.
    runner.OnWindDown([&model](ServerThread server) {
        std::thread worker([&model, server] {
            const std::int32_t owner = model.NextServerOwning(server.engine, 0);
            std::int32_t next = 0;
            if (owner != 0) model.EnumConnectedClients(owner, 0, &next);
        });
        worker.join();
    });

    std::int32_t fixed[2] = {};
    for (auto& handle : fixed) ASSERT_EQ(model.AddServer(&handle, ToBuffer(MakeServer("fixed.img", 1)).data()), 0);

    constexpr int kRounds = 100;
    std::atomic<int> added{0}, deleted{0};
    auto adder = [&](std::uint8_t tag) {
        return [&, tag] {
            for (int i = 0; i < kRounds; ++i) {
                std::int32_t server = 0;
                if (model.AddServer(&server, ToBuffer(MakeServer("churn.img", tag)).data()) != 0) continue;
                ++added;
                model.AddStaticClient(server, ToBuffer(MakeClient(Address(10, tag, 0, 1))).data());
                model.AddConnectedClient(server, ToBuffer(MakeClient(Address(10, tag, 0, 2))).data());
                if (i % 3 == 0) model.StartServer(server);
                if (i % 2 == 0) {
                    if (i % 3 == 0) model.StopServer(server);
                    model.DeleteServer(server);
                    ++deleted;
                }
            }
        };
    };
    auto walker = [&] {
        for (int i = 0; i < kRounds; ++i) {
            std::int32_t server = 0;
            RecordBuffer buffer{};
            while (model.EnumServers(server, &server) == 0 && server != 0) {
                model.GetServer(server, buffer.data());
                std::int32_t client = 0;
                while (model.EnumStaticClients(server, client, &client) == 0 && client != 0) {
                    if (model.GetStaticClient(client, buffer.data()) == 0) model.SetStaticClient(client, buffer.data());
                }
            }
        }
    };
    auto starter = [&] {
        for (int i = 0; i < kRounds / 3; ++i) {
            model.StartServer(fixed[i % 2]);
            model.StopServer(fixed[(i + 1) % 2]);
        }
    };
    auto hooks = [&] {
        for (int i = 0; i < kRounds; ++i) {
            for (const ServerThread& server : runner.Launched()) {
                std::int32_t owner = 0;
                while ((owner = model.NextServerOwning(server.engine, owner)) != 0) {
                    model.AddConnectedClient(owner, ToBuffer(MakeClient(Address(10, 99, 0, 1), 0, 0)).data());
                    std::int32_t client = 0;
                    if (model.EnumConnectedClients(owner, 0, &client) == 0 && client != 0) {
                        model.DeleteConnectedClient(owner, client);
                    }
                }
            }
        }
    };
    auto stopper = [&] {
        for (int i = 0; i < 20; ++i) model.StopAllServers();
    };

    RunBounded({adder(1), adder(2), walker, walker, starter, hooks, stopper}, std::chrono::seconds(120));

    // What is left: the two fixed entries and the undeleted churn, each once.
    std::set<std::int32_t> handles;
    std::int32_t server = 0;
    while (model.EnumServers(server, &server) == 0 && server != 0) EXPECT_TRUE(handles.insert(server).second);
    EXPECT_EQ(handles.size(), static_cast<std::size_t>(2 + added.load() - deleted.load()));
    EXPECT_EQ(store.SavesWithoutLock(), 0);
    EXPECT_EQ(runner.StartsWithoutLock(), 0);
    EXPECT_EQ(runner.StopsUnderLock(), 0);
    // Every engine still recorded as running belongs to an entry or was detached by a delete.
    model.StopAllServers();
    EXPECT_EQ(runner.RunningCount(), runner.Detached().size());
}

}  // namespace
}  // namespace varnox::config
