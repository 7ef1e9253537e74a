#pragma once
// Starting and stopping a share's engine. The model decides when; the runner does the
// platform's part: on Windows a server thread that constructs and runs the DiskServer.

#include "records.h"

namespace varnox {
class DiskServer;
}

namespace varnox::config {

// A running server: its engine and its server thread (an opaque thread handle). A start
// reports both or neither.
struct ServerThread {
    DiskServer* engine = nullptr;
    void* thread = nullptr;
    bool Running() const { return engine != nullptr && thread != nullptr; }
};

class ServerRunner {
public:
    virtual ~ServerRunner() = default;

    // Starts a server from a copy of the record and waits until it has run for a while;
    // called with ConfigLock held (the new engine has no hooks that could take it yet).
    virtual ServerThread Start(const ServerRecord& record) = 0;

    // Ends the engine, waits for its thread, closes the thread and destroys the engine;
    // either part may be absent. Called without ConfigLock, because engine workers take
    // it while they wind down.
    virtual void Stop(ServerThread server) = 0;

    // The entry of a running server went away: the engine keeps running with nobody
    // owning it; only the runner's own bookkeeping (the thread handle) is let go.
    virtual void Detach(ServerThread server) = 0;

    // The diagnostic line of a start through the management interface, also after a
    // failed start (then both parts are absent).
    virtual void ReportStart(ServerThread server) = 0;
};

}  // namespace varnox::config
