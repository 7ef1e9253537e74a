// varnox_bench_host: the real engine on a temporary image, for varnox-disk bench to
// measure. It serves until standard input ends, so the script that started it stops it
// by closing the pipe, and removes the image at the end.

#include <winsock2.h>
// After winsock2.h, or windows.h brings in the old winsock.h.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench_options.h"
#include "disk_server.h"
#include "serving.h"
#include "temp_image.h"

namespace {

using namespace varnox;

int Serve(const bench::ServerOptions& options) {
    bench::TempImage image;
    const std::uint16_t port = bench::PrepareToServe(options, true, image);
    if (port == 0) return 1;
    // The engine reads this when it is constructed; under Wine it otherwise leaves the
    // send buffer alone.
    if (options.zeroSendBuffer && !SetEnvironmentVariableA("VARNOX_SNDBUF_ZERO", "1")) {
        std::fprintf(stderr, "SetEnvironmentVariableA() failed: %lu\n", GetLastError());
        return 1;
    }

    ShareSettings settings;
    settings.source = image.Path();
    settings.port = port;
    DiskServer server(settings);
    if (!server.Source().ready) {
        std::fprintf(stderr, "the engine could not open %s\n", image.Path().c_str());
        return 1;
    }
    const HANDLE ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ended == nullptr) {
        std::fprintf(stderr, "CreateEventA() failed: %lu\n", GetLastError());
        return 1;
    }
    int result = 0;
    std::thread serverThread([&] {
        result = server.RunServer();
        SetEvent(ended);
    });
    if (!bench::WaitUntilAccepting(port, 10000)) {
        std::fprintf(stderr, "the engine does not accept connections on port %u\n", static_cast<unsigned>(port));
        server.StopEngine();
        serverThread.join();
        return 1;
    }
    std::printf("ready port %u engine sndbuf=%s image=%llu\n", static_cast<unsigned>(port),
                options.zeroSendBuffer || !RunningUnderWine() ? "0" : "default",
                static_cast<unsigned long long>(options.imageSize));
    std::fflush(stdout);

    const std::string why = bench::WaitForStop(options.maxSeconds, ended);
    server.StopEngine();
    serverThread.join();
    CloseHandle(ended);
    std::printf("stopped (%s), RunServer returned %d\n", why.c_str(), result);
    return why == "server ended" ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    return varnox::bench::ServerMain(argc, argv, "varnox_bench_host", false, Serve);
}
