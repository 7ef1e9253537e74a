#pragma once
// The service's configuration: the ordered list of server entries, each with its record,
// its running engine (if any) and its static and connected client lists, all under one
// ConfigLock. The management operations of management.h are this class's operations on
// the one process-wide instance; tests make their own instances with fake backends.

#include <atomic>
#include <cstdint>
#include <list>

#include "config_lock.h"
#include "file_store.h"
#include "handle_allocator.h"
#include "management.h"
#include "records.h"
#include "server_runner.h"

namespace varnox::config {

class ConfigurationModel {
public:
    // Either backend may be absent: without a store nothing is read or written, without
    // a runner no server starts.
    explicit ConfigurationModel(FileStore* store = nullptr, ServerRunner* runner = nullptr);
    // Frees the entries; a server still running is left running, as a deleted one is.
    ~ConfigurationModel();
    ConfigurationModel(const ConfigurationModel&) = delete;
    ConfigurationModel& operator=(const ConfigurationModel&) = delete;

    void SetBackends(FileStore* store, ServerRunner* runner);
    ConfigLock& Lock() { return lock_; }

    // Reads the store, builds the list and starts every server saved as started; after
    // it, saves take effect. Run once at service start, or again after Empty.
    void Load();
    // Writes the whole model; does nothing before Load has finished.
    void Save();
    // For the service stop: ends every running engine and waits for its thread without
    // holding ConfigLock. Started stays 1, so the next service start runs them again.
    void StopAllServers();
    // Frees every entry with both its client lists. Saves then do nothing until the next
    // Load, so a management call arriving during the service stop cannot write an empty
    // configuration over the file.
    void Empty();
    bool Loaded() const;

    // The operations, as management.h describes them.
    std::int32_t GetServerName(std::uint8_t* text, std::uint32_t length);
    std::int32_t AddServer(std::int32_t* server, const std::uint8_t* record);
    std::int32_t GetLastErrorText(std::uint8_t* text, std::uint32_t length);
    std::int32_t EnumServers(std::int32_t previous, std::int32_t* next);
    std::int32_t GetServer(std::int32_t server, std::uint8_t* record);
    std::int32_t StartServer(std::int32_t server);
    // Never call with ConfigLock held: it waits for the engine to end.
    std::int32_t StopServer(std::int32_t server);
    std::int32_t DeleteServer(std::int32_t server);
    std::int32_t AddStaticClient(std::int32_t server, const std::uint8_t* record);
    std::int32_t EnumStaticClients(std::int32_t server, std::int32_t previous, std::int32_t* next);
    std::int32_t GetStaticClient(std::int32_t client, std::uint8_t* record);
    std::int32_t DeleteStaticClient(std::int32_t server, std::int32_t client);
    std::int32_t SetStaticClient(std::int32_t client, const std::uint8_t* record);
    std::int32_t AddConnectedClient(std::int32_t server, const std::uint8_t* record);
    std::int32_t EnumConnectedClients(std::int32_t server, std::int32_t previous, std::int32_t* next);
    std::int32_t GetConnectedClient(std::int32_t client, std::uint8_t* record);
    std::int32_t DeleteConnectedClient(std::int32_t server, std::int32_t client);
    std::int32_t SetConnectedClient(std::int32_t client, const std::uint8_t* record);

    // The handle of the next entry after `previous` (0: from the first) whose engine is
    // `engine`; 0 when there is none or `previous` is not in the list. The hooks find
    // their entry with it.
    std::int32_t NextServerOwning(const DiskServer* engine, std::int32_t previous);

private:
    struct ClientEntry {
        std::int32_t handle;
        ClientRecord record;
    };
    using ClientList = std::list<ClientEntry>;
    struct ServerEntry {
        std::int32_t handle = 0;
        ServerRecord record{};
        ServerThread server;
        ClientList staticClients;
        ClientList connectedClients;
    };
    enum class Kind { Static, Connected };

    ServerEntry* FindServer(std::int32_t handle);
    std::list<ServerEntry>::iterator FindServerPosition(std::int32_t handle);
    static ClientList& ListOf(ServerEntry& entry, Kind kind);
    ClientEntry* FindClient(std::int32_t handle, Kind kind);
    std::int32_t AddClient(std::int32_t server, const std::uint8_t* record, Kind kind);
    std::int32_t EnumClients(std::int32_t server, std::int32_t previous, std::int32_t* next, Kind kind);
    std::int32_t GetClient(std::int32_t client, std::uint8_t* record, Kind kind);
    std::int32_t DeleteClient(std::int32_t server, std::int32_t client, Kind kind);
    std::int32_t SetClient(std::int32_t client, const std::uint8_t* record, Kind kind);
    void ReleaseHandles(const ServerEntry& entry);
    // Save with ConfigLock already held.
    void SaveLocked();

    mutable ConfigLock lock_;
    std::atomic<FileStore*> store_;
    std::atomic<ServerRunner*> runner_;
    std::list<ServerEntry> entries_;
    HandleAllocator handles_;
    bool loaded_ = false;
    char lastErrorText_[LAST_ERROR_TEXT_SIZE] = {};
};

// The process-wide model behind the free functions of management.h. It is never
// destroyed: engines that outlive their entries may still call in while the process ends.
ConfigurationModel& TheConfiguration();

}  // namespace varnox::config
