#include "fake_block_server.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

namespace varnox::client {

namespace {

std::vector<std::uint8_t> PatternDisk(std::uint64_t size) {
    std::vector<std::uint8_t> disk(static_cast<std::size_t>(size));
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (std::uint8_t& byte : disk) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        byte = static_cast<std::uint8_t>(state >> 56);
    }
    return disk;
}

// The cycle is under test too: never let a wrong action reach outside the buffer.
bool FitsBuffer(const Action& action) {
    return std::uint64_t{action.bufferOffset} + action.length <= CONNECTION_BUFFER_SIZE;
}

Action CloseAction() {
    return Action{};
}

// How often a connection thread waiting for a request looks whether the server stops.
constexpr std::chrono::milliseconds STOP_POLL{20};

}  // namespace

Result<std::unique_ptr<FakeBlockServer>> FakeBlockServer::Start(const FakeServerOptions& options) {
    auto listener = Listener::Listen(options.port);
    if (!listener.ok()) return listener.error();
    std::unique_ptr<FakeBlockServer> server(new FakeBlockServer(options, std::move(listener.value())));
    try {
        server->acceptThread_ = std::thread([raw = server.get()] { raw->AcceptLoop(); });
    } catch (const std::system_error& e) {
        return Error{ErrorKind::System, static_cast<std::uint32_t>(e.code().value()),
                     std::string("starting the fake server's accept thread: ") + e.what()};
    }
    return server;
}

FakeBlockServer::FakeBlockServer(const FakeServerOptions& options, Listener listener)
    : options_(options), port_(listener.Port()), listener_(std::move(listener)), disk_(PatternDisk(options.diskSize)) {}

FakeBlockServer::~FakeBlockServer() {
    Stop();
}

void FakeBlockServer::AcceptLoop() {
    for (;;) {
        auto accepted = listener_.Accept();
        std::lock_guard lock(connectionsMutex_);
        if (stopping_) return;  // whatever was accepted was only the wake-up call
        if (!accepted.ok()) {
            // Without an accept loop, later clients would wait forever in the backlog;
            // refusing them is better.
            (void)listener_.Shutdown();
            return;
        }
        ++accepted_;
        Connection& connection = connections_.emplace_back();
        connection.socket = std::move(accepted.value());
        try {
            connection.thread = std::thread([this, &connection] { Serve(connection); });
        } catch (const std::system_error&) {
            connections_.pop_back();
        }
    }
}

void FakeBlockServer::WakeAcceptLoop() {
    // Connecting is the one way to wake a blocked accept() that works on every system.
    auto wake = Socket::Connect("127.0.0.1", port_);
    if (!wake.ok()) (void)listener_.Shutdown();
}

