// varnox_bare_loop: the ceiling the engine is measured against. Per request it makes the
// same platform calls the engine makes (a receive of the 32-byte header, for a write
// also of its data, one overlapped read or write of the image straight into or out of
// the connection's buffer, one send of the answer), on two completion ports with the
// same number of workers, but with no protocol logic at all: no checks, no access
// levels, no continuation of short transfers, no disk signature. With --memory the disk
// step goes too: the answer is sent from the buffer as it is, a memory-only ping-pong.
//
// It answers just enough of the protocol for varnox-disk bench to drive it: reads,
// writes, and the disk information.

#include <winsock2.h>
// After winsock2.h, or windows.h brings in the old winsock.h.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bench_options.h"
#include "protocol.h"
#include "serving.h"
#include "temp_image.h"

namespace {

using namespace varnox;

constexpr std::uint32_t MAX_WORKERS = 16;

struct Connection {
    SOCKET socket = INVALID_SOCKET;
    WSAOVERLAPPED network{};
    OVERLAPPED disk{};
    WSABUF piece{};
    std::uint32_t received = 0;
    std::uint32_t sent = 0;
    std::uint32_t toSend = 0;
    bool sending = false;
    RequestHeader request{};
    alignas(16) std::uint8_t buffer[CONNECTION_BUFFER_SIZE];
};

class BareLoop {
public:
    explicit BareLoop(const bench::ServerOptions& options) : options_(options) {}

    // Empty on success, else the failed call and its code.
    std::string Start(const std::string& imagePath, std::uint16_t port);
    void Stop();

private:
    static DWORD WINAPI NetworkMain(LPVOID self);
    static DWORD WINAPI DiskMain(LPVOID self);
    static DWORD WINAPI AcceptMain(LPVOID self);
    void NetworkWorker();
    void DiskWorker();
    void AcceptLoop();

    void Receive(Connection* c, std::uint32_t at, std::uint32_t length);
    void Send(Connection* c);
    void OnReceived(Connection* c);
    void Answer(Connection* c, std::uint16_t status, std::uint32_t count, std::uint32_t dataLength);
    void Close(Connection* c);

    const bench::ServerOptions options_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE networkPort_ = nullptr;
    HANDLE diskPort_ = nullptr;
    SOCKET listen_ = INVALID_SOCKET;
    std::vector<HANDLE> threads_;
    std::uint32_t workers_ = 0;
    std::atomic<bool> stop_{false};
};

std::string Failed(const char* call, unsigned long code) {
    return std::string(call) + "() failed: " + std::to_string(code);
}

std::string BareLoop::Start(const std::string& imagePath, std::uint16_t port) {
    if (!options_.memoryOnly) {
        // As the engine opens an image.
        file_ = CreateFileA(imagePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) return Failed("CreateFileA", GetLastError());
    }
    networkPort_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    diskPort_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    if (networkPort_ == nullptr || diskPort_ == nullptr) return Failed("CreateIoCompletionPort", GetLastError());
    if (file_ != INVALID_HANDLE_VALUE && CreateIoCompletionPort(file_, diskPort_, 0, 0) == nullptr) {
        return Failed("CreateIoCompletionPort(file)", GetLastError());
    }

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    workers_ = system.dwNumberOfProcessors * 2 > MAX_WORKERS ? MAX_WORKERS : system.dwNumberOfProcessors * 2;
    for (std::uint32_t i = 0; i < workers_; ++i) {
        for (LPTHREAD_START_ROUTINE routine : {NetworkMain, DiskMain}) {
            const HANDLE thread = CreateThread(nullptr, 0, routine, this, 0, nullptr);
            if (thread == nullptr) return Failed("CreateThread", GetLastError());
            threads_.push_back(thread);
        }
    }

    listen_ = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (listen_ == INVALID_SOCKET) return Failed("WSASocketA", static_cast<unsigned long>(WSAGetLastError()));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return Failed("bind", static_cast<unsigned long>(WSAGetLastError()));
    }
    if (listen(listen_, 5) != 0) return Failed("listen", static_cast<unsigned long>(WSAGetLastError()));
    if (options_.zeroSendBuffer) {
        int zero = 0;
        if (setsockopt(listen_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&zero), sizeof zero) != 0) {
            return Failed("setsockopt(SO_SNDBUF)", static_cast<unsigned long>(WSAGetLastError()));
        }
    }
    const HANDLE acceptor = CreateThread(nullptr, 0, AcceptMain, this, 0, nullptr);
    if (acceptor == nullptr) return Failed("CreateThread", GetLastError());
    threads_.push_back(acceptor);
    return {};
}

