// Whole downloads through the plug-in's six operations against healthy virtual phones: each
// flow and write method ends with one success result, the phone's flash holds the package's
// images byte for byte, its calibration is back and it runs its normal software again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_host_fixture.h"

namespace tr52 {
namespace {

using tr52test::PluginHost;

// Healthy downloads: the protocol's time-outs stay real, so no answer is ever missed.
class PluginSession : public PluginHost {
 protected:
  PluginSession() : PluginHost(1) {}
};

struct HealthyCase {
  const char* name;
  int com;
  vphone::Mode start;
  const char* scenario;
  int flow;
  vphone::FlashMethod amssMethod;
  vphone::FlashMethod efsMethod;
};

// The calibration items a download must give back as it found them.
constexpr uint16_t kCalibration[] = {571, 114, 2010, 5059, 5459};

TEST_F(PluginSession, HealthyPhonesAreFlashedAndGetTheirCalibrationBack) {
  using vphone::FlashMethod;
  const HealthyCase cases[] = {
      {"normal mode, pipelined write", 81, vphone::Mode::Normal, "", 1, FlashMethod::Pipelined,
       FlashMethod::Pipelined},
      {"normal mode, NAND programmer", 82, vphone::Mode::Normal,
       "dload.comm_mode = 1\ndload.param_flags = 0", 1, FlashMethod::Classic, FlashMethod::Classic},
      {"normal mode, RAM download (Dl_Init)", 83, vphone::Mode::Normal,
       "dload.comm_mode = 1\ndload.param_flags = 0x02", 1, FlashMethod::RamDownload,
       FlashMethod::Classic},
      {"normal mode, RAM download (Dl_Init_2nd)", 84, vphone::Mode::Normal,
       "dload.comm_mode = 1\ndload.param_flags = 0x40", 1, FlashMethod::RamDownload,
       FlashMethod::Classic},
      {"download mode", 85, vphone::Mode::Download, "cnv.saved = true", 0, FlashMethod::Pipelined,
       FlashMethod::Pipelined},
  };
  for (const HealthyCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto phone = StartPhone(c.com, c.start, c.scenario);
    std::vector<vphone::NvData> before;
    for (uint16_t item : kCalibration) before.push_back(*phone->Nv().Get(item));

    ASSERT_EQ(IsDisconnected(c.com), 0);
    EXPECT_EQ(Download(c.com), win::MAKELONG(1, 1));
    EXPECT_EQ(SessionFlowType(c.com), c.flow);
    ASSERT_FALSE(PaneLines().empty());
    EXPECT_EQ(PaneLines().back(), std::to_string(PaneLines().size()) + ".OK");
    EXPECT_TRUE(Close());
    win::PumpMessages(50);
    EXPECT_EQ(results_.size(), 1u) << "exactly one result per download";

    for (const auto& [type, data] : package_->images) {
      SCOPED_TRACE(ImageTypeName(type));
      const auto flashed = phone->Flash().Find(ImageTypeName(type));
      ASSERT_TRUE(flashed.has_value());
      std::vector<uint8_t> expected = data;
      // The partition table travels in a fixed 512-byte field: the image, then zeros.
      if (type == IMAGE_PARTITION_TBL) expected.resize(512, 0);
      EXPECT_TRUE(flashed->data == expected) << "flash differs from the package's image";
    }
    EXPECT_EQ(phone->Flash().Find("AMSS")->method, c.amssMethod);
    EXPECT_EQ(phone->Flash().Find("EFS GANG")->method, c.efsMethod);
    EXPECT_TRUE(phone->WaitFor(true, vphone::Mode::Normal, 5000))
        << "phone not back in normal mode";
    phone->Stop();
    for (size_t i = 0; i < before.size(); ++i)
      EXPECT_EQ(*phone->Nv().Get(kCalibration[i]), before[i]) << "item " << kCalibration[i];
  }
}

TEST_F(PluginSession, NormalFlowPaneShowsEveryStep) {
  auto phone = StartPhone(86, vphone::Mode::Normal);
  ASSERT_EQ(Download(86), win::MAKELONG(1, 1));
  EXPECT_EQ(PaneLines(),
            (std::vector<std::string>{"1.TR52", "2.Load Bin", "3.Battery Level", "4.BACKUP CNV",
                                      "5.Change Dload", "6.TR52", "7.TRUSTED MODE",
                                      "8.FLASHING DBL", "9.FLASHING FSBL", "10.FLASHING OSBL",
                                      "11.FLASHING FLEXIBLE LOGO", "12.AMSS WRITING",
                                      "13.EFS GANG WRITING", "14.Reset", "15.TR52", "16.OK"}));
  EXPECT_TRUE(Root().Images().IsImageLoaded(IMAGE_AMSS));
  EXPECT_EQ(Root().Images().ImagePath(IMAGE_DBL),
            Root().Settings().Read(kSettingsSection, kPathBinKey, ""));
  EXPECT_TRUE(Close());
  EXPECT_EQ(SessionFlowType(86), -1);
}

// The plug-in's mask carries no OEMSBL, so a locked boot code stays locked: the boot loaders are
// left alone and everything else is still written.
TEST_F(PluginSession, LockedBootCodeSkipsTheBootLoadersOnly) {
  auto phone = StartPhone(88, vphone::Mode::Normal, "dload.bcpl = on");
  ASSERT_EQ(Download(88), win::MAKELONG(1, 1));
  EXPECT_TRUE(Close());
  for (const char* name : {"DBL", "FSBL", "OSBL"})
    EXPECT_FALSE(phone->Flash().Find(name).has_value()) << name << " written under the lock";
  for (const char* name : {"FLEXIBLE LOGO", "AMSS", "EFS GANG"})
    EXPECT_TRUE(phone->Flash().Find(name).has_value()) << name << " not written";
  EXPECT_TRUE(
      Logged("[COM88] OEMSBL is not part of this download: the boot-code lock cannot be "
             "released"));
  EXPECT_TRUE(Logged("[COM88] Boot-code lock still on: DBL, FSBL and OSBL are not written"));
}

TEST_F(PluginSession, PhoneOfAnotherModelEndsWith503BeforeAnyFlow) {
  auto phone = StartPhone(87, vphone::Mode::Normal, "diag.model = TR99");
  ASSERT_EQ(Download(87), win::MAKELONG(503, 1));
  EXPECT_EQ(PaneLines(), std::vector<std::string>{"1.-.ERROR 503 "});
  EXPECT_TRUE(Close());
}

}  // namespace
}  // namespace tr52
