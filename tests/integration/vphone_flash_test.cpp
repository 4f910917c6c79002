// The host's download-mode commands against the virtual phone over a pseudo-terminal: every
// write method puts the images into the phone's flash byte for byte at their NAND addresses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "commands/dload_client.h"
#include "link/phone_link.h"
#include "support/image_map.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_pattern.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

using vphone::Bytes;
using vphone::FlashMethod;
using vphone::Mode;

constexpr int kCom = 62;
constexpr uint8_t kCode[8] = {0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F};

using tr52test::Pattern;

class VphoneFlashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    images[tr52::IMAGE_PARTITION_TBL] = Pattern(300, 1);
    images[tr52::IMAGE_DBL] = Pattern(20000, 2);
    images[tr52::IMAGE_FSBL] = Pattern(16384, 3);
    images[tr52::IMAGE_OSBL] = Pattern(5000, 4);
    images[tr52::IMAGE_FLEXIBLE_LOGO] = Pattern(40000, 5);
    images[tr52::IMAGE_AMSS] = Pattern(100000, 6);
    images[tr52::IMAGE_AMSS_MODEM_HEADER] = Pattern(200, 7);
    images[tr52::IMAGE_EFS_GANG] = Pattern(3 * 16384 + 77, 8);
    images[tr52::IMAGE_OEMSBL] = Pattern(1000, 9);
    images[tr52::IMAGE_MASTER_ROM] = Pattern(250, 10);
    client.SetImageSource(tr52test::ImagesFrom(images));
  }
  void TearDown() override { link.Close(); }

  std::unique_ptr<vphone::VirtualPhone> StartPhone(const std::string& scenario) {
    vphone::PhoneOptions o;
    o.com = kCom;
    o.startMode = Mode::Download;
    o.scenario = vphone::ParseScenario(scenario);
    auto phone = std::make_unique<vphone::VirtualPhone>(o);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    EXPECT_TRUE(link.Open(kCom));
    link.SetProtocolMode(tr52::Protocol::Dload);  // as the booting-mode detection leaves it
    client.AttachLink(&link, nullptr);
    return phone;
  }
  void ExpectFlashed(vphone::VirtualPhone& phone, const char* name, tr52::ImageType type,
                     uint32_t start, FlashMethod method) {
    auto img = phone.Flash().Find(name);
    ASSERT_TRUE(img) << name;
    EXPECT_EQ(img->start, start) << name;
    EXPECT_EQ(img->method, method) << name;
    EXPECT_EQ(img->data, images[type]) << name;
  }

  tr52test::TempDir table;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", table.Path()};  // restored after the test
  tr52test::ScopedClock clock{20.0};
  tr52::PhoneLink link;
  tr52::DloadClient client;
  tr52test::ImageMap images;
};

TEST_F(VphoneFlashTest, ClassicWritesAndTheRamDownload) {
  auto phone = StartPhone("dload.comm_mode = 1\ndload.param_flags = 0x02\n");
  std::string name;
  ASSERT_TRUE(client.GetEmergencyModelName(name));
  EXPECT_EQ(name, "KW_TR52/V10A");
  ASSERT_TRUE(client.DloadUnlock(kCode));
  ASSERT_TRUE(client.SetTrustedMode(1));
  ASSERT_TRUE(client.NandFlashInitWithFile(tr52::IMAGE_PARTITION_TBL, 0));
  EXPECT_FALSE(client.CheckBcplStatus());
  ASSERT_TRUE(client.GetCommMode());
  const int mode = client.CommMode();
  EXPECT_EQ(mode, 1);
  for (auto type :
       {tr52::IMAGE_DBL, tr52::IMAGE_FSBL, tr52::IMAGE_OSBL, tr52::IMAGE_FLEXIBLE_LOGO}) {
    ASSERT_TRUE(client.NandFlashImageInit(type));
    ASSERT_TRUE(client.NandFlashWrite(type));
    ASSERT_TRUE(client.NandFlashFinalize());
  }
  ASSERT_TRUE(client.GetParameters());
  EXPECT_EQ(client.Params().flag1, 1);
  ASSERT_TRUE(client.Dl_Init());
  ASSERT_EQ(client.Dl_Write(tr52::IMAGE_AMSS), tr52::DlWriteResult::Done);
  ASSERT_TRUE(client.Dl_Program());

  ExpectFlashed(*phone, "DBL", tr52::IMAGE_DBL, 1, FlashMethod::Classic);
  ExpectFlashed(*phone, "FSBL", tr52::IMAGE_FSBL, 1, FlashMethod::Classic);
  ExpectFlashed(*phone, "OSBL", tr52::IMAGE_OSBL, 1, FlashMethod::Classic);
  ExpectFlashed(*phone, "FLEXIBLE LOGO", tr52::IMAGE_FLEXIBLE_LOGO, 0x00010000,
                FlashMethod::Classic);
  ExpectFlashed(*phone, "AMSS", tr52::IMAGE_AMSS, 0x00030000, FlashMethod::RamDownload);
  auto table = phone->Flash().Find("PARTITION TBL");
  ASSERT_TRUE(table);
  EXPECT_TRUE(std::equal(images[tr52::IMAGE_PARTITION_TBL].begin(),
                         images[tr52::IMAGE_PARTITION_TBL].end(), table->data.begin()));

  client.DloadReset();
  link.Close();
  EXPECT_TRUE(phone->WaitFor(true, Mode::Normal, 10000));
}

