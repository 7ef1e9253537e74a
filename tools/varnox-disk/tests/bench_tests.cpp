#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tool_fixture.h"

namespace varnox::disk_tool::testing {
namespace {

constexpr std::uint64_t DISK_SIZE = 8 * 1024 * 1024;

struct CsvRow {
    std::string key;
    unsigned connections = 0;
    std::uint32_t block = 0;
    std::string requests;  // empty when the measure was skipped
};

std::vector<CsvRow> ParseCsv(const std::string& text) {
    std::vector<CsvRow> rows;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
        if (fields.size() < 4) fields.resize(4);
        rows.push_back({fields[0], static_cast<unsigned>(std::stoul(fields[1])),
                        static_cast<std::uint32_t>(std::stoul(fields[2])), fields[3]});
    }
    return rows;
}

using BenchTest = ToolTest;

// Not a speed test: it checks that every measure ran and that the write measure left
// the disk as it found it.
TEST_F(BenchTest, EveryMeasureRunsAndTheDiskKeepsItsContents) {
    ASSERT_TRUE(StartServer(Options(ACCESS_READ_ONLY, DISK_SIZE)));
    const std::vector<std::uint8_t> before = server->DiskBytes(0, DISK_SIZE);
    const ToolRun run =
        Run({"--password", "manager", "bench", "--duration", "0.2", "--block", "64K", "--connections", "1,3", "--csv"});
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.err, "") << "a short run reports no progress";
    const std::vector<CsvRow> rows = ParseCsv(run.out);
    ASSERT_EQ(rows.size(), 5u) << run.out;
    const std::pair<std::string, std::uint32_t> expected[] = {{"rand_read_qd1", 4096},
                                                              {"seq_read", 2097152},
                                                              {"seq_write", 2097152},
                                                              {"agg_read_c1", 65536},
                                                              {"agg_read_c3", 65536}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].key, expected[i].first);
        EXPECT_EQ(rows[i].block, expected[i].second) << rows[i].key;
        ASSERT_FALSE(rows[i].requests.empty()) << rows[i].key << " was skipped";
        EXPECT_GT(std::stoull(rows[i].requests), 0u) << rows[i].key;
    }
    EXPECT_EQ(rows[4].connections, 3u);
    // Three connections of the aggregate measure, plus one for each of the others and the probe.
    EXPECT_EQ(server->ConnectionsAccepted(), 1u + 1 + 1 + 1 + 1 + 3);
    EXPECT_TRUE(server->DiskBytes(0, DISK_SIZE) == before) << "the write measure changed the disk";
}

// On a disk of one chunk the write measure rewrites sector 0, whose reads carry the
// connection's signature: what goes back must be what the disk holds, not what was read.
TEST_F(BenchTest, WriteMeasurePutsBackWhatTheDiskHeld) {
    for (const std::uint64_t size : {DISK_SIZE, std::uint64_t{3 * 1024 * 1024}, std::uint64_t{100000}}) {
        ASSERT_TRUE(StartServer(Options(ACCESS_FULL, size)));
        const std::vector<std::uint8_t> before = server->DiskBytes(0, size);
        const ToolRun run = Run({"bench", "--duration", "0.1", "--connections", "1", "--csv"});
        ASSERT_EQ(run.exit, 0) << run.err;
        const std::vector<CsvRow> rows = ParseCsv(run.out);
        ASSERT_EQ(rows.size(), 4u) << run.out;
        EXPECT_EQ(rows[2].key, "seq_write");
        EXPECT_FALSE(rows[2].requests.empty()) << size;
        EXPECT_TRUE(server->DiskBytes(0, size) == before) << "the write measure changed a disk of " << size;
    }
}

TEST_F(BenchTest, WritesAreSkippedWithoutFullAccessOrWhenLeftOut) {
    struct Case {
        std::uint32_t access;
        std::vector<std::string> extra;
        std::string reason;
    };
    const Case cases[] = {
        {ACCESS_READ_ONLY, {}, "skipped: needs full access, the connection has read-only (1)"},
        {ACCESS_FULL, {"--no-write"}, "skipped: left out (--no-write)"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(StartServer(Options(c.access, DISK_SIZE)));
        std::vector<std::string> args = {"bench", "--duration", "0.1", "--connections", "2"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ToolRun run = Run(args);
        ASSERT_EQ(run.exit, 0) << run.err;
        EXPECT_NE(run.out.find("sequential writes"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(c.reason), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("access " + std::string(c.access == ACCESS_FULL ? "full (0)" : "read-only (1)")),
                  std::string::npos)
            << run.out;
    }
}

TEST_F(BenchTest, LongRunsReportProgressOnStandardError) {
    ASSERT_TRUE(StartServer(Options(ACCESS_FULL, DISK_SIZE)));
    // Four measures of 0.8 s: longer than the quiet time.
    const ToolRun run = Run({"bench", "--duration", "0.8", "--connections", "2", "--csv"});
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.err.rfind("bench: [1/4] random reads, one in flight, 4 KiB, 1 connection\n", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("bench: [4/4] random reads, aggregate, 4 KiB, 2 connections\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("bench:"), std::string::npos) << "progress went to standard output";
}

TEST_F(BenchTest, FailuresEndTheRunWithTheMeasureNamed) {
    ASSERT_TRUE(StartServer(Options(ACCESS_NONE, DISK_SIZE)));
    const ToolRun denied = Run({"bench", "--duration", "0.1"});
    EXPECT_EQ(denied.exit, 1);
    EXPECT_EQ(denied.err.rfind("varnox-disk: random reads, one in flight: read at ", 0), 0u) << denied.err;
    EXPECT_NE(denied.err.find("access denied (0x2004)"), std::string::npos) << denied.err;

    ASSERT_TRUE(StartServer(Options(ACCESS_FULL, 60000)));
    const ToolRun tiny = Run({"bench", "--block", "64K"});
    EXPECT_EQ(tiny.exit, 1);
    EXPECT_EQ(tiny.err, "varnox-disk: bench: the disk (60000 bytes (58.6 KiB)) is smaller than one 64 KiB block\n");
}

}  // namespace
}  // namespace varnox::disk_tool::testing
