// The interface's default manager routines: each forwards to the management operation of
// the same name. Output buffers are cleared first because the runtime sends every byte
// of them back, and an operation fills only what it reports (a refused call, nothing):
// without clearing, the rest would carry whatever the heap held.

#include <cstring>

#include "management.h"
#include "records.h"
#include "varnox_management.h"

namespace cfg = varnox::config;

namespace {

void ClearRecord(unsigned char* record) { std::memset(record, 0, cfg::RECORD_BUFFER_SIZE); }

}  // namespace

static_assert(VARNOX_RECORD_BUFFER_SIZE == cfg::RECORD_BUFFER_SIZE);

extern "C" {

LONG __cdecl GetServerName(unsigned char* text, ULONG length) {
    std::memset(text, 0, length);
    return cfg::GetServerName(text, length);
}

LONG __cdecl AddServer(LONG* server, unsigned char record[2048]) {
    std::int32_t handle = 0;
    const std::int32_t result = cfg::AddServer(&handle, record);
    *server = handle;
    return result;
}

LONG __cdecl GetLastErrorText(unsigned char* text, ULONG length) {
    std::memset(text, 0, length);
    return cfg::GetLastErrorText(text, length);
}

LONG __cdecl EnumServers(LONG previous, LONG* next) {
    std::int32_t handle = 0;
    const std::int32_t result = cfg::EnumServers(previous, &handle);
    *next = handle;
    return result;
}

LONG __cdecl GetServer(LONG server, unsigned char record[2048]) {
    ClearRecord(record);
    return cfg::GetServer(server, record);
}

LONG __cdecl StartServer(LONG server) { return cfg::StartServer(server); }

LONG __cdecl StopServer(LONG server) { return cfg::StopServer(server); }

LONG __cdecl DeleteServer(LONG server) { return cfg::DeleteServer(server); }

LONG __cdecl AddStaticClient(LONG server, unsigned char record[2048]) { return cfg::AddStaticClient(server, record); }

LONG __cdecl EnumStaticClients(LONG server, LONG previous, LONG* next) {
    std::int32_t handle = 0;
    const std::int32_t result = cfg::EnumStaticClients(server, previous, &handle);
    *next = handle;
    return result;
}

LONG __cdecl GetStaticClient(LONG client, unsigned char record[2048]) {
    ClearRecord(record);
    return cfg::GetStaticClient(client, record);
}

LONG __cdecl DeleteStaticClient(LONG server, LONG client) { return cfg::DeleteStaticClient(server, client); }

LONG __cdecl SetStaticClient(LONG client, unsigned char record[2048]) { return cfg::SetStaticClient(client, record); }

LONG __cdecl AddConnectedClient(LONG server, unsigned char record[2048]) {
    return cfg::AddConnectedClient(server, record);
}

LONG __cdecl EnumConnectedClients(LONG server, LONG previous, LONG* next) {
    std::int32_t handle = 0;
    const std::int32_t result = cfg::EnumConnectedClients(server, previous, &handle);
    *next = handle;
    return result;
}

LONG __cdecl GetConnectedClient(LONG client, unsigned char record[2048]) {
    ClearRecord(record);
    return cfg::GetConnectedClient(client, record);
}

LONG __cdecl DeleteConnectedClient(LONG server, LONG client) { return cfg::DeleteConnectedClient(server, client); }

LONG __cdecl SetConnectedClient(LONG client, unsigned char record[2048]) {
    return cfg::SetConnectedClient(client, record);
}

}  // extern "C"
