#include "temp_image.h"

#include <cstdio>
#include <vector>

namespace varnox::bench {

namespace {

std::string Failed(const char* call) {
    char text[96];
    std::snprintf(text, sizeof text, "%s() failed: %lu", call, GetLastError());
    return text;
}

}  // namespace

TempImage::~TempImage() {
    if (!path_.empty() && !DeleteFileA(path_.c_str())) {
        std::fprintf(stderr, "DeleteFileA(%s) failed: %lu\n", path_.c_str(), GetLastError());
    }
}

std::string TempImage::Create(std::uint64_t size) {
    char folder[MAX_PATH];
    const DWORD folderLength = GetTempPathA(MAX_PATH, folder);
    if (folderLength == 0 || folderLength > MAX_PATH) return Failed("GetTempPathA");
    char name[MAX_PATH];
    if (GetTempFileNameA(folder, "vxb", 0, name) == 0) return Failed("GetTempFileNameA");
    path_ = name;

    const HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed("CreateFileA");
    std::vector<std::uint8_t> piece(1 << 20);
    std::string error;
    for (std::uint64_t done = 0; done < size && error.empty();) {
        const DWORD length = static_cast<DWORD>(size - done < piece.size() ? size - done : piece.size());
        for (DWORD i = 0; i < length; ++i) piece[i] = static_cast<std::uint8_t>(((done + i) * 2654435761u) >> 13);
        DWORD written = 0;
        if (!WriteFile(file, piece.data(), length, &written, nullptr) || written != length) error = Failed("WriteFile");
        done += length;
    }
    if (!CloseHandle(file) && error.empty()) error = Failed("CloseHandle");
    return error;
}

}  // namespace varnox::bench
