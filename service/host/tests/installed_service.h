#pragma once
// The service as an administrator has it: varnoxsvc.exe copied into a folder of its own
// (its Locals.xml lives beside it), registered with the service control manager, started
// and stopped through it. This test program stays alive the whole time, which keeps
// Wine's service manager from ending the service early.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "management_endpoint.h"
#include "remote_management.h"
#include "service_shell.h"

namespace varnox::testing {

inline std::string ThisProgramsFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// How often a text occurs in another.
inline int CountOf(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}

class InstalledService {
public:
    InstalledService() {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "varnoxsvc-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(GetTickCount64());
        CreateDirectoryA(folder_.c_str(), nullptr);
        exe_ = folder_ + "\\varnoxsvc.exe";
        const std::string built = ThisProgramsFolder() + "\\varnoxsvc.exe";
        if (!CopyFileA(built.c_str(), exe_.c_str(), FALSE)) error_ = "CopyFileA() failed: " + std::to_string(GetLastError());
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager_ == nullptr) {
            error_ = "OpenSCManagerA() failed: " + std::to_string(GetLastError());
            return;
        }
        RemoveLeftover();
        service_ = CreateServiceA(manager_, host::SERVICE_NAME, host::SERVICE_NAME, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                  exe_.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service_ == nullptr) error_ = "CreateServiceA() failed: " + std::to_string(GetLastError());
    }

    ~InstalledService() {
        if (service_ != nullptr) {
            if (State() != SERVICE_STOPPED) Stop();
            DeleteService(service_);
            CloseServiceHandle(service_);
        }
        if (manager_ != nullptr) CloseServiceHandle(manager_);
        for (const char* name : {"\\Locals.xml", "\\Locals.bak.xml", "\\varnoxsvc.exe"}) DeleteFileA((folder_ + name).c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    // Empty when the service was installed.
    const std::string& Error() const { return error_; }
    const std::string& Folder() const { return folder_; }
    const std::string& Exe() const { return exe_; }
    std::string LocalsPath() const { return folder_ + "\\Locals.xml"; }

    DWORD State() {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service_, &status)) return 0;
        return status.dwCurrentState;
    }

    // Starts the service and waits until its management interface answers.
    bool Start(rpc::RemoteManagement& console) {
        if (!StartServiceA(service_, 0, nullptr)) {
            error_ = "StartServiceA() failed: " + std::to_string(GetLastError());
            return false;
        }
        if (!WaitForState(SERVICE_RUNNING)) {
            error_ = "the service did not report running; state " + std::to_string(State());
            return false;
        }
        processId_ = ProcessId();
        if (const std::uint32_t status = console.Bind(rpc::MANAGEMENT_ENDPOINT); status != 0) {
            error_ = "binding to the management interface failed: " + std::to_string(status);
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            std::uint8_t name[64] = {};
            if (console.GetServerName(name, sizeof name).succeeded()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        error_ = "the management interface did not answer";
        return false;
    }

    // Sends a control and returns the status the service reported, or 0 on failure.
    DWORD Control(DWORD control) {
        SERVICE_STATUS status = {};
        if (!ControlService(service_, control, &status)) {
            lastControlError_ = GetLastError();
            return 0;
        }
        return status.dwCurrentState;
    }
    DWORD LastControlError() const { return lastControlError_; }

    // Stops the service and waits until its process has ended, so its files are final.
    bool Stop() {
        Control(SERVICE_CONTROL_STOP);
        return WaitForState(SERVICE_STOPPED) && WaitForProcessEnd();
    }

    bool WaitForState(DWORD state, std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (State() != state) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    bool WaitForProcessEnd(std::chrono::seconds limit = std::chrono::seconds(30)) {
        if (processId_ == 0) return true;
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId_);
        processId_ = 0;
        if (process == nullptr) return true;  // already gone
        const DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(limit.count() * 1000));
        CloseHandle(process);
        return waited == WAIT_OBJECT_0;
    }

private:
    DWORD ProcessId() {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                  &needed))
            return 0;
        return status.dwProcessId;
    }

    // A run that was killed may have left the service registered.
    void RemoveLeftover() {
        SC_HANDLE old = OpenServiceA(manager_, host::SERVICE_NAME, SERVICE_ALL_ACCESS);
        if (old == nullptr) return;
        SERVICE_STATUS status = {};
        ControlService(old, SERVICE_CONTROL_STOP, &status);
        DeleteService(old);
        CloseServiceHandle(old);
    }

    std::string folder_;
    std::string exe_;
    std::string error_;
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    DWORD processId_ = 0;
    DWORD lastControlError_ = 0;
};

}  // namespace varnox::testing
