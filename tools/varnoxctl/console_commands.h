#pragma once
// What each varnoxctl command does with the management procedures, and what it prints.
// Results go to `out`, failures to `err`, each as one or more lines.

#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "command_line.h"
#include "management_calls.h"

namespace varnox::console {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

struct ConsoleOutput {
    std::ostream& out;
    std::ostream& err;
    // The system's text for an RPC status; may return "".
    std::function<std::string(std::uint32_t status)> describeStatus;
};

// Runs one parsed command; returns the exit status.
int RunCommand(const Invocation& invocation, rpc::ManagementCalls& calls, const ConsoleOutput& output);

// The whole program after binding: parse, show help or the usage error, or run. `bind`
// makes `calls` reach the service at the invocation's endpoint and returns "", or what
// failed.
int RunConsole(std::span<const std::string_view> arguments, rpc::ManagementCalls& calls,
               const std::function<std::string(const std::string& endpoint)>& bind, const ConsoleOutput& output);

}  // namespace varnox::console
