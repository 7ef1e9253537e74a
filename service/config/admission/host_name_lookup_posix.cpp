#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "host_name_lookup.h"

namespace varnox::config {

// The native build's lookup: getnameinfo is the reentrant way to the same answer.
std::optional<std::string> LookUpHostName(std::uint32_t address) {
    sockaddr_in socketAddress = {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = address;
    char name[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, name, sizeof name,
                    nullptr, 0, NI_NAMEREQD) != 0) {
        return std::nullopt;
    }
    return std::string(name);
}

}  // namespace varnox::config
