// The result codes that only other options or image masks than the plug-in's own reach, step by
// step against a virtual phone: EFS erase, an image the mask selects but the store never
// loaded, the media and module folders and merge files, and the NV backup to a file with its
// restore. Also the steps' second tries and pauses (partition table, folder removal, the port
// coming back in download mode) and which calibration items the calibration backup needs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/process_log.h"
#include "integration/merge_file_image.h"
#include "link/phone_link.h"
#include "session/download_flows.h"
#include "session/download_steps.h"
#include "session/step_runner.h"
#include "support/log_capture.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_pattern.h"
#include "ui/progress_reporter.h"
#include "vphone/scenario.h"
#include "vphone/scripted_responder.h"
#include "vphone/virtual_phone.h"

namespace tr52 {
namespace {

constexpr vphone::Mode kNormal = vphone::Mode::Normal;
constexpr vphone::Mode kDload = vphone::Mode::Download;

constexpr uint32_t kMediaMask = 1u << IMAGE_MEDIA;
constexpr uint32_t kModuleMask = 1u << IMAGE_MODULE;
constexpr uint32_t kLogoMask = 1u << IMAGE_FLEXIBLE_LOGO;

// A phone file whose removal (EFS2 unlink) the phone refuses with "permission denied".
struct RefusedRemoval {
  const char* file = nullptr;  // phone path
  int times = 0;               // how many removals are refused (-1: all)
};

struct StepCase {
  int code;
  const char* why;
  vphone::Mode start = vphone::Mode::Normal;
  std::string scenario = {};
  uint32_t imageMask = 0;
  uint32_t options = 0;
  BootMode bootMode = BootMode::Diag;
  // The step under test, on the row's context; `work` is a folder for files of the row.
  std::function<ResultCode(StepContext&, const std::string& work)> step;
  // A line the step must have logged ("%d" stands for the COM number; the log holds it in code
  // page 949); null: none.
  const char* logLine = nullptr;
  RefusedRemoval refused = {};
  bool nothingSent = false;           // the phone must not have seen a single request
  const char* removedFile = nullptr;  // a phone file that must be gone afterwards
  uint16_t nvErased = 0;              // an NV item the phone does not hold (0: none)
  bool phoneGone = false;             // the phone's port is gone before the step starts
  int requestsOf = -1;                // a command byte whose requests are counted (-1: none)
  uint64_t requests = 0;              // how many of them the phone must have seen
  int64_t pausedMs = -1;              // what the step slept on the clock (-1: not checked)
};

// The process clock 20 times fast, tallying what the test's own thread sleeps on it. Not faster:
// a 3 s answer time-out must stay long enough for a loaded machine's phone thread to answer.
class PauseTally : public ScaledClock {
 public:
  PauseTally() : ScaledClock(20), owner_(std::this_thread::get_id()) { SetClock(this); }
  ~PauseTally() override { SetClock(nullptr); }
  PauseTally(const PauseTally&) = delete;
  PauseTally& operator=(const PauseTally&) = delete;
  void SleepMs(uint64_t ms) override {
    if (std::this_thread::get_id() == owner_) slept_ += ms;
    ScaledClock::SleepMs(ms);
  }
  int64_t TakeSlept() { return static_cast<int64_t>(std::exchange(slept_, 0)); }

