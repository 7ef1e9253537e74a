// varnoxsvc: the disk-sharing service. It takes no command-line options.
#include "service_shell.h"

int main() { return varnox::host::RunServiceProcess(); }
