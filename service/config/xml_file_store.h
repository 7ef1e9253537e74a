#pragma once
// The model's file store on Windows: Locals.xml in the configuration directory, written
// whole through Locals.bak.xml and renamed over the file, so that a failed save leaves
// the previous file as it was.
//
// A Locals.xml that exists but cannot be read loads as an empty configuration; before
// the first save replaces it, it is kept beside it as Locals.unreadable.xml (or
// Locals.unreadable.N.xml, never over an older kept copy), so a damaged file is never
// lost to the service.

// clang-format off
#include <winsock2.h>  // before windows.h, which would bring in the old sockets header
#include <windows.h>
// clang-format on

#include <mutex>
#include <string>
#include <vector>

#include "file_store.h"

namespace varnox::config {

inline constexpr char CONFIG_FILE_NAME[] = "Locals.xml";
inline constexpr char TEMPORARY_FILE_NAME[] = "Locals.bak.xml";
inline constexpr char KEPT_FILE_STEM[] = "Locals.unreadable";

// The executable's full path cut at its last backslash; empty when it cannot be had.
std::string ExecutableDirectory();

class XmlFileStore : public FileStore {
public:
    // An empty directory means the executable's. Narrow strings of the model are in
    // codePage (the system's ANSI code page unless a test stands in another).
    explicit XmlFileStore(std::string directory = {}, UINT codePage = CP_ACP);

    void SetDirectory(std::string directory);
    std::string FilePath();
    std::string TemporaryPath();

    std::vector<StoredServer> Load() override;
    bool Save(const std::vector<StoredServer>& servers) override;

private:
    std::string Directory();
    bool KeepUnreadableFile(const std::string& directory);

    std::mutex mutex_;
    std::string directory_;
    UINT codePage_;
    // The last load met a file it could not read, and no save has kept it yet.
    bool keepUnreadable_ = false;
};

}  // namespace varnox::config
