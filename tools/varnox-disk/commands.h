#pragma once
// The commands of varnox-disk. Each talks to the share through its own session and
// writes only to the streams it is given, so tests run them in-process.

#include <istream>
#include <ostream>

#include "command_line.h"
#include "result.h"

namespace varnox::disk_tool {

struct ToolStreams {
    std::istream& in;   // write's data when its input is '-'
    std::ostream& out;  // results, and read's data when its output is '-'
    std::ostream& err;  // progress; the caller prints errors here too
};

client::Result<void> RunInfo(const Invocation& invocation, ToolStreams& streams);
client::Result<void> RunRead(const Invocation& invocation, ToolStreams& streams);
client::Result<void> RunWrite(const Invocation& invocation, ToolStreams& streams);
client::Result<void> RunAuth(const Invocation& invocation, ToolStreams& streams);
client::Result<void> RunBench(const Invocation& invocation, ToolStreams& streams);

}  // namespace varnox::disk_tool
