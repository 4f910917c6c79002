// The phone commands against the virtual phone over pseudo-terminals: from normal mode into
// download mode through the phone's reboot, then every image of a download written by the
// NAND programmer, with the modem image by each of its routes, and the phone's flash compared
// with the images byte for byte.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "commands/image_type_table.h"
#include "link/phone_link.h"
#include "package/image_type.h"
#include "support/image_map.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_pattern.h"
#include "ui/progress_reporter.h"
#include "vphone/virtual_phone.h"

namespace {

using namespace tr52;
using Bytes = std::vector<uint8_t>;

constexpr int kCom = 61;
constexpr int kWaitMs = 10000;

using tr52test::Pattern;

enum class AmssRoute { Classic, RamInit, RamInit2nd, Pipelined };

struct RouteCase {
  AmssRoute route;
  const char* commMode;
  const char* paramFlags;
  vphone::FlashMethod method;
};

std::string RouteName(const ::testing::TestParamInfo<RouteCase>& info) {
  switch (info.param.route) {
    case AmssRoute::Classic:
      return "Classic";
    case AmssRoute::RamInit:
      return "RamDownloadInit";
    case AmssRoute::RamInit2nd:
      return "RamDownloadInit2nd";
    case AmssRoute::Pipelined:
      return "Pipelined";
  }
  return "Unknown";
}

class CommandsFlashTest : public ::testing::TestWithParam<RouteCase> {
 protected:
  void SetUp() override {
    images_[IMAGE_PARTITION_TBL] = Pattern(300, 1);
    images_[IMAGE_AMSS_MODEM_HEADER] = Pattern(200, 2);
    images_[IMAGE_DBL] = Pattern(20000, 3);
    images_[IMAGE_FSBL] = Pattern(9000, 4);
    images_[IMAGE_OSBL] = Pattern(50000, 5);
    images_[IMAGE_FLEXIBLE_LOGO] = Pattern(70000, 6);
    images_[IMAGE_AMSS] = Pattern(300001, 7);
    images_[IMAGE_EFS_GANG] = Pattern(100000, 8);

    vphone::PhoneOptions options;
    options.com = kCom;
    options.startMode = vphone::Mode::Normal;
    options.rebootDelayMs = 300;
    options.scenario["dload.comm_mode"] = GetParam().commMode;
    options.scenario["dload.param_flags"] = GetParam().paramFlags;
    phone_ = std::make_unique<vphone::VirtualPhone>(options);
    std::string error;
    ASSERT_TRUE(phone_->Start(&error)) << error;
    ASSERT_TRUE(phone_->WaitFor(true, vphone::Mode::Normal, kWaitMs));

    ASSERT_TRUE(link_.Open(kCom));
    diag_.AttachLink(&link_, &reporter_);
    dload_.AttachLink(&link_, &reporter_);
    dload_.SetImageSource(tr52test::ImagesFrom(images_));
  }

  void TearDown() override {
    link_.Close();
    phone_.reset();
  }

