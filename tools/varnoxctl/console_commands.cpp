#include "console_commands.h"

#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "management.h"
#include "record_text.h"
#include "text_table.h"

namespace varnox::console {
namespace {

using config::ClientRecord;
using config::RECORD_BUFFER_SIZE;
using config::ServerRecord;
using rpc::CallOutcome;

// RPC statuses are Win32 error codes; these two have a message of their own.
constexpr std::uint32_t STATUS_ACCESS_DENIED = 5;
constexpr std::uint32_t STATUS_SERVER_UNAVAILABLE = 1722;

constexpr std::uint32_t NAME_BUFFER_SIZE = 256;

enum class ClientList { Static, Connected };

struct RecordBuffer {
    std::uint8_t bytes[RECORD_BUFFER_SIZE] = {};

    template <typename Record>
    static RecordBuffer Of(const Record& record) {
        RecordBuffer buffer;
        std::memcpy(buffer.bytes, &record, sizeof record);
        return buffer;
    }
    template <typename Record>
    Record As() const {
        Record record;
        std::memcpy(&record, bytes, sizeof record);
        return record;
    }
};

// A zero-terminated string in a fixed field, also when the field has no terminator.
std::string TextOf(const void* field, std::size_t capacity) {
    const char* chars = static_cast<const char*>(field);
    return std::string(chars, strnlen(chars, capacity));
}

bool DigestSet(const std::uint8_t (&digest)[config::DIGEST_SIZE]) {
    for (const std::uint8_t byte : digest) {
        if (byte != 0) return true;
    }
    return false;
}

class Session {
public:
    Session(const Invocation& invocation, rpc::ManagementCalls& calls, const ConsoleOutput& output)
        : invocation_(invocation), calls_(calls), output_(output) {}

    int Run() {
        switch (invocation_.command) {
        case Command::Servers:
            return ListServers();
        case Command::AddServer:
            return AddServer();
        case Command::Start:
            return Start();
        case Command::Stop:
            return Stop();
        case Command::Delete:
            return Delete();
        case Command::Clients:
            return ListClients(ClientList::Static);
        case Command::Connected:
            return ListClients(ClientList::Connected);
        case Command::AddClient:
            return AddClient(ClientList::Static);
        case Command::AddConnected:
            return AddClient(ClientList::Connected);
        case Command::SetClient:
            return ChangeClient(ClientList::Static);
        case Command::SetConnected:
            return ChangeClient(ClientList::Connected);
        case Command::DeleteClient:
            return RemoveClient(ClientList::Static);
        case Command::ForgetConnected:
            return RemoveClient(ClientList::Connected);
        case Command::LastError:
            return LastError();
        case Command::ServerName:
            return ServerName();
        }
        return Fail("unknown command");
    }

private:
    int Fail(const std::string& message) {
        output_.err << "varnoxctl: " << message << "\n";
        return EXIT_FAILED;
    }

    // False after printing why, when the call did not reach the service.
    bool Delivered(const CallOutcome& outcome, const char* procedure) {
        if (outcome.delivered()) return true;
        std::string status = "RPC status " + std::to_string(outcome.rpcStatus);
        if (output_.describeStatus) {
            if (const std::string text = output_.describeStatus(outcome.rpcStatus); !text.empty()) {
                status += ": " + text;
            }
        }
        if (outcome.rpcStatus == STATUS_SERVER_UNAVAILABLE) {
            Fail("the Varnox service is not running: nothing answers on ncalrpc endpoint \"" + invocation_.endpoint +
                 "\" (" + status + ")");
        } else if (outcome.rpcStatus == STATUS_ACCESS_DENIED) {
            Fail("the Varnox service refused the call; run varnoxctl as an administrator (" + status + ")");
        } else {
            Fail(std::string("the call ") + procedure + " failed (" + status + ")");
        }
        broken_ = true;
        return false;
    }

    // A server's record; nullopt when there is no such server or the call failed
    // (`broken_` tells which).
    std::optional<ServerRecord> FetchServer(std::int32_t server) {
        RecordBuffer buffer;
        const CallOutcome outcome = calls_.GetServer(server, buffer.bytes);
        if (!Delivered(outcome, "GetServer") || outcome.result != 0) return std::nullopt;
        return buffer.As<ServerRecord>();
    }

    std::optional<ClientRecord> FetchClient(ClientList list, std::int32_t client) {
        RecordBuffer buffer;
        const CallOutcome outcome = list == ClientList::Static ? calls_.GetStaticClient(client, buffer.bytes)
                                                               : calls_.GetConnectedClient(client, buffer.bytes);
        if (!Delivered(outcome, list == ClientList::Static ? "GetStaticClient" : "GetConnectedClient") ||
            outcome.result != 0) {
            return std::nullopt;
        }
        return buffer.As<ClientRecord>();
    }

