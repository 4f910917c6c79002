// NvClient against a virtual handset's NV store over a pseudo-terminal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "phone_fixture.h"

namespace tr52test {
namespace {

using tr52::NvRecord;

TEST(NvClientItems, ReadOfPresentItemIsValidWithItsData) {
  PhoneFixture fx;
  NvRecord r;
  ASSERT_TRUE(fx.Nv().NvRead(2010, r));
  EXPECT_TRUE(r.IsValid());
  EXPECT_EQ(r.item, 2010);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.data, vphone::NvStore::DefaultData(2010));
  const auto req = fx.Peer().Requests().at(0);
  ASSERT_EQ(req.size(), 133u);
  EXPECT_EQ(req[0], 0x26);
  EXPECT_EQ(req[1] | (req[2] << 8), 2010);
}

TEST(NvClientItems, NotActiveAndBadParmStatusesLogTheNotActiveLine) {
  PhoneFixture fx;
  fx.Apply({{"nv.read_status.300", "6"}});
  NvRecord r;
  ASSERT_TRUE(fx.Nv().NvRead(2, r));  // item 2 is not in the store: status 5
  EXPECT_FALSE(r.IsValid());
  EXPECT_EQ(r.status, 5);
  ASSERT_TRUE(fx.Nv().NvRead(300, r));
  EXPECT_FALSE(r.IsValid());
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(fx.LogCount("[COM47] NV_NOTACTIVE_S"), 2u);
}

TEST(NvClientItems, AnswerForAnotherItemLeavesRecordClearedWithoutLog) {
  PhoneFixture fx;
  fx.SetHook([](const std::vector<uint8_t>& req) -> std::optional<ScriptedPeer::Answers> {
    return ScriptedPeer::Answers{NvAnswer(req, 999, 0, 0xAA)};
  });
  NvRecord r;
  r.data.fill(0x55);
  EXPECT_TRUE(fx.Nv().NvRead(10, r));
  EXPECT_EQ(r, NvRecord{});
  EXPECT_FALSE(fx.LogHas("NV_NOTACTIVE_S"));
}

TEST(NvClientItems, BadParmAnswerIsDeliveredButInvalid) {
  PhoneFixture fx;
  fx.Apply({{"nv.bad_parm", "12"}});
  NvRecord r;
  r.item = 12;
  EXPECT_TRUE(fx.Nv().NvRead(12, r));
  EXPECT_FALSE(r.IsValid());
  r.item = 12;
  EXPECT_TRUE(fx.Nv().NvReadRecord(r, 0));
  EXPECT_FALSE(r.IsValid());
}

TEST(NvClientItems, ReadRecordSendsIndexAndLogsStatuses) {
  PhoneFixture fx;
  fx.Apply({{"nv.read_status.20", "7"}, {"nv.read_status.21", "4"}});
  NvRecord r;
  r.item = 20;
  ASSERT_TRUE(fx.Nv().NvReadRecord(r, 3));
  EXPECT_FALSE(r.IsValid());
  EXPECT_EQ(fx.Peer().Requests().back()[3], 3);
  r.Clear();
  r.item = 21;
  ASSERT_TRUE(fx.Nv().NvReadRecord(r, 0));
  r.Clear();
  r.item = 2;  // absent: status 5
  ASSERT_TRUE(fx.Nv().NvReadRecord(r, 0));
  EXPECT_TRUE(fx.LogHas("20 - ReadOnly Item"));
  EXPECT_TRUE(fx.LogHas("NV Read Error => 21 - NV_FAIL_S"));
  EXPECT_TRUE(fx.LogHas("NV_NOTACTIVE_S=> 2 - NV_NOTACTIVE_S"));
}

TEST(NvClientItems, SilentPhoneFailsReadWithItemName) {
  PhoneFixture fx(200.0);
  fx.Nv().SetItemNamer([](int item) { return "NV_ESN_I(" + std::to_string(item) + ")"; });
  fx.Apply({{"nv.silent_read_at", "1"}});
  NvRecord r;
  r.item = 0;
  EXPECT_FALSE(fx.Nv().NvReadRecord(r, 0));
  EXPECT_TRUE(fx.LogHas("[COM47]  FAIL : NV_ESN_I(0)"));
  EXPECT_FALSE(fx.Nv().NvRead(5, r));
  EXPECT_TRUE(fx.LogHas("[COM47]   Nv Read Failed (item 5)"));
}

TEST(NvClientItems, WriteStoresDataAndReportsRefusals) {
  PhoneFixture fx;
  fx.Apply({{"nv.readonly", "30"}, {"nv.write_status.31", "4"}});
  NvRecord r;
  r.flag = 1;
  r.item = 29;
  r.data.fill(0x5A);
  EXPECT_TRUE(fx.Nv().NvWrite(r));
  EXPECT_EQ(r.status, 0);
  fx.WithPhone([&](vphone::NvStore& s, vphone::EfsTree&) { EXPECT_EQ(s.Get(29), r.data); });
  r.item = 30;
  EXPECT_TRUE(fx.Nv().NvWrite(r));
  EXPECT_EQ(r.status, 7);
  r.item = 31;
  EXPECT_TRUE(fx.Nv().NvWrite(r));
  EXPECT_EQ(r.status, 4);
  EXPECT_TRUE(fx.LogHas("[COM47] 30 - ReadOnly Item"));
  EXPECT_TRUE(fx.LogHas("[COM47] NV Write Error => 31 - NV_FAIL_S"));
  const auto req = fx.Peer().Requests().at(0);
  EXPECT_EQ(req[0], 0x27);
  EXPECT_EQ(req[3], 0x5A);
  EXPECT_EQ(req[130], 0x5A);
}

TEST(NvClientItems, InvalidRecordIsNotSent) {
  PhoneFixture fx;
  NvRecord r;
  r.item = 29;
  EXPECT_TRUE(fx.Nv().NvWrite(r));
  EXPECT_EQ(fx.Peer().RequestCount(), 0u);
}

TEST(NvClientItems, BannerAndSpc) {
  PhoneFixture fx;
  fx.Apply({{"nv.banner", "TR52 CSW V10"}, {"nv.spc", "123456"}});
  std::string banner;
  ASSERT_TRUE(fx.Nv().GetBanner(&banner));
  EXPECT_EQ(banner, "TR52 CSW V10");
  EXPECT_TRUE(fx.LogHas("[COM47] Banner : TR52 CSW V10"));
  EXPECT_FALSE(fx.Nv().SendSpc());  // default 000000 refused by this phone
  EXPECT_TRUE(fx.Nv().SendSpc("123456"));
  const auto reqs = fx.Peer().Requests();
  ASSERT_GE(reqs.size(), 3u);
  EXPECT_EQ(std::string(reqs[1].begin() + 1, reqs[1].begin() + 7), "000000");
  EXPECT_EQ(reqs[1].size(), 7u);
  EXPECT_EQ(std::string(reqs[2].begin() + 1, reqs[2].begin() + 7), "123456");
  fx.Apply({{"nv.missing", "71"}});
  EXPECT_FALSE(fx.Nv().GetBanner());
  EXPECT_TRUE(fx.LogHas("[COM47] ERROR Get Banner Failed"));
}

// --- backup to file and restore ---

TEST(NvClientBackup, UsualRangesReadEveryItemAndWriteThePresentOnes) {
  PhoneFixture fx;
  const std::string path = fx.Dir().File("nv_backup_47.nv2");
  ASSERT_EQ(fx.Nv().BackupNvToFile(path, tr52::kDefaultNvRanges), 0);
  EXPECT_TRUE(fx.LogHas("Total Number of NV Item to be read = 4573"));
  EXPECT_TRUE(fx.LogHas("[COM47] MIN/MAX : qct(0:4393), zum(9001:9181)"));
  const auto reqs = fx.Peer().Requests();
  ASSERT_EQ(reqs.size(), 4573u);
  EXPECT_EQ(reqs[0][1] | (reqs[0][2] << 8), 0);
  EXPECT_EQ(reqs[4392][1] | (reqs[4392][2] << 8), 4392);
  EXPECT_EQ(reqs[4393][1] | (reqs[4393][2] << 8), 9001);
  EXPECT_EQ(reqs[4572][1] | (reqs[4572][2] << 8), 9180);

  size_t expected = 0;
  fx.WithPhone([&](vphone::NvStore& s, vphone::EfsTree&) {
    for (const auto& [item, data] : s.Items())
      if (item < 4393 || (item >= 9001 && item < 9181)) ++expected;
  });
  tr52::NvBackupSet loaded;
  ASSERT_TRUE(loaded.Open(path, tr52::NvBackupSet::kRead));
  EXPECT_EQ(loaded.Count(), expected);
  NvRecord r;
  ASSERT_TRUE(loaded.Get(0, r));
  EXPECT_EQ(r.flag, 1);
  EXPECT_EQ(r.item, 0);
  EXPECT_EQ(r.data, vphone::NvStore::DefaultData(0));
}

TEST(NvClientBackup, QctMinimumOnlyChangesTheLogLine) {
  PhoneFixture fx;
  ASSERT_EQ(fx.Nv().BackupNvToFile(fx.Dir().File("b.nv2"), {100, 5, 9001, 9003}), 0);
  const auto reqs = fx.Peer().Requests();
  ASSERT_EQ(reqs.size(), 7u);
  EXPECT_EQ(reqs[0][1], 0);
  EXPECT_EQ(reqs[5][1] | (reqs[5][2] << 8), 9001);
}

TEST(NvClientBackup, PhoneAnsweringStatusFiveGivesEmptyFile) {
  PhoneFixture fx;
  fx.Apply({{"nv.read_status_all", "5"}});
  const std::string path = fx.Dir().File("b.nv2");
  ASSERT_EQ(fx.Nv().BackupNvToFile(path, {0, 40, 9001, 9011}), 0);
  EXPECT_EQ(fx.Peer().RequestCount(), 50u);
  EXPECT_EQ(std::filesystem::file_size(path), tr52::NvBackupSet::kHeaderSize);
  EXPECT_EQ(fx.Nv().LoadNvBackupFile(path), 0);
  EXPECT_EQ(fx.Nv().BackupSet()->Count(), 0u);
}

TEST(NvClientBackup, UncreatableFileGivesTwo) {
  PhoneFixture fx;
  EXPECT_EQ(fx.Nv().BackupNvToFile(fx.Dir().File("no/such/dir/b.nv2"), {0, 2, 0, 0}), 2);
  EXPECT_TRUE(fx.LogHas("NV_ERROR_FILE_CREATE"));
  EXPECT_EQ(fx.Peer().RequestCount(), 0u);
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  return names;
}

// A backup that fails half-way (the phone stops answering, or the records do not reach the
// disk) keeps the previous backup byte for byte, or leaves no file when there was none, and
// leaves no temporary file beside it.
TEST(NvClientBackup, FailedBackupKeepsThePreviousFileAndLeavesNoTemporaryFile) {
  enum class Fault { kPhoneFallsSilent, kDiskRefusesTheRecords };
  struct Row {
    const char* name;
    bool previous;
    Fault fault;
    int result;
  };
  const Row rows[] = {
      {"phone falls silent, previous backup", true, Fault::kPhoneFallsSilent, 4},
      {"phone falls silent, first backup", false, Fault::kPhoneFallsSilent, 4},
      {"records do not reach the disk, previous backup", true, Fault::kDiskRefusesTheRecords, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PhoneFixture fx(200.0);
    const std::string folder = fx.Dir().File("backups");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string path = folder + "/nv_backup_47.nv2";
    const tr52::NvRanges ranges{0, 20, 9001, 9002};
    std::vector<uint8_t> before;
    if (row.previous) {
      ASSERT_EQ(fx.Nv().BackupNvToFile(path, ranges), 0);
      before = FileBytes(path);
      ASSERT_GT(before.size(), tr52::NvBackupSet::kHeaderSize);
    }
    int rc = -1;
    if (row.fault == Fault::kPhoneFallsSilent) {
      // Four more reads are answered, then none.
      const size_t readsSoFar = fx.RequestsOf(0x26);
      fx.Apply({{"nv.silent_read_at", std::to_string(readsSoFar + 5)}});
      rc = fx.Nv().BackupNvToFile(path, ranges);
      EXPECT_TRUE(fx.LogHas("[COM47] Error NV Read"));
    } else {
      struct sigaction ignore {
      }, previous{};
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGXFSZ, &ignore, &previous);
      rlimit old{};
      getrlimit(RLIMIT_FSIZE, &old);
      rlimit small = old;
      small.rlim_cur = 200;  // room for the header and one record, not for all of them
      setrlimit(RLIMIT_FSIZE, &small);
      rc = fx.Nv().BackupNvToFile(path, ranges);
      setrlimit(RLIMIT_FSIZE, &old);
      sigaction(SIGXFSZ, &previous, nullptr);
    }
    EXPECT_EQ(rc, row.result);
    if (row.previous) {
      EXPECT_EQ(FileBytes(path), before);
      EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"nv_backup_47.nv2"});
    } else {
      EXPECT_TRUE(FolderNames(folder).empty());
    }
  }
}

