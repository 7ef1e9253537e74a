#pragma once
// Hooks for tests that run real engines: they admit everybody with full access, list
// authenticated clients as connected and take them off again when they go, finding
// their entries the way the admission code does. They also note what they saw.

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "fake_backends.h"
#include "management.h"
#include "server_hooks.h"

namespace varnox::config::testing {

struct HookSightings {
    std::mutex mutex;
    // For every access query: the engine asking and the entry that owned it then.
    std::vector<std::pair<const DiskServer*, std::int32_t>> queries;
    std::atomic<int> connected{0};
    std::atomic<int> disconnected{0};
};

inline HookSightings& Sightings() {
    static HookSightings sightings;
    return sightings;
}

inline int TrackingAccessQuery(DiskServer* engine, std::uint32_t, std::uint32_t* access) {
    const std::int32_t owner = NextServerOwning(engine, 0);
    {
        std::lock_guard<std::mutex> guard(Sightings().mutex);
        Sightings().queries.emplace_back(engine, owner);
    }
    *access = 0;
    return 1;
}

inline int TrackingClientDisconnected(DiskServer* engine, std::uint32_t address) {
    ++Sightings().disconnected;
    for (std::int32_t owner = NextServerOwning(engine, 0); owner != 0; owner = NextServerOwning(engine, owner)) {
        std::int32_t client = 0;
        RecordBuffer buffer{};
        while (EnumConnectedClients(owner, client, &client) == 0 && client != 0) {
            if (GetConnectedClient(client, buffer.data()) == 0 &&
                FromBuffer<ClientRecord>(buffer).IpAddress == address) {
                DeleteConnectedClient(owner, client);
                break;
            }
        }
    }
    return 1;
}

inline void TrackingClientConnected(DiskServer* engine, std::uint32_t address, std::uint32_t identity) {
    ++Sightings().connected;
    for (std::int32_t owner = NextServerOwning(engine, 0); owner != 0; owner = NextServerOwning(engine, owner)) {
        ClientRecord client = MakeClient(address, static_cast<std::uint8_t>(identity), HAS_NAME_FAILED);
        client.Status = CLIENT_STATUS_CONNECTED;
        AddConnectedClient(owner, ToBuffer(client).data());
    }
}

inline void UseTrackingHooks() {
    SetServerHooks(TrackingAccessQuery, TrackingClientDisconnected, TrackingClientConnected);
}

}  // namespace varnox::config::testing
