#pragma once
// Command line of the benchmark servers: where to listen, how large an image to serve,
// how long to live at most, and the two platform settings a run compares.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace varnox::bench {

struct ServerOptions {
    std::uint16_t port = 0;                  // 0: a free one, printed when ready
    std::uint64_t imageSize = 128ull << 20;  // the temporary image's size
    double maxSeconds = 900;                 // ends by itself after this, should nobody stop it
    bool zeroSendBuffer = false;             // SO_SNDBUF 0 on the listening socket, as on Windows
    bool memoryOnly = false;                 // bare loop only: answer without touching a disk
};

struct ParsedServerOptions {
    ServerOptions options;
    std::string error;  // empty when the command line was fine
    bool help = false;
};

// `args` without the program name; --memory is accepted only when `memoryMode` is true.
ParsedServerOptions ParseServerOptions(std::span<const std::string_view> args, bool memoryMode);

// The usage text of a server program called `program`.
std::string ServerUsage(std::string_view program, bool memoryMode);

// A server program's main: reads its command line, prints help (exit 0) or the error and
// the usage (exit 2), else returns what `serve` returns.
int ServerMain(int argc, char** argv, std::string_view program, bool memoryMode, int (*serve)(const ServerOptions&));

}  // namespace varnox::bench
