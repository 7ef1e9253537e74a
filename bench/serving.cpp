#include "serving.h"

#include <ws2tcpip.h>

#include <cstdio>

namespace varnox::bench {

std::uint16_t PrepareToServe(const ServerOptions& options, bool withImage, TempImage& image) {
    WSADATA data;
    if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
        std::fprintf(stderr, "WSAStartup() failed: %d\n", error);
        return 0;
    }
    std::string error;
    std::uint16_t port = options.port;
    if (port == 0) port = FindFreePort(error);
    if (port == 0) {
        std::fprintf(stderr, "finding a free port: %s\n", error.c_str());
        return 0;
    }
    if (withImage) {
        if (error = image.Create(options.imageSize); !error.empty()) {
            std::fprintf(stderr, "creating the image: %s\n", error.c_str());
            return 0;
        }
    }
    return port;
}

namespace {

std::string SocketFailed(const char* call) {
    char text[96];
    std::snprintf(text, sizeof text, "%s() failed: %d", call, WSAGetLastError());
    return text;
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

DWORD WINAPI DrainStandardInput(LPVOID event) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char scratch[256];
    DWORD got = 0;
    // Whatever arrives is ignored; the end of the stream (or a broken pipe) is the signal.
    while (input != nullptr && input != INVALID_HANDLE_VALUE &&
           ReadFile(input, scratch, sizeof scratch, &got, nullptr) && got > 0) {
    }
    SetEvent(static_cast<HANDLE>(event));
    return 0;
}

}  // namespace

std::uint16_t FindFreePort(std::string& error) {
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET) {
        error = SocketFailed("socket");
        return 0;
    }
    sockaddr_in address = Loopback(0);
    int length = sizeof address;
    std::uint16_t port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = SocketFailed("bind");
    } else if (getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = SocketFailed("getsockname");
    } else {
        port = ntohs(address.sin_port);
    }
    if (closesocket(probe) != 0 && error.empty()) {
        error = SocketFailed("closesocket");
        port = 0;
    }
    return port;
}

bool WaitUntilAccepting(std::uint16_t port, DWORD limitMs) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    while (GetTickCount64() < deadline) {
        const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (probe == INVALID_SOCKET) {
            std::fprintf(stderr, "%s\n", SocketFailed("socket").c_str());
            return false;
        }
        sockaddr_in address = Loopback(port);
        const bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        closesocket(probe);
        if (connected) return true;
        Sleep(20);
    }
    return false;
}

std::string WaitForStop(double seconds, HANDLE alsoEnds) {
    const HANDLE inputEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (inputEnded == nullptr) {
        std::fprintf(stderr, "CreateEventA() failed: %lu; serving for the time limit only\n", GetLastError());
    } else {
        const HANDLE reader = CreateThread(nullptr, 0, DrainStandardInput, inputEnded, 0, nullptr);
        if (reader == nullptr) {
            std::fprintf(stderr, "CreateThread() failed: %lu; serving for the time limit only\n", GetLastError());
        } else {
            // The reader may stay blocked in ReadFile; the process ends soon after anyway.
            CloseHandle(reader);
        }
    }
    HANDLE waits[2];
    DWORD count = 0;
    if (inputEnded != nullptr) waits[count++] = inputEnded;
    if (alsoEnds != nullptr) waits[count++] = alsoEnds;
    const auto limit = static_cast<DWORD>(seconds * 1000);
    const DWORD result = count == 0 ? (Sleep(limit), WAIT_TIMEOUT) : WaitForMultipleObjects(count, waits, FALSE, limit);
    std::string why = "time limit";
    if (result == WAIT_FAILED) {
        std::fprintf(stderr, "WaitForMultipleObjects() failed: %lu\n", GetLastError());
    } else if (result < WAIT_OBJECT_0 + count) {
        why = waits[result - WAIT_OBJECT_0] == inputEnded ? "stdin closed" : "server ended";
    }
    // The event stays open: the reader thread may still signal it on its way out.
    return why;
}

}  // namespace varnox::bench
