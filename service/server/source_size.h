#pragma once
// The arithmetic behind a device source's size, kept apart from the device queries so
// that it can be checked without a device.

#include <cstdint>
#include <optional>
#include <span>

namespace varnox {

// A physical drive counts whole cylinders only, in 64 bits.
std::uint64_t DriveGeometrySize(std::int64_t cylinders, std::uint32_t tracksPerCylinder, std::uint32_t sectorsPerTrack,
                                std::uint32_t bytesPerSector);

// The 24-byte DISK_GEOMETRY output: cylinders (8), media type (4), tracks per cylinder,
// sectors per track, bytes per sector (4 each).
std::optional<std::uint64_t> SizeFromDriveGeometry(std::span<const std::uint8_t> output);

// PARTITION_INFORMATION (32 bytes) holds its length at offset 8.
std::optional<std::uint64_t> SizeFromPartitionInfo(std::span<const std::uint8_t> output);

// PARTITION_INFORMATION_EX (144 bytes) holds its length at offset 16.
std::optional<std::uint64_t> SizeFromPartitionInfoEx(std::span<const std::uint8_t> output);

// GET_LENGTH_INFORMATION is the 8-byte length itself.
std::optional<std::uint64_t> SizeFromLengthInfo(std::span<const std::uint8_t> output);

}  // namespace varnox
