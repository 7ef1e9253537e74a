#include <winsock2.h>

#include "host_name_lookup.h"

namespace varnox::config {

// gethostbyaddr keeps its answer per thread, so concurrent lookups from engine workers
// and the resolver do not disturb each other.
std::optional<std::string> LookUpHostName(std::uint32_t address) {
    const hostent* host = gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
    if (host == nullptr || host->h_name == nullptr) return std::nullopt;
    return std::string(host->h_name);
}

}  // namespace varnox::config
