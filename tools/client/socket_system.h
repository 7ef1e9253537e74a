#pragma once
// The platform's socket headers and the few helpers that differ between Winsock and
// POSIX. Only the socket layer's own .cpp files include this.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <string>
#include <string_view>

#include "result.h"
#include "socket.h"

namespace varnox::client::detail {

#ifdef _WIN32
using SocketLength = int;
inline constexpr int SEND_FLAGS = 0;
inline constexpr int SHUTDOWN_BOTH = SD_BOTH;
using SystemSocket = SOCKET;
inline constexpr SystemSocket INVALID_SYSTEM_SOCKET = INVALID_SOCKET;
inline SOCKET ToSystem(NativeSocket socket) {
    return static_cast<SOCKET>(socket);
}
#else
using SocketLength = socklen_t;
// A peer that went away must show up as an error, not as a SIGPIPE that ends the program.
inline constexpr int SEND_FLAGS = MSG_NOSIGNAL;
inline constexpr int SHUTDOWN_BOTH = SHUT_RDWR;
using SystemSocket = int;
inline constexpr SystemSocket INVALID_SYSTEM_SOCKET = -1;
inline int ToSystem(NativeSocket socket) {
    return socket;
}
#endif

// Winsock must be started once per process before any other socket call.
Result<void> EnsureNetworkStarted();

// errno, or WSAGetLastError().
int LastSocketError();

// True when the last call was interrupted by a signal and should simply be repeated.
bool Interrupted(int code);

// The system's text for an error code.
std::string SystemErrorText(int code);

// "<context>: <call>() failed: <text> (error <code>)".
Error SocketCallError(std::string_view context, const char* call, int code);

// Closes a handle; false with the error in `code` when the system refused.
bool CloseNativeSocket(NativeSocket socket, int& code);

}  // namespace varnox::client::detail
