#pragma once
// In-memory backends for the model: a store that keeps the last saved copy, and a runner
// that hands out engine and thread identities without threads. Both record what the
// model asked of them and whether it held ConfigLock while asking.

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "configuration_model.h"
#include "file_store.h"
#include "server_runner.h"
#include "test_records.h"

namespace varnox::config::testing {

class FakeStore : public FileStore {
public:
    explicit FakeStore(ConfigLock* lock = nullptr) : lock_(lock) {}
    void WatchLock(ConfigLock* lock) { lock_ = lock; }

    std::vector<StoredServer> Load() override {
        std::lock_guard<std::mutex> guard(mutex_);
        ++loads_;
        return contents_;
    }
    bool Save(const std::vector<StoredServer>& servers) override {
        std::lock_guard<std::mutex> guard(mutex_);
        ++saves_;
        if (lock_ != nullptr && !lock_->HeldByCurrentThread()) ++savesWithoutLock_;
        contents_ = servers;
        return true;
    }

    void Put(std::vector<StoredServer> servers) {
        std::lock_guard<std::mutex> guard(mutex_);
        contents_ = std::move(servers);
    }
    std::vector<StoredServer> Contents() {
        std::lock_guard<std::mutex> guard(mutex_);
        return contents_;
    }
    int Saves() {
        std::lock_guard<std::mutex> guard(mutex_);
        return saves_;
    }
    int SavesWithoutLock() {
        std::lock_guard<std::mutex> guard(mutex_);
        return savesWithoutLock_;
    }

private:
    std::mutex mutex_;
    ConfigLock* lock_;
    std::vector<StoredServer> contents_;
    int loads_ = 0;
    int saves_ = 0;
    int savesWithoutLock_ = 0;
};

// Sources named here fail to start, as a source that cannot be opened does.
class FakeRunner : public ServerRunner {
public:
    explicit FakeRunner(ConfigLock* lock = nullptr) : lock_(lock) {}
    void WatchLock(ConfigLock* lock) { lock_ = lock; }
    void FailSource(const std::string& source) {
        std::lock_guard<std::mutex> guard(mutex_);
        failing_.insert(source);
    }

    ServerThread Start(const ServerRecord& record) override {
        std::lock_guard<std::mutex> guard(mutex_);
        started_.push_back(record);
        if (lock_ != nullptr && !lock_->HeldByCurrentThread()) ++startsWithoutLock_;
        if (failing_.count(std::string(record.Source, strnlen(record.Source, sizeof record.Source))) != 0) return {};
        // Real objects, so every identity is distinct and stays so while it is running.
        auto engine = std::make_unique<char>();
        auto thread = std::make_unique<char>();
        ServerThread server{reinterpret_cast<DiskServer*>(engine.get()), thread.get()};
        running_.insert(server.engine);
        launched_.push_back(server);
        engines_.push_back(std::move(engine));
        threads_.push_back(std::move(thread));
        return server;
    }
    void Stop(ServerThread server) override {
        std::function<void(ServerThread)> windDown;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (lock_ != nullptr && lock_->HeldByCurrentThread()) ++stopsUnderLock_;
            windDown = windDown_;
        }
        // What an engine's workers do while it ends: they may call the hooks, which take
        // ConfigLock on their own threads.
        if (windDown) windDown(server);
        std::lock_guard<std::mutex> guard(mutex_);
        stopped_.push_back(server);
        running_.erase(server.engine);
    }
    void OnWindDown(std::function<void(ServerThread)> windDown) {
        std::lock_guard<std::mutex> guard(mutex_);
        windDown_ = std::move(windDown);
    }
    void Detach(ServerThread server) override {
        std::lock_guard<std::mutex> guard(mutex_);
        detached_.push_back(server);
    }
    void ReportStart(ServerThread server) override {
        std::lock_guard<std::mutex> guard(mutex_);
        reports_.push_back(server);
    }

    std::vector<ServerRecord> Started() {
        std::lock_guard<std::mutex> guard(mutex_);
        return started_;
    }
    // Every successful start, in order.
    std::vector<ServerThread> Launched() {
        std::lock_guard<std::mutex> guard(mutex_);
        return launched_;
    }
    std::vector<ServerThread> Stopped() {
        std::lock_guard<std::mutex> guard(mutex_);
        return stopped_;
    }
    std::vector<ServerThread> Detached() {
        std::lock_guard<std::mutex> guard(mutex_);
        return detached_;
    }
    std::vector<ServerThread> Reports() {
        std::lock_guard<std::mutex> guard(mutex_);
        return reports_;
    }
    bool IsRunning(const DiskServer* engine) {
        std::lock_guard<std::mutex> guard(mutex_);
        return running_.count(engine) != 0;
    }
    std::size_t RunningCount() {
        std::lock_guard<std::mutex> guard(mutex_);
        return running_.size();
    }
    int StartsWithoutLock() {
        std::lock_guard<std::mutex> guard(mutex_);
        return startsWithoutLock_;
    }
    int StopsUnderLock() {
        std::lock_guard<std::mutex> guard(mutex_);
        return stopsUnderLock_;
    }

private:
    std::mutex mutex_;
    ConfigLock* lock_;
    std::set<std::string> failing_;
    std::function<void(ServerThread)> windDown_;
    std::vector<std::unique_ptr<char>> engines_;
    std::vector<std::unique_ptr<char>> threads_;
    std::set<const DiskServer*> running_;
    std::vector<ServerRecord> started_;
    std::vector<ServerThread> launched_;
    std::vector<ServerThread> stopped_;
    std::vector<ServerThread> detached_;
    std::vector<ServerThread> reports_;
    int startsWithoutLock_ = 0;
    int stopsUnderLock_ = 0;
};

}  // namespace varnox::config::testing
