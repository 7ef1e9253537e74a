#pragma once
// The measurements of varnox-disk bench. Each runs for a fixed time on connections of
// its own, one request in flight per connection, so the figures show the round trip of
// the share as a single client sees it and how it scales with more clients.

#include <functional>
#include <string>
#include <vector>

#include "bench_report.h"
#include "block_client.h"
#include "command_line.h"
#include "result.h"

namespace varnox::disk_tool {

// Told one line before each measurement of a run that takes longer than a few seconds.
using BenchProgress = std::function<void(const std::string& line)>;

struct BenchRun {
    client::ShareInfo share;  // as the first connection saw it, after any credential
    std::vector<Measure> measures;
};

client::Result<BenchRun> RunBenchMeasures(const GlobalOptions& global, const BenchOptions& options,
                                          const BenchProgress& progress);

}  // namespace varnox::disk_tool
