// The model's operations over fake backends: what each one changes, returns and saves,
// and how the model drives the runner.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "configuration_model.h"
#include "fake_backends.h"
#include "management.h"

namespace varnox::config {
namespace {

using testing::Address;
using testing::FakeRunner;
using testing::FakeStore;
using testing::FromBuffer;
using testing::MakeClient;
using testing::MakeServer;
using testing::RecordBuffer;
using testing::ToBuffer;

class ModelTest : public ::testing::Test {
protected:
    ModelTest() : model(&store, &runner) {
        store.WatchLock(&model.Lock());
        runner.WatchLock(&model.Lock());
        model.Load();
    }
    ~ModelTest() override {
        EXPECT_EQ(store.SavesWithoutLock(), 0);
        EXPECT_EQ(runner.StartsWithoutLock(), 0);
        EXPECT_EQ(runner.StopsUnderLock(), 0);
    }

    std::int32_t Add(const ServerRecord& record) {
        std::int32_t handle = 0;
        const RecordBuffer buffer = ToBuffer(record);
        EXPECT_EQ(model.AddServer(&handle, buffer.data()), 0);
        return handle;
    }
    std::int32_t Add(const std::string& source, std::uint16_t port = 3260) { return Add(MakeServer(source, port)); }

    std::vector<std::int32_t> Servers() {
        std::vector<std::int32_t> handles;
        std::int32_t next = 0;
        do {
            EXPECT_EQ(model.EnumServers(next, &next), 0);
            if (next != 0) handles.push_back(next);
        } while (next != 0 && handles.size() < 1000);
        return handles;
    }
    std::vector<std::int32_t> Clients(std::int32_t server, bool connected) {
        std::vector<std::int32_t> handles;
        std::int32_t next = 0;
        do {
            const std::int32_t result = connected ? model.EnumConnectedClients(server, next, &next)
                                                  : model.EnumStaticClients(server, next, &next);
            EXPECT_EQ(result, 0);
            if (next != 0) handles.push_back(next);
        } while (next != 0 && handles.size() < 1000);
        return handles;
    }
    std::int32_t AddStatic(std::int32_t server, const ClientRecord& client) {
        return model.AddStaticClient(server, ToBuffer(client).data());
    }
    std::int32_t AddConnected(std::int32_t server, const ClientRecord& client) {
        return model.AddConnectedClient(server, ToBuffer(client).data());
    }
    ServerRecord Server(std::int32_t handle) {
        RecordBuffer buffer{};
        EXPECT_EQ(model.GetServer(handle, buffer.data()), 0);
        return FromBuffer<ServerRecord>(buffer);
    }
    ClientRecord Static(std::int32_t handle) {
        RecordBuffer buffer{};
        EXPECT_EQ(model.GetStaticClient(handle, buffer.data()), 0);
        return FromBuffer<ClientRecord>(buffer);
    }
    ClientRecord Connected(std::int32_t handle) {
        RecordBuffer buffer{};
        EXPECT_EQ(model.GetConnectedClient(handle, buffer.data()), 0);
        return FromBuffer<ClientRecord>(buffer);
    }
    std::string LastError() {
        std::vector<std::uint8_t> text(LAST_ERROR_TEXT_SIZE, 0xEE);
        EXPECT_EQ(model.GetLastErrorText(text.data(), LAST_ERROR_TEXT_SIZE), 0);
        return reinterpret_cast<const char*>(text.data());
    }
    int SavedStarted(std::size_t index) {
        const auto saved = store.Contents();
        return index < saved.size() ? saved[index].record.Started : -1;
    }

