#include <cstdio>
#include <string>

#include "bench_runner.h"
#include "commands.h"
#include "share_text.h"

namespace varnox::disk_tool {

client::Result<void> RunBench(const Invocation& invocation, ToolStreams& streams) {
    const BenchOptions& options = invocation.bench;
    auto run = RunBenchMeasures(invocation.global, options, [&streams](const std::string& line) {
        streams.err << line << "\n";
        streams.err.flush();
    });
    if (!run.ok()) return run.error();
    if (options.csv) {
        streams.out << FormatBenchCsv(run.value().measures);
        return {};
    }
    char duration[32];
    std::snprintf(duration, sizeof duration, "%g s", options.secondsPerMeasure);
    const std::string heading = "varnox-disk bench: " + invocation.global.host + ":" +
                                std::to_string(invocation.global.port) + ", disk " +
                                ByteCountText(run.value().share.size) + ", access " +
                                AccessText(run.value().share.access) + ", " + duration + " per measure";
    streams.out << FormatBenchTable(heading, run.value().measures);
    return {};
}

}  // namespace varnox::disk_tool
