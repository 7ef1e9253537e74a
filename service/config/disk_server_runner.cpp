#include "disk_server_runner.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "attribute_encoding.h"
#include "log_line.h"
#include "server_hooks.h"

namespace varnox::config {

namespace {

// What the starter hands its server thread; the thread may touch it only until it has
// signalled `published`, since the starter's stack frame holds it.
struct StartHandoff {
    ServerRecord record;
    HANDLE published;
    DiskServer* engine;
};

DWORD WINAPI ServerThreadMain(LPVOID parameter) {
    auto* handoff = static_cast<StartHandoff*>(parameter);
    const ShareSettings settings = ShareSettingsFor(handoff->record);
    DiskServer* engine = nullptr;
    try {
        engine = new DiskServer(settings);
    } catch (const std::bad_alloc&) {
        engine = nullptr;
    }
    handoff->engine = engine;
    if (!SetEvent(handoff->published)) LogLine("SetEvent() failed: %lu\n", GetLastError());
    if (engine == nullptr) return 1;
    // The starter destroys the engine: at once if this returns within the first second,
    // else when the server is stopped.
    engine->RunServer();
    return 0;
}

}  // namespace

ShareSettings ShareSettingsFor(const ServerRecord& record) {
    ShareSettings settings;
    settings.source = std::string(SourceToAttribute(record));
    settings.port = record.Port;
    std::memcpy(settings.credentials.password.data(), record.Password, DIGEST_SIZE);
    std::memcpy(settings.credentials.managePassword.data(), record.ManagePassword, DIGEST_SIZE);
    return settings;
}

std::string StartServerLine(const DiskServer* engine, std::uint32_t threadId) {
    char line[64];
    std::snprintf(line, sizeof line, "Start server %x %x\n",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(engine)), static_cast<unsigned>(threadId));
    return line;
}

ServerThread DiskServerRunner::Start(const ServerRecord& record) {
    StartHandoff handoff{record, nullptr, nullptr};
    handoff.record.reserved332 = 0;
    handoff.published = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (handoff.published == nullptr) {
        LogLine("CreateEventA() failed: %lu\n", GetLastError());
        return {};
    }
    const HANDLE thread = CreateThread(nullptr, 0, ServerThreadMain, &handoff, 0, nullptr);
    if (thread == nullptr) {
        LogLine("CreateThread() failed: %lu\n", GetLastError());
        CloseHandle(handoff.published);
        return {};
    }
    // The thread signals before anything can fail, but should it end without signalling
    // the wait must not hang, so it waits for either.
    const HANDLE waits[2] = {handoff.published, thread};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_FAILED) {
        LogLine("WaitForMultipleObjects() failed: %lu\n", GetLastError());
    }
    CloseHandle(handoff.published);
    DiskServer* engine = handoff.engine;

    const DWORD proof = WaitForSingleObject(thread, START_PROOF_MS);
    if (proof == WAIT_OBJECT_0 || engine == nullptr) {
        // It ended (the source did not open, the port was taken...): no server.
        if (proof != WAIT_OBJECT_0) WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        delete engine;
        return {};
    }
    if (proof == WAIT_FAILED) LogLine("WaitForSingleObject() failed: %lu\n", GetLastError());
    InstallServerHooks(*engine);
    return {engine, thread};
}

void DiskServerRunner::Stop(ServerThread server) {
    if (server.engine != nullptr && server.thread != nullptr) server.engine->StopEngine();
    if (server.thread != nullptr) {
        if (WaitForSingleObject(server.thread, INFINITE) == WAIT_FAILED) {
            LogLine("WaitForSingleObject() failed: %lu\n", GetLastError());
        }
        if (!CloseHandle(server.thread)) LogLine("CloseHandle() failed: %lu\n", GetLastError());
    }
    delete server.engine;
}

void DiskServerRunner::Detach(ServerThread server) {
    // The engine keeps running on its thread until the process ends; it is not ours to
    // destroy any more.
    if (server.thread != nullptr && !CloseHandle(server.thread)) {
        LogLine("CloseHandle() failed: %lu\n", GetLastError());
    }
}

void DiskServerRunner::ReportStart(ServerThread server) {
    const std::uint32_t threadId = server.thread != nullptr ? GetThreadId(server.thread) : 0;
    OutputDebugStringA(StartServerLine(server.engine, threadId).c_str());
}

}  // namespace varnox::config
