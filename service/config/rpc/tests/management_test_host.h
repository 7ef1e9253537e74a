#pragma once
// A test process that hosts the management interface the way the service does: the
// configuration in a temporary directory, the admission hooks handed to the model, the
// interface registered with the service's own registration code (listening without
// holding the thread), and a client bound to it through the RPC runtime.

#include <winsock2.h>
// After winsock2.h, or windows.h brings in the old winsock.h.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "admission_hooks.h"
#include "configuration.h"
#include "management.h"
#include "records.h"
#include "registration.h"
#include "remote_management.h"
#include "test_records.h"

namespace varnox::rpc::testing {

using config::testing::Address;
using config::testing::FromBuffer;
using config::testing::MakeClient;
using config::testing::MakeServer;
using config::testing::RecordBuffer;
using config::testing::ToBuffer;

inline const std::uint32_t LOOPBACK = Address(127, 0, 0, 1);

// What `call` printed on standard output (where registration reports go), by way of a
// file in `directory`.
template <typename Call>
std::string StandardOutputOf(const std::string& directory, Call call) {
    const std::string path = directory + "\\stdout.txt";
    std::fflush(stdout);
    const int saved = _dup(1);
    const int file = _open(path.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    EXPECT_GE(saved, 0);
    EXPECT_GE(file, 0);
    _dup2(file, 1);
    call();
    std::fflush(stdout);
    _dup2(saved, 1);
    _close(file);
    _close(saved);
    std::string text;
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream contents;
        contents << in.rdbuf();
        text = contents.str();
    }
    DeleteFileA(path.c_str());
    return text;
}

// Wine starts its endpoint-mapper service on demand and stops it when the last ordinary
// process of the prefix ends, and the start can take half a minute. The service's
// registration waits for it too, but within bounds of its own; a test host brings it up
// first so that the registration under test does not depend on that race. Returns the
// service's state (SERVICE_RUNNING when all is well).
inline DWORD BringUpEndpointMapper() {
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return 0;
    DWORD state = 0;
    if (const SC_HANDLE service = OpenServiceA(manager, "RpcSs", SERVICE_START | SERVICE_QUERY_STATUS)) {
        (void)StartServiceA(service, 0, nullptr);
        const ULONGLONG deadline = GetTickCount64() + 180000;
        SERVICE_STATUS status = {};
        while (QueryServiceStatus(service, &status)) {
            state = status.dwCurrentState;
            if (state == SERVICE_RUNNING || GetTickCount64() > deadline) break;
            if (state == SERVICE_STOPPED) (void)StartServiceA(service, 0, nullptr);
            Sleep(200);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

// The process's one host: made on first use, alive until the process ends (the RPC
// runtime serves calls from its own threads until then).
class ManagementTestHost {
public:
    static ManagementTestHost& Get() {
        static ManagementTestHost* const host = new ManagementTestHost();
        return *host;
    }

    const std::string& Directory() const { return directory_; }
    std::string LocalsPath() const { return directory_ + "\\Locals.xml"; }
    // What GetLastErrorText said right after the interface came up.
    const std::string& InitialLastError() const { return initialLastError_; }
    int RegistrationResult() const { return registration_; }
    const std::string& RegistrationOutput() const { return registrationOutput_; }
    DWORD EndpointMapperState() const { return endpointMapperState_; }
    // This process's own endpoint: test programs run side by side, and beside the service.
    const std::string& Endpoint() const { return endpoint_; }

    // A client of the interface over the runtime, bound to this host's endpoint.
    RemoteManagement& Client() { return client_; }

    // Stops and deletes every server, so each test starts from an empty model.
    void Clear() {
        for (;;) {
            std::int32_t server = 0;
            if (config::EnumServers(0, &server) != 0 || server == 0) return;
            (void)config::StopServer(server);
            (void)config::DeleteServer(server);
        }
    }

private:
    ManagementTestHost() {
        WSADATA data;
        EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        directory_ = std::string(temp) + "varnox-rpc-" + std::to_string(GetCurrentProcessId());
        endpoint_ = std::string(MANAGEMENT_ENDPOINT) + "-test-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(directory_.c_str(), nullptr);
        endpointMapperState_ = BringUpEndpointMapper();
        config::SetConfigDirectory(directory_);
        config::InstallAdmissionHooks();
        config::LoadConfiguration();
        registrationOutput_ = StandardOutputOf(
            directory_, [this] { registration_ = RegisterManagementInterface(false, endpoint_.c_str()); });
        std::string failedCall;
        EXPECT_EQ(client_.Bind(endpoint_, &failedCall), 0u) << failedCall;
        std::uint8_t text[config::LAST_ERROR_TEXT_SIZE] = {};
        const CallOutcome outcome = client_.GetLastErrorText(text, sizeof text);
        EXPECT_TRUE(outcome.succeeded()) << outcome.rpcStatus;
        initialLastError_ = reinterpret_cast<const char*>(text);
    }

    std::string directory_;
    std::string endpoint_;
    std::string initialLastError_;
    int registration_ = -1;
    DWORD endpointMapperState_ = 0;
    std::string registrationOutput_;
    RemoteManagement client_;
};

// Each test starts with the interface up and no servers.
class ManagementTest : public ::testing::Test {
protected:
    void SetUp() override {
        ManagementTestHost::Get().Clear();
        ASSERT_EQ(ManagementTestHost::Get().RegistrationResult(), 0)
            << ManagementTestHost::Get().RegistrationOutput() << " (endpoint mapper state "
            << ManagementTestHost::Get().EndpointMapperState() << ")";
    }
    void TearDown() override { ManagementTestHost::Get().Clear(); }

    RemoteManagement& Remote() { return ManagementTestHost::Get().Client(); }

    // Adds a server through the interface and returns its handle.
    std::int32_t AddServer(const config::ServerRecord& record) {
        const RecordBuffer buffer = ToBuffer(record);
        std::int32_t server = 0;
        const CallOutcome outcome = Remote().AddServer(&server, buffer.data());
        EXPECT_TRUE(outcome.succeeded()) << outcome.rpcStatus << " " << outcome.result;
        return server;
    }

    config::ServerRecord Server(std::int32_t server) {
        RecordBuffer buffer{};
        const CallOutcome outcome = Remote().GetServer(server, buffer.data());
        EXPECT_TRUE(outcome.succeeded()) << outcome.rpcStatus << " " << outcome.result;
        return FromBuffer<config::ServerRecord>(buffer);
    }

    std::int32_t AddStatic(std::int32_t server, const config::ClientRecord& record) {
        const RecordBuffer buffer = ToBuffer(record);
        const CallOutcome outcome = Remote().AddStaticClient(server, buffer.data());
        EXPECT_TRUE(outcome.succeeded()) << outcome.rpcStatus << " " << outcome.result;
        std::vector<std::int32_t> handles = Handles(server, false);
        return handles.empty() ? 0 : handles.back();
    }

    // A server's static or connected handles, in list order.
    std::vector<std::int32_t> Handles(std::int32_t server, bool connected) {
        std::vector<std::int32_t> handles;
        std::int32_t previous = 0;
        for (;;) {
            std::int32_t next = 0;
            const CallOutcome outcome = connected ? Remote().EnumConnectedClients(server, previous, &next)
                                                  : Remote().EnumStaticClients(server, previous, &next);
            EXPECT_TRUE(outcome.delivered()) << outcome.rpcStatus;
            if (!outcome.succeeded() || next == 0) return handles;
            handles.push_back(next);
            previous = next;
        }
    }

    std::vector<config::ClientRecord> Records(std::int32_t server, bool connected) {
        std::vector<config::ClientRecord> records;
        for (const std::int32_t handle : Handles(server, connected)) {
            RecordBuffer buffer{};
            const CallOutcome outcome = connected ? Remote().GetConnectedClient(handle, buffer.data())
                                                  : Remote().GetStaticClient(handle, buffer.data());
            if (outcome.succeeded()) records.push_back(FromBuffer<config::ClientRecord>(buffer));
        }
        return records;
    }

    std::string LastError() {
        std::uint8_t text[config::LAST_ERROR_TEXT_SIZE] = {};
        const CallOutcome outcome = Remote().GetLastErrorText(text, sizeof text);
        EXPECT_TRUE(outcome.succeeded());
        return reinterpret_cast<const char*>(text);
    }
};

}  // namespace varnox::rpc::testing