void FakeBlockServer::Stop() {
    {
        std::lock_guard lock(connectionsMutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    stopRequested_ = true;
    if (acceptThread_.joinable()) {
        WakeAcceptLoop();
        acceptThread_.join();
    }
    (void)listener_.Close();
    {
        std::lock_guard lock(connectionsMutex_);
        for (Connection& connection : connections_) {
            if (!connection.finished) (void)connection.socket.Shutdown();
        }
    }
    // The accept thread is gone, so the list no longer changes shape.
    for (Connection& connection : connections_) {
        if (connection.thread.joinable()) connection.thread.join();
    }
    connections_.clear();
}

void FakeBlockServer::Serve(Connection& connection) {
    // One buffer per connection for its whole life, as the real engine has.
    auto storage = std::make_unique<std::uint8_t[]>(CONNECTION_BUFFER_SIZE);
    const std::span<std::uint8_t, CONNECTION_BUFFER_SIZE> buffer(storage.get(), CONNECTION_BUFFER_SIZE);
    // The real engine passes the socket's low 32 bits as the disk signature.
    const auto signature = static_cast<std::uint32_t>(connection.socket.Handle());
    ConnectionCycle cycle(buffer, options_.credentials, options_.diskSize, signature, options_.access);

    Action action = cycle.Start();
    for (;;) {
        if (action.connectedIdentity) {
            std::lock_guard lock(connectionsMutex_);
            identities_.push_back(*action.connectedIdentity);
        }
        if (!FitsBuffer(action)) action = CloseAction();
        const std::span<std::uint8_t> target =
            std::span<std::uint8_t>(buffer).subspan(action.bufferOffset, action.length);
        switch (action.kind) {
            case ActionKind::Receive: {
                if (!WaitForData(connection.socket)) {
                    action = cycle.OnNetworkCompleted(false, 0);
                    break;
                }
                auto received = connection.socket.ReceiveSome(target);
                action = received.ok() ? cycle.OnNetworkCompleted(true, static_cast<std::uint32_t>(received.value()))
                                       : cycle.OnNetworkCompleted(false, 0);
                break;
            }
            case ActionKind::Send: {
                auto sent = connection.socket.SendSome(target);
                action = sent.ok() ? cycle.OnNetworkCompleted(true, static_cast<std::uint32_t>(sent.value()))
                                   : cycle.OnNetworkCompleted(false, 0);
                break;
            }
            case ActionKind::ReadDisk:
            case ActionKind::WriteDisk:
                action = RunDisk(cycle, action, target);
                break;
            case ActionKind::Close: {
                std::lock_guard lock(connectionsMutex_);
                (void)connection.socket.CloseWithReset();
                connection.finished = true;
                return;
            }
        }
    }
}

bool FakeBlockServer::WaitForData(Socket& socket) const {
    for (;;) {
        if (stopRequested_) return false;
        auto ready = socket.WaitReadable(STOP_POLL);
        if (!ready.ok()) return false;
        if (ready.value()) return true;
    }
}

Action FakeBlockServer::RunDisk(ConnectionCycle& cycle, const Action& action, std::span<std::uint8_t> target) {
    if (options_.diskStartError != 0) return cycle.OnDiskStartFailed(options_.diskStartError);
    std::size_t moved = 0;
    {
        std::lock_guard lock(diskMutex_);
        // Like a file: what lies beyond the end is not there, and nothing at all is a failure.
        if (action.diskOffset < disk_.size()) {
            const auto at = static_cast<std::size_t>(action.diskOffset);
            moved = std::min(target.size(), disk_.size() - at);
            if (action.kind == ActionKind::ReadDisk) {
                std::memcpy(target.data(), disk_.data() + at, moved);
            } else {
                std::memcpy(disk_.data() + at, target.data(), moved);
            }
        }
    }
    if (moved == 0) return cycle.OnDiskCompleted(false, 0);
    return cycle.OnDiskCompleted(true, static_cast<std::uint32_t>(moved));
}

std::vector<std::uint32_t> FakeBlockServer::Identities() const {
    std::lock_guard lock(connectionsMutex_);
    return identities_;
}

std::size_t FakeBlockServer::ConnectionsAccepted() const {
    std::lock_guard lock(connectionsMutex_);
    return accepted_;
}

std::vector<std::uint8_t> FakeBlockServer::DiskBytes(std::uint64_t offset, std::size_t length) const {
    std::lock_guard lock(diskMutex_);
    const std::size_t at = static_cast<std::size_t>(std::min<std::uint64_t>(offset, disk_.size()));
    const std::size_t n = std::min(length, disk_.size() - at);
    return std::vector<std::uint8_t>(disk_.begin() + static_cast<std::ptrdiff_t>(at),
                                     disk_.begin() + static_cast<std::ptrdiff_t>(at + n));
}

void FakeBlockServer::SetDiskBytes(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(diskMutex_);
    const std::size_t at = static_cast<std::size_t>(std::min<std::uint64_t>(offset, disk_.size()));
    const std::size_t n = std::min(bytes.size(), disk_.size() - at);
    std::memcpy(disk_.data() + at, bytes.data(), n);
}

}  // namespace varnox::client
