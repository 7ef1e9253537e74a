#include "service_shell.h"

#include <winsock2.h>
#include <windows.h>

#include "admission_hooks.h"
#include "configuration.h"
#include "log_line.h"
#include "registration.h"
#include "name_resolver.h"

namespace varnox::host {

namespace {

// Own-process and share-process bits together, as the service has always reported.
constexpr DWORD SERVICE_TYPE_REPORTED = SERVICE_WIN32;
constexpr DWORD CONTROLS_ACCEPTED = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

SERVICE_STATUS serviceStatus = {};
SERVICE_STATUS_HANDLE statusHandle = nullptr;

void ReportStatus() {
    if (!SetServiceStatus(statusHandle, &serviceStatus)) LogLine("SetServiceStatus() failed: %lu\n", GetLastError());
}

void SetStopped() {
    serviceStatus.dwWin32ExitCode = 0;
    serviceStatus.dwCurrentState = SERVICE_STOPPED;
}

// Runs on the dispatcher thread. The stop blocks for as long as the server threads take
// to end; ConfigLock is never held while it waits for them, because engine workers report
// disconnections through hooks that take it.
void RunStopSequence() {
    SetStopped();
    // Started stays 1 for every server stopped here, so the same servers start next time.
    config::StopAllServers();
    config::SaveConfiguration();
    config::EmptyConfiguration();
    ReportStatus();
}

}  // namespace

void WINAPI ServiceControlHandler(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        RunStopSequence();
        return;
    case SERVICE_CONTROL_SHUTDOWN:
        // The file already holds the state after the last change: nothing is stopped or
        // written at system shutdown.
        SetStopped();
        ReportStatus();
        return;
    default:
        ReportStatus();
        return;
    }
}

unsigned long CurrentServiceState() { return serviceStatus.dwCurrentState; }

namespace {

void WINAPI ServiceMainRoutine(DWORD, LPSTR*) {
    // A failure shows up later as servers that cannot start.
    WSADATA socketsData;
    WSAStartup(MAKEWORD(2, 0), &socketsData);

    serviceStatus.dwServiceType = SERVICE_TYPE_REPORTED;
    serviceStatus.dwCurrentState = SERVICE_START_PENDING;
    serviceStatus.dwControlsAccepted = CONTROLS_ACCEPTED;
    serviceStatus.dwWin32ExitCode = 0;
    serviceStatus.dwServiceSpecificExitCode = 0;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 0;

    statusHandle = RegisterServiceCtrlHandlerA(SERVICE_NAME, ServiceControlHandler);
    if (statusHandle == nullptr) return;

    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    ReportStatus();

    // The hooks are installed by each server's start, one second after its thread runs;
    // they must be known before the saved servers start.
    config::InstallAdmissionHooks();
    config::LoadConfiguration();
    config::StartNameResolver();
    // Holds this thread for the life of the process; returns only when a step failed,
    // after printing that step's line. The service keeps serving its disks.
    rpc::RegisterManagementInterface(true);
}

}  // namespace

int RunServiceProcess() {
    char name[sizeof SERVICE_NAME];
    lstrcpyA(name, SERVICE_NAME);
    const SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMainRoutine}, {nullptr, nullptr}};
    // Fails at once when the process was not started by the service control manager;
    // nothing has been loaded then, and the exit code is 0 either way.
    if (!StartServiceCtrlDispatcherA(table)) LogLine("StartServiceCtrlDispatcherA() failed: %lu\n", GetLastError());
    return 0;
}

}  // namespace varnox::host
