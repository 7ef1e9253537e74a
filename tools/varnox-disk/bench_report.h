#pragma once
// The figures of a bench run and their two printed forms: a table for people and
// comma-separated lines for scripts that put several runs side by side.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace varnox::disk_tool {

struct Measure {
    std::string key;    // stable name for scripts, e.g. "read_4k_qd1"
    std::string title;  // what the table shows, e.g. "random reads, 1 in flight"
    unsigned connections = 1;
    std::uint32_t block = 0;
    std::uint64_t requests = 0;
    double seconds = 0;
    std::optional<std::string> skipped;  // why it did not run

    double RequestsPerSecond() const { return seconds > 0 ? static_cast<double>(requests) / seconds : 0; }
    double MiBPerSecond() const {
        return seconds > 0 ? static_cast<double>(requests) * block / seconds / (1024.0 * 1024.0) : 0;
    }
};

// A heading line, then one row per measure.
std::string FormatBenchTable(std::string_view heading, std::span<const Measure> measures);

// "key,connections,block,requests,seconds,requests_per_s,mib_per_s" and one line per
// measure; a skipped one has empty figures.
std::string FormatBenchCsv(std::span<const Measure> measures);

}  // namespace varnox::disk_tool
