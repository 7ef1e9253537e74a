#include "commands.h"
#include "session.h"
#include "share_text.h"

namespace varnox::disk_tool {

client::Result<void> RunInfo(const Invocation& invocation, ToolStreams& streams) {
    auto session = OpenSession(invocation.global);
    if (!session.ok()) return session.error();
    auto info = session.value().Info();
    if (!info.ok()) return info.error();
    streams.out << "size:   " << ByteCountText(info.value().size) << "\n"
                << "access: " << AccessText(info.value().access) << "\n";
    return session.value().Close();
}

}  // namespace varnox::disk_tool
