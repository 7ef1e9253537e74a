#pragma once
// The fixed records of a share and of a client. The same bytes are the in-memory form,
// the management interface's form and the source of the Locals.xml attributes, so the
// layout is a wire format: little-endian, packed, checked below.

#include <cstddef>
#include <cstdint>

namespace varnox::config {

inline constexpr std::size_t SOURCE_CAPACITY = 260;    // at most 259 characters
inline constexpr std::size_t HOST_NAME_CAPACITY = 128;  // at most 127 characters
inline constexpr std::size_t DIGEST_SIZE = 20;
// Every record crosses the management interface in a buffer of this size.
inline constexpr std::size_t RECORD_BUFFER_SIZE = 2048;

#pragma pack(push, 1)

struct ServerRecord {
    char Source[SOURCE_CAPACITY];
    std::uint32_t IpAddress;  // network byte order
    std::uint16_t Port;       // host order
    std::uint8_t reserved266[6];
    std::uint64_t Capability;  // bytes
    std::int32_t Cache;
    std::uint8_t Password[DIGEST_SIZE];
    std::uint8_t ManagePassword[DIGEST_SIZE];
    std::int32_t Started;
    std::int32_t AuthMode;
    std::uint32_t reserved332;  // zeroed whenever the server starts
};

struct ClientRecord {
    std::uint32_t IpAddress;  // network byte order; 0 in a static list: any address
    std::uint8_t Access;
    std::uint8_t Status;   // 0 static, 1 connected
    std::uint8_t HasName;  // 0 not resolved yet, 1 resolved, 2 failed
    char HostName[HOST_NAME_CAPACITY];
    std::uint8_t reserved135[9];
};

#pragma pack(pop)

static_assert(sizeof(ServerRecord) == 336);
static_assert(offsetof(ServerRecord, Source) == 0);
static_assert(offsetof(ServerRecord, IpAddress) == 260);
static_assert(offsetof(ServerRecord, Port) == 264);
static_assert(offsetof(ServerRecord, reserved266) == 266);
static_assert(offsetof(ServerRecord, Capability) == 272);
static_assert(offsetof(ServerRecord, Cache) == 280);
static_assert(offsetof(ServerRecord, Password) == 284);
static_assert(offsetof(ServerRecord, ManagePassword) == 304);
static_assert(offsetof(ServerRecord, Started) == 324);
static_assert(offsetof(ServerRecord, AuthMode) == 328);
static_assert(offsetof(ServerRecord, reserved332) == 332);

static_assert(sizeof(ClientRecord) == 144);
static_assert(offsetof(ClientRecord, IpAddress) == 0);
static_assert(offsetof(ClientRecord, Access) == 4);
static_assert(offsetof(ClientRecord, Status) == 5);
static_assert(offsetof(ClientRecord, HasName) == 6);
static_assert(offsetof(ClientRecord, HostName) == 7);
static_assert(offsetof(ClientRecord, reserved135) == 135);

inline constexpr std::uint8_t CLIENT_STATUS_STATIC = 0;
inline constexpr std::uint8_t CLIENT_STATUS_CONNECTED = 1;
inline constexpr std::uint8_t HAS_NAME_NOT_RESOLVED = 0;
inline constexpr std::uint8_t HAS_NAME_RESOLVED = 1;
inline constexpr std::uint8_t HAS_NAME_FAILED = 2;

}  // namespace varnox::config