TEST(NvClientBackup, LoadFailsWithEightForMissingOrTruncatedFile) {
  PhoneFixture fx;
  EXPECT_EQ(fx.Nv().LoadNvBackupFile(fx.Dir().File("absent.nv2")), 8);
  EXPECT_TRUE(fx.LogHas("[COM47] Read Backup File : "));
  // A set that failed to load is no backup: the restore says so instead of succeeding.
  EXPECT_EQ(fx.Nv().RestoreNvFromFile(), 7);
  EXPECT_EQ(fx.Peer().RequestCount(), 0u);
}

TEST(NvClientBackup, RestoreWithoutSetGivesSeven) {
  PhoneFixture fx;
  EXPECT_EQ(fx.Nv().RestoreNvFromFile(), 7);
}

TEST(NvClientBackup, RestoreOfEmptySetSendsNothing) {
  PhoneFixture fx;
  const std::string path = fx.Dir().File("empty.nv2");
  {
    tr52::NvBackupSet set;
    ASSERT_TRUE(set.Open(path, tr52::NvBackupSet::kWrite));
    ASSERT_TRUE(set.Flush());
  }
  ASSERT_EQ(fx.Nv().LoadNvBackupFile(path), 0);
  EXPECT_EQ(fx.Nv().RestoreNvFromFile(), 0);
  EXPECT_EQ(fx.Peer().RequestCount(), 0u);
}

