#include "client_records.h"

#include <cstring>

#include "management.h"

namespace varnox::config {
namespace {

// The operations read and write whole buffers, not just the record's 144 bytes.
struct RecordBuffer {
    std::uint8_t bytes[RECORD_BUFFER_SIZE] = {};

    explicit RecordBuffer(const ClientRecord* record = nullptr) {
        if (record != nullptr) std::memcpy(bytes, record, sizeof *record);
    }
    ClientRecord Record() const {
        ClientRecord record;
        std::memcpy(&record, bytes, sizeof record);
        return record;
    }
};

}  // namespace

std::int32_t NextStaticClient(std::int32_t server, std::int32_t previous) {
    std::int32_t next = 0;
    return EnumStaticClients(server, previous, &next) == 0 ? next : 0;
}

std::int32_t NextConnectedClient(std::int32_t server, std::int32_t previous) {
    std::int32_t next = 0;
    return EnumConnectedClients(server, previous, &next) == 0 ? next : 0;
}

std::optional<ClientRecord> ReadStaticClient(std::int32_t client) {
    RecordBuffer buffer;
    if (GetStaticClient(client, buffer.bytes) != 0) return std::nullopt;
    return buffer.Record();
}

std::optional<ClientRecord> ReadConnectedClient(std::int32_t client) {
    RecordBuffer buffer;
    if (GetConnectedClient(client, buffer.bytes) != 0) return std::nullopt;
    return buffer.Record();
}

bool WriteStaticClient(std::int32_t client, const ClientRecord& record) {
    const RecordBuffer buffer(&record);
    return SetStaticClient(client, buffer.bytes) == 0;
}

bool AddConnected(std::int32_t server, const ClientRecord& record) {
    const RecordBuffer buffer(&record);
    return AddConnectedClient(server, buffer.bytes) == 0;
}

void SetHostName(ClientRecord& record, const char* name) {
    std::memset(record.HostName, 0, sizeof record.HostName);
    std::strncpy(record.HostName, name, sizeof record.HostName - 1);
}

}  // namespace varnox::config
