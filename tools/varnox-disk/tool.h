#pragma once
// varnox-disk as a function: arguments in, exit status out, all text through the given
// streams. main() only adds the process's own streams.

#include <span>
#include <string_view>

#include "commands.h"

namespace varnox::disk_tool {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

// `args` without the program name.
int RunTool(std::span<const std::string_view> args, ToolStreams& streams);

}  // namespace varnox::disk_tool
