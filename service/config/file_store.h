#pragma once
// Where the model is kept between service runs. The model hands the store a copy of
// everything persistent and gets the same back at start; how it is written (Locals.xml
// through the XML layer on Windows, memory in tests) is the store's business.

#include <vector>

#include "records.h"

namespace varnox::config {

// One server as the file holds it: its record and its static clients, in list order.
struct StoredServer {
    ServerRecord record;
    std::vector<ClientRecord> clients;
};

class FileStore {
public:
    virtual ~FileStore() = default;
    // A missing or unreadable file gives no servers.
    virtual std::vector<StoredServer> Load() = 0;
    // Writes the whole model; false when the previous file was left as it was.
    virtual bool Save(const std::vector<StoredServer>& servers) = 0;
};

}  // namespace varnox::config
