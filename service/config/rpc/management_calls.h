#pragma once
// The management procedures as a console sees them: each call either reaches the service
// and brings back the procedure's 0 or -1, or fails in the RPC runtime with a status
// (service not running, endpoint refused, call broken off). Consoles are written against
// this interface, so they run the same over the RPC client and over the model in-process.

#include <cstdint>

namespace varnox::rpc {

struct CallOutcome {
    // 0 when the call reached the service; otherwise the RPC runtime's status, and
    // `result` means nothing.
    std::uint32_t rpcStatus = 0;
    std::int32_t result = -1;

    bool delivered() const { return rpcStatus == 0; }
    bool succeeded() const { return rpcStatus == 0 && result == 0; }
};

// Records are RECORD_BUFFER_SIZE-byte buffers, text buffers are `length` bytes, as for
// the management operations themselves.
class ManagementCalls {
public:
    virtual ~ManagementCalls() = default;

    virtual CallOutcome GetServerName(std::uint8_t* text, std::uint32_t length) = 0;
    virtual CallOutcome AddServer(std::int32_t* server, const std::uint8_t* record) = 0;
    virtual CallOutcome GetLastErrorText(std::uint8_t* text, std::uint32_t length) = 0;
    virtual CallOutcome EnumServers(std::int32_t previous, std::int32_t* next) = 0;
    virtual CallOutcome GetServer(std::int32_t server, std::uint8_t* record) = 0;
    virtual CallOutcome StartServer(std::int32_t server) = 0;
    virtual CallOutcome StopServer(std::int32_t server) = 0;
    virtual CallOutcome DeleteServer(std::int32_t server) = 0;
    virtual CallOutcome AddStaticClient(std::int32_t server, const std::uint8_t* record) = 0;
    virtual CallOutcome EnumStaticClients(std::int32_t server, std::int32_t previous, std::int32_t* next) = 0;
    virtual CallOutcome GetStaticClient(std::int32_t client, std::uint8_t* record) = 0;
    virtual CallOutcome DeleteStaticClient(std::int32_t server, std::int32_t client) = 0;
    virtual CallOutcome SetStaticClient(std::int32_t client, const std::uint8_t* record) = 0;
    virtual CallOutcome AddConnectedClient(std::int32_t server, const std::uint8_t* record) = 0;
    virtual CallOutcome EnumConnectedClients(std::int32_t server, std::int32_t previous, std::int32_t* next) = 0;
    virtual CallOutcome GetConnectedClient(std::int32_t client, std::uint8_t* record) = 0;
    virtual CallOutcome DeleteConnectedClient(std::int32_t server, std::int32_t client) = 0;
    virtual CallOutcome SetConnectedClient(std::int32_t client, const std::uint8_t* record) = 0;
};

}  // namespace varnox::rpc
