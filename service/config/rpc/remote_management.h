#pragma once
// The management procedures over the RPC client stubs: the console's side of the
// interface. The stubs use the process's one implicit binding, so one RemoteManagement
// binds it and the process has at most one at a time.

#include <cstdint>
#include <string>
#include <string_view>

#include "management_calls.h"
#include "management_endpoint.h"

namespace varnox::rpc {

class RemoteManagement final : public ManagementCalls {
public:
    RemoteManagement() = default;
    ~RemoteManagement() override;
    RemoteManagement(const RemoteManagement&) = delete;
    RemoteManagement& operator=(const RemoteManagement&) = delete;

    // Makes the binding to `endpoint` on ncalrpc. Nothing is sent yet: a service that is
    // not running shows in the first call. Returns 0 or the failing call's status, and
    // then names the call in `failedCall`.
    std::uint32_t Bind(std::string_view endpoint, std::string* failedCall = nullptr);

    CallOutcome GetServerName(std::uint8_t* text, std::uint32_t length) override;
    CallOutcome AddServer(std::int32_t* server, const std::uint8_t* record) override;
    CallOutcome GetLastErrorText(std::uint8_t* text, std::uint32_t length) override;
    CallOutcome EnumServers(std::int32_t previous, std::int32_t* next) override;
    CallOutcome GetServer(std::int32_t server, std::uint8_t* record) override;
    CallOutcome StartServer(std::int32_t server) override;
    CallOutcome StopServer(std::int32_t server) override;
    CallOutcome DeleteServer(std::int32_t server) override;
    CallOutcome AddStaticClient(std::int32_t server, const std::uint8_t* record) override;
    CallOutcome EnumStaticClients(std::int32_t server, std::int32_t previous, std::int32_t* next) override;
    CallOutcome GetStaticClient(std::int32_t client, std::uint8_t* record) override;
    CallOutcome DeleteStaticClient(std::int32_t server, std::int32_t client) override;
    CallOutcome SetStaticClient(std::int32_t client, const std::uint8_t* record) override;
    CallOutcome AddConnectedClient(std::int32_t server, const std::uint8_t* record) override;
    CallOutcome EnumConnectedClients(std::int32_t server, std::int32_t previous, std::int32_t* next) override;
    CallOutcome GetConnectedClient(std::int32_t client, std::uint8_t* record) override;
    CallOutcome DeleteConnectedClient(std::int32_t server, std::int32_t client) override;
    CallOutcome SetConnectedClient(std::int32_t client, const std::uint8_t* record) override;

private:
    void Unbind();
    bool bound_ = false;
};

// The system's text for an RPC status (they are Win32 error codes), without the line
// break the system ends it with; empty when it has none.
std::string RpcStatusText(std::uint32_t status);

}  // namespace varnox::rpc
