#include <gtest/gtest.h>

#include "admission_fixture.h"
#include "admission_hooks.h"
#include "protocol.h"

namespace varnox::config::testing {
namespace {

struct StaticEntry {
    std::uint32_t address;
    std::uint8_t access;
};

struct QueryCase {
    const char* what;
    std::vector<StaticEntry> list;
    std::uint32_t client;
    bool admitted;
    std::uint32_t access;
};

using AccessQueryTest = AdmissionTest;

TEST_F(AccessQueryTest, ExactRecordFirstThenAnyAddressReadOnly) {
    const std::uint32_t client = Address(10, 0, 0, 5);
    const std::uint32_t stranger = Address(10, 0, 0, 6);
    const QueryCase cases[] = {
        {"empty list refuses everyone", {}, client, false, ACCESS_NONE},
        {"exact full", {{client, 0}}, client, true, ACCESS_FULL},
        {"exact read-only", {{client, 1}}, client, true, ACCESS_READ_ONLY},
        {"exact none", {{client, 2}}, client, false, ACCESS_NONE},
        {"exact above none", {{client, 9}}, client, false, ACCESS_NONE},
        {"other address only", {{stranger, 0}}, client, false, ACCESS_NONE},
        {"any full gives read-only", {{0, 0}}, client, true, ACCESS_READ_ONLY},
        {"any read-only", {{0, 1}}, client, true, ACCESS_READ_ONLY},
        {"any none", {{0, 2}}, client, false, ACCESS_NONE},
        {"exact denial beats any", {{0, 0}, {client, 2}}, client, false, ACCESS_NONE},
        {"exact full beats an earlier any", {{0, 0}, {client, 0}}, client, true, ACCESS_FULL},
        {"exact read-only beats a later any", {{client, 1}, {0, 0}}, client, true, ACCESS_READ_ONLY},
        {"stranger falls to any", {{client, 0}, {0, 0}}, stranger, true, ACCESS_READ_ONLY},
        {"stranger refused by any none", {{client, 0}, {0, 5}}, stranger, false, ACCESS_NONE},
    };
    for (const QueryCase& c : cases) {
        const std::int32_t server = NewServer();
        DiskServer* engine = Start(server);
        for (const StaticEntry& entry : c.list) AddStatic(server, MakeClient(entry.address, entry.access));
        std::uint32_t access = 77;
        const int admitted = AccessQuery(engine, c.client, &access);
        EXPECT_EQ(admitted != 0, c.admitted) << c.what;
        EXPECT_EQ(access, c.access) << c.what;
        // Admission decides; it lists nobody (refused or not).
        EXPECT_TRUE(Connected(server).empty()) << c.what;
        EXPECT_EQ(DeleteServer(server), 0);
    }
}

TEST_F(AccessQueryTest, EachEngineAsksItsOwnEntry) {
    const std::uint32_t client = Address(10, 0, 0, 5);
    const std::int32_t open = NewServer("c:\\open.img", 9000);
    const std::int32_t closed = NewServer("c:\\closed.img", 9001);
    DiskServer* openEngine = Start(open);
    DiskServer* closedEngine = Start(closed);
    AddStatic(open, MakeClient(client, ACCESS_FULL));

    std::uint32_t access = 77;
    EXPECT_NE(AccessQuery(openEngine, client, &access), 0);
    EXPECT_EQ(access, ACCESS_FULL);
    EXPECT_EQ(AccessQuery(closedEngine, client, &access), 0);
    EXPECT_EQ(access, ACCESS_NONE);
}

TEST_F(AccessQueryTest, EngineWithoutEntryRefusesEveryone) {
    const std::uint32_t client = Address(10, 0, 0, 5);
    const std::int32_t server = NewServer();
    DiskServer* engine = Start(server);
    AddStatic(server, MakeClient(client, ACCESS_FULL));
    AddStatic(server, MakeClient(0, ACCESS_FULL));
    // Deleting a running server leaves its engine running with nobody answering for it.
    EXPECT_EQ(DeleteServer(server), 0);
    std::uint32_t access = 77;
    EXPECT_EQ(AccessQuery(engine, client, &access), 0);
    EXPECT_EQ(access, ACCESS_NONE);
}

}  // namespace
}  // namespace varnox::config::testing
