#pragma once
// The RPC runtime reports a failed client call (no server on the endpoint, a broken
// connection, a fault in the service) by raising a structured exception from inside the
// client stub. C++ handlers do not see those, so every stub call runs through here.

#include <cstdint>

namespace varnox::rpc {

// Runs call(context). Returns 0 when it came back normally, else the code of the
// exception the RPC runtime raised inside it; whatever `call` had left half done is
// abandoned, so it must hold nothing that needs cleaning up. Faults that mean a defect
// in this process (access violations, stack overflow and the like) are not caught.
std::uint32_t CallGuarded(void (*call)(void* context), void* context);

}  // namespace varnox::rpc
