#pragma once
// What the model offers the admission code: the hooks every started engine gets, and the
// way back from an engine to the entries that own it.

#include <cstdint>

#include "disk_server.h"

namespace varnox::config {

// The hooks the start of a server installs once it has run for its first second, in
// the order AccessQuery, ClientDisconnected, ClientConnected. Until this is called no
// hooks are installed and a new engine admits everybody. Servers already running keep
// the hooks they got.
void SetServerHooks(AccessQueryHook accessQuery, ClientDisconnectedHook clientDisconnected,
                    ClientConnectedHook clientConnected);

// Installs the hooks set above into a newly started engine; nothing while none are set.
void InstallServerHooks(DiskServer& engine);

// The handle of the next entry after `previous` (0: from the first) whose DiskServer is
// `engine`; 0 when there is none or `previous` names no entry. Takes ConfigLock.
std::int32_t NextServerOwning(const DiskServer* engine, std::int32_t previous);

}  // namespace varnox::config
