#pragma once
// The disk a share exports: opened once for overlapped reading and writing, measured
// once, and shared by every connection of the share.

#include <windows.h>

#include <cstdint>
#include <string>

#include "source_kind.h"

namespace varnox {

struct DiskSource {
    std::string path;
    SourceKind kind = SourceKind::SOURCE_IMAGE_FILE;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::int64_t size = 0;
    bool ready = false;
};

// Never fails outright: a source that cannot be opened is left not ready, and one whose
// size cannot be determined is ready with size 0.
DiskSource OpenSource(const std::string& path);

void CloseSource(DiskSource& source);

}  // namespace varnox
