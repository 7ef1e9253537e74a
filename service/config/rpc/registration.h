#pragma once
// Offers the management interface to consoles on this machine: the ncalrpc endpoint
// "varnoxsvc", open to Administrators and LocalSystem only. Registered once per process.

#include "management_endpoint.h"

namespace varnox::rpc {

// Registers the interface and starts listening. With `wait`, the call holds the thread
// for as long as listening lasts (the service main thread); without, it returns as soon
// as calls are being served (test hosts). A failing step prints its "RPC Err" line on
// standard output and ends the registration; the result is then that step's status,
// else 0. A missing or failing name-service export is printed but not fatal. Test hosts
// name an endpoint of their own, so that several can run beside each other and the service.
int RegisterManagementInterface(bool wait, const char* endpoint = MANAGEMENT_ENDPOINT);

// Ends listening and waits for calls in progress; for hosts that registered without
// waiting. Returns 0 or the runtime's status.
int StopManagementInterface();

}  // namespace varnox::rpc
