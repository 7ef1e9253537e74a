#pragma once
// The management procedures called in-process on the configuration model, as the
// service's manager routines call them: the console's commands run against the real
// model without the RPC runtime in between.

#include "management.h"
#include "management_calls.h"

namespace varnox::console::testing {

class ModelCalls final : public rpc::ManagementCalls {
public:
    using CallOutcome = rpc::CallOutcome;

    CallOutcome GetServerName(std::uint8_t* text, std::uint32_t length) override {
        return Done(config::GetServerName(text, length));
    }
    CallOutcome AddServer(std::int32_t* server, const std::uint8_t* record) override {
        return Done(config::AddServer(server, record));
    }
    CallOutcome GetLastErrorText(std::uint8_t* text, std::uint32_t length) override {
        return Done(config::GetLastErrorText(text, length));
    }
    CallOutcome EnumServers(std::int32_t previous, std::int32_t* next) override {
        return Done(config::EnumServers(previous, next));
    }
    CallOutcome GetServer(std::int32_t server, std::uint8_t* record) override {
        return Done(config::GetServer(server, record));
    }
    CallOutcome StartServer(std::int32_t server) override { return Done(config::StartServer(server)); }
    CallOutcome StopServer(std::int32_t server) override { return Done(config::StopServer(server)); }
    CallOutcome DeleteServer(std::int32_t server) override { return Done(config::DeleteServer(server)); }
    CallOutcome AddStaticClient(std::int32_t server, const std::uint8_t* record) override {
        return Done(config::AddStaticClient(server, record));
    }
    CallOutcome EnumStaticClients(std::int32_t server, std::int32_t previous, std::int32_t* next) override {
        return Done(config::EnumStaticClients(server, previous, next));
    }
    CallOutcome GetStaticClient(std::int32_t client, std::uint8_t* record) override {
        return Done(config::GetStaticClient(client, record));
    }
    CallOutcome DeleteStaticClient(std::int32_t server, std::int32_t client) override {
        return Done(config::DeleteStaticClient(server, client));
    }
    CallOutcome SetStaticClient(std::int32_t client, const std::uint8_t* record) override {
        return Done(config::SetStaticClient(client, record));
    }
    CallOutcome AddConnectedClient(std::int32_t server, const std::uint8_t* record) override {
        return Done(config::AddConnectedClient(server, record));
    }
    CallOutcome EnumConnectedClients(std::int32_t server, std::int32_t previous, std::int32_t* next) override {
        return Done(config::EnumConnectedClients(server, previous, next));
    }
    CallOutcome GetConnectedClient(std::int32_t client, std::uint8_t* record) override {
        return Done(config::GetConnectedClient(client, record));
    }
    CallOutcome DeleteConnectedClient(std::int32_t server, std::int32_t client) override {
        return Done(config::DeleteConnectedClient(server, client));
    }
    CallOutcome SetConnectedClient(std::int32_t client, const std::uint8_t* record) override {
        return Done(config::SetConnectedClient(client, record));
    }

private:
    static CallOutcome Done(std::int32_t result) { return CallOutcome{0, result}; }
};

}  // namespace varnox::console::testing
