// NV backup to file and restore, and the phone's own backup and restore (CNV), against the
// virtual phone over a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "link/phone_link.h"
#include "phonedata/nv_client.h"
#include "support/temp_dir.h"
#include "virtual_phone_fixture.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

constexpr int kCom = 62;

class PhonedataNvTest : public tr52test::VirtualPhoneFixture {
 protected:
  PhonedataNvTest() : VirtualPhoneFixture(kCom) {}

  void StartPhone(const std::string& scenario = "") {
    StartPhoneAndLink(scenario);
    nv.AttachLink(&link, nullptr);
  }

  // The phone's NV items as it writes them out ("nv <item> <data>" lines).
  std::string NvState() {
    std::ostringstream all;
    phone->DumpState(all);
    std::istringstream in(all.str());
    std::string line, out;
    while (std::getline(in, line))
      if (line.rfind("nv ", 0) == 0) out += line + "\n";
    return out;
  }

  tr52test::TempDir files;
  tr52::NvClient nv;
};

TEST_F(PhonedataNvTest, FullBackupAndRestoreLeaveTheItemsAsTheyWere) {
  StartPhone("nv.readonly = 9003\n");
  const std::string original = NvState();
  ASSERT_FALSE(original.empty());
  const std::string path = files.File("nv_backup_62.nv2");
  ASSERT_EQ(nv.BackupNvToFile(path, tr52::kDefaultNvRanges), 0);
  const size_t saved = nv.BackupSet()->Count();
  EXPECT_GT(saved, 2900u);

  // Overwrite a spread of items inside the ranges with other data.
  tr52::NvRecord r;
  for (uint16_t item : {0, 1, 114, 571, 2010, 4390, 9001, 9179}) {
    r.Clear();
    r.flag = 1;
    r.item = item;
    r.data.fill(0xEE);
    ASSERT_TRUE(nv.NvWrite(r));
  }
  EXPECT_NE(NvState(), original);

  ASSERT_EQ(nv.LoadNvBackupFile(path), 0);
  EXPECT_EQ(nv.BackupSet()->Count(), saved);
  ASSERT_TRUE(nv.SendSpc());
  ASSERT_EQ(nv.RestoreNvFromFile(), 0);
  EXPECT_EQ(NvState(), original);
}

TEST_F(PhonedataNvTest, BackupOfSilentPhoneLeavesNoFile) {
  CompressWaits(20);
  StartPhone("nv.silent_read_at = 100\n");
  const std::string path = files.File("nv_backup_62.nv2");
  EXPECT_EQ(nv.BackupNvToFile(path, tr52::kDefaultNvRanges), 4);
  // An unfinished backup is no backup: nothing is left to be loaded as one.
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(nv.LoadNvBackupFile(path), 8);
}

TEST_F(PhonedataNvTest, CnvBackupRestoreAndCheckPassOnAHealthyPhone) {
  StartPhone();
  EXPECT_EQ(nv.CnvBackup(), 0);
  EXPECT_EQ(nv.CnvRestore(), 0);
  EXPECT_EQ(nv.CheckCnvItems(), 0);
}

TEST_F(PhonedataNvTest, CnvRestoreBringsTheCalibrationBack) {
  StartPhone();
  const std::string original = NvState();
  ASSERT_EQ(nv.CnvBackup(), 0);
  tr52::NvRecord r;
  for (uint16_t item : {571, 114, 2010, 5059, 5459}) {
    r.Clear();
    r.flag = 1;
    r.item = item;
    ASSERT_TRUE(nv.NvWrite(r));
  }
  EXPECT_NE(NvState(), original);
  ASSERT_EQ(nv.CnvRestore(), 0);
  EXPECT_EQ(NvState(), original);
}

TEST_F(PhonedataNvTest, CnvFailsWithItsCodesOnAFailingPhone) {
  StartPhone("cnv.backup = fail\ncnv.restore = fail\nnv.missing = 114\n");
  EXPECT_EQ(nv.CnvBackup(), 10);
  EXPECT_EQ(nv.CnvRestore(), 3006);
  EXPECT_EQ(nv.CheckCnvItems(), 3006);
}

TEST_F(PhonedataNvTest, CnvRestoreWithoutBackupFails) {
  StartPhone();
  EXPECT_EQ(nv.CnvRestore(), 3006);
}

}  // namespace
