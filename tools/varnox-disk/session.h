#pragma once
// One connection to the share for a command: connected, bounded in time, and
// authenticated first when the user gave a credential.

#include "block_client.h"
#include "command_line.h"
#include "result.h"

namespace varnox::disk_tool {

client::Result<client::BlockClient> OpenSession(const GlobalOptions& options);

}  // namespace varnox::disk_tool
