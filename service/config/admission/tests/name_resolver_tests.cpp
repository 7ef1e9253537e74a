#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "admission_fixture.h"
#include "host_name_lookup.h"
#include "name_resolver.h"

namespace varnox::config::testing {
namespace {

std::string Dotted(std::uint32_t address) {
    std::uint8_t b[4];
    std::memcpy(b, &address, sizeof b);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

// Runs the resolver with its waits and lookups written to one log instead of taken; it
// ends at the pause between full passes, after `passes` of them.
class ResolverRun {
public:
    using Lookup = std::function<std::optional<std::string>(std::uint32_t)>;

    explicit ResolverRun(Lookup lookup, int passes = 1) : lookup_(std::move(lookup)), passesLeft_(passes) {}

    std::vector<std::string> Run() {
        ResolverPacing pacing;
        pacing.sleep = [this](std::chrono::milliseconds pause) {
            log_.push_back("sleep " + std::to_string(pause.count()));
            return !(pause == RESOLVER_PASS_PAUSE && --passesLeft_ == 0);
        };
        pacing.lookup = [this](std::uint32_t address) {
            log_.push_back("lookup " + Dotted(address));
            return lookup_(address);
        };
        RunNameResolver(pacing);
        return log_;
    }

private:
    Lookup lookup_;
    int passesLeft_;
    std::vector<std::string> log_;
};

using NameResolverTest = AdmissionTest;

const std::uint32_t LOOPBACK = Address(127, 0, 0, 1);

TEST_F(NameResolverTest, OnePassLooksUpOnlyUnresolvedRealAddressesAtItsPace) {
    const std::int32_t first = NewServer("c:\\a.img", 9000);
    const std::int32_t second = NewServer("c:\\b.img", 9001);
    AddStatic(first, MakeClient(LOOPBACK, 1));
    (void)second;
    AddStatic(first, MakeClient(0, 1));
    AddStatic(first, MakeClient(Address(10, 0, 0, 7), 0, HAS_NAME_RESOLVED, "kept"));
    const std::int32_t failed = AddStatic(first, MakeClient(Address(10, 0, 0, 8), 0));
    // A failed lookup (HasName 2) can only come from the resolver or a console's change.
    ASSERT_EQ(SetStaticClient(failed, ToBuffer(MakeClient(Address(10, 0, 0, 8), 0, HAS_NAME_FAILED)).data()), 0);
    const int savesBefore = store_.Saves();

    const std::vector<std::string> log = ResolverRun(&LookUpHostName).Run();

    const std::vector<std::string> expected = {
        "lookup 127.0.0.1", "sleep 1000", "sleep 1000", "sleep 1000", "sleep 1000", "sleep 1000", "sleep 5000",
        "sleep 1000",       "sleep 5000",  // the second server's empty list
        "sleep 5000",       "sleep 10000",  // no server after the last: a new pass
    };
    EXPECT_EQ(log, expected);

    const std::vector<ClientRecord> records = Static(first);
    ASSERT_EQ(records.size(), 4u);
    const std::optional<std::string> name = LookUpHostName(LOOPBACK);
    if (name) {
        EXPECT_EQ(records[0].HasName, HAS_NAME_RESOLVED);
        EXPECT_EQ(std::string(records[0].HostName), *name);
    } else {
        EXPECT_EQ(records[0].HasName, HAS_NAME_FAILED);
    }
    EXPECT_EQ(records[0].Access, 1);
    EXPECT_EQ(records[1].HasName, HAS_NAME_NOT_RESOLVED);
    EXPECT_EQ(records[2].HasName, HAS_NAME_RESOLVED);
    EXPECT_STREQ(records[2].HostName, "kept");
    EXPECT_EQ(records[3].HasName, HAS_NAME_FAILED);
    // The one result was written back and saved.
    EXPECT_EQ(store_.Saves(), savesBefore + 1);
}

TEST_F(NameResolverTest, ResultIsWrittenOverTheRecordAsItIsAfterTheLookup) {
    const std::int32_t server = NewServer();
    const std::uint32_t address = Address(10, 0, 0, 9);
    const std::int32_t client = AddStatic(server, MakeClient(address, 0));
    // A console lowers the client's access while its name is being looked up; the
    // lookup finds nothing.
    const std::vector<std::string> log = ResolverRun([&](std::uint32_t) -> std::optional<std::string> {
                                             EXPECT_EQ(
                                                 SetStaticClient(client, ToBuffer(MakeClient(address, 2)).data()), 0);
                                             return std::nullopt;
                                         }).Run();
    EXPECT_EQ(log.front(), "lookup 10.0.0.9");
    const std::vector<ClientRecord> records = Static(server);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Access, 2);
    EXPECT_EQ(records[0].HasName, HAS_NAME_FAILED);
}

TEST_F(NameResolverTest, RecordDeletedDuringItsLookupEndsThatListOnly) {
    const std::int32_t first = NewServer("c:\\a.img", 9000);
    const std::int32_t second = NewServer("c:\\b.img", 9001);
    const std::int32_t doomed = AddStatic(first, MakeClient(Address(10, 0, 0, 1), 0));
    AddStatic(first, MakeClient(Address(10, 0, 0, 2), 0));
    AddStatic(second, MakeClient(Address(10, 0, 0, 3), 0));

    const std::vector<std::string> log = ResolverRun([&](std::uint32_t address) -> std::optional<std::string> {
                                             if (address == Address(10, 0, 0, 1)) {
                                                 EXPECT_EQ(DeleteStaticClient(first, doomed), 0);
                                             }
                                             return "host-" + Dotted(address);
                                         }).Run();
    const std::vector<std::string> expected = {
        "lookup 10.0.0.1", "sleep 5000",  // nothing written, rest of the list left for the next pass
        "lookup 10.0.0.3", "sleep 1000", "sleep 1000", "sleep 5000", "sleep 5000", "sleep 10000",
    };
    EXPECT_EQ(log, expected);

    const std::vector<ClientRecord> left = Static(first);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].IpAddress, Address(10, 0, 0, 2));
    EXPECT_EQ(left[0].HasName, HAS_NAME_NOT_RESOLVED);
    const std::vector<ClientRecord> other = Static(second);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_STREQ(other[0].HostName, "host-10.0.0.3");
}

TEST_F(NameResolverTest, NameIsLookedUpOnceUntilAConsoleAsksAgain) {
    const std::int32_t server = NewServer();
    const std::uint32_t address = Address(10, 0, 0, 4);
    const std::int32_t client = AddStatic(server, MakeClient(address, 0));
    std::string answer = "old-name";
    const auto lookup = [&](std::uint32_t) -> std::optional<std::string> { return answer; };

    // Two passes, one lookup: a resolved record is left alone.
    std::vector<std::string> log = ResolverRun(lookup, 2).Run();
    EXPECT_EQ(std::count(log.begin(), log.end(), "lookup 10.0.0.4"), 1);
    EXPECT_STREQ(Static(server)[0].HostName, "old-name");

    // A console sets HasName back to 0; the next pass resolves it again.
    ASSERT_EQ(SetStaticClient(client, ToBuffer(MakeClient(address, 0)).data()), 0);
    answer = "new-name";
    log = ResolverRun(lookup, 2).Run();
    EXPECT_EQ(std::count(log.begin(), log.end(), "lookup 10.0.0.4"), 1);
    EXPECT_EQ(Static(server)[0].HasName, HAS_NAME_RESOLVED);
    EXPECT_STREQ(Static(server)[0].HostName, "new-name");
}

}  // namespace
}  // namespace varnox::config::testing
