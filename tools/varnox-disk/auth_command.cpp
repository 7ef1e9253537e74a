#include "commands.h"
#include "session.h"
#include "share_text.h"

namespace varnox::disk_tool {

// The session authenticates with the credential the command line requires for auth; a
// refusal comes back as its error. Asking afterwards shows what the credential gave.
client::Result<void> RunAuth(const Invocation& invocation, ToolStreams& streams) {
    auto session = OpenSession(invocation.global);
    if (!session.ok()) return session.error();
    auto info = session.value().Info();
    if (!info.ok()) return info.error();
    streams.out << "authenticated: access is now " << AccessText(info.value().access) << "\n";
    return session.value().Close();
}

}  // namespace varnox::disk_tool
