#include "session.h"

#include <chrono>

namespace varnox::disk_tool {

client::Result<client::BlockClient> OpenSession(const GlobalOptions& options) {
    auto connected = client::BlockClient::Connect(options.host, options.port);
    if (!connected.ok()) return connected.error();
    client::BlockClient& session = connected.value();
    const auto timeout = std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000));
    if (auto bounded = session.SetTimeout(timeout); !bounded.ok()) return bounded.error();
    if (options.credential) {
        if (auto authenticated = session.Authenticate(*options.credential); !authenticated.ok()) {
            return authenticated.error();
        }
    }
    return std::move(connected.value());
}

}  // namespace varnox::disk_tool
