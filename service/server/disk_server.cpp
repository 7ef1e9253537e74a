#include "disk_server.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <new>
#include <vector>

#include "log_line.h"

namespace varnox {

namespace {

constexpr DWORD kShutDownWaitMs = 1000;
// How long the final clean-up waits for operations of closed connections to come back.
constexpr DWORD kDrainWaitMs = 2000;

std::uint32_t ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

static_assert(offsetof(PerSocketContext, owner) == offsetof(PerSocketContext, diskOverlapped) + sizeof(OVERLAPPED),
              "a disk completion finds its connection right behind the overlapped record");

PerSocketContext* OwnerOf(OVERLAPPED* diskOverlapped) {
    return *reinterpret_cast<PerSocketContext**>(diskOverlapped + 1);
}

void SetKeepAlive(SOCKET socket) {
    BOOL on = TRUE;
    if (setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) != 0) return;
    tcp_keepalive values = {};
    values.onoff = 1;
    values.keepalivetime = 5000;
    values.keepaliveinterval = 1;
    DWORD returned = 0;
    WSAIoctl(socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
}

// Benchmarks set VARNOX_SNDBUF_ZERO=1 to get the Windows send-buffer setting under Wine
// too, and so measure what it costs there.
bool ZeroSendBufferForced() {
    char value[2] = {};
    return GetEnvironmentVariableA("VARNOX_SNDBUF_ZERO", value, sizeof value) == 1 && value[0] == '1';
}

}  // namespace

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

DiskServer::DiskServer(const ShareSettings& settings) : settings_(settings) {
    std::snprintf(portText_, sizeof portText_, "%u", static_cast<unsigned>(settings_.port));
    for (std::uint32_t i = 0; i < MAX_WORKERS; ++i) networkWorkers_[i] = diskWorkers_[i] = INVALID_HANDLE_VALUE;
    InitializeCriticalSection(&lock_);
    source_ = OpenSource(settings_.source);
    // A zero send buffer lets sends go straight from our buffer on Windows; Wine maps it
    // to the host's minimum buffer instead, which stalls every large response.
    sendBufferZero_ = !RunningUnderWine() || ZeroSendBufferForced();
}

DiskServer::~DiskServer() {
    {
        std::lock_guard<std::mutex> guard(workerHandlesMutex_);
        for (HANDLE* table : {networkWorkers_, diskWorkers_}) {
            for (std::uint32_t i = 0; i < MAX_WORKERS; ++i) {
                if (table[i] == INVALID_HANDLE_VALUE) continue;
                WaitForSingleObject(table[i], INFINITE);
                CloseHandle(table[i]);
                table[i] = INVALID_HANDLE_VALUE;
            }
        }
    }
    DrainAndFreeContexts();
    if (networkPort_ != nullptr) CloseHandle(networkPort_);
    if (diskPort_ != nullptr) CloseHandle(diskPort_);
    CloseSource(source_);
    DeleteCriticalSection(&lock_);
    addressMap_.Clear();
}

void DiskServer::SetHooks(AccessQueryHook accessQuery, ClientDisconnectedHook clientDisconnected,
                          ClientConnectedHook clientConnected) {
    accessQuery_ = accessQuery;
    clientDisconnected_ = clientDisconnected;
    clientConnected_ = clientConnected;
}

std::size_t DiskServer::ConnectionCount() {
    EnterCriticalSection(&lock_);
    const std::size_t n = contexts_.size();
    LeaveCriticalSection(&lock_);
    return n;
}

std::size_t DiskServer::AddressEntryCount() {
    EnterCriticalSection(&lock_);
    const std::size_t n = addressMap_.EntryCount();
    LeaveCriticalSection(&lock_);
    return n;
}

int DiskServer::RunServer() {
    if (!source_.ready) return -1;
    workerCount_ = WorkerCountFor(ProcessorCount());

    WSADATA data;
    if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) return error;
    socketsStarted_ = true;

    stopFlag_ = 0;
    networkPort_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    diskPort_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    if (networkPort_ == nullptr || diskPort_ == nullptr) {
        LogLine("CreateIoCompletionPort() failed: %lu\n", GetLastError());
        ShutDown();
        return 0;
    }

