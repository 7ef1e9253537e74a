#include "command_line.h"

#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "digest_hex.h"
#include "management_endpoint.h"
#include "password_digest.h"
#include "record_text.h"

namespace varnox::console {
namespace {

struct OptionSpec {
    std::string_view name;
    bool takesValue;
};

struct CommandSpec {
    std::string_view name;
    Command command;
    std::vector<std::string_view> positionals;
    std::vector<OptionSpec> options;
    std::string_view summary;
    std::string_view details;
};

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> commands = {
        {"servers", Command::Servers, {}, {}, "list the servers with their settings and state", ""},
        {"add-server",
         Command::AddServer,
         {},
         {{"source", true},
          {"port", true},
          {"password", true},
          {"password-digest", true},
          {"manage-password", true},
          {"manage-password-digest", true},
          {"address", true},
          {"capacity", true},
          {"cache", true},
          {"auth-mode", true}},
         "add a server (it is not started)",
         "  --source PATH                  the disk to share: \\\\.\\PhysicalDriveN, \\\\.\\X: or an image file\n"
         "  --port PORT                    the TCP port it listens on (1-65535)\n"
         "  --password TEXT                the password that gives read-only access\n"
         "  --password-digest HEX          the same given as its 40-digit SHA-1 digest\n"
         "  --manage-password TEXT         the password that gives full access\n"
         "  --manage-password-digest HEX   the same given as its 40-digit SHA-1 digest\n"
         "  --address A.B.C.D              the address consoles show for it (default 0.0.0.0)\n"
         "  --capacity SIZE                the size consoles show, bytes or with K/M/G/T (default 0)\n"
         "  --cache N, --auth-mode N       settings kept for consoles (default 0)\n"
         "Passwords are stored only as digests; a password not given is the empty digest (all zero).\n"},
        {"start", Command::Start, {"SERVER"}, {}, "start a server", ""},
        {"stop", Command::Stop, {"SERVER"}, {}, "stop a server; its connections are closed", ""},
        {"delete",
         Command::Delete,
         {"SERVER"},
         {},
         "delete a server with its client lists, stopping it first when it runs",
         ""},
        {"clients", Command::Clients, {"SERVER"}, {}, "list the static clients of a server", ""},
        {"add-client",
         Command::AddClient,
         {"SERVER", "ADDRESS", "ACCESS"},
         {{"host-name", true}},
         "admit a client address with an access level",
         "  ADDRESS    A.B.C.D, or \"any\" for every address without a record of its own (read-only at most)\n"
         "  ACCESS     full, read-only or none (refused)\n"
         "  --host-name NAME   the client's name, instead of looking it up\n"},
        {"set-client",
         Command::SetClient,
         {"SERVER", "CLIENT"},
         {{"access", true}, {"host-name", true}, {"resolve-again", false}},
         "change a static client's access or host name",
         "  CLIENT     the client's handle (see clients) or its address\n"
         "  --access ACCESS    full, read-only or none\n"
         "  --host-name NAME   set the name\n"
         "  --resolve-again    forget the name; the service looks it up again\n"},
        {"delete-client",
         Command::DeleteClient,
         {"SERVER", "CLIENT"},
         {},
         "remove a static client",
         "  CLIENT     the client's handle (see clients) or its address\n"},
        {"connected", Command::Connected, {"SERVER"}, {}, "list the clients connected to a server", ""},
        {"add-connected",
         Command::AddConnected,
         {"SERVER", "ADDRESS", "ACCESS"},
         {{"host-name", true}},
         "add a record to a server's connected list (the service keeps that list itself)",
         "  ADDRESS    A.B.C.D\n"
         "  ACCESS     full, read-only or none\n"
         "  --host-name NAME   the client's name\n"},
        {"set-connected",
         Command::SetConnected,
         {"SERVER", "CLIENT"},
         {{"access", true}, {"host-name", true}, {"resolve-again", false}},
         "change a connected-list record",
         "  CLIENT     the record's handle (see connected) or its address\n"
         "  --access ACCESS    full, read-only or none\n"
         "  --host-name NAME   set the name\n"
         "  --resolve-again    clear the name\n"},
        {"forget-connected",
         Command::ForgetConnected,
         {"SERVER", "CLIENT"},
         {},
         "remove a connected-list record (the connection itself stays open)",
         "  CLIENT     the record's handle (see connected) or its address\n"},
        {"last-error", Command::LastError, {}, {}, "show the service's last refusal", ""},
        {"server-name", Command::ServerName, {}, {}, "show the service's name", ""},
    };
    return commands;
}

const CommandSpec* FindCommand(std::string_view name) {
    for (const CommandSpec& described : Commands()) {
        if (described.name == name) return &described;
    }
    return nullptr;
}

std::string UsageLine(const CommandSpec& described) {
    std::string line = "varnoxctl [--endpoint NAME] " + std::string(described.name);
    for (const std::string_view positional : described.positionals) {
        line += ' ';
        line += positional;
    }
    if (!described.options.empty()) line += " [options]";
    return line;
}

ParsedCommandLine Usage(std::string message) {
    ParsedCommandLine parsed;
    parsed.outcome = ParsedCommandLine::Outcome::UsageError;
    parsed.text = std::move(message);
    return parsed;
}

ParsedCommandLine Help(std::string text) {
    ParsedCommandLine parsed;
    parsed.outcome = ParsedCommandLine::Outcome::Help;
    parsed.text = std::move(text);
    return parsed;
}

struct SplitArguments {
    std::vector<std::string_view> positionals;
    std::map<std::string_view, std::string_view> options;  // flags map to ""
    bool help = false;
    std::string error;
};

SplitArguments Split(const CommandSpec& described, std::span<const std::string_view> arguments) {
    SplitArguments split;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            split.help = true;
            continue;
        }
        if (argument.size() < 3 || argument.substr(0, 2) != "--") {
            split.positionals.push_back(argument);
            continue;
        }
        std::string_view name = argument.substr(2);
        std::optional<std::string_view> inlineValue;
        if (const auto equals = name.find('='); equals != std::string_view::npos) {
            inlineValue = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const OptionSpec* option = nullptr;
        for (const OptionSpec& candidate : described.options) {
            if (candidate.name == name) option = &candidate;
        }
        if (option == nullptr) {
            split.error = std::string(described.name) + ": unknown option --" + std::string(name);
            return split;
        }
        if (split.options.count(option->name) != 0) {
            split.error = std::string(described.name) + ": --" + std::string(name) + " given twice";
            return split;
        }
        if (!option->takesValue) {
            if (inlineValue) {
                split.error = std::string(described.name) + ": --" + std::string(name) + " takes no value";
                return split;
            }
            split.options[option->name] = "";
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= arguments.size()) {
                split.error = std::string(described.name) + ": --" + std::string(name) + " needs a value";
                return split;
            }
            inlineValue = arguments[++i];
        }
        split.options[option->name] = *inlineValue;
    }
    return split;
}