 private:
  std::thread::id owner_;
  uint64_t slept_ = 0;  // the owner's thread only
};

std::string WithCom(std::string line, int com) {
  const std::string number = std::to_string(com);
  for (size_t at = line.find("%d"); at != std::string::npos; at = line.find("%d", at))
    line.replace(at, 2, number), at += number.size();
  return line;
}

// An EFS2 unlink answer carrying error 13, for requests naming `file`.
vphone::ScriptRule RefuseRemoval(const RefusedRemoval& r) {
  const std::string path = std::string(r.file).substr(1);  // sent without its leading '/'
  vphone::ScriptRule rule;
  rule.prefix = {0x4B, 0x13, 0x08, 0x00};
  rule.prefix.insert(rule.prefix.end(), path.begin(), path.end());
  rule.prefix.push_back(0);
  rule.reply.frames = {{0x4B, 0x13, 0x08, 0x00, 13, 0, 0, 0}};
  rule.uses = r.times;
  return rule;
}

class StepResultCodes : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only the merge files and the partition table are in the catalogue: every other slot stays
    // unloaded.
    tr52test::LoadMergeFile(images_, work_, IMAGE_MEDIA, kEfs2KindMedia, "/VIZED/Common/");
    tr52test::LoadMergeFile(images_, work_, IMAGE_MODULE, kEfs2KindModule, "/brew/");
    const std::vector<uint8_t> table = tr52test::Pattern(300, 8);
    const std::string path = work_.File("partition.bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(table.data()),
               static_cast<std::streamsize>(table.size()));
    images_.SetImagePath(IMAGE_PARTITION_TBL, path);
    ASSERT_TRUE(images_.LoadImage(IMAGE_PARTITION_TBL));
  }

  tr52test::TempDir ports_;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", ports_.Path()};  // restored after the test
  tr52test::TempDir work_;
  ImageCatalogue images_;
  PauseTally clock_;
};

