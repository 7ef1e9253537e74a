#include "source_kind.h"

namespace varnox {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
    }
    return true;
}

}  // namespace

SourceKind ClassifySourcePath(std::string_view path) {
    constexpr std::string_view kDevicePrefix = "\\\\.\\";
    if (StartsWithIgnoringCase(path, kDevicePrefix) && path.size() >= 6 && path[5] == ':') {
        const char letter = AsciiLower(path[4]);
        if (letter >= 'a' && letter <= 'z') return SourceKind::SOURCE_VOLUME;
    }
    if (StartsWithIgnoringCase(path, "\\\\.\\Physicaldrive")) return SourceKind::SOURCE_PHYSICAL_DRIVE;
    return SourceKind::SOURCE_IMAGE_FILE;
}

const char* SourceKindName(SourceKind kind) {
    switch (kind) {
    case SourceKind::SOURCE_VOLUME:
        return "volume";
    case SourceKind::SOURCE_PHYSICAL_DRIVE:
        return "physical drive";
    case SourceKind::SOURCE_IMAGE_FILE:
        break;
    }
    return "image file";
}

}  // namespace varnox