void BareLoop::Stop() {
    stop_ = true;
    if (listen_ != INVALID_SOCKET) closesocket(listen_);
    for (std::uint32_t i = 0; i < workers_; ++i) {
        if (networkPort_ != nullptr) PostQueuedCompletionStatus(networkPort_, 0, 0, nullptr);
        if (diskPort_ != nullptr) PostQueuedCompletionStatus(diskPort_, 0, 0, nullptr);
    }
    if (!threads_.empty()) {
        const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(threads_.size()), threads_.data(), TRUE, 2000);
        if (waited == WAIT_FAILED || waited == WAIT_TIMEOUT) {
            std::fprintf(stderr, "WaitForMultipleObjects() failed: %lu\n",
                         waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
        }
    }
    for (HANDLE thread : threads_) CloseHandle(thread);
    // Connections still open go with the process; their records are never touched again.
    if (file_ != INVALID_HANDLE_VALUE && !CloseHandle(file_)) {
        std::fprintf(stderr, "CloseHandle(image) failed: %lu\n", GetLastError());
    }
}

DWORD WINAPI BareLoop::NetworkMain(LPVOID self) {
    static_cast<BareLoop*>(self)->NetworkWorker();
    return 0;
}

DWORD WINAPI BareLoop::DiskMain(LPVOID self) {
    static_cast<BareLoop*>(self)->DiskWorker();
    return 0;
}

DWORD WINAPI BareLoop::AcceptMain(LPVOID self) {
    static_cast<BareLoop*>(self)->AcceptLoop();
    return 0;
}

void BareLoop::AcceptLoop() {
    for (;;) {
        const SOCKET accepted = WSAAccept(listen_, nullptr, nullptr, nullptr, 0);
        if (accepted == INVALID_SOCKET) {
            if (!stop_) std::fprintf(stderr, "WSAAccept() failed: %d\n", WSAGetLastError());
            return;
        }
        auto* c = new (std::nothrow) Connection;
        if (c == nullptr) {
            std::fprintf(stderr, "out of memory for a connection\n");
            closesocket(accepted);
            continue;
        }
        c->socket = accepted;
        if (CreateIoCompletionPort(reinterpret_cast<HANDLE>(accepted), networkPort_, reinterpret_cast<ULONG_PTR>(c),
                                   0) == nullptr) {
            std::fprintf(stderr, "CreateIoCompletionPort() failed: %lu\n", GetLastError());
            closesocket(accepted);
            delete c;
            continue;
        }
        Receive(c, 0, static_cast<std::uint32_t>(CONNECTION_BUFFER_SIZE));
    }
}

void BareLoop::Receive(Connection* c, std::uint32_t at, std::uint32_t length) {
    c->sending = false;
    ZeroMemory(&c->network, sizeof c->network);
    c->piece.buf = reinterpret_cast<char*>(c->buffer + at);
    c->piece.len = length;
    DWORD flags = 0;
    if (WSARecv(c->socket, &c->piece, 1, nullptr, &flags, &c->network, nullptr) == SOCKET_ERROR &&
        WSAGetLastError() != WSA_IO_PENDING) {
        std::fprintf(stderr, "WSARecv() failed: %d\n", WSAGetLastError());
        Close(c);
    }
}

void BareLoop::Send(Connection* c) {
    c->sending = true;
    ZeroMemory(&c->network, sizeof c->network);
    c->piece.buf = reinterpret_cast<char*>(c->buffer + c->sent);
    c->piece.len = c->toSend - c->sent;
    if (WSASend(c->socket, &c->piece, 1, nullptr, 0, &c->network, nullptr) == SOCKET_ERROR &&
        WSAGetLastError() != WSA_IO_PENDING) {
        std::fprintf(stderr, "WSASend() failed: %d\n", WSAGetLastError());
        Close(c);
    }
}

void BareLoop::Close(Connection* c) {
    // Strict request and answer: the operation that ended here was the connection's only one.
    if (closesocket(c->socket) != 0) std::fprintf(stderr, "closesocket() failed: %d\n", WSAGetLastError());
    delete c;
}

void BareLoop::Answer(Connection* c, std::uint16_t status, std::uint32_t count, std::uint32_t dataLength) {
    ResponseHeader header{};
    header.status = status;
    header.echo = c->request.echo;
    header.count = count;
    header.dataLength = dataLength;
    std::memcpy(c->buffer, &header, sizeof header);
    c->sent = 0;
    c->toSend = static_cast<std::uint32_t>(RESPONSE_HEADER_SIZE) + dataLength;
    Send(c);
}

