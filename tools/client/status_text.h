#pragma once
// How response status codes are named in messages.

#include <cstdint>
#include <string>

namespace varnox::client {

// "OK", "request failed", "access denied", or "system error <n>" for the low 16 bits of
// a Windows error code the server passed on.
std::string StatusName(std::uint16_t status);

// The name with the number, e.g. "access denied (0x2004)".
std::string DescribeStatus(std::uint16_t status);

}  // namespace varnox::client
