#include "socket.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "socket_system.h"

namespace varnox::client {

using detail::LastSocketError;
using detail::SocketCallError;
using detail::ToSystem;

namespace {

// Both platforms take an int-sized length per call.
constexpr std::size_t MAX_PIECE = INT_MAX / 2 + 1;

int PieceLength(std::size_t size) {
    return static_cast<int>(std::min(size, MAX_PIECE));
}

#ifndef _WIN32
Error ResolveError(std::string_view context, int code) {
    if (code == EAI_SYSTEM) return SocketCallError(context, "getaddrinfo", errno);
    std::string message(context);
    message += ": getaddrinfo() failed: ";
    message += gai_strerror(code);
    message += " (error " + std::to_string(code) + ")";
    return Error{ErrorKind::System, static_cast<std::uint32_t>(code), std::move(message)};
}
#else
Error ResolveError(std::string_view context, int code) {
    return SocketCallError(context, "getaddrinfo", code);
}
#endif

}  // namespace

Socket::Socket(NativeSocket handle, std::string peer) : handle_(handle), peer_(std::move(peer)) {}

Socket::~Socket() {
    // Nobody is left to tell about a failure here; callers who care call Close() first.
    (void)Close();
}

Socket::Socket(Socket&& other) noexcept
    : handle_(std::exchange(other.handle_, INVALID_NATIVE_SOCKET)), peer_(std::move(other.peer_)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        (void)Close();
        handle_ = std::exchange(other.handle_, INVALID_NATIVE_SOCKET);
        peer_ = std::move(other.peer_);
    }
    return *this;
}

Result<Socket> Socket::Connect(std::string_view host, std::uint16_t port) {
    const std::string peer = std::string(host) + ":" + std::to_string(port);
    const std::string context = "connect to " + peer;
    if (auto started = detail::EnsureNetworkStarted(); !started.ok()) return started.error();

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* addresses = nullptr;
    const std::string hostText(host);
    const std::string portText = std::to_string(port);
    if (const int code = getaddrinfo(hostText.c_str(), portText.c_str(), &hints, &addresses); code != 0) {
        return ResolveError(context, code);
    }

    Error last{ErrorKind::System, 0, context + ": the name resolved to no address"};
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const auto handle = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (handle == detail::INVALID_SYSTEM_SOCKET) {
            last = SocketCallError(context, "socket", LastSocketError());
            continue;
        }
        Socket connection(static_cast<NativeSocket>(handle), peer);
        if (connect(handle, address->ai_addr, static_cast<detail::SocketLength>(address->ai_addrlen)) != 0) {
            last = SocketCallError(context, "connect", LastSocketError());
            continue;
        }
        if (auto noDelay = connection.SetNoDelay(); !noDelay.ok()) {
            last = noDelay.error();
            continue;
        }
        freeaddrinfo(addresses);
        return connection;
    }
    freeaddrinfo(addresses);
    return last;
}