    {
        std::lock_guard<std::mutex> guard(workerHandlesMutex_);
        for (std::uint32_t i = 0; i < workerCount_; ++i) {
            networkWorkers_[i] = CreateThread(nullptr, 0, NetworkWorkerMain, this, 0, nullptr);
            if (networkWorkers_[i] == nullptr) networkWorkers_[i] = INVALID_HANDLE_VALUE;
            diskWorkers_[i] = CreateThread(nullptr, 0, DiskWorkerMain, this, 0, nullptr);
            if (diskWorkers_[i] == nullptr) diskWorkers_[i] = INVALID_HANDLE_VALUE;
            if (networkWorkers_[i] == INVALID_HANDLE_VALUE || diskWorkers_[i] == INVALID_HANDLE_VALUE) {
                LogLine("CreateThread() failed: %lu\n", GetLastError());
                break;
            }
        }
    }
    if (networkWorkers_[workerCount_ - 1] == INVALID_HANDLE_VALUE ||
        diskWorkers_[workerCount_ - 1] == INVALID_HANDLE_VALUE) {
        ShutDown();
        return 0;
    }

    if (CreateIoCompletionPort(source_.handle, diskPort_, 0, 0) == nullptr) {
        LogLine("CreateIoCompletionPort() File failed: %lu %X %X \n", GetLastError(), 0u,
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(source_.handle)));
        // No disk operation of this share could ever complete: do not pretend to serve.
        ShutDown();
        return 0;
    }

    if (CreateListenSocket()) AcceptLoop();
    ShutDown();
    return 0;
}

bool DiskServer::CreateListenSocket() {
    addrinfo hints = {};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(nullptr, portText_, &hints, &result) != 0) {
        LogLine("getaddrinfo() failed with error %d\n", WSAGetLastError());
        return false;
    }
    if (result == nullptr) {
        LogLine("getaddrinfo() failed to resolve/convert the interface\n");
        return false;
    }
    bool ok = false;
    // Not inheritable: a process started meanwhile (a console, a helper) would otherwise
    // hold the listening socket open, and closing it would no longer end the accept loop.
    m_sdListen = WSASocketA(result->ai_family, result->ai_socktype, result->ai_protocol, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (m_sdListen == INVALID_SOCKET) {
        LogLine("WSASocket(m_sdListen) failed: %d\n", WSAGetLastError());
    } else if (bind(m_sdListen, result->ai_addr, static_cast<int>(result->ai_addrlen)) == SOCKET_ERROR) {
        LogLine("bind() failed: %d\n", WSAGetLastError());
    } else if (listen(m_sdListen, 5) == SOCKET_ERROR) {
        LogLine("listen() failed: %d\n", WSAGetLastError());
    } else {
        ok = true;
        if (sendBufferZero_) {
            int zero = 0;
            if (setsockopt(m_sdListen, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&zero), sizeof zero) ==
                SOCKET_ERROR) {
                LogLine("setsockopt(SNDBUF) failed: %d\n", WSAGetLastError());
                ok = false;
            }
        }
    }
    freeaddrinfo(result);
    return ok;
}

void DiskServer::AcceptLoop() {
    for (;;) {
        sockaddr_in address = {};
        int addressLength = sizeof address;
        const SOCKET accepted =
            WSAAccept(m_sdListen, reinterpret_cast<sockaddr*>(&address), &addressLength, nullptr, 0);
        if (accepted == INVALID_SOCKET) return;
        pendingAccepted_ = accepted;
        // Likewise: a connection inherited by another process would outlive its close.
        if (!SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0)) {
            LogLine("SetHandleInformation() failed: %lu\n", GetLastError());
        }
        SetKeepAlive(accepted);
        const std::uint32_t clientAddress = address.sin_addr.s_addr;

        EnterCriticalSection(&lock_);
        std::uint32_t access = ACCESS_FULL;
        if (const AccessQueryHook query = accessQuery_.load(); query != nullptr) {
            if (query(this, clientAddress, &access) == 0) {
                pendingAccepted_ = INVALID_SOCKET;
                closesocket(accepted);
                LeaveCriticalSection(&lock_);
                continue;
            }
        }
        addressMap_.Admit(clientAddress, static_cast<AddressMap::Socket>(accepted));
        LeaveCriticalSection(&lock_);

        if (!StartConnection(accepted, clientAddress, access)) return;
    }
}

