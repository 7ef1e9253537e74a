#pragma once
// The texts of --help: the tool's overview and one page per command.

#include <optional>
#include <string>

#include "command_line.h"

namespace varnox::disk_tool {

// The overview when `topic` is empty, else the command's page.
std::string HelpText(std::optional<CommandKind> topic);

}  // namespace varnox::disk_tool
