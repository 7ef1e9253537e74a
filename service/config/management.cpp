// The management operations on the process-wide model. The RPC manager routines, the
// admission hooks and the name resolver all come through here.

#include "management.h"

#include "configuration_model.h"

namespace varnox::config {

std::int32_t GetServerName(std::uint8_t* text, std::uint32_t length) {
    return TheConfiguration().GetServerName(text, length);
}
std::int32_t AddServer(std::int32_t* server, const std::uint8_t* record) {
    return TheConfiguration().AddServer(server, record);
}
std::int32_t GetLastErrorText(std::uint8_t* text, std::uint32_t length) {
    return TheConfiguration().GetLastErrorText(text, length);
}
std::int32_t EnumServers(std::int32_t previous, std::int32_t* next) {
    return TheConfiguration().EnumServers(previous, next);
}
std::int32_t GetServer(std::int32_t server, std::uint8_t* record) {
    return TheConfiguration().GetServer(server, record);
}
std::int32_t StartServer(std::int32_t server) {
    return TheConfiguration().StartServer(server);
}
std::int32_t StopServer(std::int32_t server) {
    return TheConfiguration().StopServer(server);
}
std::int32_t DeleteServer(std::int32_t server) {
    return TheConfiguration().DeleteServer(server);
}
std::int32_t AddStaticClient(std::int32_t server, const std::uint8_t* record) {
    return TheConfiguration().AddStaticClient(server, record);
}
std::int32_t EnumStaticClients(std::int32_t server, std::int32_t previous, std::int32_t* next) {
    return TheConfiguration().EnumStaticClients(server, previous, next);
}
std::int32_t GetStaticClient(std::int32_t client, std::uint8_t* record) {
    return TheConfiguration().GetStaticClient(client, record);
}
std::int32_t DeleteStaticClient(std::int32_t server, std::int32_t client) {
    return TheConfiguration().DeleteStaticClient(server, client);
}
std::int32_t SetStaticClient(std::int32_t client, const std::uint8_t* record) {
    return TheConfiguration().SetStaticClient(client, record);
}
std::int32_t AddConnectedClient(std::int32_t server, const std::uint8_t* record) {
    return TheConfiguration().AddConnectedClient(server, record);
}
std::int32_t EnumConnectedClients(std::int32_t server, std::int32_t previous, std::int32_t* next) {
    return TheConfiguration().EnumConnectedClients(server, previous, next);
}
std::int32_t GetConnectedClient(std::int32_t client, std::uint8_t* record) {
    return TheConfiguration().GetConnectedClient(client, record);
}
std::int32_t DeleteConnectedClient(std::int32_t server, std::int32_t client) {
    return TheConfiguration().DeleteConnectedClient(server, client);
}
std::int32_t SetConnectedClient(std::int32_t client, const std::uint8_t* record) {
    return TheConfiguration().SetConnectedClient(client, record);
}

}  // namespace varnox::config