// Reads one command's arguments; each failure names the argument and what it must be.
class Reader {
public:
    Reader(const CommandSpec& described, SplitArguments& split, Invocation& invocation)
        : spec_(described), split_(split), invocation_(invocation) {}

    std::string error;

    bool Has(std::string_view option) const { return split_.options.count(option) != 0; }
    std::string_view Option(std::string_view option) const { return split_.options.at(option); }
    std::string_view Positional(std::size_t index) const { return split_.positionals[index]; }

    bool Fail(std::string message) {
        if (error.empty()) error = std::string(spec_.name) + ": " + message;
        return false;
    }

    bool Handle(std::string_view text, const char* what, std::int32_t& out) {
        const auto value = ParseInteger(text, 1, std::numeric_limits<std::int32_t>::max());
        if (!value) return Fail(std::string(what) + " must be a handle (a positive number), not '" + std::string(text) + "'");
        out = static_cast<std::int32_t>(*value);
        return true;
    }

    bool Address(std::string_view text, const char* what, std::uint32_t& out) {
        const auto value = ParseAddress(text);
        if (!value) return Fail(std::string(what) + " must be an address A.B.C.D or any, not '" + std::string(text) + "'");
        out = *value;
        return true;
    }

    bool Access(std::string_view text, std::uint8_t& out) {
        const auto value = ParseAccess(text);
        if (!value) return Fail("access must be full, read-only or none, not '" + std::string(text) + "'");
        out = *value;
        return true;
    }

    bool Client(std::string_view text, ClientSelector& out) {
        if (text.find('.') != std::string_view::npos || text == "any") {
            out.byAddress = true;
            return Address(text, "CLIENT", out.address);
        }
        out.byAddress = false;
        const auto value = ParseInteger(text, 1, std::numeric_limits<std::int32_t>::max());
        if (!value) {
            return Fail("CLIENT must be a client handle or an address A.B.C.D, not '" + std::string(text) + "'");
        }
        out.handle = static_cast<std::int32_t>(*value);
        return true;
    }

