#include "configuration_model.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace varnox::config {

namespace {

template <typename List>
std::int32_t NextInList(const List& list, std::int32_t previous) {
    auto it = list.begin();
    if (previous != 0) {
        while (it != list.end() && it->handle != previous) ++it;
        if (it == list.end()) return 0;
        ++it;
    }
    return it == list.end() ? 0 : it->handle;
}

}  // namespace

ConfigurationModel::ConfigurationModel(FileStore* store, ServerRunner* runner) : store_(store), runner_(runner) {}

ConfigurationModel::~ConfigurationModel() {
    Empty();
}

void ConfigurationModel::SetBackends(FileStore* store, ServerRunner* runner) {
    ConfigLockGuard guard(lock_);
    store_ = store;
    runner_ = runner;
}

bool ConfigurationModel::Loaded() const {
    ConfigLockGuard guard(lock_);
    return loaded_;
}

void ConfigurationModel::Load() {
    FileStore* store = store_;
    std::vector<StoredServer> stored;
    try {
        if (store != nullptr) stored = store->Load();
        for (StoredServer& saved : stored) {
            // Held from the start to the append: the started engine's hooks find their
            // entry as soon as they can run.
            ConfigLockGuard guard(lock_);
            ServerEntry entry;
            entry.record = saved.record;
            if (entry.record.Started != 0) {
                entry.record.reserved332 = 0;
                ServerRunner* runner = runner_;
                const ServerThread started = runner != nullptr ? runner->Start(entry.record) : ServerThread{};
                if (started.Running()) entry.server = started;
                entry.record.Started = started.Running() ? 1 : 0;
            }
            entry.handle = handles_.Allocate();
            for (const ClientRecord& client : saved.clients)
                entry.staticClients.push_back({handles_.Allocate(), client});
            entries_.push_back(std::move(entry));
        }
    } catch (const std::bad_alloc&) {
        // What was appended stays; the rest of the file is not loaded.
    }
    ConfigLockGuard guard(lock_);
    loaded_ = true;
}

void ConfigurationModel::Save() {
    ConfigLockGuard guard(lock_);
    SaveLocked();
}

void ConfigurationModel::SaveLocked() {
    FileStore* store = store_;
    if (!loaded_ || store == nullptr) return;
    try {
        std::vector<StoredServer> snapshot;
        snapshot.reserve(entries_.size());
        for (ServerEntry& entry : entries_) {
            StoredServer& saved = snapshot.emplace_back();
            saved.record = entry.record;
            saved.clients.reserve(entry.staticClients.size());
            for (ClientEntry& client : entry.staticClients) {
                // A name set through the management interface may fill all 128 bytes.
                if (client.record.HasName != HAS_NAME_NOT_RESOLVED) client.record.HostName[HOST_NAME_CAPACITY - 1] = 0;
                saved.clients.push_back(client.record);
            }
        }
        store->Save(snapshot);
    } catch (const std::bad_alloc&) {
        // Not saved; the file keeps the previous state.
    }
}

void ConfigurationModel::StopAllServers() {
    std::vector<ServerThread> running;
    {
        ConfigLockGuard guard(lock_);
        for (ServerEntry& entry : entries_) {
            if (entry.record.Started == 0) continue;
            if (entry.server.engine == nullptr && entry.server.thread == nullptr) continue;
            running.push_back(std::exchange(entry.server, ServerThread{}));
        }
    }
    ServerRunner* runner = runner_;
    if (runner == nullptr) return;
    for (const ServerThread& server : running) runner->Stop(server);
}

void ConfigurationModel::Empty() {
    ConfigLockGuard guard(lock_);
    ServerRunner* runner = runner_;
    for (const ServerEntry& entry : entries_) {
        if (runner != nullptr && (entry.server.engine != nullptr || entry.server.thread != nullptr)) {
            runner->Detach(entry.server);
        }
        ReleaseHandles(entry);
    }
    entries_.clear();
    loaded_ = false;
}

void ConfigurationModel::ReleaseHandles(const ServerEntry& entry) {
    for (const ClientEntry& client : entry.staticClients) handles_.Release(client.handle);
    for (const ClientEntry& client : entry.connectedClients) handles_.Release(client.handle);
    handles_.Release(entry.handle);
}

ConfigurationModel::ServerEntry* ConfigurationModel::FindServer(std::int32_t handle) {
    const auto it = FindServerPosition(handle);
    return it == entries_.end() ? nullptr : &*it;
}

std::list<ConfigurationModel::ServerEntry>::iterator ConfigurationModel::FindServerPosition(std::int32_t handle) {
    if (handle == 0) return entries_.end();
    auto it = entries_.begin();
    while (it != entries_.end() && it->handle != handle) ++it;
    return it;
}

ConfigurationModel::ClientList& ConfigurationModel::ListOf(ServerEntry& entry, Kind kind) {
    return kind == Kind::Static ? entry.staticClients : entry.connectedClients;
}