    int NoServer() { return broken_ ? EXIT_FAILED : Fail("no server " + std::to_string(invocation_.server)); }

    // The handles of a walk, stopping should the service ever hand back one twice.
    template <typename Next>
    std::optional<std::vector<std::int32_t>> Walk(Next next) {
        std::vector<std::int32_t> handles;
        std::set<std::int32_t> seen;
        std::int32_t handle = 0;
        for (;;) {
            std::int32_t following = 0;
            const std::optional<bool> more = next(handle, following);
            if (!more) return std::nullopt;
            if (!*more || following == 0 || !seen.insert(following).second) return handles;
            handles.push_back(following);
            handle = following;
        }
    }

    // nullopt when the server does not exist or a call failed (already reported).
    std::optional<std::vector<std::int32_t>> ClientHandles(ClientList list, std::int32_t server) {
        bool missing = false;
        auto handles = Walk([&](std::int32_t previous, std::int32_t& next) -> std::optional<bool> {
            const CallOutcome outcome = list == ClientList::Static
                                            ? calls_.EnumStaticClients(server, previous, &next)
                                            : calls_.EnumConnectedClients(server, previous, &next);
            if (!Delivered(outcome, list == ClientList::Static ? "EnumStaticClients" : "EnumConnectedClients")) {
                return std::nullopt;
            }
            if (outcome.result != 0) {
                missing = true;
                return std::nullopt;
            }
            return true;
        });
        if (missing) NoServer();
        return handles;
    }

    int ListServers() {
        auto handles = Walk([&](std::int32_t previous, std::int32_t& next) -> std::optional<bool> {
            const CallOutcome outcome = calls_.EnumServers(previous, &next);
            if (!Delivered(outcome, "EnumServers")) return std::nullopt;
            return outcome.result == 0;
        });
        if (!handles) return EXIT_FAILED;
        TextTable table({"SERVER", "STATE", "PORT", "SOURCE", "CAPACITY", "ADDRESS", "CACHE", "AUTH MODE", "PASSWORD",
                         "MANAGE PASSWORD"});
        for (const std::int32_t handle : *handles) {
            const std::optional<ServerRecord> record = FetchServer(handle);
            if (broken_) return EXIT_FAILED;
            if (!record) continue;  // deleted while we listed
            table.AddRow({std::to_string(handle), record->Started != 0 ? "running" : "stopped",
                          std::to_string(record->Port), TextOf(record->Source, sizeof record->Source),
                          FormatCapacity(record->Capability), FormatAddress(record->IpAddress),
                          std::to_string(record->Cache), std::to_string(record->AuthMode),
                          DigestSet(record->Password) ? "set" : "-", DigestSet(record->ManagePassword) ? "set" : "-"});
        }
        if (table.Empty()) {
            output_.out << "no servers\n";
        } else {
            output_.out << table.Render();
        }
        return EXIT_OK;
    }

    int AddServer() {
        const RecordBuffer buffer = RecordBuffer::Of(invocation_.serverRecord);
        std::int32_t handle = 0;
        const CallOutcome outcome = calls_.AddServer(&handle, buffer.bytes);
        if (!Delivered(outcome, "AddServer")) return EXIT_FAILED;
        if (outcome.result != 0) return Fail("the service did not add the server");
        output_.out << "added server " << handle << " (stopped): "
                    << TextOf(invocation_.serverRecord.Source, sizeof invocation_.serverRecord.Source)
                    << " on port " << invocation_.serverRecord.Port << "\n";
        return EXIT_OK;
    }

    int Start() {
        const std::optional<ServerRecord> record = FetchServer(invocation_.server);
        if (!record) return NoServer();
        if (record->Started != 0) return Fail("server " + std::to_string(invocation_.server) + " is already running");
        const CallOutcome outcome = calls_.StartServer(invocation_.server);
        if (!Delivered(outcome, "StartServer")) return EXIT_FAILED;
        if (outcome.result != 0) {
            return Fail("server " + std::to_string(invocation_.server) +
                        " did not start: its source cannot be opened or port " + std::to_string(record->Port) +
                        " is in use");
        }
        output_.out << "started server " << invocation_.server << " on port " << record->Port << "\n";
        return EXIT_OK;
    }

