#pragma once
// Where consoles find the management interface on this machine.

namespace varnox::rpc {

inline constexpr char MANAGEMENT_PROTOCOL_SEQUENCE[] = "ncalrpc";
inline constexpr char MANAGEMENT_ENDPOINT[] = "varnoxsvc";

}  // namespace varnox::rpc
