// The download-mode commands against a virtual phone that misbehaves as its scenario says:
// unlock refused or unanswered, boot-code lock states, refused RAM-write packets, lost packets
// and write errors in the pipelined write. After each failure the link must still serve the
// next ordinary request.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "commands/image_type_table.h"
#include "link/phone_link.h"
#include "package/image_type.h"
#include "support/image_map.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_pattern.h"
#include "ui/progress_reporter.h"
#include "vphone/virtual_phone.h"

namespace {

using namespace tr52;
using Bytes = std::vector<uint8_t>;

constexpr int kCom = 62;

using tr52test::Pattern;

class CommandsFaultsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    link_.Close();
    phone_.reset();
  }

  // A phone already in download mode with the given scenario, the link open to it.
  void StartPhone(const vphone::Scenario& scenario) {
    vphone::PhoneOptions options;
    options.com = kCom;
    options.startMode = vphone::Mode::Download;
    options.rebootDelayMs = 100;
    options.scenario = scenario;
    phone_ = std::make_unique<vphone::VirtualPhone>(options);
    std::string error;
    ASSERT_TRUE(phone_->Start(&error)) << error;
    ASSERT_TRUE(phone_->WaitFor(true, vphone::Mode::Download, 10000));
    ASSERT_TRUE(link_.Open(kCom));
    link_.SetProtocolMode(Protocol::Dload);
    dload_.AttachLink(&link_, &reporter_);
    dload_.SetImageSource(tr52test::ImagesFrom(images_));
  }

  void ExpectLinkServesNextRequest() {
    EXPECT_TRUE(dload_.GetCommMode());
    const int mode = dload_.CommMode();
    EXPECT_EQ(mode, 2);
  }

  Bytes Flashed(const std::string& name) {
    const auto stored = phone_->Flash().Find(name);
    return stored ? stored->data : Bytes{};
  }

  // Retry pauses and the silent phone's time-outs run ten times faster.
  tr52test::ScopedClock clock_{10};
  tr52test::TempDir ports_;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", ports_.Path()};  // restored after the test
  tr52test::ImageMap images_;
  std::unique_ptr<vphone::VirtualPhone> phone_;
  PhoneLink link_;
  ProgressReporter reporter_;
  DloadClient dload_;
};

TEST_F(CommandsFaultsTest, UnlockOfASilentPhoneSucceedsAndOfARefusingPhoneFails) {
  StartPhone({{"dload.unlock", "silent"}});
  EXPECT_TRUE(dload_.DloadUnlock(kPhoneSecurityCode));
  EXPECT_EQ(link_.RxStatus(), RxStatusCode::Timeout);
  link_.Close();
  phone_.reset();

  StartPhone({{"dload.unlock", "refuse"}});
  EXPECT_FALSE(dload_.DloadUnlock(kPhoneSecurityCode));
  ExpectLinkServesNextRequest();
}

TEST_F(CommandsFaultsTest, BootCodeLockIsReleasedWithTheOemsblProof) {
  images_[IMAGE_OEMSBL] = Pattern(4000, 1);
  StartPhone({{"dload.bcpl", "on"}});
  EXPECT_TRUE(dload_.CheckBcplStatus());
  EXPECT_TRUE(dload_.UnlockBcpl());
  EXPECT_FALSE(dload_.CheckBcplStatus());
}

TEST_F(CommandsFaultsTest, BootCodeLockThatStaysOnOrRefusesIsReported) {
  images_[IMAGE_OEMSBL] = Pattern(4000, 1);
  StartPhone({{"dload.bcpl", "on_stuck"}});
  EXPECT_TRUE(dload_.UnlockBcpl());
  EXPECT_TRUE(dload_.CheckBcplStatus());
  link_.Close();
  phone_.reset();

  StartPhone({{"dload.bcpl", "on_refuse"}});
  EXPECT_FALSE(dload_.UnlockBcpl());
  EXPECT_TRUE(dload_.CheckBcplStatus());
}

TEST_F(CommandsFaultsTest, ClassicWriteRidesOutTwoRefusedAttemptsOfAPacket) {
  images_[IMAGE_DBL] = Pattern(40000, 2);
  // The third RAM-write packet is refused six times: two whole transactions of three tries.
  StartPhone({{"nand.fail_ram_write", "3"}, {"nand.fail_ram_write_count", "6"}});
  ASSERT_TRUE(dload_.SetTrustedMode(1));
  ASSERT_TRUE(dload_.NandFlashImageInit(IMAGE_DBL));
  ASSERT_TRUE(dload_.NandFlashWrite(IMAGE_DBL));
  ASSERT_TRUE(dload_.NandFlashFinalize());
  EXPECT_TRUE(Flashed("DBL") == images_[IMAGE_DBL]);
}

TEST_F(CommandsFaultsTest, ClassicWriteGivesUpAfterThreeRefusedAttempts) {
  images_[IMAGE_DBL] = Pattern(40000, 2);
  StartPhone({{"nand.fail_ram_write", "3"}, {"nand.fail_ram_write_count", "9"}});
  ASSERT_TRUE(dload_.SetTrustedMode(1));
  ASSERT_TRUE(dload_.NandFlashImageInit(IMAGE_DBL));
  EXPECT_FALSE(dload_.NandFlashWrite(IMAGE_DBL));
  ExpectLinkServesNextRequest();
}

TEST_F(CommandsFaultsTest, PipelinedWriteFailsOnALostPacketAndFreesTheLink) {
  images_[IMAGE_AMSS] = Pattern(60 * 16384 + 99, 3);
  StartPhone({{"pipe.lost_at", "22"}});
  ASSERT_TRUE(dload_.NandFlashImageInit(IMAGE_AMSS));
  EXPECT_FALSE(dload_.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  EXPECT_EQ(link_.CurrentPipelineMode(), tr52::PipelineMode{});
  ExpectLinkServesNextRequest();
}

TEST_F(CommandsFaultsTest, PipelinedWriteFailsOnAWriteError) {
  images_[IMAGE_AMSS] = Pattern(60 * 16384, 4);
  StartPhone({{"pipe.write_error_at", "31"}});
  ASSERT_TRUE(dload_.NandFlashImageInit(IMAGE_AMSS));
  EXPECT_FALSE(dload_.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  ExpectLinkServesNextRequest();
}

TEST_F(CommandsFaultsTest, PipelinedWriteWorksForEveryAckInterval) {
  for (const char* interval : {"1", "3", "15"}) {
    images_[IMAGE_EFS_GANG] = Pattern(33 * 16384 + 5, 5);
    StartPhone({{"pipe.ack_interval", interval}});
    ASSERT_TRUE(dload_.NandFlashInitWithoutFile(IMAGE_EFS_GANG));
    EXPECT_TRUE(dload_.Dl_AsyncOptimizeWrite(IMAGE_EFS_GANG)) << interval;
    EXPECT_TRUE(Flashed("EFS GANG") == images_[IMAGE_EFS_GANG]) << interval;
    link_.Close();
    phone_.reset();
  }
}

}  // namespace
