#pragma once
// NameResolver: a background thread that fills in the host names of static clients,
// one reverse lookup at a time and slowly, so that it never loads the name service: at
// most one lookup a second, 6 seconds after each server's list, 15 between full passes.
// Only records not resolved yet (HasName 0) with a real address are looked up; a result
// is written back (and saved) with HasName 1 and the name, or HasName 2 when there is
// none, which lasts until the next service start.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace varnox::config {

struct ResolverPacing {
    // Waits; returns false to end the resolver (tests do, the service's never does).
    std::function<bool(std::chrono::milliseconds)> sleep;
    std::function<std::optional<std::string>(std::uint32_t address)> lookup;
};

// Real sleeps and the system's reverse lookup.
ResolverPacing SystemPacing();

// The resolver's loop over all servers, pass after pass, until `pacing.sleep` says stop.
void RunNameResolver(const ResolverPacing& pacing);

// The service's resolver thread, with SystemPacing; it never ends.
void NameResolver();
void StartNameResolver();

inline constexpr std::chrono::milliseconds RESOLVER_RECORD_PAUSE{1000};
inline constexpr std::chrono::milliseconds RESOLVER_SERVER_PAUSE{5000};
inline constexpr std::chrono::milliseconds RESOLVER_IDLE_PAUSE{5000};
inline constexpr std::chrono::milliseconds RESOLVER_PASS_PAUSE{10000};

}  // namespace varnox::config
