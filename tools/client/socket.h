#pragma once
// A connected TCP stream with the handful of blocking operations the client and the
// test server need, the same on Winsock and POSIX. Errors name the failed call and
// carry the system's code.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "result.h"

namespace varnox::client {

#ifdef _WIN32
using NativeSocket = std::uintptr_t;  // SOCKET, without pulling winsock2.h into every user
inline constexpr NativeSocket INVALID_NATIVE_SOCKET = ~NativeSocket{0};
#else
using NativeSocket = int;
inline constexpr NativeSocket INVALID_NATIVE_SOCKET = -1;
#endif

class Socket {
public:
    Socket() = default;
    // Takes ownership of `handle`; `peer` names the other end in error messages.
    Socket(NativeSocket handle, std::string peer);
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Tries every address `host` resolves to; TCP_NODELAY is set, since every request
    // waits for its answer and must not sit in Nagle's buffer.
    static Result<Socket> Connect(std::string_view host, std::uint16_t port);

    bool IsOpen() const { return handle_ != INVALID_NATIVE_SOCKET; }
    NativeSocket Handle() const { return handle_; }
    const std::string& Peer() const { return peer_; }

    Result<void> SetNoDelay();

    // Sends and receives that make no progress for this long fail instead of blocking
    // forever; zero means wait as long as it takes.
    Result<void> SetTimeout(std::chrono::milliseconds timeout);

    // One send() call: how much of `bytes` it took.
    Result<std::size_t> SendSome(std::span<const std::uint8_t> bytes);
    Result<void> SendAll(std::span<const std::uint8_t> bytes);

    // One recv() call: how much arrived; 0 when the peer has closed.
    Result<std::size_t> ReceiveSome(std::span<std::uint8_t> bytes);
    // Fills `bytes` completely; a peer closing first is an ErrorKind::Closed error.
    Result<void> ReceiveExact(std::span<std::uint8_t> bytes);

    // True once a receive would not block (data, or the peer's close), false when
    // `timeout` passed first. Lets a serving thread look at a stop request now and then:
    // Wine does not wake a thread blocked in recv() when another thread shuts the socket.
    Result<bool> WaitReadable(std::chrono::milliseconds timeout);

    // Ends both directions without giving up the handle; a thread blocked in this
    // socket's recv() returns.
    Result<void> Shutdown();

    Result<void> Close();
    // Closes with a reset instead of an orderly shutdown.
    Result<void> CloseWithReset();

private:
    NativeSocket handle_ = INVALID_NATIVE_SOCKET;
    std::string peer_;
};

}  // namespace varnox::client