TEST(NvClientBackup, BackupThenRestoreBringsItemsBackAndSkipsReadOnly) {
  PhoneFixture fx;
  const std::string path = fx.Dir().File("b.nv2");
  ASSERT_EQ(fx.Nv().BackupNvToFile(path, {0, 60, 9001, 9011}), 0);
  fx.Apply({{"nv.readonly", "1"}});
  fx.WithPhone([](vphone::NvStore& s, vphone::EfsTree&) {
    for (uint16_t i = 0; i < 60; ++i) s.Erase(i);
    s.Erase(9001);
  });
  ASSERT_EQ(fx.Nv().LoadNvBackupFile(path), 0);
  const size_t count = fx.Nv().BackupSet()->Count();
  const size_t before = fx.Peer().RequestCount();
  EXPECT_EQ(fx.Nv().RestoreNvFromFile(), 0);
  EXPECT_EQ(fx.Peer().RequestCount() - before, count);
  fx.WithPhone([](vphone::NvStore& s, vphone::EfsTree&) {
    EXPECT_EQ(s.Get(0), vphone::NvStore::DefaultData(0));
    EXPECT_FALSE(s.Get(1).has_value());  // read-only: refused, logged, skipped
    EXPECT_EQ(s.Get(9001), vphone::NvStore::DefaultData(9001));
    EXPECT_FALSE(s.Get(2).has_value());  // never existed
  });
  EXPECT_TRUE(fx.LogHas("[COM47] 1 - ReadOnly Item"));
}

