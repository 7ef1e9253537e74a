#pragma once
// varnoxctl's command line: global options, one subcommand and its arguments, read into
// an Invocation, or the help text to show, or what is wrong with it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "records.h"

namespace varnox::console {

enum class Command {
    Servers,
    AddServer,
    Start,
    Stop,
    Delete,
    Clients,
    AddClient,
    SetClient,
    DeleteClient,
    Connected,
    AddConnected,
    SetConnected,
    ForgetConnected,
    LastError,
    ServerName,
};

// A client named on the command line: by the handle a listing shows, or by its address.
struct ClientSelector {
    bool byAddress = false;
    std::uint32_t address = 0;  // network order; 0 is the any-address record
    std::int32_t handle = 0;
};

// What set-client and set-connected change; the rest of the record stays as it is.
struct ClientChange {
    std::optional<std::uint8_t> access;
    std::optional<std::string> hostName;  // sets HasName 1
    bool resolveAgain = false;            // HasName 0, name cleared: looked up again
};

struct Invocation {
    std::string endpoint;
    Command command = Command::Servers;
    std::int32_t server = 0;
    ClientSelector client;
    config::ServerRecord serverRecord{};  // add-server
    config::ClientRecord clientRecord{};  // add-client, add-connected
    ClientChange change;                  // set-client, set-connected
};

struct ParsedCommandLine {
    enum class Outcome { Run, Help, UsageError };
    Outcome outcome = Outcome::UsageError;
    Invocation invocation;
    // Help: the text to print. UsageError: the message, without the program name.
    std::string text;
};

// `arguments` without the program name.
ParsedCommandLine ParseCommandLine(std::span<const std::string_view> arguments);

// The overall help, or a subcommand's; empty for an unknown subcommand.
std::string HelpText();
std::string CommandHelpText(std::string_view command);

}  // namespace varnox::console
