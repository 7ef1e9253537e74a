#pragma once
// The server runner over DiskServer: one server thread per running share that
// constructs the engine from its own copy of the record, publishes it and runs it until
// it is stopped.

#include <cstdint>
#include <string>

#include "disk_server.h"
#include "records.h"
#include "server_runner.h"

namespace varnox::config {

// How long a new server must keep running before its start counts as a success.
inline constexpr std::uint32_t START_PROOF_MS = 1000;

// The engine's settings from a share's record: source, port and the two digests.
ShareSettings ShareSettingsFor(const ServerRecord& record);

// "Start server %x %x\n" for an engine and a thread id (0 for an absent one).
std::string StartServerLine(const DiskServer* engine, std::uint32_t threadId);

class DiskServerRunner : public ServerRunner {
public:
    // Creates the thread, waits until it has published its engine, then up to
    // START_PROOF_MS for the thread to end: if it does, the start failed and the engine
    // is destroyed; if not, the hooks are installed and the server runs.
    ServerThread Start(const ServerRecord& record) override;
    // StopEngine, wait for the server thread without a limit, close it, destroy the engine.
    void Stop(ServerThread server) override;
    void Detach(ServerThread server) override;
    // The start's line to the debugger.
    void ReportStart(ServerThread server) override;
};

}  // namespace varnox::config