TEST_F(VphoneFlashTest, ClassicAmssAndSecondGenerationRamDownload) {
  auto phone = StartPhone("dload.param_flags = 0x40\n");
  ASSERT_TRUE(client.DloadUnlock(kCode));
  ASSERT_TRUE(client.NandFlashImageInit(tr52::IMAGE_AMSS));
  ASSERT_TRUE(client.NandFlashWrite(tr52::IMAGE_AMSS));
  ASSERT_TRUE(client.NandFlashFinalize());
  ExpectFlashed(*phone, "AMSS", tr52::IMAGE_AMSS, 0x00030000, FlashMethod::Classic);
  ASSERT_TRUE(client.NandFlashInitWithFile(tr52::IMAGE_MASTER_ROM, 0));
  ASSERT_TRUE(client.NandFlashWrite(tr52::IMAGE_MASTER_ROM));
  ASSERT_TRUE(client.NandFlashFinalize());
  ExpectFlashed(*phone, "MASTER ROM", tr52::IMAGE_MASTER_ROM, 0xFFFFFFFE, FlashMethod::Classic);

  images[tr52::IMAGE_AMSS] = Pattern(70000, 11);
  ASSERT_TRUE(client.GetParameters());
  EXPECT_EQ(client.Params().flag6, 1);
  ASSERT_TRUE(client.Dl_Init_2nd(tr52::IMAGE_AMSS));
  ASSERT_EQ(client.Dl_Write(tr52::IMAGE_AMSS), tr52::DlWriteResult::Done);
  ASSERT_TRUE(client.Dl_Program());
  ExpectFlashed(*phone, "AMSS", tr52::IMAGE_AMSS, 0x00030000, FlashMethod::RamDownload);
}

TEST_F(VphoneFlashTest, PipelinedWrites) {
  images[tr52::IMAGE_AMSS] = Pattern(40 * 16384 + 1234, 12);
  auto phone = StartPhone("pipe.ack_interval = 5\n");
  ASSERT_TRUE(client.GetCommMode());
  const int mode = client.CommMode();
  EXPECT_EQ(mode, 2);
  ASSERT_TRUE(client.NandFlashImageInit(tr52::IMAGE_AMSS));
  ASSERT_TRUE(client.Dl_AsyncOptimizeWrite(tr52::IMAGE_AMSS));
  ASSERT_TRUE(client.NandFlashInitWithoutFile(tr52::IMAGE_EFS_GANG));
  ASSERT_TRUE(client.Dl_AsyncOptimizeWrite(tr52::IMAGE_EFS_GANG));
  ExpectFlashed(*phone, "AMSS", tr52::IMAGE_AMSS, 0x00030000, FlashMethod::Pipelined);
  ExpectFlashed(*phone, "EFS GANG", tr52::IMAGE_EFS_GANG, 0x01400000, FlashMethod::Pipelined);
}

TEST_F(VphoneFlashTest, PipelinedFaultsFailTheWrite) {
  images[tr52::IMAGE_AMSS] = Pattern(20 * 16384, 13);
  auto phone = StartPhone("pipe.lost_at = 7\n");
  ASSERT_TRUE(client.NandFlashImageInit(tr52::IMAGE_AMSS));
  EXPECT_FALSE(client.Dl_AsyncOptimizeWrite(tr52::IMAGE_AMSS));
  // The link answers ordinary requests after the failed write.
  EXPECT_TRUE(client.GetCommMode());
}

TEST_F(VphoneFlashTest, BootCodeProtection) {
  auto phone = StartPhone("dload.bcpl = on\n");
  EXPECT_TRUE(client.CheckBcplStatus());
  EXPECT_TRUE(client.UnlockBcpl());
  EXPECT_FALSE(client.CheckBcplStatus());
}

}  // namespace
