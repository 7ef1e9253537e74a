#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "digest_hex.h"
#include "password_digest.h"

namespace varnox::disk_tool {
namespace {

constexpr const char* MANAGER_HEX = "0123456789abcdef0123456789ABCDEF01234567";

std::string Optional(const std::optional<std::uint64_t>& value) {
    return value ? std::to_string(*value) : std::string("-");
}

// Everything a command line decided, in one line, so a table can say what it expects.
std::string Describe(const Invocation& invocation) {
    const GlobalOptions& global = invocation.global;
    std::string text(CommandName(invocation.command));
    if (invocation.command == CommandKind::Help) {
        return text + " " + (invocation.helpTopic ? std::string(CommandName(*invocation.helpTopic)) : "-");
    }
    text += " " + global.host + ":" + std::to_string(global.port) +
            " timeout=" + std::to_string(static_cast<int>(global.timeoutSeconds * 1000)) + "ms";
    if (global.credential) text += " credential=" + DigestToHex(*global.credential);
    switch (invocation.command) {
        case CommandKind::Read:
            text += " offset=" + std::to_string(invocation.read.offset) +
                    " length=" + Optional(invocation.read.length) + " output=" + invocation.read.output;
            break;
        case CommandKind::Write:
            text += " offset=" + std::to_string(invocation.write.offset) +
                    " length=" + Optional(invocation.write.length) + " input=" + invocation.write.input;
            break;
        case CommandKind::Bench: {
            const BenchOptions& bench = invocation.bench;
            text += " duration=" + std::to_string(static_cast<int>(bench.secondsPerMeasure * 1000)) +
                    "ms block=" + std::to_string(bench.aggregateBlock) + " connections=";
            for (std::size_t i = 0; i < bench.connections.size(); ++i) {
                text += (i == 0 ? "" : ",") + std::to_string(bench.connections[i]);
            }
            text += bench.write ? " write" : " no-write";
            text += bench.csv ? " csv" : " table";
            break;
        }
        default:
            break;
    }
    return text;
}

struct Accepted {
    std::vector<std::string_view> args;
    std::string expected;
};

TEST(CommandLine, AcceptedCommandLines) {
    const std::string reader = DigestToHex(PasswordDigest("reader"));
    const std::string manager = DigestToHex(ParseDigestHex(MANAGER_HEX).digest);
    const Accepted cases[] = {
        {{"--port", "7000", "info"}, "info 127.0.0.1:7000 timeout=30000ms"},
        // Global options may follow the command, and take their value after '='.
        {{"info", "--port=7000", "--host", "10.1.2.3", "--timeout", "2.5"}, "info 10.1.2.3:7000 timeout=2500ms"},
        {{"--port", "65535", "info"}, "info 127.0.0.1:65535 timeout=30000ms"},
        {{"--port", "7000", "read", "--offset", "0x1000", "--length", "4K", "-o", "disk.img"},
         "read 127.0.0.1:7000 timeout=30000ms offset=4096 length=4096 output=disk.img"},
        {{"--port", "7000", "read"}, "read 127.0.0.1:7000 timeout=30000ms offset=0 length=- output=-"},
        {{"--port", "7000", "read", "--length=1G", "--output=-"},
         "read 127.0.0.1:7000 timeout=30000ms offset=0 length=1073741824 output=-"},
        {{"--port", "7000", "--password", "reader", "write", "--offset", "512", "--input", "data.bin"},
         "write 127.0.0.1:7000 timeout=30000ms credential=" + reader + " offset=512 length=- input=data.bin"},
        {{"--port", "7000", "write", "--length", "0X10", "-i", "-"},
         "write 127.0.0.1:7000 timeout=30000ms offset=0 length=16 input=-"},
        {{"--port", "7000", "auth", "--password", "reader"},
         "auth 127.0.0.1:7000 timeout=30000ms credential=" + reader},
        {{"--port", "7000", "auth", "--digest", MANAGER_HEX},
         "auth 127.0.0.1:7000 timeout=30000ms credential=" + manager},
        // An empty password is a password too: the digest of no bytes.
        {{"--port", "7000", "--password=", "auth"},
         "auth 127.0.0.1:7000 timeout=30000ms credential=" + DigestToHex(PasswordDigest(""))},
        {{"--port", "7000", "bench"},
         "bench 127.0.0.1:7000 timeout=30000ms duration=2000ms block=4096 connections=1,4,16 write table"},
        {{"--port", "7000", "bench", "--duration", "0.5", "--block", "64K", "--connections", "1,2,64", "--no-write",
          "--csv"},
         "bench 127.0.0.1:7000 timeout=30000ms duration=500ms block=65536 connections=1,2,64 no-write csv"},
        {{"--help"}, "help -"},
        {{"-h"}, "help -"},
        {{"help"}, "help -"},
        {{"help", "read"}, "help read"},
        {{"help", "--help"}, "help help"},
        // Asking for help needs nothing else, not even the port.
        {{"bench", "--help"}, "help bench"},
        {{"--port", "7000", "write", "-h"}, "help write"},
    };
    for (const Accepted& c : cases) {
        auto parsed = ParseCommandLine(c.args);
        ASSERT_TRUE(parsed.ok()) << c.expected << ": " << parsed.error().message;
        EXPECT_EQ(Describe(parsed.value()), c.expected);
    }
}

struct Refused {
    std::vector<std::string_view> args;
    std::string message;
};

TEST(CommandLine, RefusedCommandLinesSayWhy) {
    const Refused cases[] = {
        // Missing pieces.
        {{}, "no command given"},
        {{"--port", "7000"}, "no command given"},
        {{"info"}, "info needs --port (the share's TCP port)"},
        {{"--host", "10.0.0.1", "bench"}, "bench needs --port (the share's TCP port)"},
        {{"--port"}, "option --port needs a value"},
        {{"--port", "7000", "read", "--length"}, "option --length needs a value"},
        {{"--port", "7000", "auth"}, "auth needs --password or --digest"},
        // Unknown words.
        {{"--port", "7000", "frobnicate"}, "unknown command 'frobnicate'"},
        {{"--port", "7000", "info", "extra"}, "unexpected argument 'extra' for info"},
        {{"help", "nothing"}, "no help on 'nothing': not a command"},
        {{"--port", "7000", "read", "--input", "f"}, "unknown option '--input' for read"},
        {{"--port", "7000", "info", "--offset", "1"}, "unknown option '--offset' for info"},
        {{"--offset", "5", "--port", "7000", "read"},
         "unknown option '--offset' (a command's own options follow its name)"},
        {{"--verbose", "info"}, "unknown option '--verbose' (a command's own options follow its name)"},
        // Bad numbers.
        {{"--port", "0", "info"}, "--port: '0' is not between 1 and 65535"},
        {{"--port", "65536", "info"}, "--port: '65536' is not between 1 and 65535"},
        {{"--port", "seven", "info"}, "--port: 'seven' is not a number (decimal, 0x hex, optional K/M/G suffix)"},
        {{"--port", "7000", "read", "--offset", "12x"},
         "--offset: '12x' is not a number (decimal, 0x hex, optional K/M/G suffix)"},
        {{"--port", "7000", "read", "--offset", "-1"},
         "--offset: '-1' is not a number (decimal, 0x hex, optional K/M/G suffix)"},
        {{"--port", "7000", "read", "--length", "0x"},
         "--length: '0x' is not a number (decimal, 0x hex, optional K/M/G suffix)"},
        {{"--port", "7000", "read", "--length", "18446744073709551616"},
         "--length: '18446744073709551616' is too large"},
        {{"--port", "7000", "write", "--offset", "17179869184G"}, "--offset: '17179869184G' is too large"},
        {{"--port", "7000", "--timeout", "0", "info"}, "--timeout: '0' is not a positive number of seconds"},
        {{"--port", "7000", "--timeout", "1.2.3", "info"},
         "--timeout: '1.2.3' is not a number of seconds (such as 5 or 0.5)"},
        {{"--port", "7000", "bench", "--duration", "abc"},
         "--duration: 'abc' is not a number of seconds (such as 5 or 0.5)"},
        {{"--port", "7000", "bench", "--duration", "601"}, "--duration: '601' is more than 600 seconds"},
        {{"--port", "7000", "bench", "--block", "0"}, "--block: '0' is not between 1 and 2097152"},
        {{"--port", "7000", "bench", "--block", "3M"}, "--block: '3M' is not between 1 and 2097152"},
        {{"--port", "7000", "bench", "--connections", "1,,4"},
         "--connections: '' is not a number (decimal, 0x hex, optional K/M/G suffix)"},
        {{"--port", "7000", "bench", "--connections", "4,0"}, "--connections: '0' is not between 1 and 64"},
        {{"--port", "7000", "bench", "--connections", "65"}, "--connections: '65' is not between 1 and 64"},
        // Flags and credentials.
        {{"--port", "7000", "bench", "--csv=yes"}, "option --csv takes no value"},
        {{"--port", "7000", "--digest", "abc", "info"}, "--digest: a digest is 40 hex digits, not 3 characters"},
        {{"--port", "7000", "--digest", "0123456789abcdef0123456789abcdef0123456g", "info"},
         "--digest: a digest is 40 hex digits; character 40 is not one"},
        {{"--port", "7000", "--password", "a", "--digest", MANAGER_HEX, "info"},
         "give --password or --digest, not both"},
        {{"--host", "", "--port", "7000", "info"}, "--host: the host name is empty"},
    };
    for (const Refused& c : cases) {
        auto parsed = ParseCommandLine(c.args);
        ASSERT_FALSE(parsed.ok()) << c.message;
        EXPECT_EQ(parsed.error().kind, client::ErrorKind::Usage) << c.message;
        EXPECT_EQ(parsed.error().message, c.message);
    }
}

}  // namespace
}  // namespace varnox::disk_tool
