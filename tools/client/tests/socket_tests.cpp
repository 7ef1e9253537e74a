#include <gtest/gtest.h>

#include <array>
#include <string>

#include "block_client.h"
#include "listener.h"
#include "socket.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <cerrno>
#endif

namespace varnox::client {
namespace {

#ifdef _WIN32
constexpr std::uint32_t CONNECTION_REFUSED = WSAECONNREFUSED;
#else
constexpr std::uint32_t CONNECTION_REFUSED = ECONNREFUSED;
#endif

// A port that was free a moment ago and has nobody listening now.
std::uint16_t UnusedPort() {
    auto listener = Listener::Listen(0);
    EXPECT_TRUE(listener.ok()) << listener.error().message;
    return listener.ok() ? listener.value().Port() : 1;
}

TEST(Socket, ConnectionRefusedNamesTheCallAndCarriesTheSystemCode) {
    const std::uint16_t port = UnusedPort();
    auto client = BlockClient::Connect("127.0.0.1", port);
    ASSERT_FALSE(client.ok());
    EXPECT_EQ(client.error().kind, ErrorKind::System);
    EXPECT_EQ(client.error().code, CONNECTION_REFUSED);
    const std::string& message = client.error().message;
    EXPECT_EQ(message.rfind("connect to 127.0.0.1:" + std::to_string(port) + ": connect() failed: ", 0), 0u) << message;
    EXPECT_NE(message.find("(error " + std::to_string(CONNECTION_REFUSED) + ")"), std::string::npos) << message;
}

// The backlog completes the connection before accept(), so one thread plays both ends.
TEST(Socket, PeerClosingEarlyIsReportedWithHowMuchArrived) {
    auto listener = Listener::Listen(0);
    ASSERT_TRUE(listener.ok()) << listener.error().message;
    auto client = Socket::Connect("127.0.0.1", listener.value().Port());
    ASSERT_TRUE(client.ok()) << client.error().message;
    auto server = listener.value().Accept();
    ASSERT_TRUE(server.ok()) << server.error().message;

    const std::array<std::uint8_t, 3> sent{1, 2, 3};
    ASSERT_TRUE(server.value().SendAll(sent).ok());
    ASSERT_TRUE(server.value().Close().ok());

    std::array<std::uint8_t, 5> received{};
    auto result = client.value().ReceiveExact(received);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, ErrorKind::Closed);
    EXPECT_NE(result.error().message.find("after 3 of 5 bytes"), std::string::npos) << result.error().message;
    EXPECT_EQ(received[2], 3);
}

TEST(Socket, ClosedSocketRefusesToSend) {
    Socket socket;
    auto sent = socket.SendAll(std::array<std::uint8_t, 1>{0});
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().kind, ErrorKind::Usage);
}

}  // namespace
}  // namespace varnox::client
