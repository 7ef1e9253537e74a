#include "source_size.h"

#include <cstring>

namespace varnox {

namespace {

template <typename T>
std::optional<T> LoadAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (bytes.size() < offset + sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

}  // namespace

std::uint64_t DriveGeometrySize(std::int64_t cylinders, std::uint32_t tracksPerCylinder, std::uint32_t sectorsPerTrack,
                                std::uint32_t bytesPerSector) {
    return static_cast<std::uint64_t>(cylinders) * tracksPerCylinder * sectorsPerTrack * bytesPerSector;
}

std::optional<std::uint64_t> SizeFromDriveGeometry(std::span<const std::uint8_t> output) {
    if (output.size() < 24) return std::nullopt;
    return DriveGeometrySize(*LoadAt<std::int64_t>(output, 0), *LoadAt<std::uint32_t>(output, 12),
                             *LoadAt<std::uint32_t>(output, 16), *LoadAt<std::uint32_t>(output, 20));
}

std::optional<std::uint64_t> SizeFromPartitionInfo(std::span<const std::uint8_t> output) {
    return LoadAt<std::uint64_t>(output, 8);
}

std::optional<std::uint64_t> SizeFromPartitionInfoEx(std::span<const std::uint8_t> output) {
    return LoadAt<std::uint64_t>(output, 16);
}

std::optional<std::uint64_t> SizeFromLengthInfo(std::span<const std::uint8_t> output) {
    return LoadAt<std::uint64_t>(output, 0);
}

}  // namespace varnox
