#include "xml_file_store.h"

#include <cstring>
#include <optional>

#include "log_line.h"
#include "record_attributes.h"
#include "xml_document.h"

namespace varnox::config {

namespace {

// Attribute access to one element of an open document, for the record mapping.
class ElementAttributes : public AttributeReader, public AttributeWriter {
public:
    ElementAttributes(XmlDocument& document, const XmlNode& element) : document_(document), element_(element) {}

    std::optional<std::int32_t> GetInt(const char* name) override {
        std::int32_t value = 0;
        if (!document_.GetIntAttribute(element_, name, value)) return std::nullopt;
        return value;
    }
    std::optional<std::string> GetString(const char* name, std::size_t capacity) override {
        std::string buffer(capacity, '\0');
        if (!document_.GetStringAttribute(element_, name, buffer.data(), capacity)) return std::nullopt;
        buffer.resize(std::strlen(buffer.c_str()));
        return buffer;
    }
    void SetInt(const char* name, std::int32_t value) override {
        ok_ = document_.SetIntAttribute(element_, name, value) && ok_;
    }
    void SetString(const char* name, std::string_view value) override {
        ok_ = document_.SetStringAttribute(element_, name, value) && ok_;
    }
    bool ok() const { return ok_; }

private:
    XmlDocument& document_;
    XmlNode element_;
    bool ok_ = true;
};

}  // namespace

std::string ExecutableDirectory() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        LogLine("GetModuleFileNameA() failed: %lu\n", GetLastError());
        return {};
    }
    std::string directory(path, length);
    const std::size_t slash = directory.find_last_of('\\');
    return slash == std::string::npos ? std::string() : directory.substr(0, slash);
}

XmlFileStore::XmlFileStore(std::string directory, UINT codePage)
    : directory_(std::move(directory)), codePage_(codePage) {}

void XmlFileStore::SetDirectory(std::string directory) {
    std::lock_guard<std::mutex> guard(mutex_);
    directory_ = std::move(directory);
    keepUnreadable_ = false;
}

std::string XmlFileStore::Directory() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (directory_.empty()) directory_ = ExecutableDirectory();
    return directory_;
}

std::string XmlFileStore::FilePath() {
    return Directory() + "\\" + CONFIG_FILE_NAME;
}
std::string XmlFileStore::TemporaryPath() {
    return Directory() + "\\" + TEMPORARY_FILE_NAME;
}

std::vector<StoredServer> XmlFileStore::Load() {
    std::vector<StoredServer> servers;
    // Without a directory there is no file to read, and none will be written.
    const std::string directory = Directory();
    if (directory.empty()) return servers;
    XmlDocument document(codePage_);
    const bool open = document.Open(directory + "\\" + CONFIG_FILE_NAME);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        keepUnreadable_ = document.FileFound() == FileState::Unreadable;
    }
    if (!open) return servers;
    const XmlNode root = document.Root();
    const long serverCount = document.ChildCount(root);
    for (long i = 0; i < serverCount; ++i) {
        // Any element is a server and any element inside it a client; the names are
        // not compared. Comments, text and the like are passed over.
        const XmlNode serverElement = document.Child(root, i);
        if (!document.IsElement(serverElement)) continue;
        ElementAttributes serverAttributes(document, serverElement);
        StoredServer& server = servers.emplace_back();
        server.record = ReadServerAttributes(serverAttributes);
        const long clientCount = document.ChildCount(serverElement);
        for (long j = 0; j < clientCount; ++j) {
            const XmlNode clientElement = document.Child(serverElement, j);
            if (!document.IsElement(clientElement)) continue;
            ElementAttributes clientAttributes(document, clientElement);
            server.clients.push_back(ReadClientAttributes(clientAttributes));
        }
    }
    return servers;
}

bool XmlFileStore::Save(const std::vector<StoredServer>& servers) {
    const std::string directory = Directory();
    if (directory.empty()) return false;
    const std::string temporary = directory + "\\" + TEMPORARY_FILE_NAME;
    const std::string file = directory + "\\" + CONFIG_FILE_NAME;

    // A leftover temporary file from a failed save is opened and cleared like any other.
    XmlDocument document(codePage_);
    if (!document.Open(temporary)) return false;
    const XmlNode root = document.Root();
    if (!root || !document.RemoveChildren(root)) return false;
    for (const StoredServer& server : servers) {
        const XmlNode serverElement = document.AppendElement(XmlNode(), "Server");
        if (!serverElement) return false;
        ElementAttributes serverAttributes(document, serverElement);
        WriteServerAttributes(server.record, serverAttributes);
        if (!serverAttributes.ok()) return false;
        for (const ClientRecord& client : server.clients) {
            const XmlNode clientElement = document.AppendElement(serverElement, "Client");
            if (!clientElement) return false;
            ElementAttributes clientAttributes(document, clientElement);
            WriteClientAttributes(client, clientAttributes);
            if (!clientAttributes.ok()) return false;
        }
    }
    if (!document.SaveTo(temporary)) return false;
    document.Close();

    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (keepUnreadable_) {
            if (!KeepUnreadableFile(directory)) return false;
            keepUnreadable_ = false;
        }
    }
    if (!MoveFileExA(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        // Both files stay; the next save opens the temporary one and clears it.
        LogLine("MoveFileExA() failed: %lu\n", GetLastError());
        return false;
    }
    return true;
}

bool XmlFileStore::KeepUnreadableFile(const std::string& directory) {
    const std::string file = directory + "\\" + CONFIG_FILE_NAME;
    for (int number = 0; number < 1000; ++number) {
        std::string kept = directory + "\\" + KEPT_FILE_STEM;
        if (number > 0) kept += "." + std::to_string(number);
        kept += ".xml";
        // A copy, not a move: until the rename, Locals.xml stays where it is.
        if (CopyFileA(file.c_str(), kept.c_str(), TRUE)) return true;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
        // The file went away meanwhile: nothing left to keep.
        if (error == ERROR_FILE_NOT_FOUND) return true;
        LogLine("CopyFileA() failed: %lu\n", error);
        return false;
    }
    LogLine("CopyFileA() failed: no free name for %s\n", KEPT_FILE_STEM);
    return false;
}

}  // namespace varnox::config
