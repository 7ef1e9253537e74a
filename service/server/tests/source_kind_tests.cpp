#include "source_kind.h"

#include <gtest/gtest.h>

namespace varnox {
namespace {

TEST(SourceKind, ClassifiesByPrefix) {
    struct Case {
        const char* path;
        SourceKind kind;
    };
    const Case cases[] = {
        {R"(\\.\PHYSICALDRIVE1)", SourceKind::SOURCE_PHYSICAL_DRIVE},
        {R"(\\.\PhysicalDrive1)", SourceKind::SOURCE_PHYSICAL_DRIVE},
        {R"(\\.\physicaldrive1)", SourceKind::SOURCE_PHYSICAL_DRIVE},
        {R"(\\.\PhysicalDrive12345)", SourceKind::SOURCE_PHYSICAL_DRIVE},
        {R"(\\.\PhysicalDrive)", SourceKind::SOURCE_PHYSICAL_DRIVE},
        {R"(\\.\PhysicalDriv)", SourceKind::SOURCE_IMAGE_FILE},
        {R"(\\.\Z:)", SourceKind::SOURCE_VOLUME},
        {R"(\\.\z:)", SourceKind::SOURCE_VOLUME},
        {R"(\\.\a:)", SourceKind::SOURCE_VOLUME},
        {R"(\\.\c:\disk.img)", SourceKind::SOURCE_VOLUME},
        {R"(\\.\1:)", SourceKind::SOURCE_IMAGE_FILE},
        {R"(\\.\c)", SourceKind::SOURCE_IMAGE_FILE},
        {R"(\\?\c:)", SourceKind::SOURCE_IMAGE_FILE},
        {R"(D:\images\disk.img)", SourceKind::SOURCE_IMAGE_FILE},
        {R"(\\server\share\disk.img)", SourceKind::SOURCE_IMAGE_FILE},
        {"", SourceKind::SOURCE_IMAGE_FILE},
    };
    for (const Case& c : cases) EXPECT_EQ(ClassifySourcePath(c.path), c.kind) << c.path;
}

}  // namespace
}  // namespace varnox
