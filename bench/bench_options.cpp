#include "bench_options.h"

#include <cstdio>
#include <vector>

#include "number_parse.h"
#include "protocol.h"

namespace varnox::bench {

namespace {

constexpr std::uint64_t SMALLEST_IMAGE = 2 * MAX_TRANSFER_LENGTH;

}  // namespace

ParsedServerOptions ParseServerOptions(std::span<const std::string_view> args, bool memoryMode) {
    ParsedServerOptions parsed;
    ServerOptions& options = parsed.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= args.size()) {
                parsed.error = "option " + std::string(arg) + " needs a value";
                return {};
            }
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg == "--sndbuf-zero") {
            options.zeroSendBuffer = true;
        } else if (arg == "--memory" && memoryMode) {
            options.memoryOnly = true;
        } else if (arg == "--port" || arg == "--size") {
            const std::string_view text = value();
            if (!parsed.error.empty()) return parsed;
            auto number = disk_tool::ParseNumber(text);
            if (!number.ok()) {
                parsed.error = std::string(arg) + ": " + number.error().message;
                return parsed;
            }
            if (arg == "--port") {
                if (number.value() > 65535) {
                    parsed.error = "--port: '" + std::string(text) + "' is not between 0 and 65535";
                    return parsed;
                }
                options.port = static_cast<std::uint16_t>(number.value());
            } else {
                if (number.value() < SMALLEST_IMAGE) {
                    parsed.error = "--size: '" + std::string(text) + "' is smaller than 4 MiB";
                    return parsed;
                }
                options.imageSize = number.value();
            }
        } else if (arg == "--seconds") {
            const std::string_view text = value();
            if (!parsed.error.empty()) return parsed;
            auto seconds = disk_tool::ParseSeconds(text);
            if (!seconds.ok()) {
                parsed.error = "--seconds: " + seconds.error().message;
                return parsed;
            }
            options.maxSeconds = seconds.value();
        } else {
            parsed.error = "unknown argument '" + std::string(arg) + "'";
            return parsed;
        }
    }
    return parsed;
}

std::string ServerUsage(std::string_view program, bool memoryMode) {
    std::string usage = "Usage: " + std::string(program) + " [--port N] [--size BYTES] [--seconds S] [--sndbuf-zero]";
    if (memoryMode) usage += " [--memory]";
    usage +=
        "\n\n"
        "Serves a temporary image of --size bytes (default 128M) on --port (default: a free\n"
        "port) until standard input ends or --seconds (default 900) have passed, then\n"
        "removes the image. Prints 'ready port N' once it accepts connections.\n"
        "  --sndbuf-zero  set SO_SNDBUF 0 on the listening socket, as on Windows\n";
    if (memoryMode) usage += "  --memory       answer every request from memory, without the image\n";
    return usage;
}

int ServerMain(int argc, char** argv, std::string_view program, bool memoryMode, int (*serve)(const ServerOptions&)) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedServerOptions parsed = ParseServerOptions(args, memoryMode);
    if (parsed.help) {
        std::printf("%s", ServerUsage(program, memoryMode).c_str());
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%.*s: %s\n%s", static_cast<int>(program.size()), program.data(), parsed.error.c_str(),
                     ServerUsage(program, memoryMode).c_str());
        return 2;
    }
    return serve(parsed.options);
}

}  // namespace varnox::bench
