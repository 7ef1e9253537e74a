#pragma once
// A fixture for tests of the whole configuration: the process-wide model over Locals.xml
// in a temporary directory, with the management operations to look at it. Every test
// starts from an empty, unloaded model and leaves one behind.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config_test_files.h"
#include "configuration.h"
#include "fake_backends.h"
#include "management.h"
#include "share_host.h"
#include "xml_text.h"

namespace varnox::config::testing {

class ConfigurationTest : public ::testing::Test {
protected:
    ConfigurationTest() { SetConfigDirectory(directory.Path()); }
    ~ConfigurationTest() override {
        StopAllServers();
        EmptyConfiguration();
    }

    std::string LocalsPath() const { return directory.File("Locals.xml"); }
    std::string LocalsBytes() const { return ReadBytes(LocalsPath()); }

    // A Locals.xml with these servers (the declaration added), then the service's load.
    void LoadFile(const std::string& services) {
        ASSERT_TRUE(WriteBytes(LocalsPath(), std::string(XML_DECLARATION) + services));
        LoadConfiguration();
    }
    // What a service stop and a new start do to the model.
    void Restart() {
        StopAllServers();
        SaveConfiguration();
        EmptyConfiguration();
        LoadConfiguration();
    }

    static std::vector<std::int32_t> Servers() {
        std::vector<std::int32_t> handles;
        std::int32_t next = 0;
        while (EnumServers(next, &next) == 0 && next != 0 && handles.size() < 100000) handles.push_back(next);
        return handles;
    }
    static std::vector<std::int32_t> StaticClients(std::int32_t server) {
        std::vector<std::int32_t> handles;
        std::int32_t next = 0;
        while (EnumStaticClients(server, next, &next) == 0 && next != 0 && handles.size() < 100000) {
            handles.push_back(next);
        }
        return handles;
    }
    static ServerRecord Server(std::int32_t handle) {
        RecordBuffer buffer{};
        EXPECT_EQ(GetServer(handle, buffer.data()), 0);
        return FromBuffer<ServerRecord>(buffer);
    }
    static ClientRecord Static(std::int32_t handle) {
        RecordBuffer buffer{};
        EXPECT_EQ(GetStaticClient(handle, buffer.data()), 0);
        return FromBuffer<ClientRecord>(buffer);
    }
    static std::int32_t Add(const ServerRecord& record) {
        std::int32_t handle = 0;
        EXPECT_EQ(AddServer(&handle, ToBuffer(record).data()), 0);
        return handle;
    }
    // The only server's record, for files that hold one.
    static ServerRecord OnlyServer() {
        const auto servers = Servers();
        EXPECT_EQ(servers.size(), 1u);
        return servers.empty() ? MakeServer("", 0) : Server(servers[0]);
    }

    TempDirectory directory;
};

}  // namespace varnox::config::testing
