#include "source_size.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace varnox {
namespace {

template <typename T>
void Put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

TEST(SourceSize, DriveGeometryCountsWholeCylindersIn64Bits) {
    std::vector<std::uint8_t> geometry(24, 0);
    Put<std::int64_t>(geometry, 0, 243201);  // a 2 TB drive's cylinders
    Put<std::uint32_t>(geometry, 8, 12);     // media type, not part of the size
    Put<std::uint32_t>(geometry, 12, 255);
    Put<std::uint32_t>(geometry, 16, 63);
    Put<std::uint32_t>(geometry, 20, 512);
    const std::uint64_t cylinder = 255ull * 63 * 512;
    EXPECT_EQ(SizeFromDriveGeometry(geometry), 243201ull * cylinder);
    EXPECT_EQ(*SizeFromDriveGeometry(geometry) % cylinder, 0u);
    EXPECT_FALSE(SizeFromDriveGeometry(std::span(geometry).first(23)));
}

TEST(SourceSize, PartitionQueriesReadTheirLengthField) {
    std::vector<std::uint8_t> info(32, 0xEE), infoEx(144, 0xEE), length(8);
    Put<std::uint64_t>(info, 8, 1073741824ull);
    Put<std::uint64_t>(infoEx, 16, 2199023255040ull);
    Put<std::uint64_t>(length, 0, 42);
    EXPECT_EQ(SizeFromPartitionInfo(info), 1073741824ull);
    EXPECT_EQ(SizeFromPartitionInfoEx(infoEx), 2199023255040ull);
    EXPECT_EQ(SizeFromLengthInfo(length), 42u);
    EXPECT_FALSE(SizeFromPartitionInfo(std::span(info).first(15)));
    EXPECT_FALSE(SizeFromPartitionInfoEx(std::span(infoEx).first(23)));
}

}  // namespace
}  // namespace varnox
