#pragma once
// The configuration as the service shell sees it: the process-wide model with Locals.xml
// behind it and DiskServer engines for its servers.
//
// Service start:  LoadConfiguration() once ConfigLock's users may run (it starts every
//                 server saved as started, each proving itself for a second).
// Service stop:   StopAllServers(); SaveConfiguration(); EmptyConfiguration();
//                 (in that order: the servers that ran are saved as started, so the
//                 next start runs them again).
// Shutdown:       nothing; the file already holds the last change.

#include <string>

namespace varnox::config {

// The directory of Locals.xml; by default the executable's. For tests and tools: set it
// before LoadConfiguration.
void SetConfigDirectory(const std::string& directory);
std::string ConfigDirectory();

// Reads Locals.xml, builds the model and starts the servers saved as started; from then
// on every persistent change is saved. Run once, or again after EmptyConfiguration.
void LoadConfiguration();
// Writes the whole model (nothing before the load has finished).
void SaveConfiguration();
// Ends every running server and waits for its thread, without holding ConfigLock;
// Started stays 1.
void StopAllServers();
// Frees every entry with its client lists; saves do nothing until the next load.
void EmptyConfiguration();

}  // namespace varnox::config
