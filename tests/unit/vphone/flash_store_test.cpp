#include "vphone/flash_store.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vphone {
namespace {

TEST(FlashStore, ReassemblesWritesAtTheirAddresses) {
  FlashStore f;
  f.Begin("AMSS", 0x30000, FlashMethod::Classic);
  Bytes a(16, 0x11), b(4, 0x22);
  ASSERT_TRUE(f.Write("AMSS", 0x30000, a));
  ASSERT_TRUE(f.Write("AMSS", 0x30010, b));
  auto img = f.Find("AMSS");
  ASSERT_TRUE(img);
  ASSERT_EQ(img->data.size(), 20u);
  EXPECT_EQ(img->data[15], 0x11);
  EXPECT_EQ(img->data[16], 0x22);
  EXPECT_EQ(img->writes, 2u);
}

TEST(FlashStore, AddressesWrapIn32Bits) {
  FlashStore f;
  f.Begin("MASTER ROM", 0xFFFFFFFE, FlashMethod::Classic);
  Bytes first(16896, 1), second(3104, 2);
  ASSERT_TRUE(f.Write("MASTER ROM", 0xFFFFFFFE, first));
  ASSERT_TRUE(f.Write("MASTER ROM", 0xFFFFFFFEu + 16896u, second));
  EXPECT_EQ(f.Find("MASTER ROM")->data.size(), 20000u);
}

TEST(FlashStore, RefusesWritesBeforeTheStartOrWithoutBegin) {
  FlashStore f;
  Bytes d(4, 0);
  EXPECT_FALSE(f.Write("DBL", 0, d));
  f.Begin("DBL", 0x1000, FlashMethod::Classic);
  EXPECT_FALSE(f.Write("DBL", 0x0FFF, d));  // would wrap to a huge offset
}

TEST(FlashStore, BeginAgainReplacesTheImage) {
  FlashStore f;
  f.Put("PARTITION TBL", 0, FlashMethod::Header, Bytes(512, 1));
  f.Put("PARTITION TBL", 0, FlashMethod::Header, Bytes(8, 2));
  EXPECT_EQ(f.Find("PARTITION TBL")->data, Bytes(8, 2));
}

TEST(FlashStore, DumpCarriesSha256PerImage) {
  FlashStore f;
  const std::string abc = "abc";
  f.Put("LOGO", 0x10000, FlashMethod::Pipelined, Bytes(abc.begin(), abc.end()));
  f.EraseEfs();
  std::ostringstream out;
  f.Dump(out);
  EXPECT_EQ(out.str(),
            "flash \"LOGO\" method pipelined start 0x00010000 size 3 sha256 "
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n"
            "flash efs_erasures 1\n");
}

TEST(FlashStore, EfsEraseDropsTheEfsImage) {
  FlashStore f;
  f.Put("EFS GANG", 0x01400000, FlashMethod::Classic, Bytes(4, 0));
  f.EraseEfs();
  EXPECT_FALSE(f.Find("EFS GANG"));
  EXPECT_EQ(f.EfsErasures(), 1);
}

}  // namespace
}  // namespace vphone
