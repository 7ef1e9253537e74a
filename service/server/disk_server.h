#pragma once
// The engine of one share: listens on the share's port and runs the block protocol on
// every connection with overlapped socket and disk I/O, socket completions on one port
// and disk completions on another, each served by its own pool of workers.

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "address_map.h"
#include "connection_cycle.h"
#include "disk_source.h"
#include "request_rules.h"

namespace varnox {

class DiskServer;

// Admission: non-zero admits and sets *access; 0 refuses.
using AccessQueryHook = int (*)(DiskServer* server, std::uint32_t address, std::uint32_t* access);
using ClientDisconnectedHook = int (*)(DiskServer* server, std::uint32_t address);
// identity: 1 when the Password credential matched, 0 for ManagePassword.
using ClientConnectedHook = void (*)(DiskServer* server, std::uint32_t address, std::uint32_t identity);

// The settings the engine uses of a share.
struct ShareSettings {
    std::string source;
    std::uint16_t port = 0;
    ShareCredentials credentials;
};

inline constexpr std::uint32_t MAX_WORKERS = 16;

// Twice the processors, at most MAX_WORKERS, of each kind.
inline std::uint32_t WorkerCountFor(std::uint32_t processors) {
    return processors * 2 > MAX_WORKERS ? MAX_WORKERS : processors * 2;
}

struct PerIoContext {
    WSAOVERLAPPED overlapped;
    WSABUF bufferDescriptor;
    alignas(16) std::uint8_t buffer[CONNECTION_BUFFER_SIZE];
};

struct PerSocketContext {
    SOCKET socket;
    std::uint32_t clientAddress;
    std::uint32_t diskMode;
    std::uint32_t access;
    OVERLAPPED diskOverlapped;
    // Right behind the disk record: a disk completion yields only the record, and finds
    // its connection here.
    PerSocketContext* owner;
    PerIoContext* io;
    // The value the address map knows this connection by, kept after the socket closes.
    SOCKET admittedSocket;
    // Operations issued whose completions have not been taken off a port yet; the
    // records are freed only when this is 0.
    std::atomic<int> outstanding;
    // The connection holds one reference and a thread inside a ReadFile, WriteFile,
    // WSARecv or WSASend call another: the completion may be handled, and the connection
    // closed, before the call has returned and let go of the records.
    std::atomic<int> references;
    ConnectionCycle* cycle;
    alignas(ConnectionCycle) std::uint8_t cycleStorage[sizeof(ConnectionCycle)];
};

class DiskServer {
public:
    explicit DiskServer(const ShareSettings& settings);
    ~DiskServer();
    DiskServer(const DiskServer&) = delete;
    DiskServer& operator=(const DiskServer&) = delete;

    // The server loop; returns -1 when the source is not ready, the sockets layer's
    // error when it cannot start, else 0 once the server has ended.
    int RunServer();

    // Makes a running server end; call it with neither the server lock nor the
    // configuration lock held. Returns 0.
    int StopEngine();

    void SetHooks(AccessQueryHook accessQuery, ClientDisconnectedHook clientDisconnected,
                  ClientConnectedHook clientConnected);

    void CloseClient(PerSocketContext* context, bool graceful);

    const DiskSource& Source() const { return source_; }
    const ShareSettings& Settings() const { return settings_; }
    std::uint32_t WorkerCount() const { return workerCount_; }
    // Connections that exist now (for tests and diagnostics).
    std::size_t ConnectionCount();
    std::size_t AddressEntryCount();

private:
    static DWORD WINAPI NetworkWorkerMain(LPVOID self);
    static DWORD WINAPI DiskWorkerMain(LPVOID self);
    void NetworkWorker();
    void DiskWorker();

    bool CreateListenSocket();
    void AcceptLoop();
    void ShutDown();
    bool StartConnection(SOCKET socket, std::uint32_t address, std::uint32_t access);
    void Carry(PerSocketContext* context, Action action, const char* receiveFailure = "WSARecv() failed: %d\n");
    void FreeContext(PerSocketContext* context);
    void Release(PerSocketContext* context);
    void WaitForWorkers(HANDLE (&workers)[MAX_WORKERS], DWORD timeout, bool closeAfter);
    void CloseAllConnections();
    void DrainAndFreeContexts();

    AddressMap addressMap_;
    char portText_[12] = {};
    std::atomic<int> stopFlag_{0};
    std::uint32_t workerCount_ = 0;
    HANDLE networkPort_ = nullptr;
    HANDLE diskPort_ = nullptr;
    SOCKET m_sdListen = INVALID_SOCKET;
    std::atomic<SOCKET> pendingAccepted_{INVALID_SOCKET};
    DiskSource source_;
    HANDLE networkWorkers_[MAX_WORKERS];
    HANDLE diskWorkers_[MAX_WORKERS];
    CRITICAL_SECTION lock_;
    std::atomic<AccessQueryHook> accessQuery_{nullptr};
    std::atomic<ClientDisconnectedHook> clientDisconnected_{nullptr};
    std::atomic<ClientConnectedHook> clientConnected_{nullptr};
    ShareSettings settings_;
    std::set<PerSocketContext*> contexts_;
    // Guards the worker handle tables: the server thread's shut-down closes them while
    // StopEngine may be waiting, so nobody waits on a closed handle.
    std::mutex workerHandlesMutex_;
    bool sendBufferZero_ = true;
    bool socketsStarted_ = false;
};

// True when the process runs under Wine (ntdll exports wine_get_version).
bool RunningUnderWine();

}  // namespace varnox
