#pragma once
// Files for the Windows tests: a temporary directory of their own and whole-file reads
// and writes, so a test can put exact bytes in a Locals.xml and check the bytes written.

// clang-format off
#include <winsock2.h>  // before windows.h, which would bring in the old sockets header
#include <windows.h>
// clang-format on

#include <string>

namespace varnox::config::testing {

inline std::string ReadBytes(const std::string& path) {
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh directory under the temp folder, removed with what is in it (one level deep).
class TempDirectory {
public:
    TempDirectory() {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        static LONG counter = 0;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            path_ = std::string(folder) + "vnxcfg" + std::to_string(GetCurrentProcessId()) + "_" +
                    std::to_string(InterlockedIncrement(&counter));
            if (CreateDirectoryA(path_.c_str(), nullptr)) return;
        }
    }
    ~TempDirectory() { Remove(path_); }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const char* name) const { return path_ + "\\" + name; }

private:
    static void Remove(const std::string& directory) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..") continue;
                const std::string path = directory + "\\" + name;
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    Remove(path);
                } else {
                    DeleteFileA(path.c_str());
                }
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(directory.c_str());
    }
    std::string path_;
};

}  // namespace varnox::config::testing
