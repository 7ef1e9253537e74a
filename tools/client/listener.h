#pragma once
// A listening TCP socket on the loopback address: the test server's side of a
// connection. Nothing outside this machine can reach it.

#include <cstdint>

#include "result.h"
#include "socket.h"

namespace varnox::client {

class Listener {
public:
    Listener() = default;
    ~Listener();
    Listener(Listener&& other) noexcept;
    Listener& operator=(Listener&& other) noexcept;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Listens on 127.0.0.1:`port`; port 0 lets the system pick a free one.
    static Result<Listener> Listen(std::uint16_t port);

    std::uint16_t Port() const { return port_; }
    bool IsOpen() const { return handle_ != INVALID_NATIVE_SOCKET; }

    // Blocks until a client connects; the connection has TCP_NODELAY set.
    Result<Socket> Accept();

    // Makes a thread blocked in Accept() return, on the systems where that works.
    Result<void> Shutdown();

    Result<void> Close();

private:
    NativeSocket handle_ = INVALID_NATIVE_SOCKET;
    std::uint16_t port_ = 0;
};

}  // namespace varnox::client