bool DiskServer::StartConnection(SOCKET socket, std::uint32_t address, std::uint32_t access) {
    const HANDLE heap = GetProcessHeap();
    auto* context = static_cast<PerSocketContext*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(PerSocketContext)));
    auto* io = static_cast<PerIoContext*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(PerIoContext)));
    if (context == nullptr || io == nullptr) {
        LogLine("HeapAlloc() failed: %lu\n", GetLastError());
        if (context != nullptr) HeapFree(heap, 0, context);
        if (io != nullptr) HeapFree(heap, 0, io);
        return false;
    }
    context->socket = socket;
    context->admittedSocket = socket;
    context->owner = context;
    context->io = io;
    context->references = 1;
    io->bufferDescriptor.len = static_cast<ULONG>(CONNECTION_BUFFER_SIZE);
    io->bufferDescriptor.buf = reinterpret_cast<char*>(io->buffer);

    EnterCriticalSection(&lock_);
    contexts_.insert(context);
    LeaveCriticalSection(&lock_);

    if (CreateIoCompletionPort(reinterpret_cast<HANDLE>(socket), networkPort_, reinterpret_cast<ULONG_PTR>(context),
                               0) == nullptr) {
        LogLine("CreateIoCompletionPort() failed: %lu\n", GetLastError());
        EnterCriticalSection(&lock_);
        contexts_.erase(context);
        LeaveCriticalSection(&lock_);
        HeapFree(heap, 0, io);
        HeapFree(heap, 0, context);
        return false;
    }
    pendingAccepted_ = INVALID_SOCKET;
    if (stopFlag_) return false;

    context->clientAddress = address;
    context->access = access;
    // The socket's low 32 bits tell connections apart in the disk signature.
    const auto signature = static_cast<std::uint32_t>(static_cast<std::uint64_t>(socket));
    context->cycle = new (context->cycleStorage)
        ConnectionCycle(std::span<std::uint8_t, CONNECTION_BUFFER_SIZE>(io->buffer, CONNECTION_BUFFER_SIZE),
                        settings_.credentials, static_cast<std::uint64_t>(source_.size), signature, access);
    Carry(context, context->cycle->Start(), "WSARecv() Failed: %d\n");
    return true;
}

void DiskServer::Carry(PerSocketContext* context, Action action, const char* receiveFailure) {
    PerIoContext* io = context->io;
    for (;;) {
        if (action.connectedIdentity) {
            context->access = context->cycle->Access();
            if (const ClientConnectedHook hook = clientConnected_.load(); hook != nullptr) {
                hook(this, context->clientAddress, *action.connectedIdentity);
            }
        }
        context->access = context->cycle->Access();
        if (action.writeErrorToLog) LogLine("write file error %X\n", *action.writeErrorToLog);

        switch (action.kind) {
            case ActionKind::Receive:
            case ActionKind::Send: {
                ZeroMemory(&io->overlapped, sizeof io->overlapped);
                io->bufferDescriptor.buf = reinterpret_cast<char*>(io->buffer + action.bufferOffset);
                io->bufferDescriptor.len = action.length;
                DWORD bytes = 0;
                DWORD flags = 0;
                const bool receive = action.kind == ActionKind::Receive;
                context->outstanding.fetch_add(1);
                context->references.fetch_add(1);
                const int result =
                    receive
                        ? WSARecv(context->socket, &io->bufferDescriptor, 1, &bytes, &flags, &io->overlapped, nullptr)
                        : WSASend(context->socket, &io->bufferDescriptor, 1, &bytes, 0, &io->overlapped, nullptr);
                if (result == SOCKET_ERROR) {
                    const int error = WSAGetLastError();
                    if (error != WSA_IO_PENDING) {
                        context->outstanding.fetch_sub(1);
                        LogLine(receive ? receiveFailure : "WSASend() failed: %d\n", error);
                        CloseClient(context, false);
                    }
                }
                Release(context);
                return;
            }
            case ActionKind::ReadDisk:
            case ActionKind::WriteDisk: {
                ZeroMemory(&context->diskOverlapped, sizeof context->diskOverlapped);
                context->diskOverlapped.Offset = static_cast<DWORD>(action.diskOffset);
                context->diskOverlapped.OffsetHigh = static_cast<DWORD>(action.diskOffset >> 32);
                const bool read = action.kind == ActionKind::ReadDisk;
                context->diskMode = read ? 0 : 1;
                context->outstanding.fetch_add(1);
                context->references.fetch_add(1);
                std::uint8_t* at = io->buffer + action.bufferOffset;
                const BOOL started =
                    read ? ReadFile(source_.handle, at, action.length, nullptr, &context->diskOverlapped)
                         : WriteFile(source_.handle, at, action.length, nullptr, &context->diskOverlapped);
                const DWORD error = started ? ERROR_SUCCESS : GetLastError();
                if (started || error == ERROR_IO_PENDING) {
                    Release(context);
                    return;
                }
                // Not started: no completion will come, and this thread still owns the connection.
                context->references.fetch_sub(1);
                context->outstanding.fetch_sub(1);
                action = context->cycle->OnDiskStartFailed(error);
                continue;
            }
            case ActionKind::Close:
                CloseClient(context, false);
                return;
        }
    }
}