    FakeStore store;
    FakeRunner runner;
    ConfigurationModel model;
};

TEST_F(ModelTest, ServerNameNeedsRoomForItsTerminator) {
    const std::uint32_t textLength = sizeof SERVER_NAME_TEXT - 1;
    std::vector<std::uint8_t> text(64, 0xEE);
    EXPECT_EQ(model.GetServerName(text.data(), textLength), -1);
    EXPECT_EQ(text[0], 0xEE);  // nothing written
    EXPECT_EQ(model.GetServerName(text.data(), textLength + 1), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(text.data()), "Varnox Server");
    EXPECT_EQ(model.GetServerName(text.data(), 64), 0);
    EXPECT_EQ(text[textLength + 1], 0xEE);                  // only the text and its zero
    EXPECT_EQ(GetServerName(text.data(), textLength), -1);  // the free function too
}

TEST_F(ModelTest, LastErrorTextNeedsAFullBufferAndIsEmptyAtFirst) {
    std::vector<std::uint8_t> text(LAST_ERROR_TEXT_SIZE, 0xEE);
    EXPECT_EQ(model.GetLastErrorText(text.data(), LAST_ERROR_TEXT_SIZE - 1), -1);
    EXPECT_EQ(text[0], 0xEE);
    EXPECT_EQ(model.GetLastErrorText(text.data(), LAST_ERROR_TEXT_SIZE), 0);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(text[1], 0xEE);  // the empty text and its zero
}

TEST_F(ModelTest, ARefusedDuplicateSetsTheTextAndLaterSuccessesKeepIt) {
    const std::int32_t server = Add("a.img");
    EXPECT_EQ(AddStatic(server, MakeClient(Address(10, 0, 0, 1))), 0);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(AddStatic(server, MakeClient(Address(10, 0, 0, 1), 2)), -1);
    EXPECT_EQ(LastError(), DUPLICATE_CLIENT_TEXT);
    EXPECT_EQ(Clients(server, false).size(), 1u);

    EXPECT_EQ(AddStatic(server, MakeClient(Address(10, 0, 0, 2))), 0);
    EXPECT_GT(Add("b.img"), 0);
    EXPECT_EQ(model.StartServer(server), 0);
    EXPECT_EQ(LastError(), DUPLICATE_CLIENT_TEXT);
}

TEST_F(ModelTest, DuplicatesAreRefusedPerListWithTheSameText) {
    const std::int32_t first = Add("a.img");
    const std::int32_t second = Add("b.img");
    const ClientRecord client = MakeClient(Address(10, 0, 0, 9), 0, 1, "nine");
    EXPECT_EQ(AddConnected(first, client), 0);
    EXPECT_EQ(LastError(), "");
    // The same address in the other list, or in another server's lists, is no duplicate.
    EXPECT_EQ(AddStatic(first, client), 0);
    EXPECT_EQ(AddConnected(second, client), 0);
    EXPECT_EQ(AddStatic(second, client), 0);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(AddConnected(first, client), -1);
    EXPECT_EQ(LastError(), DUPLICATE_CLIENT_TEXT);
    // The any-address record 0 is an address like the others.
    EXPECT_EQ(AddStatic(first, MakeClient(0)), 0);
    EXPECT_EQ(AddStatic(first, MakeClient(0, 1)), -1);
}

TEST_F(ModelTest, AddServerKeepsTheRecordButNeverStartsIt) {
    ServerRecord record = MakeServer("\\\\.\\PhysicalDrive1", 3261);
    record.IpAddress = Address(192, 168, 0, 1);
    record.Capability = 123456789;
    record.Cache = 7;
    record.AuthMode = 3;
    record.Started = 1;
    std::memset(record.Password, 0xAB, DIGEST_SIZE);
    const int savesBefore = store.Saves();
    const std::int32_t handle = Add(record);
    EXPECT_NE(handle, 0);
    EXPECT_TRUE(runner.Started().empty());
    EXPECT_EQ(store.Saves(), savesBefore + 1);

    record.Started = 0;
    const ServerRecord stored = Server(handle);
    EXPECT_EQ(std::memcmp(&stored, &record, sizeof record), 0);
    ASSERT_EQ(store.Contents().size(), 1u);
    EXPECT_EQ(std::memcmp(&store.Contents()[0].record, &record, sizeof record), 0);
}

TEST_F(ModelTest, ServersAreEnumeratedInInsertionOrder) {
    std::int32_t next = -5;
    EXPECT_EQ(model.EnumServers(0, &next), 0);
    EXPECT_EQ(next, 0);  // empty

    const std::int32_t a = Add("a.img");
    const std::int32_t b = Add("b.img");
    const std::int32_t c = Add("c.img");
    EXPECT_EQ(Servers(), (std::vector<std::int32_t>{a, b, c}));
    EXPECT_EQ(model.DeleteServer(b), 0);
    EXPECT_EQ(Servers(), (std::vector<std::int32_t>{a, c}));
    next = -5;
    EXPECT_EQ(model.EnumServers(b, &next), 0);  // from a deleted handle
    EXPECT_EQ(next, 0);
    EXPECT_EQ(model.EnumServers(c, &next), 0);  // from the last
    EXPECT_EQ(next, 0);
    const std::int32_t d = Add("d.img");
    EXPECT_EQ(Servers(), (std::vector<std::int32_t>{a, c, d}));
}

TEST_F(ModelTest, HandlesAreUniqueAcrossEntriesAndClientsAndStable) {
    std::set<std::int32_t> handles;
    std::vector<std::int32_t> servers;
    for (int i = 0; i < 5; ++i) {
        const std::int32_t server = Add("s" + std::to_string(i));
        servers.push_back(server);
        EXPECT_EQ(AddStatic(server, MakeClient(Address(10, 0, 0, 1))), 0);
        EXPECT_EQ(AddStatic(server, MakeClient(Address(10, 0, 0, 2))), 0);
        EXPECT_EQ(AddConnected(server, MakeClient(Address(10, 0, 0, 1))), 0);
    }
    std::size_t count = 0;
    for (const std::int32_t server : servers) {
        handles.insert(server);
        ++count;
        for (const bool connected : {false, true}) {
            for (const std::int32_t client : Clients(server, connected)) {
                handles.insert(client);
                ++count;
            }
        }
    }
    EXPECT_EQ(count, 20u);
    EXPECT_EQ(handles.size(), count);
    EXPECT_EQ(handles.count(0), 0u);

    // Deleting others leaves a handle naming the same things.
    const std::vector<std::int32_t> kept = Clients(servers[3], false);
    EXPECT_EQ(model.DeleteServer(servers[1]), 0);
    EXPECT_EQ(model.DeleteStaticClient(servers[3], kept[0]), 0);
    EXPECT_EQ(Static(kept[1]).IpAddress, Address(10, 0, 0, 2));
    EXPECT_EQ(std::string(Server(servers[3]).Source), "s3");
}

TEST_F(ModelTest, UnknownHandlesFailExceptWhereTheyEndAWalk) {
    const std::int32_t server = Add("a.img");
    EXPECT_EQ(AddStatic(server, MakeClient(1)), 0);
    const std::int32_t staticClient = Clients(server, false)[0];
    EXPECT_EQ(AddConnected(server, MakeClient(2)), 0);
    const std::int32_t connectedClient = Clients(server, true)[0];
    RecordBuffer buffer{};
    std::int32_t next = 0;
    for (const std::int32_t unknown : {0, -1, 999999, staticClient}) {
        EXPECT_EQ(model.GetServer(unknown, buffer.data()), -1) << unknown;
        EXPECT_EQ(model.StartServer(unknown), -1) << unknown;
        EXPECT_EQ(model.StopServer(unknown), -1) << unknown;
        EXPECT_EQ(model.DeleteServer(unknown), 0) << unknown;
        EXPECT_EQ(AddStatic(unknown, MakeClient(7)), -1) << unknown;
        EXPECT_EQ(AddConnected(unknown, MakeClient(7)), -1) << unknown;
        EXPECT_EQ(model.EnumStaticClients(unknown, 0, &next), -1) << unknown;
        EXPECT_EQ(model.EnumConnectedClients(unknown, 0, &next), -1) << unknown;
        EXPECT_EQ(model.DeleteStaticClient(unknown, staticClient), -1) << unknown;
        EXPECT_EQ(model.DeleteConnectedClient(unknown, connectedClient), -1) << unknown;
        if (unknown == 0) continue;  // 0 starts a walk
        EXPECT_EQ(model.EnumServers(unknown, &next), 0) << unknown;
        EXPECT_EQ(next, 0);
    }
    // A client handle is looked up only in lists of its own kind.
    EXPECT_EQ(model.GetStaticClient(connectedClient, buffer.data()), -1);
    EXPECT_EQ(model.GetConnectedClient(staticClient, buffer.data()), -1);
    EXPECT_EQ(model.SetStaticClient(connectedClient, buffer.data()), -1);
    EXPECT_EQ(model.SetConnectedClient(staticClient, buffer.data()), -1);
    EXPECT_EQ(model.DeleteStaticClient(server, connectedClient), -1);
    EXPECT_EQ(model.DeleteConnectedClient(server, staticClient), -1);
    EXPECT_EQ(model.GetStaticClient(server, buffer.data()), -1);
    EXPECT_EQ(Servers(), (std::vector<std::int32_t>{server}));
}

TEST_F(ModelTest, StartServerRunsItOnceAndSaves) {
    ServerRecord record = MakeServer("a.img", 3260);
    const std::int32_t server = Add(record);
    // Bytes 332-335 are cleared by every start.
    const int savesBefore = store.Saves();
    EXPECT_EQ(model.StartServer(server), 0);
    ASSERT_EQ(runner.Started().size(), 1u);
    EXPECT_EQ(std::string(runner.Started()[0].Source), "a.img");
    EXPECT_EQ(Server(server).Started, 1);
    EXPECT_EQ(store.Saves(), savesBefore + 1);
    EXPECT_EQ(SavedStarted(0), 1);
    ASSERT_EQ(runner.Reports().size(), 1u);
    EXPECT_TRUE(runner.Reports()[0].Running());

    EXPECT_EQ(model.StartServer(server), -1);
    EXPECT_EQ(runner.Started().size(), 1u);  // not started again
    EXPECT_EQ(runner.Reports().size(), 1u);
    EXPECT_EQ(Server(server).Started, 1);
}

TEST_F(ModelTest, StartClearsTheReservedWordOfTheRecord) {
    ServerRecord record = MakeServer("a.img", 3260);
    record.reserved332 = 0xDEADBEEF;
    const std::int32_t server = Add(record);
    EXPECT_EQ(Server(server).reserved332, 0xDEADBEEFu);
    EXPECT_EQ(model.StartServer(server), 0);
    EXPECT_EQ(runner.Started()[0].reserved332, 0u);
    EXPECT_EQ(Server(server).reserved332, 0u);
}

TEST_F(ModelTest, AFailedStartLeavesStartedZeroAndIsStillReported) {
    runner.FailSource("missing.img");
    const std::int32_t server = Add("missing.img");
    const int savesBefore = store.Saves();
    EXPECT_EQ(model.StartServer(server), -1);
    EXPECT_EQ(Server(server).Started, 0);
    EXPECT_EQ(store.Saves(), savesBefore);
    ASSERT_EQ(runner.Reports().size(), 1u);
    EXPECT_EQ(runner.Reports()[0].engine, nullptr);
    EXPECT_EQ(runner.Reports()[0].thread, nullptr);
    EXPECT_EQ(model.NextServerOwning(nullptr, 0), 0);
    // Nothing was recorded, so a later stop has nothing to stop.
    EXPECT_EQ(model.StopServer(server), 0);
    EXPECT_TRUE(runner.Stopped().empty());
}

TEST_F(ModelTest, StopServerStopsOutsideTheLockAndSaves) {
    const std::int32_t server = Add("a.img");
    ASSERT_EQ(model.StartServer(server), 0);
    const ServerThread running = runner.Reports()[0];
    EXPECT_EQ(model.NextServerOwning(running.engine, 0), server);

    const int savesBefore = store.Saves();
    EXPECT_EQ(model.StopServer(server), 0);
    ASSERT_EQ(runner.Stopped().size(), 1u);
    EXPECT_EQ(runner.Stopped()[0].engine, running.engine);
    EXPECT_EQ(runner.Stopped()[0].thread, running.thread);
    EXPECT_FALSE(runner.IsRunning(running.engine));
    EXPECT_EQ(Server(server).Started, 0);
    EXPECT_EQ(store.Saves(), savesBefore + 1);
    EXPECT_EQ(SavedStarted(0), 0);
    EXPECT_EQ(model.NextServerOwning(running.engine, 0), 0);

    // Stopping a stopped server: nothing to stop, but Started 0 is saved again.
    EXPECT_EQ(model.StopServer(server), 0);
    EXPECT_EQ(runner.Stopped().size(), 1u);
    EXPECT_EQ(store.Saves(), savesBefore + 2);
    // And it can run again.
    EXPECT_EQ(model.StartServer(server), 0);
    EXPECT_EQ(Server(server).Started, 1);
}

TEST_F(ModelTest, ConnectedClientsOutliveAStop) {
    const std::int32_t server = Add("a.img");
    ASSERT_EQ(model.StartServer(server), 0);
    EXPECT_EQ(AddConnected(server, MakeClient(Address(10, 0, 0, 3), 1, 0)), 0);
    EXPECT_EQ(model.StopServer(server), 0);
    EXPECT_EQ(Clients(server, true).size(), 1u);
}

TEST_F(ModelTest, DeletingARunningServerLeavesItsEngineRunningDetached) {
    const std::int32_t server = Add("a.img");
    EXPECT_EQ(AddStatic(server, MakeClient(Address(10, 0, 0, 1))), 0);
    const std::int32_t client = Clients(server, false)[0];
    ASSERT_EQ(model.StartServer(server), 0);
    const ServerThread running = runner.Reports()[0];

    const int savesBefore = store.Saves();
    EXPECT_EQ(model.DeleteServer(server), 0);
    EXPECT_EQ(store.Saves(), savesBefore + 1);
    EXPECT_TRUE(store.Contents().empty());
    EXPECT_TRUE(runner.IsRunning(running.engine));
    EXPECT_TRUE(runner.Stopped().empty());
    ASSERT_EQ(runner.Detached().size(), 1u);
    EXPECT_EQ(runner.Detached()[0].engine, running.engine);
    // Nobody owns the engine now: its hooks find no entry and refuse.
    EXPECT_EQ(model.NextServerOwning(running.engine, 0), 0);
    RecordBuffer buffer{};
    EXPECT_EQ(model.GetStaticClient(client, buffer.data()), -1);
    EXPECT_TRUE(Servers().empty());
    // The service stop no longer knows it either.
    model.StopAllServers();
    EXPECT_TRUE(runner.Stopped().empty());
}

TEST_F(ModelTest, StaticAddsAreStoredAsConfiguredClients) {
    const std::int32_t server = Add("a.img");
    struct Case {
        std::uint8_t status, hasName;
        std::uint8_t storedHasName;
    };
    const Case cases[] = {{1, 2, 0}, {1, 1, 1}, {0, 0, 0}, {3, 7, 0}};
    std::uint8_t last = 1;
    for (const auto& c : cases) {
        ClientRecord client = MakeClient(Address(10, 0, 1, last++), 1, c.hasName, "named");
        client.Status = c.status;
        std::memset(client.reserved135, 0x5A, sizeof client.reserved135);
        const int savesBefore = store.Saves();
        ASSERT_EQ(AddStatic(server, client), 0);
        EXPECT_EQ(store.Saves(), savesBefore + 1);
        const ClientRecord stored = Static(Clients(server, false).back());
        EXPECT_EQ(stored.Status, 0) << int{c.status};
        EXPECT_EQ(stored.HasName, c.storedHasName) << int{c.hasName};
        EXPECT_EQ(stored.IpAddress, client.IpAddress);
        EXPECT_EQ(stored.Access, 1);
        EXPECT_STREQ(stored.HostName, "named");
    }
    ASSERT_EQ(store.Contents()[0].clients.size(), 4u);
}

TEST_F(ModelTest, ConnectedAddsAreStoredAsSentAndNeverSaved) {
    const std::int32_t server = Add("a.img");
    ClientRecord client = MakeClient(Address(10, 0, 0, 4), 0, HAS_NAME_FAILED, "x");
    client.Status = CLIENT_STATUS_CONNECTED;
    std::memset(client.reserved135, 0x5A, sizeof client.reserved135);
    const int savesBefore = store.Saves();
    ASSERT_EQ(AddConnected(server, client), 0);
    const std::int32_t handle = Clients(server, true)[0];
    const ClientRecord stored = Connected(handle);
    EXPECT_EQ(std::memcmp(&stored, &client, sizeof client), 0);

    ClientRecord update = MakeClient(Address(1, 2, 3, 4), 1, 1, "y");
    EXPECT_EQ(model.SetConnectedClient(handle, ToBuffer(update).data()), 0);
    EXPECT_EQ(Connected(handle).IpAddress, Address(10, 0, 0, 4));
    EXPECT_EQ(Connected(handle).HasName, 1);
    EXPECT_EQ(model.DeleteConnectedClient(server, handle), 0);
    EXPECT_TRUE(Clients(server, true).empty());
    EXPECT_EQ(store.Saves(), savesBefore);
}

TEST_F(ModelTest, ClientsAreEnumeratedPerServerInInsertionOrder) {
    const std::int32_t first = Add("a.img");
    const std::int32_t second = Add("b.img");
    std::int32_t next = -5;
    EXPECT_EQ(model.EnumStaticClients(first, 0, &next), 0);
    EXPECT_EQ(next, 0);
    for (std::uint8_t i = 1; i <= 3; ++i) EXPECT_EQ(AddStatic(first, MakeClient(Address(10, 0, 0, i))), 0);
    EXPECT_EQ(AddStatic(second, MakeClient(Address(10, 0, 0, 1))), 0);
    const std::vector<std::int32_t> clients = Clients(first, false);
    ASSERT_EQ(clients.size(), 3u);
    for (std::uint8_t i = 0; i < 3; ++i) EXPECT_EQ(Static(clients[i]).IpAddress, Address(10, 0, 0, i + 1));
    // Walking one server's list from another server's record ends the walk.
    EXPECT_EQ(model.EnumStaticClients(first, Clients(second, false)[0], &next), 0);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(model.DeleteStaticClient(first, clients[1]), 0);
    EXPECT_EQ(model.EnumStaticClients(first, clients[1], &next), 0);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(Clients(first, false), (std::vector<std::int32_t>{clients[0], clients[2]}));
}

TEST_F(ModelTest, DeleteStaticClientLeavesAnotherServersClientAlone) {
    const std::int32_t first = Add("a.img");
    const std::int32_t second = Add("b.img");
    EXPECT_EQ(AddStatic(second, MakeClient(Address(10, 0, 0, 1))), 0);
    const std::int32_t client = Clients(second, false)[0];
    const int savesBefore = store.Saves();
    EXPECT_EQ(model.DeleteStaticClient(first, client), 0);
    EXPECT_EQ(Clients(second, false), (std::vector<std::int32_t>{client}));
    EXPECT_EQ(store.Saves(), savesBefore);
    EXPECT_EQ(model.DeleteStaticClient(second, client), 0);
    EXPECT_TRUE(Clients(second, false).empty());
    EXPECT_EQ(store.Saves(), savesBefore + 1);
    EXPECT_EQ(model.DeleteStaticClient(second, client), -1);
}

TEST_F(ModelTest, SetStaticClientCopiesAllButTheAddressAndSaves) {
    const std::int32_t server = Add("a.img");
    EXPECT_EQ(AddStatic(server, MakeClient(Address(10, 0, 0, 1), 0)), 0);
    const std::int32_t client = Clients(server, false)[0];
    ClientRecord update = MakeClient(Address(10, 9, 9, 9), 2, 1);
    update.Status = 1;
    std::memset(update.HostName, 'h', sizeof update.HostName);  // all 128 bytes, no terminator
    const int savesBefore = store.Saves();
    EXPECT_EQ(model.SetStaticClient(client, ToBuffer(update).data()), 0);
    EXPECT_EQ(store.Saves(), savesBefore + 1);
    const ClientRecord stored = Static(client);
    EXPECT_EQ(stored.IpAddress, Address(10, 0, 0, 1));
    EXPECT_EQ(stored.Access, 2);
    EXPECT_EQ(stored.Status, 1);
    EXPECT_EQ(stored.HasName, 1);
    // The save cut the name to 127 characters, in memory as in the copy it wrote.
    EXPECT_EQ(std::string(stored.HostName, strnlen(stored.HostName, sizeof stored.HostName)), std::string(127, 'h'));
    EXPECT_EQ(std::string(store.Contents()[0].clients[0].HostName), std::string(127, 'h'));
}

TEST_F(ModelTest, NextServerOwningWalksTheEntriesOfOneEngine) {
    const std::int32_t a = Add("a.img");
    const std::int32_t b = Add("b.img");
    ASSERT_EQ(model.StartServer(a), 0);
    ASSERT_EQ(model.StartServer(b), 0);
    const DiskServer* engineA = runner.Reports()[0].engine;
    const DiskServer* engineB = runner.Reports()[1].engine;
    ASSERT_NE(engineA, engineB);
    EXPECT_EQ(model.NextServerOwning(engineA, 0), a);
    EXPECT_EQ(model.NextServerOwning(engineA, a), 0);
    EXPECT_EQ(model.NextServerOwning(engineB, 0), b);
    EXPECT_EQ(model.NextServerOwning(engineB, a), b);
    EXPECT_EQ(model.NextServerOwning(engineB, b), 0);
    EXPECT_EQ(model.NextServerOwning(engineB, 999999), 0);
}

TEST(ModelLifecycleTest, NothingIsSavedBeforeTheLoadOrAfterEmptying) {
    FakeStore store;
    FakeRunner runner;
    ConfigurationModel model(&store, &runner);
    std::int32_t handle = 0;
    EXPECT_EQ(model.AddServer(&handle, ToBuffer(MakeServer("early.img", 1)).data()), 0);
    model.Save();
    EXPECT_EQ(store.Saves(), 0);
    model.Load();
    EXPECT_TRUE(model.Loaded());
    model.Save();
    EXPECT_EQ(store.Saves(), 1);
    model.Empty();
    EXPECT_FALSE(model.Loaded());
    EXPECT_EQ(model.AddServer(&handle, ToBuffer(MakeServer("late.img", 1)).data()), 0);
    EXPECT_EQ(store.Saves(), 1);
    ASSERT_EQ(store.Contents().size(), 1u);
    EXPECT_EQ(std::string(store.Contents()[0].record.Source), "early.img");
}

TEST(ModelLifecycleTest, LoadStartsTheServersSavedAsStarted) {
    FakeStore store;
    FakeRunner runner;
    ConfigurationModel model(&store, &runner);
    runner.WatchLock(&model.Lock());
    runner.FailSource("gone.img");
    StoredServer running{MakeServer("run.img", 1),
                         {MakeClient(Address(10, 0, 0, 7)), MakeClient(Address(10, 0, 0, 7))}};
    running.record.Started = 1;
    running.record.reserved332 = 77;
    StoredServer gone{MakeServer("gone.img", 2), {}};
    gone.record.Started = 5;
    StoredServer idle{MakeServer("idle.img", 3), {}};
    store.Put({running, gone, idle});

    model.Load();
    ASSERT_EQ(runner.Started().size(), 2u);
    EXPECT_EQ(runner.Started()[0].reserved332, 0u);
    EXPECT_EQ(runner.StartsWithoutLock(), 0);
    EXPECT_TRUE(runner.Reports().empty());  // only a start through the interface reports

    std::vector<std::int32_t> servers;
    std::int32_t next = 0;
    while (model.EnumServers(next, &next) == 0 && next != 0) servers.push_back(next);
    ASSERT_EQ(servers.size(), 3u);
    RecordBuffer buffer{};
    const int expectedStarted[] = {1, 0, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(model.GetServer(servers[i], buffer.data()), 0);
        EXPECT_EQ(FromBuffer<ServerRecord>(buffer).Started, expectedStarted[i]) << i;
    }
    // The started engine is recorded in its entry, where the hooks look for it.
    ASSERT_EQ(runner.Launched().size(), 1u);
    EXPECT_EQ(model.NextServerOwning(runner.Launched()[0].engine, 0), servers[0]);
    // Both file records with one address loaded; a third through the interface is refused.
    std::vector<std::int32_t> clients;
    next = 0;
    while (model.EnumStaticClients(servers[0], next, &next) == 0 && next != 0) clients.push_back(next);
    EXPECT_EQ(clients.size(), 2u);
    EXPECT_EQ(model.AddStaticClient(servers[0], ToBuffer(MakeClient(Address(10, 0, 0, 7))).data()), -1);

    // The next save writes what came up.
    model.Save();
    const auto saved = store.Contents();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].record.Started, 1);
    EXPECT_EQ(saved[1].record.Started, 0);
    EXPECT_EQ(saved[2].record.Started, 0);
    EXPECT_EQ(saved[0].clients.size(), 2u);
}

