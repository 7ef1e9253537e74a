#pragma once
// What both benchmark servers do around serving: find a free port, see that the server
// accepts, say so, and wait until they are told to stop.

#include <winsock2.h>
// After winsock2.h, or windows.h brings in the old winsock.h.
#include <windows.h>

#include <cstdint>
#include <string>

#include "bench_options.h"
#include "temp_image.h"

namespace varnox::bench {

// Starts Windows Sockets, picks the port (options.port, or a free one) and, when
// `withImage`, creates the image of options.imageSize. Returns the port, or 0 after
// printing what failed.
std::uint16_t PrepareToServe(const ServerOptions& options, bool withImage, TempImage& image);

// A port on which nothing listens right now; 0 with `error` set when the probe failed.
std::uint16_t FindFreePort(std::string& error);

// True once a connection to 127.0.0.1:`port` succeeds, false after `limitMs`.
bool WaitUntilAccepting(std::uint16_t port, DWORD limitMs);

// Blocks until standard input ends (the script that started the server closes it), or
// `seconds` have passed, or `alsoEnds` (when given) is signalled. Returns what happened:
// "stdin closed", "time limit" or "server ended".
std::string WaitForStop(double seconds, HANDLE alsoEnds);

}  // namespace varnox::bench
