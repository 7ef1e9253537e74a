#pragma once
// Starts a fake server and connects clients to it for a test; both go away with the
// fixture. Every client call is bounded, so a server that stops answering fails the
// test instead of hanging it.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "block_client.h"
#include "fake_block_server.h"

namespace varnox::client::testing {

inline constexpr std::chrono::milliseconds CLIENT_TIMEOUT{20000};

class FakeServerTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (server) server->Stop();
    }

    // Use as ASSERT_TRUE(StartServer(...)).
    ::testing::AssertionResult StartServer(const FakeServerOptions& options) {
        auto started = FakeBlockServer::Start(options);
        if (!started.ok()) return ::testing::AssertionFailure() << started.error().message;
        server = std::move(started.value());
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult ConnectClient(BlockClient& client) {
        auto connected = BlockClient::Connect("127.0.0.1", server->Port());
        if (!connected.ok()) return ::testing::AssertionFailure() << connected.error().message;
        client = std::move(connected.value());
        if (auto timeout = client.SetTimeout(CLIENT_TIMEOUT); !timeout.ok()) {
            return ::testing::AssertionFailure() << timeout.error().message;
        }
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<FakeBlockServer> server;
};

inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 37 + (i >> 9));
    return bytes;
}

}  // namespace varnox::client::testing