TEST(ModelLifecycleTest, ServiceStopLeavesStartedSoTheNextLoadRunsThemAgain) {
    FakeStore store;
    FakeRunner runner;
    ConfigurationModel model(&store, &runner);
    runner.WatchLock(&model.Lock());
    model.Load();
    std::int32_t a = 0, b = 0, c = 0;
    ASSERT_EQ(model.AddServer(&a, ToBuffer(MakeServer("a.img", 1)).data()), 0);
    ASSERT_EQ(model.AddServer(&b, ToBuffer(MakeServer("b.img", 2)).data()), 0);
    ASSERT_EQ(model.AddServer(&c, ToBuffer(MakeServer("c.img", 3)).data()), 0);
    ASSERT_EQ(model.StartServer(a), 0);
    ASSERT_EQ(model.StartServer(c), 0);
    ASSERT_EQ(model.AddConnectedClient(a, ToBuffer(MakeClient(5)).data()), 0);

    model.StopAllServers();
    EXPECT_EQ(runner.RunningCount(), 0u);
    EXPECT_EQ(runner.Stopped().size(), 2u);
    EXPECT_EQ(runner.StopsUnderLock(), 0);
    RecordBuffer buffer{};
    ASSERT_EQ(model.GetServer(a, buffer.data()), 0);
    EXPECT_EQ(FromBuffer<ServerRecord>(buffer).Started, 1);
    model.Save();
    model.Empty();
    std::int32_t next = -1;
    EXPECT_EQ(model.EnumServers(0, &next), 0);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(runner.Detached().size(), 0u);  // nothing was left running

    model.Load();
    EXPECT_EQ(runner.RunningCount(), 2u);
    ASSERT_EQ(runner.Started().size(), 4u);
    EXPECT_EQ(std::string(runner.Started()[2].Source), "a.img");
    EXPECT_EQ(std::string(runner.Started()[3].Source), "c.img");
    // Connected clients were never persisted.
    ASSERT_EQ(model.EnumServers(0, &next), 0);
    std::int32_t client = -1;
    EXPECT_EQ(model.EnumConnectedClients(next, 0, &client), 0);
    EXPECT_EQ(client, 0);
}

// The free functions are the process-wide model's operations.
TEST(ManagementFunctionsTest, ReachTheProcessWideModel) {
    std::int32_t server = 0;
    ASSERT_EQ(AddServer(&server, ToBuffer(MakeServer("global.img", 4000)).data()), 0);
    std::int32_t next = 0;
    bool found = false;
    while (EnumServers(next, &next) == 0 && next != 0) found = found || next == server;
    EXPECT_TRUE(found);
    RecordBuffer buffer{};
    ASSERT_EQ(TheConfiguration().GetServer(server, buffer.data()), 0);
    EXPECT_EQ(FromBuffer<ServerRecord>(buffer).Port, 4000);
    EXPECT_EQ(AddStaticClient(server, ToBuffer(MakeClient(9)).data()), 0);
    EXPECT_EQ(EnumStaticClients(server, 0, &next), 0);
    EXPECT_EQ(GetStaticClient(next, buffer.data()), 0);
    EXPECT_EQ(StartServer(server), -1);  // no runner behind the bare model
    EXPECT_EQ(DeleteServer(server), 0);
    EXPECT_EQ(GetServer(server, buffer.data()), -1);
}

}  // namespace
}  // namespace varnox::config
