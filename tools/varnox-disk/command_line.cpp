#include "command_line.h"

#include <array>
#include <utility>

#include "credential.h"
#include "number_parse.h"
#include "protocol.h"

namespace varnox::disk_tool {

using client::Error;
using client::ErrorKind;
using client::Result;

namespace {

struct CommandEntry {
    std::string_view name;
    CommandKind kind;
};

constexpr std::array<CommandEntry, 6> COMMANDS = {{
    {"help", CommandKind::Help},
    {"info", CommandKind::Info},
    {"read", CommandKind::Read},
    {"write", CommandKind::Write},
    {"auth", CommandKind::Auth},
    {"bench", CommandKind::Bench},
}};

std::optional<CommandKind> FindCommand(std::string_view name) {
    for (const CommandEntry& entry : COMMANDS) {
        if (entry.name == name) return entry.kind;
    }
    return std::nullopt;
}

Error UsageError(std::string message) {
    return Error{ErrorKind::Usage, 0, std::move(message)};
}

// Puts the option's name in front of a value's complaint, so the user sees which one.
Error ForOption(std::string_view option, const Error& error) {
    return UsageError(std::string(option) + ": " + error.message);
}

Result<std::uint64_t> NumberOption(std::string_view option, std::string_view value) {
    auto number = ParseNumber(value);
    if (!number.ok()) return ForOption(option, number.error());
    return number.value();
}

Result<std::uint64_t> NumberInRange(std::string_view option, std::string_view value, std::uint64_t lowest,
                                    std::uint64_t highest) {
    auto number = NumberOption(option, value);
    if (!number.ok()) return number.error();
    if (number.value() < lowest || number.value() > highest) {
        return UsageError(std::string(option) + ": '" + std::string(value) + "' is not between " +
                          std::to_string(lowest) + " and " + std::to_string(highest));
    }
    return number.value();
}

Result<double> SecondsOption(std::string_view option, std::string_view value, double most) {
    auto seconds = ParseSeconds(value);
    if (!seconds.ok()) return ForOption(option, seconds.error());
    if (seconds.value() > most) {
        return UsageError(std::string(option) + ": '" + std::string(value) + "' is more than " +
                          std::to_string(static_cast<long>(most)) + " seconds");
    }
    return seconds.value();
}

Result<std::vector<unsigned>> ConnectionList(std::string_view option, std::string_view value) {
    std::vector<unsigned> counts;
    std::string_view rest = value;
    for (;;) {
        const std::size_t comma = rest.find(',');
        auto count = NumberInRange(option, rest.substr(0, comma), 1, MAX_BENCH_CONNECTIONS);
        if (!count.ok()) return count.error();
        counts.push_back(static_cast<unsigned>(count.value()));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return counts;
}

bool Connects(CommandKind command) {
    return command != CommandKind::Help;
}

class Parser {
public:
    explicit Parser(std::span<const std::string_view> args) : args_(args) {}

    Result<Invocation> Parse() {
        for (next_ = 0; next_ < args_.size();) {
            const std::string_view arg = args_[next_++];
            Result<void> taken = arg.size() > 1 && arg[0] == '-' ? Option(arg) : Word(arg);
            if (!taken.ok()) return taken.error();
        }
        return Finish();
    }

private:
    Result<void> Word(std::string_view word) {
        if (!command_) {
            command_ = FindCommand(word);
            if (!command_) return UsageError("unknown command '" + std::string(word) + "'");
            return {};
        }
        if (*command_ == CommandKind::Help && !helpTopic_) {
            helpTopic_ = FindCommand(word);
            if (!helpTopic_ || *helpTopic_ == CommandKind::Help) {
                return UsageError("no help on '" + std::string(word) + "': not a command");
            }
            return {};
        }
        return UsageError("unexpected argument '" + std::string(word) + "' for " + std::string(CommandName(*command_)));
    }

    Result<void> Option(std::string_view arg) {
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        std::optional<std::string_view> inlineValue;
        if (equals != std::string_view::npos) inlineValue = arg.substr(equals + 1);

        if (name == "-h" || name == "--help") return Flag(name, inlineValue, helpAsked_);
        if (name == "--host") return Value(name, inlineValue, [this](std::string_view v) { return Host(v); });
        if (name == "--port") return Value(name, inlineValue, [this](std::string_view v) { return Port(v); });
        if (name == "--password") {
            return Value(name, inlineValue, [this](std::string_view v) { return Password(v); });
        }
        if (name == "--digest") return Value(name, inlineValue, [this](std::string_view v) { return Digest(v); });
        if (name == "--timeout") {
            return Value(name, inlineValue, [this, name](std::string_view v) -> Result<void> {
                auto seconds = SecondsOption(name, v, 3600);
                if (!seconds.ok()) return seconds.error();
                invocation_.global.timeoutSeconds = seconds.value();
                return {};
            });
        }
        if (command_ == CommandKind::Read || command_ == CommandKind::Write) return TransferOption(name, inlineValue);
        if (command_ == CommandKind::Bench) return BenchOption(name, inlineValue);
        return UnknownOption(name);
    }

    Result<void> TransferOption(std::string_view name, std::optional<std::string_view> inlineValue) {
        const bool read = command_ == CommandKind::Read;
        std::uint64_t& offset = read ? invocation_.read.offset : invocation_.write.offset;
        std::optional<std::uint64_t>& length = read ? invocation_.read.length : invocation_.write.length;
        if (name == "--offset") {
            return Value(name, inlineValue, [&offset, name](std::string_view v) -> Result<void> {
                auto number = NumberOption(name, v);
                if (!number.ok()) return number.error();
                offset = number.value();
                return {};
            });
        }
        if (name == "--length") {
            return Value(name, inlineValue, [&length, name](std::string_view v) -> Result<void> {
                auto number = NumberOption(name, v);
                if (!number.ok()) return number.error();
                length = number.value();
                return {};
            });
        }
        if (read && (name == "--output" || name == "-o")) {
            return Value(name, inlineValue, [this](std::string_view v) -> Result<void> {
                invocation_.read.output = std::string(v);
                return {};
            });
        }
        if (!read && (name == "--input" || name == "-i")) {
            return Value(name, inlineValue, [this](std::string_view v) -> Result<void> {
                invocation_.write.input = std::string(v);
                return {};
            });
        }
        return UnknownOption(name);
    }

    Result<void> BenchOption(std::string_view name, std::optional<std::string_view> inlineValue) {
        BenchOptions& bench = invocation_.bench;
        if (name == "--duration") {
            return Value(name, inlineValue, [&bench, name](std::string_view v) -> Result<void> {
                auto seconds = SecondsOption(name, v, 600);
                if (!seconds.ok()) return seconds.error();
                bench.secondsPerMeasure = seconds.value();
                return {};
            });
        }
        if (name == "--block") {
            return Value(name, inlineValue, [&bench, name](std::string_view v) -> Result<void> {
                auto block = NumberInRange(name, v, 1, MAX_TRANSFER_LENGTH);
                if (!block.ok()) return block.error();
                bench.aggregateBlock = static_cast<std::uint32_t>(block.value());
                return {};
            });
        }
        if (name == "--connections") {
            return Value(name, inlineValue, [&bench, name](std::string_view v) -> Result<void> {
                auto counts = ConnectionList(name, v);
                if (!counts.ok()) return counts.error();
                bench.connections = std::move(counts.value());
                return {};
            });
        }
        if (name == "--no-write") {
            bool noWrite = false;
            auto flag = Flag(name, inlineValue, noWrite);
            if (flag.ok()) bench.write = false;
            return flag;
        }
        if (name == "--csv") return Flag(name, inlineValue, bench.csv);
        return UnknownOption(name);
    }

    Result<void> UnknownOption(std::string_view name) const {
        std::string message = "unknown option '" + std::string(name) + "'";
        if (command_ && *command_ != CommandKind::Help) message += " for " + std::string(CommandName(*command_));
        if (!command_) message += " (a command's own options follow its name)";
        return UsageError(std::move(message));
    }

    static Result<void> Flag(std::string_view name, std::optional<std::string_view> inlineValue, bool& flag) {
        if (inlineValue) return UsageError("option " + std::string(name) + " takes no value");
        flag = true;
        return {};
    }

    template <typename Apply>
    Result<void> Value(std::string_view name, std::optional<std::string_view> inlineValue, Apply apply) {
        if (inlineValue) return apply(*inlineValue);
        if (next_ >= args_.size()) return UsageError("option " + std::string(name) + " needs a value");
        return apply(args_[next_++]);
    }

    Result<void> Host(std::string_view host) {
        if (host.empty()) return UsageError("--host: the host name is empty");
        invocation_.global.host = std::string(host);
        return {};
    }

    Result<void> Port(std::string_view text) {
        auto port = NumberInRange("--port", text, 1, 65535);
        if (!port.ok()) return port.error();
        invocation_.global.port = static_cast<std::uint16_t>(port.value());
        return {};
    }

    Result<void> Password(std::string_view password) {
        passwordGiven_ = true;
        invocation_.global.credential = CredentialFromPassword(password);
        return {};
    }

    Result<void> Digest(std::string_view hex) {
        digestGiven_ = true;
        auto credential = CredentialFromHex(hex);
        if (!credential.ok()) return credential.error();
        invocation_.global.credential = credential.value();
        return {};
    }

    Result<Invocation> Finish() {
        if (helpAsked_) {
            invocation_.command = CommandKind::Help;
            if (command_ && *command_ != CommandKind::Help) invocation_.helpTopic = command_;
            // "help --help" is a question about the help command itself.
            if (command_ == CommandKind::Help) invocation_.helpTopic = helpTopic_ ? helpTopic_ : command_;
            return invocation_;
        }
        if (!command_) return UsageError("no command given");
        invocation_.command = *command_;
        invocation_.helpTopic = helpTopic_;
        if (passwordGiven_ && digestGiven_) return UsageError("give --password or --digest, not both");
        if (Connects(*command_) && invocation_.global.port == 0) {
            return UsageError(std::string(CommandName(*command_)) + " needs --port (the share's TCP port)");
        }
        if (*command_ == CommandKind::Auth && !invocation_.global.credential) {
            return UsageError("auth needs --password or --digest");
        }
        return invocation_;
    }

    std::span<const std::string_view> args_;
    std::size_t next_ = 0;
    std::optional<CommandKind> command_;
    std::optional<CommandKind> helpTopic_;
    bool helpAsked_ = false;
    bool passwordGiven_ = false;
    bool digestGiven_ = false;
    Invocation invocation_;
};

}  // namespace

Result<Invocation> ParseCommandLine(std::span<const std::string_view> args) {
    return Parser(args).Parse();
}

std::string_view CommandName(CommandKind command) {
    for (const CommandEntry& entry : COMMANDS) {
        if (entry.kind == command) return entry.name;
    }
    return "?";
}

}  // namespace varnox::disk_tool