    int Stop() {
        const CallOutcome outcome = calls_.StopServer(invocation_.server);
        if (!Delivered(outcome, "StopServer")) return EXIT_FAILED;
        if (outcome.result != 0) return NoServer();
        output_.out << "stopped server " << invocation_.server << "\n";
        return EXIT_OK;
    }

    // The service deletes a running server's entry but leaves its engine running with
    // nobody to stop it; a console stops it first.
    int Delete() {
        const std::optional<ServerRecord> record = FetchServer(invocation_.server);
        if (!record) return NoServer();
        if (record->Started != 0) {
            const int stopped = Stop();
            if (stopped != EXIT_OK) return stopped;
        }
        const CallOutcome outcome = calls_.DeleteServer(invocation_.server);
        if (!Delivered(outcome, "DeleteServer")) return EXIT_FAILED;
        output_.out << "deleted server " << invocation_.server << "\n";
        return EXIT_OK;
    }

    int ListClients(ClientList list) {
        const std::optional<std::vector<std::int32_t>> handles = ClientHandles(list, invocation_.server);
        if (!handles) return EXIT_FAILED;
        const bool connected = list == ClientList::Connected;
        TextTable table(connected ? std::vector<std::string>{"CLIENT", "ADDRESS", "ACCESS", "STATUS", "HOST NAME"}
                                  : std::vector<std::string>{"CLIENT", "ADDRESS", "ACCESS", "HOST NAME"});
        for (const std::int32_t handle : *handles) {
            const std::optional<ClientRecord> record = FetchClient(list, handle);
            if (broken_) return EXIT_FAILED;
            if (!record) continue;
            const std::string address =
                record->IpAddress == 0 && !connected ? "any" : FormatAddress(record->IpAddress);
            if (connected) {
                table.AddRow({std::to_string(handle), address, AccessName(record->Access), StatusText(record->Status),
                              HostNameText(*record)});
            } else {
                table.AddRow({std::to_string(handle), address, AccessName(record->Access), HostNameText(*record)});
            }
        }
        if (table.Empty()) {
            output_.out << (connected ? "no connected clients\n" : "no static clients\n");
        } else {
            output_.out << table.Render();
        }
        return EXIT_OK;
    }

    std::string ClientName(const ClientSelector& selector) const {
        if (!selector.byAddress) return std::to_string(selector.handle);
        return selector.address == 0 ? "any" : FormatAddress(selector.address);
    }

    std::string LastErrorText() {
        std::uint8_t text[config::LAST_ERROR_TEXT_SIZE] = {};
        const CallOutcome outcome = calls_.GetLastErrorText(text, sizeof text);
        if (!Delivered(outcome, "GetLastErrorText") || outcome.result != 0) return "";
        return TextOf(text, sizeof text);
    }

    int AddClient(ClientList list) {
        const RecordBuffer buffer = RecordBuffer::Of(invocation_.clientRecord);
        const bool isStatic = list == ClientList::Static;
        const CallOutcome outcome = isStatic ? calls_.AddStaticClient(invocation_.server, buffer.bytes)
                                             : calls_.AddConnectedClient(invocation_.server, buffer.bytes);
        if (!Delivered(outcome, isStatic ? "AddStaticClient" : "AddConnectedClient")) return EXIT_FAILED;
        const std::uint32_t address = invocation_.clientRecord.IpAddress;
        const std::string name = address == 0 ? "any" : FormatAddress(address);
        if (outcome.result != 0) {
            if (!FetchServer(invocation_.server)) return NoServer();
            // A refusal for an existing server is always the duplicate address, and the
            // service says so in its last error text.
            std::string reason = LastErrorText();
            if (broken_) return EXIT_FAILED;
            if (reason.empty()) reason = "refused";
            return Fail("server " + std::to_string(invocation_.server) + " did not add client " + name + ": " + reason);
        }
        output_.out << "added " << (isStatic ? "client " : "connected client ") << name << " ("
                    << AccessName(invocation_.clientRecord.Access) << ") to server " << invocation_.server << "\n";
        return EXIT_OK;
    }

    // The handle of the selected client in the server's list; 0 after reporting why not.
    std::int32_t FindClient(ClientList list) {
        const std::optional<std::vector<std::int32_t>> handles = ClientHandles(list, invocation_.server);
        if (!handles) return 0;
        const ClientSelector& selector = invocation_.client;
        for (const std::int32_t handle : *handles) {
            if (!selector.byAddress) {
                if (handle == selector.handle) return handle;
                continue;
            }
            const std::optional<ClientRecord> record = FetchClient(list, handle);
            if (broken_) return 0;
            if (record && record->IpAddress == selector.address) return handle;
        }
        Fail("server " + std::to_string(invocation_.server) + " has no " +
             (list == ClientList::Static ? "static client " : "connected client ") + ClientName(selector));
        return 0;
    }