void BareLoop::OnReceived(Connection* c) {
    if (c->received < REQUEST_HEADER_SIZE) {
        Receive(c, c->received, static_cast<std::uint32_t>(REQUEST_HEADER_SIZE) - c->received);
        return;
    }
    std::memcpy(&c->request, c->buffer, sizeof c->request);
    const std::uint32_t length = c->request.length;
    // Not protocol logic but the buffer's bounds: nothing may land outside it.
    if ((c->request.opcode == OP_READ || c->request.opcode == OP_WRITE) && length > MAX_TRANSFER_LENGTH) {
        Answer(c, ERR_REQUEST_FAILED, length, 0);
        return;
    }
    const std::uint32_t whole = static_cast<std::uint32_t>(REQUEST_HEADER_SIZE) + length;
    if (c->request.opcode == OP_WRITE && c->received < whole) {
        Receive(c, c->received, whole - c->received);
        return;
    }
    if (c->request.opcode == OP_READ || c->request.opcode == OP_WRITE) {
        const bool read = c->request.opcode == OP_READ;
        if (options_.memoryOnly) {
            Answer(c, STATUS_OK, length, read ? length : 0);
            return;
        }
        ZeroMemory(&c->disk, sizeof c->disk);
        c->disk.Offset = static_cast<DWORD>(c->request.offset);
        c->disk.OffsetHigh = static_cast<DWORD>(c->request.offset >> 32);
        const BOOL started = read ? ReadFile(file_, c->buffer + READ_DATA_OFFSET, length, nullptr, &c->disk)
                                  : WriteFile(file_, c->buffer + WRITE_DATA_OFFSET, length, nullptr, &c->disk);
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            Answer(c, static_cast<std::uint16_t>(GetLastError() & 0xFFFF), 0, 0);
        }
        return;
    }
    if (c->request.opcode == OP_GET_INFO) {
        DiskInfo info{};
        info.access = static_cast<std::uint8_t>(ACCESS_FULL);
        info.size = options_.imageSize;
        std::memcpy(c->buffer + READ_DATA_OFFSET, &info, sizeof info);
        Answer(c, STATUS_OK, sizeof info, sizeof info);
        return;
    }
    Answer(c, STATUS_OK, 0, 0);
}

void BareLoop::NetworkWorker() {
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(networkPort_, &bytes, &key, &overlapped, INFINITE);
        if (key == 0 || stop_) return;
        if (overlapped == nullptr) continue;
        auto* c = reinterpret_cast<Connection*>(key);
        if (!ok || bytes == 0) {
            Close(c);
            continue;
        }
        if (c->sending) {
            c->sent += bytes;
            if (c->sent < c->toSend) {
                Send(c);
            } else {
                c->received = 0;
                Receive(c, 0, static_cast<std::uint32_t>(CONNECTION_BUFFER_SIZE));
            }
        } else {
            c->received += bytes;
            OnReceived(c);
        }
    }
}

void BareLoop::DiskWorker() {
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(diskPort_, &bytes, &key, &overlapped, INFINITE);
        if (stop_) return;
        if (overlapped == nullptr) continue;
        Connection* c = CONTAINING_RECORD(overlapped, Connection, disk);
        const bool read = c->request.opcode == OP_READ;
        if (!ok) {
            Answer(c, ERR_REQUEST_FAILED, 0, 0);
        } else {
            Answer(c, STATUS_OK, c->request.length, read ? bytes : 0);
        }
    }
}

int Serve(const bench::ServerOptions& options) {
    bench::TempImage image;
    const std::uint16_t port = bench::PrepareToServe(options, !options.memoryOnly, image);
    if (port == 0) return 1;
    // Kept for the life of the process: connections still open at the end use it.
    auto* loop = new BareLoop(options);
    if (const std::string error = loop->Start(image.Path(), port); !error.empty()) {
        std::fprintf(stderr, "starting: %s\n", error.c_str());
        loop->Stop();
        return 1;
    }
    if (!bench::WaitUntilAccepting(port, 10000)) {
        std::fprintf(stderr, "no connection accepted on port %u\n", static_cast<unsigned>(port));
        loop->Stop();
        return 1;
    }
    std::printf("ready port %u bare-loop %s sndbuf=%s image=%llu\n", static_cast<unsigned>(port),
                options.memoryOnly ? "memory" : "disk", options.zeroSendBuffer ? "0" : "default",
                static_cast<unsigned long long>(options.imageSize));
    std::fflush(stdout);
    const std::string why = bench::WaitForStop(options.maxSeconds, nullptr);
    loop->Stop();
    std::printf("stopped (%s)\n", why.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return varnox::bench::ServerMain(argc, argv, "varnox_bare_loop", true, Serve);
}
