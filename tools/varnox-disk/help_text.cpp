#include "help_text.h"

namespace varnox::disk_tool {

namespace {

constexpr const char* OVERVIEW =
    "Usage: varnox-disk [global options] <command> [command options]\n"
    "\n"
    "Talks the block protocol to one share of a Varnox server.\n"
    "\n"
    "Commands:\n"
    "  info    show the disk's size and what this connection may do\n"
    "  read    copy bytes of the disk to a file or standard output\n"
    "  write   copy a file or standard input onto the disk\n"
    "  auth    present a password (or its digest) and show the access it gives\n"
    "  bench   measure the share: random and sequential transfers, several connections\n"
    "  help    show this text, or 'help <command>' for one command\n"
    "\n"
    "Global options (before or after the command):\n"
    "  --host HOST        the server (default 127.0.0.1)\n"
    "  --port PORT        the share's TCP port (required)\n"
    "  --password TEXT    authenticate first with this password's SHA-1 digest\n"
    "  --digest HEX       authenticate first with this digest (40 hex digits)\n"
    "  --timeout SECONDS  give up on a server that does not answer (default 30)\n"
    "  -h, --help         show help\n"
    "\n"
    "Numbers are decimal or 0x hex, with an optional K, M or G suffix (4K = 4096).\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

constexpr const char* INFO =
    "Usage: varnox-disk --port PORT [--password TEXT | --digest HEX] info\n"
    "\n"
    "Shows the size of the shared disk and the access level of the connection:\n"
    "full (0), read-only (1) or none (2). With a credential, the level is the one\n"
    "it gave.\n";

constexpr const char* READ =
    "Usage: varnox-disk --port PORT read [--offset N] [--length N] [--output FILE]\n"
    "\n"
    "Copies --length bytes of the disk from --offset (default 0) to FILE, or to\n"
    "standard output when FILE is '-' (the default). Without --length, reads up to\n"
    "the end of the disk. Large reads go out as 2 MiB requests.\n"
    "\n"
    "  --offset N       where to start, in bytes\n"
    "  --length N       how many bytes\n"
    "  -o, --output FILE  where the bytes go ('-': standard output)\n";

constexpr const char* WRITE =
    "Usage: varnox-disk --port PORT [--password TEXT] write [--offset N] [--length N] [--input FILE]\n"
    "\n"
    "Copies FILE, or standard input when FILE is '-' (the default), onto the disk at\n"
    "--offset (default 0). With --length, exactly that many bytes of the input are\n"
    "written, and a shorter input is an error. Nothing is written past the end of\n"
    "the disk. Writing needs full access; a read-only share gives it to the\n"
    "management password.\n"
    "\n"
    "  --offset N       where to start, in bytes\n"
    "  --length N       how many bytes\n"
    "  -i, --input FILE   where the bytes come from ('-': standard input)\n";

constexpr const char* AUTH =
    "Usage: varnox-disk --port PORT (--password TEXT | --digest HEX) auth\n"
    "\n"
    "Presents the credential and shows the access level the connection has after it.\n"
    "The credential is the SHA-1 digest of the password's bytes as typed; --digest\n"
    "gives that digest directly, as the share's configuration holds it. A credential\n"
    "that matches neither of the share's passwords is refused (exit status 1).\n";

constexpr const char* BENCH =
    "Usage: varnox-disk --port PORT bench [--duration SECONDS] [--block N]\n"
    "                   [--connections LIST] [--no-write] [--csv]\n"
    "\n"
    "Measures the share and prints a table:\n"
    "  - 4 KiB random reads with one request in flight (reads per second)\n"
    "  - 2 MiB sequential reads and writes (MiB/s)\n"
    "  - random reads of --block bytes over each number of connections in LIST,\n"
    "    one request in flight on each (aggregate reads per second and MiB/s)\n"
    "The writes put back the data read from the same place just before, so the\n"
    "disk's contents stay as they were; they need full access and are skipped\n"
    "without it.\n"
    "\n"
    "  --duration SECONDS  how long each measurement runs (default 2)\n"
    "  --block N           block size of the aggregate reads (default 4K; e.g. 64K)\n"
    "  --connections LIST  comma-separated connection counts (default 1,4,16)\n"
    "  --no-write          leave the write measurement out\n"
    "  --csv               print comma-separated figures instead of the table\n"
    "\n"
    "A run longer than a few seconds reports its progress on standard error.\n";

constexpr const char* HELP =
    "Usage: varnox-disk help [command]\n"
    "\n"
    "Shows the overview, or the help of one command.\n";

}  // namespace

std::string HelpText(std::optional<CommandKind> topic) {
    if (!topic) return OVERVIEW;
    switch (*topic) {
        case CommandKind::Info:
            return INFO;
        case CommandKind::Read:
            return READ;
        case CommandKind::Write:
            return WRITE;
        case CommandKind::Auth:
            return AUTH;
        case CommandKind::Bench:
            return BENCH;
        case CommandKind::Help:
            return HELP;
    }
    return OVERVIEW;
}

}  // namespace varnox::disk_tool