    int ChangeClient(ClientList list) {
        const std::int32_t handle = FindClient(list);
        if (handle == 0) return EXIT_FAILED;
        std::optional<ClientRecord> record = FetchClient(list, handle);
        if (!record) return broken_ ? EXIT_FAILED : Fail("client " + ClientName(invocation_.client) + " went away");
        const ClientChange& change = invocation_.change;
        if (change.access) record->Access = *change.access;
        if (change.hostName) {
            std::memset(record->HostName, 0, sizeof record->HostName);
            std::memcpy(record->HostName, change.hostName->data(), change.hostName->size());
            record->HasName = config::HAS_NAME_RESOLVED;
        }
        if (change.resolveAgain) {
            std::memset(record->HostName, 0, sizeof record->HostName);
            record->HasName = config::HAS_NAME_NOT_RESOLVED;
        }
        const RecordBuffer buffer = RecordBuffer::Of(*record);
        const bool isStatic = list == ClientList::Static;
        const CallOutcome outcome =
            isStatic ? calls_.SetStaticClient(handle, buffer.bytes) : calls_.SetConnectedClient(handle, buffer.bytes);
        if (!Delivered(outcome, isStatic ? "SetStaticClient" : "SetConnectedClient")) return EXIT_FAILED;
        if (outcome.result != 0) return Fail("client " + ClientName(invocation_.client) + " went away");
        output_.out << "changed client " << handle << " (" << FormatAddressOf(*record, isStatic)
                    << ") of server " << invocation_.server << ": access " << AccessName(record->Access)
                    << ", host name " << HostNameText(*record) << "\n";
        return EXIT_OK;
    }

    static std::string FormatAddressOf(const ClientRecord& record, bool isStatic) {
        return record.IpAddress == 0 && isStatic ? "any" : FormatAddress(record.IpAddress);
    }

    int RemoveClient(ClientList list) {
        const std::int32_t handle = FindClient(list);
        if (handle == 0) return EXIT_FAILED;
        const bool isStatic = list == ClientList::Static;
        const CallOutcome outcome = isStatic ? calls_.DeleteStaticClient(invocation_.server, handle)
                                             : calls_.DeleteConnectedClient(invocation_.server, handle);
        if (!Delivered(outcome, isStatic ? "DeleteStaticClient" : "DeleteConnectedClient")) return EXIT_FAILED;
        if (outcome.result != 0) return Fail("client " + ClientName(invocation_.client) + " went away");
        output_.out << "removed " << (isStatic ? "client " : "connected client ") << ClientName(invocation_.client)
                    << " from server " << invocation_.server << "\n";
        return EXIT_OK;
    }

    int LastError() {
        const std::string text = LastErrorText();
        if (broken_) return EXIT_FAILED;
        output_.out << (text.empty() ? "no refusal recorded" : text) << "\n";
        return EXIT_OK;
    }

    int ServerName() {
        std::uint8_t text[NAME_BUFFER_SIZE] = {};
        const CallOutcome outcome = calls_.GetServerName(text, sizeof text);
        if (!Delivered(outcome, "GetServerName")) return EXIT_FAILED;
        if (outcome.result != 0) return Fail("the service did not give its name");
        output_.out << TextOf(text, sizeof text) << "\n";
        return EXIT_OK;
    }

    const Invocation& invocation_;
    rpc::ManagementCalls& calls_;
    const ConsoleOutput& output_;
    bool broken_ = false;
};

}  // namespace

int RunCommand(const Invocation& invocation, rpc::ManagementCalls& calls, const ConsoleOutput& output) {
    return Session(invocation, calls, output).Run();
}

int RunConsole(std::span<const std::string_view> arguments, rpc::ManagementCalls& calls,
               const std::function<std::string(const std::string& endpoint)>& bind, const ConsoleOutput& output) {
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::Help:
        output.out << parsed.text;
        return EXIT_OK;
    case ParsedCommandLine::Outcome::UsageError:
        output.err << "varnoxctl: " << parsed.text << "\nrun 'varnoxctl --help' for the commands\n";
        return EXIT_USAGE;
    case ParsedCommandLine::Outcome::Run:
        break;
    }
    if (const std::string failure = bind(parsed.invocation.endpoint); !failure.empty()) {
        output.err << "varnoxctl: " << failure << "\n";
        return EXIT_FAILED;
    }
    return RunCommand(parsed.invocation, calls, output);
}

}  // namespace varnox::console
