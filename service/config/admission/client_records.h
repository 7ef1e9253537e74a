#pragma once
// Client records read and written through the management operations, which take and
// give whole record buffers. Each call takes ConfigLock for itself only, so a record
// read here may be gone by the next call; the callers look it up again each step.

#include <cstdint>
#include <optional>

#include "records.h"

namespace varnox::config {

// The next record after `previous` (0: the first) in a server's static or connected
// list; 0 at the end, or when the server or `previous` is gone.
std::int32_t NextStaticClient(std::int32_t server, std::int32_t previous);
std::int32_t NextConnectedClient(std::int32_t server, std::int32_t previous);

std::optional<ClientRecord> ReadStaticClient(std::int32_t client);
std::optional<ClientRecord> ReadConnectedClient(std::int32_t client);
bool WriteStaticClient(std::int32_t client, const ClientRecord& record);
bool AddConnected(std::int32_t server, const ClientRecord& record);

// Copies a host name into the record's field, cut to the field's 127 characters.
void SetHostName(ClientRecord& record, const char* name);

}  // namespace varnox::config
