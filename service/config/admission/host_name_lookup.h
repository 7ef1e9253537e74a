#pragma once
// Reverse lookup of a client address: the name the system's resolver gives as the
// host's official name. Can block for seconds, so never call it holding ConfigLock.

#include <cstdint>
#include <optional>
#include <string>

namespace varnox::config {

// `address` in network byte order. No name (or no answer): nullopt.
std::optional<std::string> LookUpHostName(std::uint32_t address);

}  // namespace varnox::config
