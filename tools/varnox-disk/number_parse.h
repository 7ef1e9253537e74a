#pragma once
// Numbers on the command line: decimal or 0x hex, with an optional K, M or G suffix
// for binary multiples, so "0x1000", "4096" and "4K" all mean the same offset.

#include <cstdint>
#include <string_view>

#include "result.h"

namespace varnox::disk_tool {

client::Result<std::uint64_t> ParseNumber(std::string_view text);

// A positive duration in seconds, whole or with a decimal fraction ("2", "0.5").
client::Result<double> ParseSeconds(std::string_view text);

}  // namespace varnox::disk_tool
