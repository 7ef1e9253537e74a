#include "admission_hooks.h"
#include "server_hooks.h"

namespace varnox::config {

void InstallAdmissionHooks() { SetServerHooks(&AccessQuery, &ClientDisconnected, &ClientConnected); }

}  // namespace varnox::config