ConfigurationModel::ClientEntry* ConfigurationModel::FindClient(std::int32_t handle, Kind kind) {
    if (handle == 0) return nullptr;
    for (ServerEntry& entry : entries_) {
        for (ClientEntry& client : ListOf(entry, kind)) {
            if (client.handle == handle) return &client;
        }
    }
    return nullptr;
}

std::int32_t ConfigurationModel::GetServerName(std::uint8_t* text, std::uint32_t length) {
    if (text == nullptr || length < sizeof SERVER_NAME_TEXT) return -1;
    std::memcpy(text, SERVER_NAME_TEXT, sizeof SERVER_NAME_TEXT);
    return 0;
}

std::int32_t ConfigurationModel::AddServer(std::int32_t* server, const std::uint8_t* record) {
    if (server == nullptr || record == nullptr) return -1;
    ConfigLockGuard guard(lock_);
    try {
        ServerEntry entry;
        std::memcpy(&entry.record, record, sizeof entry.record);
        entry.record.Started = 0;
        entry.handle = handles_.Allocate();
        entries_.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    *server = entries_.back().handle;
    SaveLocked();
    return 0;
}

std::int32_t ConfigurationModel::GetLastErrorText(std::uint8_t* text, std::uint32_t length) {
    if (text == nullptr || length < LAST_ERROR_TEXT_SIZE) return -1;
    ConfigLockGuard guard(lock_);
    std::memcpy(text, lastErrorText_, std::strlen(lastErrorText_) + 1);
    return 0;
}

std::int32_t ConfigurationModel::EnumServers(std::int32_t previous, std::int32_t* next) {
    if (next == nullptr) return -1;
    ConfigLockGuard guard(lock_);
    *next = NextInList(entries_, previous);
    return 0;
}

std::int32_t ConfigurationModel::GetServer(std::int32_t server, std::uint8_t* record) {
    if (record == nullptr) return -1;
    ConfigLockGuard guard(lock_);
    const ServerEntry* entry = FindServer(server);
    if (entry == nullptr) return -1;
    std::memcpy(record, &entry->record, sizeof entry->record);
    return 0;
}

std::int32_t ConfigurationModel::StartServer(std::int32_t server) {
    // Held for the whole start, about a second: the new engine has no hooks yet, so
    // nothing it runs can be waiting for this lock.
    ConfigLockGuard guard(lock_);
    ServerEntry* entry = FindServer(server);
    if (entry == nullptr || entry->record.Started != 0) return -1;
    ServerRunner* runner = runner_;
    entry->record.reserved332 = 0;
    const ServerThread started = runner != nullptr ? runner->Start(entry->record) : ServerThread{};
    if (runner != nullptr) runner->ReportStart(started);
    if (!started.Running()) return -1;
    entry->server = started;
    entry->record.Started = 1;
    SaveLocked();
    return 0;
}

std::int32_t ConfigurationModel::StopServer(std::int32_t server) {
    ServerThread taken;
    {
        ConfigLockGuard guard(lock_);
        ServerEntry* entry = FindServer(server);
        if (entry == nullptr) return -1;
        // Taken out first: a second stop meanwhile finds nothing to stop, and a start is
        // still refused because Started is 1 until the engine has ended.
        taken = std::exchange(entry->server, ServerThread{});
    }
    ServerRunner* runner = runner_;
    if (runner != nullptr && (taken.engine != nullptr || taken.thread != nullptr)) runner->Stop(taken);
    ConfigLockGuard guard(lock_);
    // The entry may have been deleted while its engine wound down.
    if (ServerEntry* entry = FindServer(server)) entry->record.Started = 0;
    SaveLocked();
    return 0;
}

std::int32_t ConfigurationModel::DeleteServer(std::int32_t server) {
    ConfigLockGuard guard(lock_);
    const auto position = FindServerPosition(server);
    if (position == entries_.end()) return 0;
    // A running engine is not stopped here (that would mean waiting under the lock); it
    // goes on serving its open connections, and with no entry owning it the hooks refuse
    // every new one.
    ServerRunner* runner = runner_;
    if (runner != nullptr && (position->server.engine != nullptr || position->server.thread != nullptr)) {
        runner->Detach(position->server);
    }
    ReleaseHandles(*position);
    entries_.erase(position);
    SaveLocked();
    return 0;
}

std::int32_t ConfigurationModel::AddClient(std::int32_t server, const std::uint8_t* record, Kind kind) {
    if (record == nullptr) return -1;
    ConfigLockGuard guard(lock_);
    ServerEntry* entry = FindServer(server);
    if (entry == nullptr) return -1;
    ClientRecord client;
    std::memcpy(&client, record, sizeof client);
    ClientList& list = ListOf(*entry, kind);
    for (const ClientEntry& existing : list) {
        if (existing.record.IpAddress == client.IpAddress) {
            std::memcpy(lastErrorText_, DUPLICATE_CLIENT_TEXT, sizeof DUPLICATE_CLIENT_TEXT);
            return -1;
        }
    }
    if (kind == Kind::Static) {
        client.Status = CLIENT_STATUS_STATIC;
        if (client.HasName != HAS_NAME_RESOLVED) client.HasName = HAS_NAME_NOT_RESOLVED;
    }
    try {
        list.push_back({handles_.Allocate(), client});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (kind == Kind::Static) SaveLocked();
    return 0;
}

std::int32_t ConfigurationModel::EnumClients(std::int32_t server, std::int32_t previous, std::int32_t* next,
                                             Kind kind) {
    if (next == nullptr) return -1;
    ConfigLockGuard guard(lock_);
    ServerEntry* entry = FindServer(server);
    if (entry == nullptr) {
        *next = 0;
        return -1;
    }
    *next = NextInList(ListOf(*entry, kind), previous);
    return 0;
}

std::int32_t ConfigurationModel::GetClient(std::int32_t client, std::uint8_t* record, Kind kind) {
    if (record == nullptr) return -1;
    ConfigLockGuard guard(lock_);
    const ClientEntry* found = FindClient(client, kind);
    if (found == nullptr) return -1;
    std::memcpy(record, &found->record, sizeof found->record);
    return 0;
}

std::int32_t ConfigurationModel::DeleteClient(std::int32_t server, std::int32_t client, Kind kind) {
    ConfigLockGuard guard(lock_);
    ServerEntry* entry = FindServer(server);
    if (entry == nullptr || FindClient(client, kind) == nullptr) return -1;
    ClientList& list = ListOf(*entry, kind);
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->handle != client) continue;
        handles_.Release(client);
        list.erase(it);
        if (kind == Kind::Static) SaveLocked();
        break;
    }
    // A client of another server's list is left alone, and that is no failure.
    return 0;
}

