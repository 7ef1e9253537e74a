#pragma once
// Runs one DiskServer on a temporary image file on its own server thread, the way the
// service will, so tests can start and stop shares without the service.

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "block_client.h"
#include "disk_server.h"

namespace varnox::testing {

// A port nothing listens on right now.
inline std::uint16_t FreePort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(probe);
    return ntohs(address.sin_port);
}

// An image file with known contents in the temp folder, removed at the end.
class TempImage {
public:
    explicit TempImage(std::size_t size) : bytes_(size) {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        char name[MAX_PATH];
        GetTempFileNameA(folder, "vnx", 0, name);
        path_ = name;
        for (std::size_t i = 0; i < size; ++i) bytes_[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes_.data(), static_cast<DWORD>(size), &written, nullptr);
        CloseHandle(file);
    }
    ~TempImage() { DeleteFileA(path_.c_str()); }

    const std::string& Path() const { return path_; }
    const std::vector<std::uint8_t>& Initial() const { return bytes_; }

    std::vector<std::uint8_t> Contents() const {
        std::vector<std::uint8_t> out(bytes_.size());
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD read = 0;
        ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &read, nullptr);
        CloseHandle(file);
        out.resize(read);
        return out;
    }

private:
    std::string path_;
    std::vector<std::uint8_t> bytes_;
};

class ShareHost {
public:
    explicit ShareHost(ShareSettings settings) : settings_(std::move(settings)) {}
    ~ShareHost() { Stop(); }

    // Constructs the engine and runs its server loop on a thread of its own.
    void Launch() {
        server_ = std::make_unique<DiskServer>(settings_);
        thread_ = std::thread([this] { result_ = server_->RunServer(); });
    }

    // Launch, then true once the share answers a request; the probing connection is gone
    // again when this returns, so it never meets hooks installed afterwards.
    bool Start() {
        Launch();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto probe = Connect(); probe.ok()) {
                const bool answered = probe.value().Info().ok();
                (void)probe.value().Close();
                return answered && WaitForConnections(0);
            }
            if (finished()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // StopEngine, wait for the server thread, destroy the engine; RunServer's result.
    int Stop() {
        if (!server_) return result_;
        server_->StopEngine();
        if (thread_.joinable()) thread_.join();
        server_.reset();
        return result_;
    }

    // Waits for the engine's server thread to end by itself.
    int Join() {
        if (thread_.joinable()) thread_.join();
        server_.reset();
        return result_;
    }

    bool WaitForConnections(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (server_->ConnectionCount() != count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    bool finished() const { return result_ != kRunning; }
    DiskServer& Server() { return *server_; }
    std::uint16_t Port() const { return settings_.port; }

    client::Result<client::BlockClient> Connect() {
        auto connection = client::BlockClient::Connect("127.0.0.1", settings_.port);
        if (connection.ok()) (void)connection.value().SetTimeout(std::chrono::seconds(10));
        return connection;
    }

private:
    static constexpr int kRunning = 0x7FFFFFFF;
    ShareSettings settings_;
    std::unique_ptr<DiskServer> server_;
    std::thread thread_;
    std::atomic<int> result_{kRunning};
};

}  // namespace varnox::testing