DWORD WINAPI DiskServer::NetworkWorkerMain(LPVOID self) {
    static_cast<DiskServer*>(self)->NetworkWorker();
    return 0;
}

DWORD WINAPI DiskServer::DiskWorkerMain(LPVOID self) {
    static_cast<DiskServer*>(self)->DiskWorker();
    return 0;
}

void DiskServer::NetworkWorker() {
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(networkPort_, &bytes, &key, &overlapped, INFINITE);
        auto* context = reinterpret_cast<PerSocketContext*>(key);
        // Count the completion as taken before anything else, so that the final clean-up
        // knows these records are no longer written to.
        if (context != nullptr && overlapped != nullptr) context->outstanding.fetch_sub(1);
        if (key == 0 || stopFlag_) return;
        if (overlapped == nullptr) continue;  // the port itself failed; nothing was dequeued
        if (!ok || bytes == 0) {
            CloseClient(context, false);
            continue;
        }
        Carry(context, context->cycle->OnNetworkCompleted(true, bytes));
    }
}

void DiskServer::DiskWorker() {
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(diskPort_, &bytes, &key, &overlapped, INFINITE);
        PerSocketContext* context = overlapped != nullptr ? OwnerOf(overlapped) : nullptr;
        if (context != nullptr) context->outstanding.fetch_sub(1);
        if (stopFlag_) return;
        if (context == nullptr) continue;
        Carry(context, context->cycle->OnDiskCompleted(ok != FALSE, bytes));
    }
}

