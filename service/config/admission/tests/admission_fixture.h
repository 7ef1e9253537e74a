#pragma once
// The process-wide configuration model with in-memory backends, emptied around each
// test: the hooks and the resolver work on the model through the management operations,
// exactly as in the service, and a started server's engine is an identity handed out by
// the fake runner.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "configuration_model.h"
#include "fake_backends.h"
#include "management.h"

namespace varnox::config::testing {

class AdmissionTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheConfiguration().Empty();
        TheConfiguration().SetBackends(&store_, &runner_);
        TheConfiguration().Load();
    }
    void TearDown() override {
        TheConfiguration().Empty();
        TheConfiguration().SetBackends(nullptr, nullptr);
    }

    std::int32_t NewServer(const std::string& source = "c:\\share.img", std::uint16_t port = 9000) {
        std::int32_t server = 0;
        const RecordBuffer buffer = ToBuffer(MakeServer(source, port));
        EXPECT_EQ(AddServer(&server, buffer.data()), 0);
        return server;
    }

    // Starts the server and returns the engine identity the hooks will be called with.
    DiskServer* Start(std::int32_t server) {
        EXPECT_EQ(StartServer(server), 0);
        return runner_.Reports().back().engine;
    }

    std::int32_t AddStatic(std::int32_t server, const ClientRecord& record) {
        const RecordBuffer buffer = ToBuffer(record);
        EXPECT_EQ(AddStaticClient(server, buffer.data()), 0);
        std::int32_t client = 0;
        std::int32_t next = 0;
        while (EnumStaticClients(server, client, &next) == 0 && next != 0) client = next;
        return client;
    }

    template <typename Get>
    static std::vector<ClientRecord> List(std::int32_t server, Get get, bool connected) {
        std::vector<ClientRecord> records;
        std::int32_t client = 0;
        for (;;) {
            std::int32_t next = 0;
            const std::int32_t result = connected ? EnumConnectedClients(server, client, &next)
                                                  : EnumStaticClients(server, client, &next);
            if (result != 0 || next == 0) return records;
            RecordBuffer buffer{};
            EXPECT_EQ(get(next, buffer.data()), 0);
            records.push_back(FromBuffer<ClientRecord>(buffer));
            client = next;
        }
    }
    static std::vector<ClientRecord> Connected(std::int32_t server) {
        return List(server, &GetConnectedClient, true);
    }
    static std::vector<ClientRecord> Static(std::int32_t server) { return List(server, &GetStaticClient, false); }

    FakeStore store_;
    FakeRunner runner_;
};

}  // namespace varnox::config::testing
