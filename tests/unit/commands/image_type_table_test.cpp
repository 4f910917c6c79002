#include "commands/image_type_table.h"

#include <gtest/gtest.h>

#include <string>

namespace tr52 {
namespace {

// The flash table and the package's catalogue number and name the images independently; a
// row out of step would write one image under another's name and address.
TEST(ImageTypeTableTest, RowsFollowTheCatalogueNumbering) {
  for (int t = 0; t < ImageTypeTable::kCount; ++t) {
    const ImageTypeRow& row = ImageTypeTable::Row(t);
    EXPECT_EQ(row.type, t);
    EXPECT_EQ(std::string(row.name), ImageTypeName(t)) << t;
  }
}

}  // namespace
}  // namespace tr52
