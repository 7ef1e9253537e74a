#pragma once
// A block server for tests: the real ConnectionCycle over blocking loopback sockets, one
// thread per connection, against a disk held in memory. Tests start one in-process,
// talk to it through BlockClient, look at its disk and stop it.

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "connection_cycle.h"
#include "listener.h"
#include "request_rules.h"
#include "result.h"
#include "socket.h"

namespace varnox::client {

struct FakeServerOptions {
    std::uint64_t diskSize = 1024 * 1024;
    ShareCredentials credentials{};
    std::uint32_t access = ACCESS_FULL;  // what a new connection may do before authenticating
    std::uint16_t port = 0;              // 0: an ephemeral port, see Port()
    // Non-zero: every disk read or write fails to start with this platform error code.
    std::uint32_t diskStartError = 0;
};

class FakeBlockServer {
public:
    // Listens on 127.0.0.1 and accepts connections on a thread of its own. The disk is
    // filled with a pattern that differs at every offset, so a misplaced read shows.
    static Result<std::unique_ptr<FakeBlockServer>> Start(const FakeServerOptions& options);

    ~FakeBlockServer();
    FakeBlockServer(const FakeBlockServer&) = delete;
    FakeBlockServer& operator=(const FakeBlockServer&) = delete;

    std::uint16_t Port() const { return port_; }

    // Closes the listener and every connection and joins all threads. Idempotent.
    void Stop();

    // The identity levels ClientConnected was told of, in order.
    std::vector<std::uint32_t> Identities() const;
    // How many connections have been accepted so far.
    std::size_t ConnectionsAccepted() const;

    std::vector<std::uint8_t> DiskBytes(std::uint64_t offset, std::size_t length) const;
    void SetDiskBytes(std::uint64_t offset, std::span<const std::uint8_t> bytes);

private:
    struct Connection {
        Socket socket;
        std::thread thread;
        bool finished = false;  // the socket is closed; Stop() must not touch it
    };

    FakeBlockServer(const FakeServerOptions& options, Listener listener);

    void AcceptLoop();
    void Serve(Connection& connection);
    // False when the server stops (or the socket fails) before a request's bytes arrive.
    bool WaitForData(Socket& socket) const;
    // Carries out one ReadDisk or WriteDisk against the memory disk.
    Action RunDisk(ConnectionCycle& cycle, const Action& action, std::span<std::uint8_t> buffer);
    void WakeAcceptLoop();

    const FakeServerOptions options_;
    const std::uint16_t port_;
    Listener listener_;
    std::thread acceptThread_;

    mutable std::mutex diskMutex_;
    std::vector<std::uint8_t> disk_;

    mutable std::mutex connectionsMutex_;
    std::list<Connection> connections_;
    std::vector<std::uint32_t> identities_;
    std::size_t accepted_ = 0;
    bool stopping_ = false;
    // Read by the connection threads between waits for data, without the mutex.
    std::atomic<bool> stopRequested_{false};
};

}  // namespace varnox::client
