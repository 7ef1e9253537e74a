#include "listener.h"

#include <string>
#include <utility>

#include "socket_system.h"

namespace varnox::client {

using detail::LastSocketError;
using detail::SocketCallError;
using detail::ToSystem;

Listener::~Listener() {
    // Nobody is left to tell about a failure here; callers who care call Close() first.
    (void)Close();
}

Listener::Listener(Listener&& other) noexcept
    : handle_(std::exchange(other.handle_, INVALID_NATIVE_SOCKET)), port_(other.port_) {}

Listener& Listener::operator=(Listener&& other) noexcept {
    if (this != &other) {
        (void)Close();
        handle_ = std::exchange(other.handle_, INVALID_NATIVE_SOCKET);
        port_ = other.port_;
    }
    return *this;
}

Result<Listener> Listener::Listen(std::uint16_t port) {
    const std::string context = "listening on 127.0.0.1:" + std::to_string(port);
    if (auto started = detail::EnsureNetworkStarted(); !started.ok()) return started.error();

    const auto handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == detail::INVALID_SYSTEM_SOCKET) return SocketCallError(context, "socket", LastSocketError());
    Listener listener;
    listener.handle_ = static_cast<NativeSocket>(handle);

#ifndef _WIN32
    // A fixed port must be reusable right after a previous test's server let it go. On
    // Windows the same option would let another socket take over the port, so not there.
    const int on = 1;
    if (setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return SocketCallError(context, "setsockopt(SO_REUSEADDR)", LastSocketError());
    }
#endif

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return SocketCallError(context, "bind", LastSocketError());
    }
    if (listen(handle, SOMAXCONN) != 0) return SocketCallError(context, "listen", LastSocketError());

    sockaddr_in bound{};
    detail::SocketLength boundLength = sizeof bound;
    if (getsockname(handle, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        return SocketCallError(context, "getsockname", LastSocketError());
    }
    listener.port_ = ntohs(bound.sin_port);
    return listener;
}

Result<Socket> Listener::Accept() {
    const std::string context = "accepting on 127.0.0.1:" + std::to_string(port_);
    for (;;) {
        sockaddr_in peer{};
        detail::SocketLength peerLength = sizeof peer;
        const auto handle = accept(ToSystem(handle_), reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (handle == detail::INVALID_SYSTEM_SOCKET) {
            const int code = LastSocketError();
            if (detail::Interrupted(code)) continue;
            return SocketCallError(context, "accept", code);
        }
        char text[INET_ADDRSTRLEN] = "?";
        if (inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) {
            const int code = LastSocketError();
            Socket dropped(static_cast<NativeSocket>(handle), "?");
            return SocketCallError(context, "inet_ntop", code);
        }
        Socket connection(static_cast<NativeSocket>(handle),
                          std::string(text) + ":" + std::to_string(ntohs(peer.sin_port)));
        if (auto noDelay = connection.SetNoDelay(); !noDelay.ok()) return noDelay.error();
        return connection;
    }
}

Result<void> Listener::Shutdown() {
    if (shutdown(ToSystem(handle_), detail::SHUTDOWN_BOTH) != 0) {
        return SocketCallError("shutting down the listener on 127.0.0.1:" + std::to_string(port_), "shutdown",
                               LastSocketError());
    }
    return {};
}

Result<void> Listener::Close() {
    if (!IsOpen()) return {};
    int code = 0;
    if (!detail::CloseNativeSocket(std::exchange(handle_, INVALID_NATIVE_SOCKET), code)) {
        return SocketCallError("closing the listener on 127.0.0.1:" + std::to_string(port_), "close", code);
    }
    return {};
}

}  // namespace varnox::client
