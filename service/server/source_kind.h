#pragma once
// Which kind of disk a share's source path names. Only the prefix is looked at.

#include <string_view>

namespace varnox {

enum class SourceKind { SOURCE_IMAGE_FILE, SOURCE_PHYSICAL_DRIVE, SOURCE_VOLUME };

// "\\.\X:" for any drive letter is a volume (checked first, so "\\.\c:\disk.img" is one
// too), "\\.\PhysicalDrive" followed by anything is a physical drive, and every other
// path is an image file. Comparisons ignore case.
SourceKind ClassifySourcePath(std::string_view path);

const char* SourceKindName(SourceKind kind);

}  // namespace varnox
