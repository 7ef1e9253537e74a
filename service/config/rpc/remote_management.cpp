#include "remote_management.h"

#include <windows.h>

#include <rpc.h>

#include <tuple>
#include <type_traits>

#include "guarded_call.h"
#include "varnox_management.h"

namespace varnox::rpc {
namespace {

// One stub call with its arguments copied into a frame the guarded thunk can reach. The
// frame holds only plain values, because after a raised failure nothing in the thunk
// is cleaned up.
template <auto Stub, typename... Args>
CallOutcome Invoke(Args... args) {
    struct Frame {
        std::tuple<Args...> arguments;
        LONG result;
    } frame{{args...}, -1};
    static_assert(std::is_trivially_destructible_v<Frame>);
    const std::uint32_t status = CallGuarded(
        [](void* context) {
            auto& called = *static_cast<Frame*>(context);
            called.result = std::apply(Stub, called.arguments);
        },
        &frame);
    if (status != 0) return CallOutcome{status, -1};
    return CallOutcome{0, static_cast<std::int32_t>(frame.result)};
}

// The stubs take [in] records as writable arrays although they only read them.
unsigned char* InRecord(const std::uint8_t* record) { return const_cast<unsigned char*>(record); }

}  // namespace

RemoteManagement::~RemoteManagement() { Unbind(); }

std::uint32_t RemoteManagement::Bind(std::string_view endpoint, std::string* failedCall) {
    Unbind();
    const std::string endpointText(endpoint);
    unsigned char* bindingText = nullptr;
    RPC_STATUS status = RpcStringBindingComposeA(
        nullptr, reinterpret_cast<unsigned char*>(const_cast<char*>(MANAGEMENT_PROTOCOL_SEQUENCE)), nullptr,
        reinterpret_cast<unsigned char*>(const_cast<char*>(endpointText.c_str())), nullptr, &bindingText);
    if (status != RPC_S_OK) {
        if (failedCall != nullptr) *failedCall = "RpcStringBindingComposeA";
        return static_cast<std::uint32_t>(status);
    }
    status = RpcBindingFromStringBindingA(bindingText, &varnox_management_binding);
    RpcStringFreeA(&bindingText);
    if (status != RPC_S_OK) {
        if (failedCall != nullptr) *failedCall = "RpcBindingFromStringBindingA";
        return static_cast<std::uint32_t>(status);
    }
    bound_ = true;
    return 0;
}

void RemoteManagement::Unbind() {
    if (!bound_) return;
    RpcBindingFree(&varnox_management_binding);
    bound_ = false;
}

CallOutcome RemoteManagement::GetServerName(std::uint8_t* text, std::uint32_t length) {
    return Invoke<&RemoteGetServerName>(static_cast<unsigned char*>(text), static_cast<ULONG>(length));
}

CallOutcome RemoteManagement::AddServer(std::int32_t* server, const std::uint8_t* record) {
    LONG handle = 0;
    const CallOutcome outcome = Invoke<&RemoteAddServer>(&handle, InRecord(record));
    if (outcome.delivered() && server != nullptr) *server = static_cast<std::int32_t>(handle);
    return outcome;
}

CallOutcome RemoteManagement::GetLastErrorText(std::uint8_t* text, std::uint32_t length) {
    return Invoke<&RemoteGetLastErrorText>(static_cast<unsigned char*>(text), static_cast<ULONG>(length));
}

CallOutcome RemoteManagement::EnumServers(std::int32_t previous, std::int32_t* next) {
    LONG handle = 0;
    const CallOutcome outcome = Invoke<&RemoteEnumServers>(static_cast<LONG>(previous), &handle);
    if (outcome.delivered() && next != nullptr) *next = static_cast<std::int32_t>(handle);
    return outcome;
}

CallOutcome RemoteManagement::GetServer(std::int32_t server, std::uint8_t* record) {
    return Invoke<&RemoteGetServer>(static_cast<LONG>(server), static_cast<unsigned char*>(record));
}

CallOutcome RemoteManagement::StartServer(std::int32_t server) {
    return Invoke<&RemoteStartServer>(static_cast<LONG>(server));
}

CallOutcome RemoteManagement::StopServer(std::int32_t server) {
    return Invoke<&RemoteStopServer>(static_cast<LONG>(server));
}

CallOutcome RemoteManagement::DeleteServer(std::int32_t server) {
    return Invoke<&RemoteDeleteServer>(static_cast<LONG>(server));
}

CallOutcome RemoteManagement::AddStaticClient(std::int32_t server, const std::uint8_t* record) {
    return Invoke<&RemoteAddStaticClient>(static_cast<LONG>(server), InRecord(record));
}

CallOutcome RemoteManagement::EnumStaticClients(std::int32_t server, std::int32_t previous, std::int32_t* next) {
    LONG handle = 0;
    const CallOutcome outcome =
        Invoke<&RemoteEnumStaticClients>(static_cast<LONG>(server), static_cast<LONG>(previous), &handle);
    if (outcome.delivered() && next != nullptr) *next = static_cast<std::int32_t>(handle);
    return outcome;
}

CallOutcome RemoteManagement::GetStaticClient(std::int32_t client, std::uint8_t* record) {
    return Invoke<&RemoteGetStaticClient>(static_cast<LONG>(client), static_cast<unsigned char*>(record));
}

CallOutcome RemoteManagement::DeleteStaticClient(std::int32_t server, std::int32_t client) {
    return Invoke<&RemoteDeleteStaticClient>(static_cast<LONG>(server), static_cast<LONG>(client));
}

CallOutcome RemoteManagement::SetStaticClient(std::int32_t client, const std::uint8_t* record) {
    return Invoke<&RemoteSetStaticClient>(static_cast<LONG>(client), InRecord(record));
}

CallOutcome RemoteManagement::AddConnectedClient(std::int32_t server, const std::uint8_t* record) {
    return Invoke<&RemoteAddConnectedClient>(static_cast<LONG>(server), InRecord(record));
}

CallOutcome RemoteManagement::EnumConnectedClients(std::int32_t server, std::int32_t previous, std::int32_t* next) {
    LONG handle = 0;
    const CallOutcome outcome =
        Invoke<&RemoteEnumConnectedClients>(static_cast<LONG>(server), static_cast<LONG>(previous), &handle);
    if (outcome.delivered() && next != nullptr) *next = static_cast<std::int32_t>(handle);
    return outcome;
}

CallOutcome RemoteManagement::GetConnectedClient(std::int32_t client, std::uint8_t* record) {
    return Invoke<&RemoteGetConnectedClient>(static_cast<LONG>(client), static_cast<unsigned char*>(record));
}

CallOutcome RemoteManagement::DeleteConnectedClient(std::int32_t server, std::int32_t client) {
    return Invoke<&RemoteDeleteConnectedClient>(static_cast<LONG>(server), static_cast<LONG>(client));
}

CallOutcome RemoteManagement::SetConnectedClient(std::int32_t client, const std::uint8_t* record) {
    return Invoke<&RemoteSetConnectedClient>(static_cast<LONG>(client), InRecord(record));
}

std::string RpcStatusText(std::uint32_t status) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, status,
                                        0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
        result.pop_back();
    }
    return result;
}

}  // namespace varnox::rpc
