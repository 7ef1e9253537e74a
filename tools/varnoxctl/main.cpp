// varnoxctl: the console for the Varnox service on this machine, over the management
// interface on ncalrpc.

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "console_commands.h"
#include "remote_management.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

    varnox::rpc::RemoteManagement management;
    const auto bind = [&](const std::string& endpoint) -> std::string {
        std::string failedCall;
        const std::uint32_t status = management.Bind(endpoint, &failedCall);
        if (status == 0) return "";
        return failedCall + "() failed: " + std::to_string(status) + " (" + varnox::rpc::RpcStatusText(status) + ")";
    };
    const varnox::console::ConsoleOutput output{std::cout, std::cerr, &varnox::rpc::RpcStatusText};
    const int status = varnox::console::RunConsole(arguments, management, bind, output);
    std::cout.flush();
    return status;
}
