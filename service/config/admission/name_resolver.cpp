#include "name_resolver.h"

#include <thread>

#include "client_records.h"
#include "host_name_lookup.h"
#include "management.h"

namespace varnox::config {
namespace {

enum class Walk { Finished, LeftEarly, Stopped };

// One server's static list. Each step looks its record up again: the console may delete
// it at any time, also while its address is being looked up.
Walk ResolveStaticClients(std::int32_t server, const ResolverPacing& pacing) {
    for (std::int32_t client = NextStaticClient(server, 0); client != 0; client = NextStaticClient(server, client)) {
        const std::optional<ClientRecord> record = ReadStaticClient(client);
        if (!record) return Walk::LeftEarly;
        if (record->HasName == HAS_NAME_NOT_RESOLVED && record->IpAddress != 0) {
            const std::optional<std::string> name = pacing.lookup(record->IpAddress);
            std::optional<ClientRecord> current = ReadStaticClient(client);
            if (!current) return Walk::LeftEarly;
            if (name) {
                SetHostName(*current, name->c_str());
                current->HasName = HAS_NAME_RESOLVED;
            } else {
                current->HasName = HAS_NAME_FAILED;
            }
            (void)WriteStaticClient(client, *current);
        }
        if (!pacing.sleep(RESOLVER_RECORD_PAUSE)) return Walk::Stopped;
    }
    return pacing.sleep(RESOLVER_RECORD_PAUSE) ? Walk::Finished : Walk::Stopped;
}

}  // namespace

ResolverPacing SystemPacing() {
    return ResolverPacing{[](std::chrono::milliseconds pause) {
                              std::this_thread::sleep_for(pause);
                              return true;
                          },
                          &LookUpHostName};
}

void RunNameResolver(const ResolverPacing& pacing) {
    std::int32_t current = 0;
    for (;;) {
        std::int32_t server = 0;
        (void)EnumServers(current, &server);
        if (server == 0) {
            if (!pacing.sleep(RESOLVER_IDLE_PAUSE) || !pacing.sleep(RESOLVER_PASS_PAUSE)) return;
            current = 0;
            continue;
        }
        if (ResolveStaticClients(server, pacing) == Walk::Stopped) return;
        if (!pacing.sleep(RESOLVER_SERVER_PAUSE)) return;
        current = server;
    }
}

void NameResolver() { RunNameResolver(SystemPacing()); }

void StartNameResolver() { std::thread(&NameResolver).detach(); }

}  // namespace varnox::config
