#include <gtest/gtest.h>

#include "admission_fixture.h"
#include "admission_hooks.h"
#include "host_name_lookup.h"

namespace varnox::config::testing {
namespace {

using ConnectionTracking = AdmissionTest;

const std::uint32_t LOOPBACK = Address(127, 0, 0, 1);

TEST_F(ConnectionTracking, ProvedIdentityIsListedWithItsLevelAndName) {
    struct Case {
        std::uint32_t identity;
        std::uint8_t access;
    };
    // The ManagePassword gives identity 0 (full), the Password identity 1 (read-only).
    for (const Case c : {Case{0, 0}, Case{1, 1}}) {
        const std::int32_t server = NewServer();
        DiskServer* engine = Start(server);
        ClientConnected(engine, LOOPBACK, c.identity);

        const std::vector<ClientRecord> connected = Connected(server);
        ASSERT_EQ(connected.size(), 1u);
        EXPECT_EQ(connected[0].IpAddress, LOOPBACK);
        EXPECT_EQ(connected[0].Access, c.access);
        EXPECT_EQ(connected[0].Status, CLIENT_STATUS_CONNECTED);
        const std::optional<std::string> name = LookUpHostName(LOOPBACK);
        if (name) {
            EXPECT_EQ(connected[0].HasName, HAS_NAME_RESOLVED);
            EXPECT_EQ(std::string(connected[0].HostName), name->substr(0, 127));
        } else {
            EXPECT_EQ(connected[0].HasName, HAS_NAME_FAILED);
        }
        // The connected list is not persistent: nothing is saved for it.
        EXPECT_TRUE(Static(server).empty());
        EXPECT_EQ(DeleteServer(server), 0);
    }
}

TEST_F(ConnectionTracking, OneRecordPerAddressAndTheFirstStays) {
    const std::int32_t server = NewServer();
    DiskServer* engine = Start(server);
    ClientConnected(engine, LOOPBACK, 1);
    ClientConnected(engine, LOOPBACK, 0);
    const std::vector<ClientRecord> connected = Connected(server);
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].Access, 1);

    char text[LAST_ERROR_TEXT_SIZE] = {};
    ASSERT_EQ(GetLastErrorText(reinterpret_cast<std::uint8_t*>(text), sizeof text), 0);
    EXPECT_STREQ(text, DUPLICATE_CLIENT_TEXT);
}

TEST_F(ConnectionTracking, DisconnectRemovesThatAddressOnly) {
    const std::int32_t server = NewServer();
    const std::int32_t other = NewServer("c:\\other.img", 9001);
    DiskServer* engine = Start(server);
    DiskServer* otherEngine = Start(other);
    ClientConnected(engine, LOOPBACK, 1);
    ClientConnected(otherEngine, LOOPBACK, 1);
    ClientRecord second = MakeClient(Address(10, 0, 0, 7), 0);
    second.Status = CLIENT_STATUS_CONNECTED;
    ASSERT_EQ(AddConnectedClient(server, ToBuffer(second).data()), 0);

    EXPECT_EQ(ClientDisconnected(engine, LOOPBACK), 1);
    const std::vector<ClientRecord> left = Connected(server);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].IpAddress, Address(10, 0, 0, 7));
    // Another share's record of the same address is that share's business.
    EXPECT_EQ(Connected(other).size(), 1u);

    // An address nobody lists, and an engine nobody owns, change nothing.
    EXPECT_EQ(ClientDisconnected(engine, Address(10, 0, 0, 8)), 1);
    EXPECT_EQ(Connected(server).size(), 1u);
    EXPECT_EQ(DeleteServer(other), 0);
    EXPECT_EQ(ClientDisconnected(otherEngine, LOOPBACK), 1);
    ClientConnected(otherEngine, Address(10, 0, 0, 9), 0);
    EXPECT_EQ(Connected(server).size(), 1u);
}

}  // namespace
}  // namespace varnox::config::testing
