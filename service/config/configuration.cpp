#include "configuration.h"

#include "configuration_model.h"
#include "disk_server_runner.h"
#include "xml_file_store.h"

namespace varnox::config {

namespace {

// Never destroyed, like the model: engines may call in while the process ends.
XmlFileStore& Store() {
    static XmlFileStore* const store = new XmlFileStore();
    return *store;
}

DiskServerRunner& Runner() {
    static DiskServerRunner* const runner = new DiskServerRunner();
    return *runner;
}

void UseWindowsBackends() {
    TheConfiguration().SetBackends(&Store(), &Runner());
}

}  // namespace

void SetConfigDirectory(const std::string& directory) {
    Store().SetDirectory(directory);
    UseWindowsBackends();
}

std::string ConfigDirectory() {
    const std::string path = Store().FilePath();
    return path.substr(0, path.find_last_of('\\'));
}

void LoadConfiguration() {
    UseWindowsBackends();
    TheConfiguration().Load();
}

void SaveConfiguration() {
    TheConfiguration().Save();
}

void StopAllServers() {
    TheConfiguration().StopAllServers();
}

void EmptyConfiguration() {
    TheConfiguration().Empty();
}

}  // namespace varnox::config
