#include "share_text.h"

#include <array>
#include <cstdio>

#include "protocol.h"

namespace varnox::disk_tool {

std::string AccessText(std::uint32_t access) {
    const char* name = access == ACCESS_FULL ? "full" : access == ACCESS_READ_ONLY ? "read-only" : "none";
    return std::string(name) + " (" + std::to_string(access) + ")";
}

std::string ByteCountText(std::uint64_t bytes) {
    static constexpr std::array<const char*, 4> UNITS = {"KiB", "MiB", "GiB", "TiB"};
    std::string text = std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes < 1024) return text;
    double scaled = static_cast<double>(bytes);
    std::size_t unit = 0;
    for (scaled /= 1024; scaled >= 1024 && unit + 1 < UNITS.size(); scaled /= 1024) ++unit;
    char figure[32];
    if (scaled == static_cast<double>(static_cast<std::uint64_t>(scaled))) {
        std::snprintf(figure, sizeof figure, "%.0f", scaled);
    } else {
        std::snprintf(figure, sizeof figure, "%.1f", scaled);
    }
    return text + " (" + figure + " " + UNITS[unit] + ")";
}

std::string BlockSizeText(std::uint64_t bytes) {
    static constexpr std::array<const char*, 4> UNITS = {"B", "KiB", "MiB", "GiB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && bytes % 1024 == 0 && unit + 1 < UNITS.size()) {
        bytes /= 1024;
        ++unit;
    }
    return std::to_string(bytes) + " " + UNITS[unit];
}

}  // namespace varnox::disk_tool
