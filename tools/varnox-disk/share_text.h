#pragma once
// How the tool shows what a share reports: access levels by name and number, and byte
// counts with a readable binary multiple beside the exact figure.

#include <cstdint>
#include <string>

namespace varnox::disk_tool {

// "full (0)", "read-only (1)", "none (2)"; any level above 2 also means no access.
std::string AccessText(std::uint32_t access);

// "1048576 bytes (1 MiB)", "1536 bytes (1.5 KiB)", "100 bytes".
std::string ByteCountText(std::uint64_t bytes);

// "4 KiB", "2 MiB", "1000 B": a block size in its shortest exact form.
std::string BlockSizeText(std::uint64_t bytes);

}  // namespace varnox::disk_tool