Result<void> Socket::SetNoDelay() {
    const int on = 1;
    if (setsockopt(ToSystem(handle_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        return SocketCallError("configuring the connection to " + peer_, "setsockopt(TCP_NODELAY)", LastSocketError());
    }
    return {};
}

Result<void> Socket::SetTimeout(std::chrono::milliseconds timeout) {
#ifdef _WIN32
    const DWORD value = static_cast<DWORD>(timeout.count());
#else
    timeval value{};
    value.tv_sec = static_cast<decltype(value.tv_sec)>(timeout.count() / 1000);
    value.tv_usec = static_cast<decltype(value.tv_usec)>(timeout.count() % 1000 * 1000);
#endif
    const auto* raw = reinterpret_cast<const char*>(&value);
    const std::string context = "configuring the connection to " + peer_;
    if (setsockopt(ToSystem(handle_), SOL_SOCKET, SO_RCVTIMEO, raw, sizeof value) != 0) {
        return SocketCallError(context, "setsockopt(SO_RCVTIMEO)", LastSocketError());
    }
    if (setsockopt(ToSystem(handle_), SOL_SOCKET, SO_SNDTIMEO, raw, sizeof value) != 0) {
        return SocketCallError(context, "setsockopt(SO_SNDTIMEO)", LastSocketError());
    }
    return {};
}

Result<std::size_t> Socket::SendSome(std::span<const std::uint8_t> bytes) {
    if (!IsOpen()) return Error{ErrorKind::Usage, 0, "sending: the connection is closed"};
    for (;;) {
        const auto sent = send(ToSystem(handle_), reinterpret_cast<const char*>(bytes.data()),
                               PieceLength(bytes.size()), detail::SEND_FLAGS);
        if (sent >= 0) return static_cast<std::size_t>(sent);
        const int code = LastSocketError();
        if (!detail::Interrupted(code)) return SocketCallError("sending to " + peer_, "send", code);
    }
}

Result<void> Socket::SendAll(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        auto sent = SendSome(bytes);
        if (!sent.ok()) return sent.error();
        bytes = bytes.subspan(sent.value());
    }
    return {};
}

Result<std::size_t> Socket::ReceiveSome(std::span<std::uint8_t> bytes) {
    if (!IsOpen()) return Error{ErrorKind::Usage, 0, "receiving: the connection is closed"};
    for (;;) {
        const auto received =
            recv(ToSystem(handle_), reinterpret_cast<char*>(bytes.data()), PieceLength(bytes.size()), 0);
        if (received >= 0) return static_cast<std::size_t>(received);
        const int code = LastSocketError();
        if (!detail::Interrupted(code)) return SocketCallError("receiving from " + peer_, "recv", code);
    }
}

Result<void> Socket::ReceiveExact(std::span<std::uint8_t> bytes) {
    const std::size_t wanted = bytes.size();
    while (!bytes.empty()) {
        auto received = ReceiveSome(bytes);
        if (!received.ok()) return received.error();
        if (received.value() == 0) {
            return Error{ErrorKind::Closed, 0,
                         "receiving from " + peer_ + ": the connection was closed after " +
                             std::to_string(wanted - bytes.size()) + " of " + std::to_string(wanted) + " bytes"};
        }
        bytes = bytes.subspan(received.value());
    }
    return {};
}

Result<bool> Socket::WaitReadable(std::chrono::milliseconds timeout) {
    if (!IsOpen()) return Error{ErrorKind::Usage, 0, "waiting for data: the connection is closed"};
#ifdef _WIN32
    const char* call = "select";
#else
    // poll(), not select(): select() cannot watch a descriptor numbered FD_SETSIZE or above.
    const char* call = "poll";
#endif
    for (;;) {
#ifdef _WIN32
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(ToSystem(handle_), &readable);
        timeval limit{};
        limit.tv_sec = static_cast<long>(timeout.count() / 1000);
        limit.tv_usec = static_cast<long>(timeout.count() % 1000 * 1000);
        const int ready = select(0, &readable, nullptr, nullptr, &limit);
#else
        pollfd watched{};
        watched.fd = handle_;
        watched.events = POLLIN;
        const int ready = poll(&watched, 1, static_cast<int>(timeout.count()));
#endif
        if (ready >= 0) return ready > 0;
        const int code = LastSocketError();
        if (!detail::Interrupted(code)) return SocketCallError("waiting for data from " + peer_, call, code);
    }
}

Result<void> Socket::Shutdown() {
    if (shutdown(ToSystem(handle_), detail::SHUTDOWN_BOTH) != 0) {
        return SocketCallError("shutting down the connection to " + peer_, "shutdown", LastSocketError());
    }
    return {};
}

Result<void> Socket::Close() {
    if (!IsOpen()) return {};
    int code = 0;
    const bool closed = detail::CloseNativeSocket(std::exchange(handle_, INVALID_NATIVE_SOCKET), code);
    if (!closed) return SocketCallError("closing the connection to " + peer_, "close", code);
    return {};
}

Result<void> Socket::CloseWithReset() {
    if (!IsOpen()) return {};
    linger abort{};
    abort.l_onoff = 1;
    abort.l_linger = 0;
    if (setsockopt(ToSystem(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort) !=
        0) {
        const int code = LastSocketError();
        (void)Close();
        return SocketCallError("resetting the connection to " + peer_, "setsockopt(SO_LINGER)", code);
    }
    return Close();
}

}  // namespace varnox::client