    bool HostName(std::string_view text, config::ClientRecord& record) {
        if (text.size() >= sizeof record.HostName) return Fail("a host name has at most 127 characters");
        std::memset(record.HostName, 0, sizeof record.HostName);
        std::memcpy(record.HostName, text.data(), text.size());
        record.HasName = config::HAS_NAME_RESOLVED;
        return true;
    }

    bool Digest(std::string_view textOption, std::string_view digestOption, std::uint8_t (&out)[config::DIGEST_SIZE]) {
        if (Has(textOption) && Has(digestOption)) {
            return Fail("give --" + std::string(textOption) + " or --" + std::string(digestOption) + ", not both");
        }
        Sha1Digest digest{};
        if (Has(textOption)) {
            digest = PasswordDigest(Option(textOption));
        } else if (Has(digestOption)) {
            const DigestFromHex parsed = ParseDigestHex(Option(digestOption));
            if (!parsed.ok()) return Fail("--" + std::string(digestOption) + ": " + parsed.error);
            digest = parsed.digest;
        }
        std::memcpy(out, digest.data(), sizeof out);
        return true;
    }

    bool SignedSetting(std::string_view option, std::int32_t& out) {
        if (!Has(option)) return true;
        const auto value =
            ParseInteger(Option(option), std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
        if (!value) return Fail("--" + std::string(option) + " must be a whole number, not '" + std::string(Option(option)) + "'");
        out = static_cast<std::int32_t>(*value);
        return true;
    }

    bool ServerRecordFromOptions() {
        config::ServerRecord& record = invocation_.serverRecord;
        if (!Has("source")) return Fail("--source is required");
        if (!Has("port")) return Fail("--port is required");
        const std::string_view source = Option("source");
        if (source.empty()) return Fail("--source must not be empty");
        if (source.size() >= sizeof record.Source) return Fail("a source has at most 259 characters");
        std::memcpy(record.Source, source.data(), source.size());
        const auto port = ParseInteger(Option("port"), 1, 65535);
        if (!port) return Fail("--port must be 1-65535, not '" + std::string(Option("port")) + "'");
        record.Port = static_cast<std::uint16_t>(*port);
        if (Has("address") && !Address(Option("address"), "--address", record.IpAddress)) return false;
        if (Has("capacity")) {
            const auto capacity = ParseCapacity(Option("capacity"));
            if (!capacity) {
                return Fail("--capacity must be a size in bytes, optionally with K, M, G or T, not '" +
                            std::string(Option("capacity")) + "'");
            }
            record.Capability = *capacity;
        }
        return SignedSetting("cache", record.Cache) && SignedSetting("auth-mode", record.AuthMode) &&
               Digest("password", "password-digest", record.Password) &&
               Digest("manage-password", "manage-password-digest", record.ManagePassword);
    }

    bool ChangeFromOptions() {
        ClientChange& change = invocation_.change;
        if (Has("host-name") && Has("resolve-again")) return Fail("give --host-name or --resolve-again, not both");
        if (!Has("access") && !Has("host-name") && !Has("resolve-again")) {
            return Fail("nothing to change: give --access, --host-name or --resolve-again");
        }
        if (Has("access")) {
            std::uint8_t access = 0;
            if (!Access(Option("access"), access)) return false;
            change.access = access;
        }
        if (Has("host-name")) {
            if (Option("host-name").size() >= config::HOST_NAME_CAPACITY) {
                return Fail("a host name has at most 127 characters");
            }
            change.hostName = std::string(Option("host-name"));
        }
        change.resolveAgain = Has("resolve-again");
        return true;
    }

    bool Read() {
        if (split_.positionals.size() != spec_.positionals.size()) {
            return Fail("expects " + std::to_string(spec_.positionals.size()) + " argument" +
                        (spec_.positionals.size() == 1 ? "" : "s") + ", got " +
                        std::to_string(split_.positionals.size()) + " (usage: " + UsageLine(spec_) + ")");
        }
        switch (spec_.command) {
        case Command::Servers:
        case Command::LastError:
        case Command::ServerName:
            return true;
        case Command::AddServer:
            return ServerRecordFromOptions();
        case Command::Start:
        case Command::Stop:
        case Command::Delete:
        case Command::Clients:
        case Command::Connected:
            return Handle(Positional(0), "SERVER", invocation_.server);
        case Command::AddClient:
        case Command::AddConnected: {
            config::ClientRecord& record = invocation_.clientRecord;
            if (!Handle(Positional(0), "SERVER", invocation_.server)) return false;
            if (!Address(Positional(1), "ADDRESS", record.IpAddress)) return false;
            if (spec_.command == Command::AddConnected && record.IpAddress == 0) {
                return Fail("a connected client has a real address, not any");
            }
            if (!Access(Positional(2), record.Access)) return false;
            record.Status = spec_.command == Command::AddClient ? config::CLIENT_STATUS_STATIC
                                                                : config::CLIENT_STATUS_CONNECTED;
            return !Has("host-name") || HostName(Option("host-name"), record);
        }
        case Command::SetClient:
        case Command::SetConnected:
            return Handle(Positional(0), "SERVER", invocation_.server) && Client(Positional(1), invocation_.client) &&
                   ChangeFromOptions();
        case Command::DeleteClient:
        case Command::ForgetConnected:
            return Handle(Positional(0), "SERVER", invocation_.server) && Client(Positional(1), invocation_.client);
        }
        return Fail("unhandled command");
    }

private:
    const CommandSpec& spec_;
    SplitArguments& split_;
    Invocation& invocation_;
};

}  // namespace

