#pragma once
// What the user asked varnox-disk to do, parsed from its arguments without touching the
// network, so every accepted and refused command line can be checked natively.
//
//   varnox-disk [global options] <command> [command options]
//
// Global options may also follow the command name; options take their value as the next
// argument or after '=' ("--port 7000", "--port=7000").

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "request_rules.h"
#include "result.h"

namespace varnox::disk_tool {

enum class CommandKind { Help, Info, Read, Write, Auth, Bench };

struct GlobalOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;  // every command that connects needs one; 0 never reaches a command
    // The digest to present before the command's requests, from --password or --digest.
    std::optional<Credential> credential;
    double timeoutSeconds = 30;
};

struct ReadOptions {
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> length;  // none: up to the end of the disk
    std::string output = "-";             // "-" is standard output
};

struct WriteOptions {
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> length;  // none: all of the input
    std::string input = "-";              // "-" is standard input
};

struct BenchOptions {
    double secondsPerMeasure = 2;
    std::uint32_t aggregateBlock = 4096;
    std::vector<unsigned> connections{1, 4, 16};
    bool write = true;
    bool csv = false;
};

inline constexpr unsigned MAX_BENCH_CONNECTIONS = 64;

struct Invocation {
    CommandKind command = CommandKind::Help;
    // For CommandKind::Help: the command whose help was asked for; none for the tool's.
    std::optional<CommandKind> helpTopic;
    GlobalOptions global;
    ReadOptions read;
    WriteOptions write;
    BenchOptions bench;
};

// `args` without the program name. Errors are ErrorKind::Usage with a message fit to
// print after "varnox-disk: ".
client::Result<Invocation> ParseCommandLine(std::span<const std::string_view> args);

// The command's name as typed ("info", "read", ...); "help" for CommandKind::Help.
std::string_view CommandName(CommandKind command);

}  // namespace varnox::disk_tool
