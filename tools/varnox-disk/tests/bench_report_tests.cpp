#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "bench_report.h"

namespace varnox::disk_tool {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::vector<Measure> Sample() {
    Measure random{"rand_read_qd1", "random reads, one in flight", 1, 4096, 9000, 2.0, std::nullopt};
    Measure sequential{"seq_read", "sequential reads", 1, 2097152, 300, 1.5, std::nullopt};
    Measure writes{"seq_write", "sequential writes", 1, 2097152, 0, 0, std::string("left out (--no-write)")};
    Measure aggregate{"agg_read_c16", "random reads, aggregate", 16, 65536, 1600, 0.5, std::nullopt};
    return {random, sequential, writes, aggregate};
}

TEST(BenchReport, FiguresPerSecondFromCountsAndTime) {
    const std::vector<Measure> measures = Sample();
    EXPECT_DOUBLE_EQ(measures[0].RequestsPerSecond(), 4500);
    EXPECT_DOUBLE_EQ(measures[1].MiBPerSecond(), 400);
    EXPECT_DOUBLE_EQ(measures[3].MiBPerSecond(), 200);
    EXPECT_DOUBLE_EQ(measures[2].RequestsPerSecond(), 0) << "no time, no rate, and no division by zero";
}

TEST(BenchReport, TableRowsLineUpUnderTheirHeadings) {
    const std::vector<Measure> measures = Sample();
    const std::vector<std::string> lines = Lines(FormatBenchTable("bench of a share", measures));
    ASSERT_EQ(lines.size(), 3 + measures.size());
    EXPECT_EQ(lines[0], "bench of a share");
    EXPECT_EQ(lines[1], "");
    const std::string& heading = lines[2];
    const std::size_t rateEnd = heading.find("requests/s") + std::string("requests/s").size();
    const std::size_t mibEnd = heading.find("MiB/s") + std::string("MiB/s").size();
    const std::size_t blockEnd = heading.find("block") + std::string("block").size();

    const std::string& random = lines[3];
    EXPECT_EQ(random.rfind("random reads, one in flight", 0), 0u) << random;
    EXPECT_EQ(random.substr(rateEnd - 6, 6), "4500.0") << random;
    EXPECT_EQ(random.substr(mibEnd - 4, 4), "17.6") << random;
    EXPECT_EQ(random.substr(blockEnd - 5, 5), "4 KiB") << random;

    EXPECT_EQ(lines[4].substr(mibEnd - 5, 5), "400.0") << lines[4];
    EXPECT_NE(lines[5].find("skipped: left out (--no-write)"), std::string::npos) << lines[5];
    EXPECT_EQ(lines[6].substr(blockEnd - 6, 6), "64 KiB") << lines[6];
    EXPECT_EQ(lines[6].substr(rateEnd - 6, 6), "3200.0") << lines[6];
}

TEST(BenchReport, CsvHasOneLinePerMeasureAndEmptyFiguresWhenSkipped) {
    const std::vector<std::string> lines = Lines(FormatBenchCsv(Sample()));
    const std::vector<std::string> expected = {
        "key,connections,block,requests,seconds,requests_per_s,mib_per_s",
        "rand_read_qd1,1,4096,9000,2.000,4500.0,17.58",
        "seq_read,1,2097152,300,1.500,200.0,400.00",
        "seq_write,1,2097152,,,,",
        "agg_read_c16,16,65536,1600,0.500,3200.0,200.00",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace varnox::disk_tool
