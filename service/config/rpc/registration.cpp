#include "registration.h"

#include <windows.h>

#include <rpc.h>
#include <sddl.h>

#include <cstdio>

#include "management_endpoint.h"
#include "varnox_management.h"

namespace varnox::rpc {
namespace {

// Where each step's failure is reported, as consoles and scripts have always seen it.
constexpr char SOURCE_PATH[] = ".\\korvelsvcrpcs";
constexpr int LINE_REGISTER_INTERFACE = 35;
constexpr int LINE_INQUIRE_BINDINGS = 41;
constexpr int LINE_EXPORT_TO_NAME_SERVICE = 45;
constexpr int LINE_REGISTER_ENDPOINTS = 50;
constexpr int LINE_FREE_BINDINGS = 53;
constexpr int LINE_LISTEN = 56;

constexpr unsigned MAX_CALLS_ON_ENDPOINT = 5;
constexpr unsigned MIN_CALL_THREADS = 1;
constexpr unsigned MAX_CONCURRENT_CALLS = 1234;

// Protected DACL: generic all for the built-in Administrators and for LocalSystem,
// nobody else. The management interface has no authentication of its own, so the
// endpoint's descriptor is what keeps other local users out.
constexpr char ENDPOINT_SECURITY[] = "D:P(A;;GA;;;BA)(A;;GA;;;SY)";

constexpr char NAME_SERVICE_ENTRY[] = "/.:/varnoxsvc";

// The endpoint mapper runs in a service of its own, which may still be starting when we
// do (at boot; under Wine it is started on demand and can take half a minute): while it
// cannot be reached the registration is tried again, for this long at most.
constexpr ULONGLONG ENDPOINT_MAPPER_PATIENCE_MS = 90000;
constexpr DWORD ENDPOINT_MAPPER_RETRY_MS = 500;

using NsBindingExportA = RPC_STATUS(RPC_ENTRY*)(unsigned long entryNameSyntax, unsigned char* entryName,
                                                RPC_IF_HANDLE interfaceSpec, RPC_BINDING_VECTOR* bindings,
                                                UUID_VECTOR* objectUuids);

unsigned char* Text(const char* text) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(text));
}

int Report(long status, int line) {
    std::printf("RPC Err: %d\nfile = %s, line=%d.", static_cast<int>(status), SOURCE_PATH, line);
    std::fflush(stdout);
    return static_cast<int>(status);
}

// The descriptor lives as long as the process: the runtime keeps using the endpoint.
PSECURITY_DESCRIPTOR EndpointSecurity() {
    static PSECURITY_DESCRIPTOR descriptor = [] {
        PSECURITY_DESCRIPTOR made = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(ENDPOINT_SECURITY, SDDL_REVISION_1, &made, nullptr)) {
            std::printf("ConvertStringSecurityDescriptorToSecurityDescriptorA() failed: %lu\n", GetLastError());
            std::fflush(stdout);
            return PSECURITY_DESCRIPTOR{nullptr};
        }
        return made;
    }();
    return descriptor;
}

// The name service is a thing of the past: the library is missing on many systems (and
// in Wine), and where it exists there is usually no locator behind it. It is looked up
// at run time so that its absence cannot stop the service from loading.
RPC_STATUS ExportToNameService(RPC_BINDING_VECTOR* bindings) {
    const HMODULE library = LoadLibraryA("rpcns4.dll");
    if (library == nullptr) return static_cast<RPC_STATUS>(GetLastError());
    const auto exportBindings =
        reinterpret_cast<NsBindingExportA>(reinterpret_cast<void*>(GetProcAddress(library, "RpcNsBindingExportA")));
    RPC_STATUS status = RPC_S_OK;
    if (exportBindings == nullptr) {
        status = static_cast<RPC_STATUS>(GetLastError());
    } else {
        status = exportBindings(RPC_C_NS_SYNTAX_DEFAULT, Text(NAME_SERVICE_ENTRY), varnox_management_v2_0_s_ifspec,
                                bindings, nullptr);
    }
    FreeLibrary(library);
    return status;
}

RPC_STATUS RegisterWithEndpointMapper(RPC_BINDING_VECTOR* bindings) {
    const ULONGLONG deadline = GetTickCount64() + ENDPOINT_MAPPER_PATIENCE_MS;
    for (;;) {
        const RPC_STATUS status = RpcEpRegisterA(varnox_management_v2_0_s_ifspec, bindings, nullptr, nullptr);
        if (status != RPC_S_SERVER_UNAVAILABLE || GetTickCount64() >= deadline) return status;
        Sleep(ENDPOINT_MAPPER_RETRY_MS);
    }
}

}  // namespace

int RegisterManagementInterface(bool wait, const char* endpoint) {
    // Only the local protocol sequence: the interface administers this machine and has
    // no authentication, so it is never offered on the network. The result is not
    // looked at: a second registration finds the endpoint there already, and a real
    // failure shows as no bindings below.
    if (const PSECURITY_DESCRIPTOR security = EndpointSecurity(); security != nullptr) {
        (void)RpcServerUseProtseqEpA(Text(MANAGEMENT_PROTOCOL_SEQUENCE), MAX_CALLS_ON_ENDPOINT, Text(endpoint),
                                     security);
    }

    RPC_STATUS status = RpcServerRegisterIf(varnox_management_v2_0_s_ifspec, nullptr, nullptr);
    if (status != RPC_S_OK) return Report(status, LINE_REGISTER_INTERFACE);

    RPC_BINDING_VECTOR* bindings = nullptr;
    status = RpcServerInqBindings(&bindings);
    if (status != RPC_S_OK) return Report(status, LINE_INQUIRE_BINDINGS);

    status = ExportToNameService(bindings);
    if (status != RPC_S_OK) Report(status, LINE_EXPORT_TO_NAME_SERVICE);

    status = RegisterWithEndpointMapper(bindings);
    if (status != RPC_S_OK) {
        RpcBindingVectorFree(&bindings);
        return Report(status, LINE_REGISTER_ENDPOINTS);
    }

    status = RpcBindingVectorFree(&bindings);
    if (status != RPC_S_OK) return Report(status, LINE_FREE_BINDINGS);

    status = RpcServerListen(MIN_CALL_THREADS, MAX_CONCURRENT_CALLS, wait ? FALSE : TRUE);
    if (status != RPC_S_OK) return Report(status, LINE_LISTEN);
    return 0;
}

int StopManagementInterface() {
    RPC_STATUS status = RpcMgmtStopServerListening(nullptr);
    if (status != RPC_S_OK) return static_cast<int>(status);
    status = RpcMgmtWaitServerListen();
    return static_cast<int>(status);
}

}  // namespace varnox::rpc