TEST_F(StepResultCodes, OptionsAndMasksBeyondThePluginsReachTheirCodes) {
  const auto erase = [](StepContext& ctx, const std::string&) { return EfsEraseStep(ctx); };
  const auto logo = [](StepContext& ctx, const std::string&) {
    return NandDownload(ctx, IMAGE_FLEXIBLE_LOGO);
  };
  const auto removeModules = [](StepContext& ctx, const std::string&) {
    return ModuleStep(ctx, false);
  };
  const auto writeModules = [](StepContext& ctx, const std::string&) {
    return ModuleStep(ctx, true);
  };
  const auto eraseMedia = [](StepContext& ctx, const std::string&) {
    return MediaStep(ctx, false);
  };
  const auto writeMedia = [](StepContext& ctx, const std::string&) { return MediaStep(ctx, true); };
  const auto backup = [](StepContext& ctx, const std::string& work) {
    return NvBackup(ctx, work + "/nv_backup.nv2");
  };
  const auto restoreFromFile = [](StepContext& ctx, const std::string& work) {
    const std::string missing = work + "/never_written.nv2";
    return NV_Restore(ctx, missing.c_str());
  };
  const auto restore = [](StepContext& ctx, const std::string&) {
    return NV_Restore(ctx, nullptr);
  };
  const auto backupThenRestore = [](StepContext& ctx, const std::string& work) {
    const ResultCode backedUp = NvBackup(ctx, work + "/nv_backup.nv2");
    EXPECT_EQ(ToInt(backedUp), 0) << "the backup before the restore";
    return Failed(backedUp) ? backedUp : NV_Restore(ctx, nullptr);
  };
  const auto partitionTable = [](StepContext& ctx, const std::string&) {
    return PreNandDownload(ctx);
  };
  const auto reacquire = [](StepContext& ctx, const std::string&) {
    return ReacquireInDownloadMode(ctx).result;
  };
  // Few NV items, so that a full backup stays short.
  const std::string fewItems = "diag.nv_ranges = 0 20 9001 9006\n";

  const StepCase cases[] = {
      {.code = 1013,
       .why = "EFS erase refused",
       .start = kDload,
       .scenario = "nand.erase_fail = true",
       .options = OPT_ERASE_EFS,
       .step = erase,
       .logLine = "[COM%d] ERROR EFS_ERASE"},
      {.code = 500,
       .why = "EFS erase unanswered",
       .start = kDload,
       .scenario = "script.erase = 24 -> silent",
       .options = OPT_ERASE_EFS,
       .step = erase,
       .logLine = "[COM%d] ERROR EFS_ERASE"},
      {.code = 0,
       .why = "no EFS erase without its option",
       .start = kDload,
       .scenario = "nand.erase_fail = true",
       .step = erase,
       .nothingSent = true},
      {.code = 1015,
       .why = "selected image never loaded: nothing sent",
       .start = kDload,
       .imageMask = kLogoMask,
       .step = logo,
       .logLine = "[COM%d] ERROR :  _NandDownload(FLEXIBLE LOGO) ... ZU3G_ERROR_NO_IMAGE",
       .nothingSent = true},
      {.code = 2001,
       .why = "module file cannot be removed, folder by folder",
       .imageMask = kModuleMask,
       .step = removeModules,
       .logLine = "[COM%d] ERROR ZU3G_ERROR_REMOVE_MODULE",
       .refused = {"/VIZED/Pxo/app.pxo", -1}},
      {.code = 2001,
       .why = "module folder cannot be emptied by the phone (CSW phone)",
       .scenario = "efs.error./VIZED/Pxo = 13",
       .imageMask = kModuleMask,
       .bootMode = BootMode::DiagCsw,
       .step = removeModules,
       .logLine = "[COM%d] ERROR ZU3G_ERROR_REMOVE_MODULE"},
      {.code = 2002,
       .why = "module merge file cannot be written",
       .scenario = "efs.error./brew/added.bin = 13",
       .imageMask = kModuleMask,
       .step = writeModules,
       .logLine = "[COM%d] ERROR G3G_ERROR_DOWNLOAD_MODULE"},
      {.code = 2003,
       .why = "media file cannot be removed",
       .imageMask = kMediaMask,
       .step = eraseMedia,
       .logLine = "   RemoveFile FAIL",
       .refused = {"/VIZED/Common/config.dat", -1}},
      {.code = 0,
       .why = "media file removed on the second attempt",
       .imageMask = kMediaMask,
       .step = eraseMedia,
       .logLine = "[ Files Remove /VIZED/Common/config.dat] 13",
       .refused = {"/VIZED/Common/config.dat", 1},
       .removedFile = "/VIZED/Common/config.dat"},
      {.code = 2004,
       .why = "media merge file does not fit",
       .scenario = "efs.capacity = 1",
       .imageMask = kMediaMask,
       .step = writeMedia,
       .logLine = "ERROR(PutMergeFile) : 중간에 Abort시에 실패로 처리"},
      {.code = 3001,
       .why = "NV read unanswered during the backup",
       .scenario = fewItems + "nv.silent_read_at = 5",
       .options = OPT_NV_BACKUP_FILE,
       .step = backup,
       .logLine = "[COM%d] Error NV Read"},
      {.code = 3004,
       .why = "service programming code refused before the backup",
       .scenario = fewItems + "nv.spc = 123456",
       .options = OPT_NV_BACKUP_FILE,
       .step = backup},
      {.code = 3003,
       .why = "backup file missing",
       .options = OPT_NV_READ_FILE,
       .step = restoreFromFile,
       .logLine = "[COM%d] ERROR _NV_Restore ... ZU3G_ERROR_READ_BACKUP_FILE"},
      {.code = 3004,
       .why = "service programming code refused before the restore",
       .scenario = "nv.spc = 123456",
       .options = OPT_NV_RESTORE,
       .step = restore},
      {.code = 3002,
       .why = "NV writes unanswered during the restore",
       .scenario = fewItems + "phone.silent_cmd = 0x27",
       .options = OPT_NV_BACKUP_FILE | OPT_NV_RESTORE,
       .step = backupThenRestore},
      // The link sends a refused request three times; then the override goes once.
      {.code = 0,
       .why = "partition table refused without override, taken with it",
       .start = kDload,
       .scenario = "nand.partition_mismatch = true",
       .step = partitionTable,
       .requestsOf = 0x40,
       .requests = 4},
      {.code = 6,
       .why = "port never back in download mode: ten tries, a second apart",
       .start = kDload,
       .step = reacquire,
       .logLine = "[COM%d] Port _DloadMode Open Fail[%d]",
       .phoneGone = true,
       .pausedMs = 9000},
      // The calibration backup needs the four calibration items; the calibration date (571) is
      // only logged.
      {.code = 0,
       .why = "calibration backup with every item",
       .options = OPT_CNV_BACKUP,
       .step = backup,
       .requestsOf = 0x80,
       .requests = 1},
      {.code = 3005,
       .why = "calibration backup asked for without a calibration date (this phone refuses it)",
       .options = OPT_CNV_BACKUP,
       .step = backup,
       .nvErased = 571,
       .requestsOf = 0x80,
       .requests = 1},
      {.code = 0,
       .why = "no calibration backup without item 114",
       .options = OPT_CNV_BACKUP,
       .step = backup,
       .nvErased = 114,
       .requestsOf = 0x80,
       .requests = 0},
      {.code = 0,
       .why = "no calibration backup without item 2010",
       .options = OPT_CNV_BACKUP,
       .step = backup,
       .nvErased = 2010,
       .requestsOf = 0x80,
       .requests = 0},
      {.code = 0,
       .why = "no calibration backup without item 5059",
       .options = OPT_CNV_BACKUP,
       .step = backup,
       .nvErased = 5059,
       .requestsOf = 0x80,
       .requests = 0},
      {.code = 0,
       .why = "no calibration backup without item 5459",
       .options = OPT_CNV_BACKUP,
       .step = backup,
       .nvErased = 5459,
       .requestsOf = 0x80,
       .requests = 0},
  };

  int com = 50;
  for (const StepCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + ": " + c.why);
    ++com;
    tr52test::LogCapture log;
    tr52test::TempDir rowDir;

    vphone::PhoneOptions options;
    options.com = com;
    options.startMode = c.start;
    options.scenario = vphone::ParseScenario(c.scenario);
    vphone::VirtualPhone phone(options);
    if (c.refused.file != nullptr) phone.Script().Add(RefuseRemoval(c.refused));
    if (c.nvErased != 0) phone.Nv().Erase(c.nvErased);
    std::string error;
    ASSERT_TRUE(phone.Start(&error)) << error;

    DownloadJob job;
    job.port = static_cast<uint8_t>(com);
    job.imageMask = c.imageMask;
    job.options = c.options;
    job.notifyMsg = WM_DOWNLOAD_STEP;
    StepRunner runner(job, images_);
    ProgressReporter noPane;
    runner.UseProgress(&noPane);
    runner.State().bootMode = c.bootMode;
    if (c.phoneGone) {
      phone.Stop();
    } else {
      ASSERT_TRUE(runner.Link()->Open(static_cast<uint8_t>(com)));
      runner.Link()->SetProtocolMode(c.start == kDload ? Protocol::Dload : Protocol::Diag);
    }

    clock_.TakeSlept();
    EXPECT_EQ(ToInt(c.step(runner.Context(), rowDir.Path())), c.code);
    if (c.pausedMs >= 0) {
      EXPECT_EQ(clock_.TakeSlept(), c.pausedMs);
    }
    if (c.requestsOf >= 0) {
      EXPECT_EQ(phone.RequestsSeen(static_cast<uint8_t>(c.requestsOf)), c.requests);
    }
    if (c.logLine != nullptr) {
      EXPECT_TRUE(log.Has(ToCp949(WithCom(c.logLine, com)))) << c.logLine;
    }
    if (c.nothingSent) {
      EXPECT_EQ(phone.RequestsSeen(), 0u);
    }

    runner.Link()->Close();
    phone.Stop();
    if (c.removedFile != nullptr) {
      EXPECT_EQ(phone.Efs().Find(c.removedFile), nullptr) << c.removedFile;
    }
  }
}

}  // namespace
}  // namespace tr52
