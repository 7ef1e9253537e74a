#include <gtest/gtest.h>

#include "text_table.h"

namespace varnox::console {
namespace {

TEST(TextTable, ColumnsAsWideAsTheirWidestCell) {
    TextTable table({"ID", "NAME", "STATE"});
    table.AddRow({"1", "a-long-name", "running"});
    table.AddRow({"12", "b", ""});
    EXPECT_EQ(table.Render(),
              "ID  NAME         STATE\n"
              "1   a-long-name  running\n"
              "12  b\n");
}

TEST(TextTable, ShortAndLongRowsFitTheHeader) {
    TextTable table({"A", "B"});
    EXPECT_TRUE(table.Empty());
    table.AddRow({"only"});
    table.AddRow({"x", "y", "dropped"});
    EXPECT_FALSE(table.Empty());
    EXPECT_EQ(table.Render(),
              "A     B\n"
              "only\n"
              "x     y\n");
}

}  // namespace
}  // namespace varnox::console