void DiskServer::CloseClient(PerSocketContext* context, bool graceful) {
    EnterCriticalSection(&lock_);
    if (context == nullptr) {
        LogLine("CloseClient: lpPerSocketContext is NULL\n");
        LeaveCriticalSection(&lock_);
        return;
    }
    if (!graceful && context->socket != INVALID_SOCKET) {
        linger reset = {1, 0};
        setsockopt(context->socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
    }
    if (const auto address = addressMap_.Close(static_cast<AddressMap::Socket>(context->admittedSocket))) {
        if (const ClientDisconnectedHook hook = clientDisconnected_.load(); hook != nullptr) hook(this, *address);
    }
    if (context->socket != INVALID_SOCKET) closesocket(context->socket);
    context->socket = INVALID_SOCKET;
    contexts_.erase(context);
    LeaveCriticalSection(&lock_);
    Release(context);
}

void DiskServer::Release(PerSocketContext* context) {
    if (context->references.fetch_sub(1) == 1) FreeContext(context);
}

void DiskServer::FreeContext(PerSocketContext* context) {
    const HANDLE heap = GetProcessHeap();
    HeapFree(heap, 0, context->io);
    HeapFree(heap, 0, context);
}

void DiskServer::CloseAllConnections() {
    EnterCriticalSection(&lock_);
    // Every connection that exists, not only those the address map still lists: a second
    // connection from an address whose entry is gone must not outlive its server.
    for (PerSocketContext* context : contexts_) {
        if (context->socket == INVALID_SOCKET) continue;
        linger reset = {1, 0};
        setsockopt(context->socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
        closesocket(context->socket);
        context->socket = INVALID_SOCKET;
    }
    LeaveCriticalSection(&lock_);
}

int DiskServer::StopEngine() {
    if (m_sdListen != INVALID_SOCKET) closesocket(m_sdListen);
    CloseAllConnections();
    stopFlag_ = 1;
    if (networkPort_ != nullptr) PostQueuedCompletionStatus(networkPort_, 0, 0, nullptr);
    if (diskPort_ != nullptr) PostQueuedCompletionStatus(diskPort_, 0, 0, nullptr);

    // Wait on duplicates: the server thread's shut-down may close the originals meanwhile.
    std::vector<HANDLE> waits;
    {
        std::lock_guard<std::mutex> guard(workerHandlesMutex_);
        for (HANDLE* table : {networkWorkers_, diskWorkers_}) {
            for (std::uint32_t i = 0; i < MAX_WORKERS; ++i) {
                HANDLE copy = nullptr;
                if (table[i] != INVALID_HANDLE_VALUE &&
                    DuplicateHandle(GetCurrentProcess(), table[i], GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0)) {
                    waits.push_back(copy);
                }
            }
        }
    }
    for (HANDLE worker : waits) {
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
    return 0;
}

void DiskServer::WaitForWorkers(HANDLE (&workers)[MAX_WORKERS], DWORD timeout, bool closeAfter) {
    std::lock_guard<std::mutex> guard(workerHandlesMutex_);
    HANDLE valid[MAX_WORKERS];
    DWORD count = 0;
    for (HANDLE worker : workers) {
        if (worker != INVALID_HANDLE_VALUE) valid[count++] = worker;
    }
    if (count == 0) return;
    const DWORD result = WaitForMultipleObjects(count, valid, TRUE, timeout);
    if (result == WAIT_FAILED || result == WAIT_TIMEOUT) {
        LogLine("WaitForMultipleObjects() failed: %lu\n", result == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
        return;
    }
    if (!closeAfter) return;
    for (HANDLE& worker : workers) {
        if (worker == INVALID_HANDLE_VALUE) continue;
        CloseHandle(worker);
        worker = INVALID_HANDLE_VALUE;
    }
}

void DiskServer::ShutDown() {
    stopFlag_ = 1;
    if (networkPort_ != nullptr && diskPort_ != nullptr) {
        for (std::uint32_t i = 0; i < workerCount_; ++i) {
            PostQueuedCompletionStatus(networkPort_, 0, 0, nullptr);
            PostQueuedCompletionStatus(diskPort_, 0, 0, nullptr);
        }
    }
    WaitForWorkers(networkWorkers_, kShutDownWaitMs, true);
    WaitForWorkers(diskWorkers_, kShutDownWaitMs, true);

    if (m_sdListen != INVALID_SOCKET) closesocket(m_sdListen);
    m_sdListen = INVALID_SOCKET;
    if (const SOCKET pending = pendingAccepted_.exchange(INVALID_SOCKET); pending != INVALID_SOCKET) {
        closesocket(pending);
    }
    // The ports stay open until destruction: completions of connections that are still
    // open must be taken off them before the connections' records may be freed.
    CloseAllConnections();
    if (socketsStarted_) WSACleanup();
    socketsStarted_ = false;
}

void DiskServer::DrainAndFreeContexts() {
    // Workers have ended. Every remaining connection's socket is closed, so its pending
    // receive or send completes soon; a disk operation completes by itself. Take those
    // completions off the ports, then free what nothing can touch any more.
    const ULONGLONG deadline = GetTickCount64() + kDrainWaitMs;
    auto anyOutstanding = [this] {
        for (PerSocketContext* context : contexts_) {
            if (context->outstanding.load() > 0) return true;
        }
        return false;
    };
    CloseAllConnections();
    while (anyOutstanding() && GetTickCount64() < deadline) {
        for (HANDLE port : {networkPort_, diskPort_}) {
            if (port == nullptr) continue;
            DWORD bytes = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* overlapped = nullptr;
            GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, 10);
            if (overlapped == nullptr) continue;
            PerSocketContext* context =
                port == networkPort_ ? reinterpret_cast<PerSocketContext*>(key) : OwnerOf(overlapped);
            if (contexts_.count(context) != 0) context->outstanding.fetch_sub(1);
        }
    }
    for (auto it = contexts_.begin(); it != contexts_.end();) {
        if ((*it)->outstanding.load() > 0) {
            // An operation that never came back may still write into these records:
            // leaking them is the only safe choice.
            LogLine("connection records kept: an operation did not complete\n");
            ++it;
            continue;
        }
        FreeContext(*it);
        it = contexts_.erase(it);
    }
}

}  // namespace varnox
