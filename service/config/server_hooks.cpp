#include "server_hooks.h"

#include <mutex>

#include "configuration_model.h"

namespace varnox::config {

namespace {

struct Hooks {
    std::mutex mutex;
    bool set = false;
    AccessQueryHook accessQuery = nullptr;
    ClientDisconnectedHook clientDisconnected = nullptr;
    ClientConnectedHook clientConnected = nullptr;
};

Hooks& TheHooks() {
    static Hooks* const hooks = new Hooks();
    return *hooks;
}

}  // namespace

void SetServerHooks(AccessQueryHook accessQuery, ClientDisconnectedHook clientDisconnected,
                    ClientConnectedHook clientConnected) {
    Hooks& hooks = TheHooks();
    std::lock_guard<std::mutex> guard(hooks.mutex);
    hooks.set = true;
    hooks.accessQuery = accessQuery;
    hooks.clientDisconnected = clientDisconnected;
    hooks.clientConnected = clientConnected;
}

void InstallServerHooks(DiskServer& engine) {
    Hooks& hooks = TheHooks();
    std::lock_guard<std::mutex> guard(hooks.mutex);
    if (hooks.set) engine.SetHooks(hooks.accessQuery, hooks.clientDisconnected, hooks.clientConnected);
}

std::int32_t NextServerOwning(const DiskServer* engine, std::int32_t previous) {
    return TheConfiguration().NextServerOwning(engine, previous);
}

}  // namespace varnox::config
