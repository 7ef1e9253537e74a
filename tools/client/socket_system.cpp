#include "socket_system.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

namespace varnox::client::detail {

#ifdef _WIN32

Result<void> EnsureNetworkStarted() {
    // Never paired with WSACleanup: sockets may live until the process ends.
    static std::once_flag once;
    static int startError = 0;
    std::call_once(once, [] {
        WSADATA data;
        startError = WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (startError != 0) return SocketCallError("starting Winsock", "WSAStartup", startError);
    return {};
}

int LastSocketError() {
    return WSAGetLastError();
}

bool Interrupted(int code) {
    return code == WSAEINTR;
}

std::string SystemErrorText(int code) {
    char text[512];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    if (length == 0) return "Windows error " + std::to_string(code);
    std::string message(text, length);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

bool CloseNativeSocket(NativeSocket socket, int& code) {
    if (closesocket(ToSystem(socket)) == 0) return true;
    code = WSAGetLastError();
    return false;
}

#else

Result<void> EnsureNetworkStarted() {
    return {};
}

int LastSocketError() {
    return errno;
}

bool Interrupted(int code) {
    return code == EINTR;
}

std::string SystemErrorText(int code) {
    return std::generic_category().message(code);
}

bool CloseNativeSocket(NativeSocket socket, int& code) {
    if (::close(socket) == 0) return true;
    code = errno;
    return false;
}

#endif

Error SocketCallError(std::string_view context, const char* call, int code) {
    std::string message(context);
    message += ": ";
    message += call;
    message += "() failed: ";
    message += SystemErrorText(code);
    message += " (error " + std::to_string(code) + ")";
    return Error{ErrorKind::System, static_cast<std::uint32_t>(code), std::move(message)};
}

}  // namespace varnox::client::detail
