#pragma once
// The management operations, one per procedure of the management interface, in its
// operation-number order. The RPC manager routines forward to these unchanged, and the
// admission hooks and the name resolver call them as internal operations. Each takes
// ConfigLock for its own duration; results are 0 for success and -1 for failure.
//
// Records cross as RECORD_BUFFER_SIZE-byte buffers: a ServerRecord fills the first 336
// bytes, a ClientRecord the first 144; the rest is ignored on input.

#include <cstdint>

namespace varnox::config {

std::int32_t GetServerName(std::uint8_t* text, std::uint32_t length);
std::int32_t AddServer(std::int32_t* server, const std::uint8_t* record);
std::int32_t GetLastErrorText(std::uint8_t* text, std::uint32_t length);
std::int32_t EnumServers(std::int32_t previous, std::int32_t* next);
std::int32_t GetServer(std::int32_t server, std::uint8_t* record);
std::int32_t StartServer(std::int32_t server);
std::int32_t StopServer(std::int32_t server);
std::int32_t DeleteServer(std::int32_t server);
std::int32_t AddStaticClient(std::int32_t server, const std::uint8_t* record);
std::int32_t EnumStaticClients(std::int32_t server, std::int32_t previous, std::int32_t* next);
std::int32_t GetStaticClient(std::int32_t client, std::uint8_t* record);
std::int32_t DeleteStaticClient(std::int32_t server, std::int32_t client);
std::int32_t SetStaticClient(std::int32_t client, const std::uint8_t* record);
std::int32_t AddConnectedClient(std::int32_t server, const std::uint8_t* record);
std::int32_t EnumConnectedClients(std::int32_t server, std::int32_t previous, std::int32_t* next);
std::int32_t GetConnectedClient(std::int32_t client, std::uint8_t* record);
std::int32_t DeleteConnectedClient(std::int32_t server, std::int32_t client);
std::int32_t SetConnectedClient(std::int32_t client, const std::uint8_t* record);

inline constexpr char SERVER_NAME_TEXT[] = "Varnox Server";
inline constexpr char DUPLICATE_CLIENT_TEXT[] = "A client with same address is already in the static client list";
inline constexpr std::uint32_t LAST_ERROR_TEXT_SIZE = 1024;

}  // namespace varnox::config