TEST(NvClientBackup, RestoreStopsWithFiveWhenPhoneFallsSilent) {
  PhoneFixture fx(200.0);
  const std::string path = fx.Dir().File("b.nv2");
  ASSERT_EQ(fx.Nv().BackupNvToFile(path, {0, 10, 0, 0}), 0);
  ASSERT_EQ(fx.Nv().LoadNvBackupFile(path), 0);
  fx.SetHook([](const std::vector<uint8_t>&) { return ScriptedPeer::Answers{}; });
  EXPECT_EQ(fx.Nv().RestoreNvFromFile(), 5);
  EXPECT_TRUE(fx.LogHas("NV Write Fail : NV ITEM 0(0)"));
}

// --- CNV ---

TEST(NvClientCnv, HealthyPhoneBacksUpRestoresAndChecks) {
  PhoneFixture fx;
  EXPECT_EQ(fx.Nv().CnvBackup(), 0);
  EXPECT_TRUE(fx.LogHas("[COM47]    CNV Backup SUCCESS"));
  fx.WithPhone([](vphone::NvStore& s, vphone::EfsTree&) {
    s.Erase(114);
    s.Set(2010, vphone::NvData{});
  });
  EXPECT_EQ(fx.Nv().CheckCnvItems(), 3006);
  EXPECT_EQ(fx.Nv().CnvRestore(), 0);
  EXPECT_TRUE(fx.LogHas("[COM47]    CNV Restore SUCCESS"));
  fx.WithPhone([](vphone::NvStore& s, vphone::EfsTree&) {
    EXPECT_EQ(s.Get(114), vphone::NvStore::DefaultData(114));
    EXPECT_EQ(s.Get(2010), vphone::NvStore::DefaultData(2010));
  });
  EXPECT_EQ(fx.Nv().CheckCnvItems(), 0);
  EXPECT_TRUE(fx.LogHas("[COM47]  CNV Check OK"));
  const auto req = fx.Peer().Requests().at(0);
  EXPECT_EQ(req, (std::vector<uint8_t>{0x80, 0x37, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(NvClientCnv, FailingPhoneGivesItsCodes) {
  PhoneFixture fx;
  fx.Apply({{"cnv.backup", "fail"}, {"cnv.restore", "fail"}});
  EXPECT_EQ(fx.Nv().CnvBackup(), 10);
  EXPECT_TRUE(fx.LogHas("[COM47]    CNV Backup Failed (status = 1, rsp_cnt = 1 "));
  EXPECT_EQ(fx.Nv().CnvRestore(), 3006);
  EXPECT_TRUE(fx.LogHas("[COM47]    CNV Restore Failed (status = 1, rsp_cnt = 1 "));
}

TEST(NvClientCnv, SilentPhoneGivesNineAndRestoreCode) {
  PhoneFixture fx(2000.0);
  fx.Apply({{"cnv.backup", "silent"}, {"cnv.restore", "silent"}});
  EXPECT_EQ(fx.Nv().CnvBackup(), 9);
  EXPECT_TRUE(fx.LogHas("[COM47]    CNV Backup Failed\r\n"));
  EXPECT_EQ(fx.Nv().CnvRestore(), 3006);
}

// The final answer decides: status 0 with count 0 fails, status 2 with count 1 succeeds.
TEST(NvClientCnv, FinalAnswerStatusAndCountRules) {
  std::vector<uint8_t> final;  // outlives the phone's thread, which reads it
  PhoneFixture fx;
  fx.SetHook([&](const std::vector<uint8_t>& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != 0x80) return std::nullopt;
    // First the interim answer, the final one a little later as a frame of its own.
    fx.SendLater(final, 100);
    return ScriptedPeer::Answers{vphone::CnvResponder::FirstAnswer(0)};
  });
  // Status 0, count 0 in the final answer: the engine waits once more and takes it.
  // `final` is read by the hook on the peer thread, under the phone's lock.
  fx.WithPhone(
      [&](vphone::NvStore&, vphone::EfsTree&) { final = vphone::CnvResponder::FirstAnswer(0); });
  EXPECT_EQ(fx.Nv().CnvBackup(), 10);
  EXPECT_TRUE(fx.LogHas("CNV Backup Failed (status = 0, rsp_cnt = 0 "));
  ASSERT_TRUE(fx.Link().Serial().Purge());
  fx.WithPhone(
      [&](vphone::NvStore&, vphone::EfsTree&) { final = vphone::CnvResponder::FinalAnswer(0, 2); });
  EXPECT_EQ(fx.Nv().CnvBackup(), 0);
}

TEST(NvClientCnv, CheckReportsEachFlagWhenItem114IsMissing) {
  PhoneFixture fx;
  fx.Apply({{"nv.missing", "114 571"}});
  EXPECT_EQ(fx.Nv().CheckCnvItems(), 3006);
  EXPECT_TRUE(fx.LogHas("[COM47]  Invalid NV Item inserted on the Phone"));
  EXPECT_TRUE(fx.LogHas("[COM47]  bCalDateEnabled=0"));
  EXPECT_TRUE(fx.LogHas("[COM47]  bPIDEnabled=0"));
  EXPECT_TRUE(fx.LogHas("[COM47]  bNV_WCDMA_TX_LIN_MASTER_3_I=1"));
  EXPECT_TRUE(fx.LogHas("[COM47]  bNV_WCDMA_2100_TX_LIN_MASTER_0_ENH_I=1"));
  EXPECT_TRUE(fx.LogHas("[COM47]  bNV_WCDMA_2100_EXP_HDET_VS_AGC_V2_I=1"));
  // Item 571 alone does not decide.
  fx.Apply({{"nv.missing", ""}});
  fx.WithPhone(
      [](vphone::NvStore& s, vphone::EfsTree&) { s.Set(114, vphone::NvStore::DefaultData(114)); });
  EXPECT_EQ(fx.Nv().CheckCnvItems(), 0);
  const auto reqs = fx.Peer().Requests();
  ASSERT_GE(reqs.size(), 5u);
  const int order[5] = {571, 114, 2010, 5059, 5459};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(reqs[i][1] | (reqs[i][2] << 8), order[i]);
}

}  // namespace
}  // namespace tr52test