std::int32_t ConfigurationModel::SetClient(std::int32_t client, const std::uint8_t* record, Kind kind) {
    if (record == nullptr) return -1;
    ConfigLockGuard guard(lock_);
    ClientEntry* found = FindClient(client, kind);
    if (found == nullptr) return -1;
    ClientRecord update;
    std::memcpy(&update, record, sizeof update);
    // The address is what the record is known by in its list, so it never changes here.
    found->record.Access = update.Access;
    found->record.Status = update.Status;
    found->record.HasName = update.HasName;
    std::memcpy(found->record.HostName, update.HostName, sizeof update.HostName);
    if (kind == Kind::Static) SaveLocked();
    return 0;
}

std::int32_t ConfigurationModel::AddStaticClient(std::int32_t server, const std::uint8_t* record) {
    return AddClient(server, record, Kind::Static);
}
std::int32_t ConfigurationModel::EnumStaticClients(std::int32_t server, std::int32_t previous, std::int32_t* next) {
    return EnumClients(server, previous, next, Kind::Static);
}
std::int32_t ConfigurationModel::GetStaticClient(std::int32_t client, std::uint8_t* record) {
    return GetClient(client, record, Kind::Static);
}
std::int32_t ConfigurationModel::DeleteStaticClient(std::int32_t server, std::int32_t client) {
    return DeleteClient(server, client, Kind::Static);
}
std::int32_t ConfigurationModel::SetStaticClient(std::int32_t client, const std::uint8_t* record) {
    return SetClient(client, record, Kind::Static);
}
std::int32_t ConfigurationModel::AddConnectedClient(std::int32_t server, const std::uint8_t* record) {
    return AddClient(server, record, Kind::Connected);
}
std::int32_t ConfigurationModel::EnumConnectedClients(std::int32_t server, std::int32_t previous, std::int32_t* next) {
    return EnumClients(server, previous, next, Kind::Connected);
}
std::int32_t ConfigurationModel::GetConnectedClient(std::int32_t client, std::uint8_t* record) {
    return GetClient(client, record, Kind::Connected);
}
std::int32_t ConfigurationModel::DeleteConnectedClient(std::int32_t server, std::int32_t client) {
    return DeleteClient(server, client, Kind::Connected);
}
std::int32_t ConfigurationModel::SetConnectedClient(std::int32_t client, const std::uint8_t* record) {
    return SetClient(client, record, Kind::Connected);
}

std::int32_t ConfigurationModel::NextServerOwning(const DiskServer* engine, std::int32_t previous) {
    if (engine == nullptr) return 0;
    ConfigLockGuard guard(lock_);
    auto it = entries_.begin();
    if (previous != 0) {
        it = FindServerPosition(previous);
        if (it == entries_.end()) return 0;
        ++it;
    }
    for (; it != entries_.end(); ++it) {
        if (it->server.engine == engine) return it->handle;
    }
    return 0;
}

ConfigurationModel& TheConfiguration() {
    static ConfigurationModel* const model = new ConfigurationModel();
    return *model;
}

}  // namespace varnox::config
