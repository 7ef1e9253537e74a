#pragma once
// Records as tests build them, and as the management interface carries them: in a
// 2048-byte buffer.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "records.h"

namespace varnox::config::testing {

using RecordBuffer = std::array<std::uint8_t, RECORD_BUFFER_SIZE>;

inline ServerRecord MakeServer(const std::string& source, std::uint16_t port) {
    ServerRecord server;
    std::memset(&server, 0, sizeof server);
    std::strncpy(server.Source, source.c_str(), sizeof server.Source - 1);
    server.Port = port;
    return server;
}

inline ClientRecord MakeClient(std::uint32_t address, std::uint8_t access = 0, std::uint8_t hasName = 0,
                               const std::string& hostName = {}) {
    ClientRecord client;
    std::memset(&client, 0, sizeof client);
    client.IpAddress = address;
    client.Access = access;
    client.HasName = hasName;
    std::strncpy(client.HostName, hostName.c_str(), sizeof client.HostName - 1);
    return client;
}

template <typename Record>
RecordBuffer ToBuffer(const Record& record) {
    RecordBuffer buffer;
    buffer.fill(0xCC);
    std::memcpy(buffer.data(), &record, sizeof record);
    return buffer;
}

template <typename Record>
Record FromBuffer(const RecordBuffer& buffer) {
    Record record;
    std::memcpy(&record, buffer.data(), sizeof record);
    return record;
}

// a.b.c.d as the address field holds it (network byte order).
inline std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

}  // namespace varnox::config::testing