  // The port vanished after the last command and comes back under the same COM number in
  // `mode` (its boot count tells a fresh port from the old one).
  void Reconnect(vphone::Mode mode, int bootsBefore) {
    link_.Close();
    for (int i = 0; i < kWaitMs / 10 && phone_->Boots() <= bootsBefore; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GT(phone_->Boots(), bootsBefore);
    ASSERT_TRUE(phone_->WaitFor(true, mode, kWaitMs));
    ASSERT_TRUE(link_.Open(kCom));
  }

  // What the phone's flash holds under `name` must be the image of `type` at its nandStart.
  void ExpectFlashed(const std::string& name, ImageType type, vphone::FlashMethod method) {
    const auto stored = phone_->Flash().Find(name);
    ASSERT_TRUE(stored.has_value()) << name;
    EXPECT_EQ(stored->method, method) << name;
    EXPECT_EQ(stored->start, ImageTypeTable::Row(type).nandStart) << name;
    EXPECT_TRUE(stored->data == images_[type]) << name << ": " << stored->data.size() << " bytes";
  }

  bool ClassicWrite(ImageType type) {
    return dload_.NandFlashImageInit(type) && dload_.NandFlashWrite(type) &&
           dload_.NandFlashFinalize();
  }

  tr52test::TempDir ports_;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", ports_.Path()};  // restored after the test
  tr52test::ImageMap images_;
  std::unique_ptr<vphone::VirtualPhone> phone_;
  PhoneLink link_;
  ProgressReporter reporter_;
  DiagClient diag_;
  DloadClient dload_;
};

TEST_P(CommandsFlashTest, FullDownloadLeavesEveryImageInFlash) {
  // Normal mode: model, unlock, off line, then into download mode.
  std::string model;
  ASSERT_TRUE(diag_.GetModelName(model));
  EXPECT_EQ(model, "TR52");
  ASSERT_TRUE(diag_.SetSecurityCode(kPhoneSecurityCode));
  ASSERT_TRUE(diag_.ChangeOfflineMode(kDiagModeOffline));
  int boots = phone_->Boots();
  diag_.ChangeDloadMode();
  Reconnect(vphone::Mode::Download, boots);
  link_.SetProtocolMode(Protocol::Dload);

  std::string emergency;
  ASSERT_TRUE(dload_.GetEmergencyModelName(emergency));
  ASSERT_TRUE(dload_.DloadUnlock(kPhoneSecurityCode));

  // Programmer set-up and boot loaders.
  ASSERT_TRUE(dload_.SetTrustedMode(1));
  ASSERT_TRUE(dload_.NandFlashInitWithFile(IMAGE_PARTITION_TBL, 0));
  EXPECT_FALSE(dload_.CheckBcplStatus());
  for (ImageType t : {IMAGE_DBL, IMAGE_FSBL, IMAGE_OSBL, IMAGE_FLEXIBLE_LOGO})
    ASSERT_TRUE(ClassicWrite(t)) << ImageTypeTable::Name(t);

  // The modem image by the route the phone offers.
  ASSERT_TRUE(dload_.GetCommMode());
  ASSERT_TRUE(dload_.GetParameters());
  const auto& params = dload_.Params();
  const bool pipelined = dload_.CommMode() == kCommModePipelined;
  const bool ram = !pipelined && ((params.valid && params.flag1) || params.flag6);
  switch (GetParam().route) {
    case AmssRoute::Pipelined:
      ASSERT_TRUE(pipelined);
      break;
    case AmssRoute::Classic:
      ASSERT_FALSE(pipelined || ram);
      break;
    case AmssRoute::RamInit:
      ASSERT_TRUE(ram && !params.flag6);
      break;
    case AmssRoute::RamInit2nd:
      ASSERT_TRUE(ram && params.flag6);
      break;
  }
  if (pipelined) {
    ASSERT_TRUE(dload_.NandFlashImageInit(IMAGE_AMSS));
    ASSERT_TRUE(dload_.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
    ASSERT_TRUE(dload_.NandFlashInitWithoutFile(IMAGE_EFS_GANG));
    ASSERT_TRUE(dload_.Dl_AsyncOptimizeWrite(IMAGE_EFS_GANG));
  } else {
    if (ram) {
      ASSERT_TRUE(params.flag6 ? dload_.Dl_Init_2nd(IMAGE_AMSS) : dload_.Dl_Init());
      ASSERT_EQ(dload_.Dl_Write(IMAGE_AMSS), DlWriteResult::Done);
      ASSERT_TRUE(dload_.Dl_Program());
    } else {
      ASSERT_TRUE(ClassicWrite(IMAGE_AMSS));
    }
    ASSERT_TRUE(dload_.NandFlashInitWithoutFile(IMAGE_EFS_GANG));
    ASSERT_TRUE(dload_.NandFlashWrite(IMAGE_EFS_GANG));
    ASSERT_TRUE(dload_.NandFlashFinalize());
  }

  // Back to normal mode, where the phone answers DIAG again.
  boots = phone_->Boots();
  dload_.DloadReset();
  Reconnect(vphone::Mode::Normal, boots);
  ASSERT_TRUE(diag_.GetModelName(model));

  const auto classic = vphone::FlashMethod::Classic;
  const auto efsMethod = pipelined ? vphone::FlashMethod::Pipelined : classic;
  ExpectFlashed("DBL", IMAGE_DBL, classic);
  ExpectFlashed("FSBL", IMAGE_FSBL, classic);
  ExpectFlashed("OSBL", IMAGE_OSBL, classic);
  ExpectFlashed("FLEXIBLE LOGO", IMAGE_FLEXIBLE_LOGO, classic);
  ExpectFlashed("AMSS", IMAGE_AMSS, GetParam().method);
  ExpectFlashed("EFS GANG", IMAGE_EFS_GANG, efsMethod);
  const auto table = phone_->Flash().Find("PARTITION TBL");
  ASSERT_TRUE(table.has_value());
  // The table travels in a fixed 512-byte field: the image, then zeros.
  const Bytes& sent = images_[IMAGE_PARTITION_TBL];
  Bytes field(512, 0);
  std::copy(sent.begin(), sent.end(), field.begin());
  EXPECT_TRUE(table->data == field);
}

INSTANTIATE_TEST_SUITE_P(
    AmssRoutes, CommandsFlashTest,
    ::testing::Values(RouteCase{AmssRoute::Classic, "0", "0", vphone::FlashMethod::Classic},
                      RouteCase{AmssRoute::RamInit, "0", "2", vphone::FlashMethod::RamDownload},
                      RouteCase{AmssRoute::RamInit2nd, "0", "64", vphone::FlashMethod::RamDownload},
                      RouteCase{AmssRoute::Pipelined, "2", "0", vphone::FlashMethod::Pipelined}),
    RouteName);

}  // namespace
