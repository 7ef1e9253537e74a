#pragma once
// The service's process: hands control to the service control manager, brings the
// service up in its fixed order and runs the stop sequence.

namespace varnox::host {

inline constexpr char SERVICE_NAME[] = "varnoxsvc";

// The process entry's whole work. Returns the process exit code: 0 once the dispatcher
// has returned, also when the process was not started by the service control manager.
int RunServiceProcess();

// The control handler as the service control manager calls it; tests call it in-process
// for the controls that only the system may send (SERVICE_CONTROL_SHUTDOWN).
void __stdcall ServiceControlHandler(unsigned long control);
// The state the service last reported or is about to report.
unsigned long CurrentServiceState();

}  // namespace varnox::host