std::string HelpText() {
    std::string text =
        "varnoxctl - administer the Varnox service on this machine\n"
        "\n"
        "usage: varnoxctl [--endpoint NAME] COMMAND [ARGUMENTS]\n"
        "       varnoxctl COMMAND --help\n"
        "\n"
        "commands:\n";
    std::size_t width = 0;
    for (const CommandSpec& described : Commands()) width = std::max(width, described.name.size());
    for (const CommandSpec& described : Commands()) {
        text += "  " + std::string(described.name) + std::string(width - described.name.size() + 2, ' ') +
                std::string(described.summary) + "\n";
    }
    text +=
        "\n"
        "SERVER and CLIENT are the handles the listings show; a client may also be named by its address.\n"
        "--endpoint NAME talks to the service on another ncalrpc endpoint (default varnoxsvc).\n"
        "Exit status: 0 done, 1 failed, 2 bad command line.\n";
    return text;
}

std::string CommandHelpText(std::string_view command) {
    const CommandSpec* described = FindCommand(command);
    if (described == nullptr) return "";
    std::string text = "usage: " + UsageLine(*described) + "\n\n" + std::string(described->summary) + "\n";
    if (!described->details.empty()) text += "\n" + std::string(described->details);
    return text;
}

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> arguments) {
    Invocation invocation;
    invocation.endpoint = rpc::MANAGEMENT_ENDPOINT;
    std::size_t next = 0;
    while (next < arguments.size() && arguments[next].substr(0, 1) == "-") {
        const std::string_view argument = arguments[next];
        if (argument == "--help" || argument == "-h") return Help(HelpText());
        if (argument == "--endpoint" || argument.substr(0, 11) == "--endpoint=") {
            std::string_view value;
            if (argument == "--endpoint") {
                if (next + 1 >= arguments.size()) return Usage("--endpoint needs a value");
                value = arguments[++next];
            } else {
                value = argument.substr(11);
            }
            if (value.empty()) return Usage("--endpoint needs a value");
            invocation.endpoint = std::string(value);
            ++next;
            continue;
        }
        return Usage("unknown option " + std::string(argument));
    }
    if (next >= arguments.size()) return Usage("no command given");

    const std::string_view name = arguments[next++];
    if (name == "help") {
        if (next >= arguments.size()) return Help(HelpText());
        const std::string text = CommandHelpText(arguments[next]);
        if (text.empty()) return Usage("no command '" + std::string(arguments[next]) + "'");
        return Help(text);
    }
    const CommandSpec* described = FindCommand(name);
    if (described == nullptr) return Usage("no command '" + std::string(name) + "'");
    invocation.command = described->command;

    SplitArguments split = Split(*described, arguments.subspan(next));
    if (split.help) return Help(CommandHelpText(described->name));
    if (!split.error.empty()) return Usage(split.error);
    Reader reader(*described, split, invocation);
    if (!reader.Read()) return Usage(reader.error);

    ParsedCommandLine parsed;
    parsed.outcome = ParsedCommandLine::Outcome::Run;
    parsed.invocation = std::move(invocation);
    return parsed;
}

}  // namespace varnox::console
