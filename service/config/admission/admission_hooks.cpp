#include "admission_hooks.h"

#include "client_records.h"
#include "configuration_model.h"
#include "host_name_lookup.h"
#include "protocol.h"

namespace varnox::config {
namespace {

std::int32_t NextOwner(const DiskServer* engine, std::int32_t previous) {
    return TheConfiguration().NextServerOwning(engine, previous);
}

// The first static record of `server` that `matches`, walking the list afresh.
template <typename Match>
std::optional<ClientRecord> FirstStatic(std::int32_t server, Match matches) {
    for (std::int32_t client = NextStaticClient(server, 0); client != 0; client = NextStaticClient(server, client)) {
        const std::optional<ClientRecord> record = ReadStaticClient(client);
        if (record && matches(*record)) return record;
    }
    return std::nullopt;
}

}  // namespace

int AccessQuery(DiskServer* engine, std::uint32_t address, std::uint32_t* access) {
    *access = ACCESS_NONE;
    const std::int32_t server = NextOwner(engine, 0);
    if (server == 0) return 0;

    if (const auto exact = FirstStatic(server, [&](const ClientRecord& r) { return r.IpAddress == address; })) {
        if (exact->Access >= ACCESS_NONE) return 0;
        *access = exact->Access;
        return 1;
    }
    if (const auto any = FirstStatic(server, [](const ClientRecord& r) { return r.IpAddress == 0; })) {
        if (any->Access >= ACCESS_NONE) return 0;
        *access = ACCESS_READ_ONLY;
        return 1;
    }
    return 0;
}

void ClientConnected(DiskServer* engine, std::uint32_t address, std::uint32_t identity) {
    for (std::int32_t server = NextOwner(engine, 0); server != 0; server = NextOwner(engine, server)) {
        ClientRecord record = {};
        record.IpAddress = address;
        record.Access = static_cast<std::uint8_t>(identity);
        record.Status = CLIENT_STATUS_CONNECTED;
        if (const std::optional<std::string> name = LookUpHostName(address)) {
            SetHostName(record, name->c_str());
            record.HasName = HAS_NAME_RESOLVED;
        } else {
            record.HasName = HAS_NAME_FAILED;
        }
        // A second connection from a listed address is refused here, and the record of
        // the first stays.
        (void)AddConnected(server, record);
    }
}

int ClientDisconnected(DiskServer* engine, std::uint32_t address) {
    for (std::int32_t server = NextOwner(engine, 0); server != 0; server = NextOwner(engine, server)) {
        for (std::int32_t client = NextConnectedClient(server, 0); client != 0;
             client = NextConnectedClient(server, client)) {
            const std::optional<ClientRecord> record = ReadConnectedClient(client);
            if (record && record->IpAddress == address) {
                (void)DeleteConnectedClient(server, client);
                break;
            }
        }
    }
    return 1;
}

}  // namespace varnox::config
