// Faults at every step of a whole download, through the plug-in's six operations: for each step
// of flows 1 and 0, a virtual phone whose cable is pulled there (for good, or back a second
// later), that hangs there, whose answers from there on fail their check sequence, or that
// refuses the step's request; and the faults that belong to single steps (a lost pipelined
// packet, a full EFS2, a reboot that never returns, a phone that comes back as another model).
//
// Every row must end with its result code within the time the download's waits allow, with
// exactly one result to the host, the port closed, and no thread or descriptor left behind once
// the host has closed the pane. The clock and the named waits are those of PluginQuickHost, so
// that most rows take a fraction of a second of real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/phone_link.h"
#include "plugin_quick_host.h"
#include "session/download_session.h"
#include "session/step_context.h"
#include "session/step_runner.h"
#include "support/process_resources.h"
#include "ui/progress_reporter.h"

namespace tr52 {
namespace {

constexpr vphone::Mode kNormal = vphone::Mode::Normal;
constexpr vphone::Mode kDload = vphone::Mode::Download;

// Where a fault strikes: the request that begins the step, in the mode the phone is then in,
// and which occurrence of it.
struct Step {
  const char* name;
  const char* at;  // hex bytes the request starts with
  const char* mode;
  int count = 1;
};

// Steps of flow 1 (the phone answers in normal mode at the start).
const Step kDetectNormal{"detect: DIAG model name", "00", "normal"};
const Step kUnlock{"unlock: security code", "46", "normal"};
const Step kOffline{"off line", "29 01 00", "normal"};
const Step kBattery{"battery level", "4B FC 04 00", "normal"};
const Step kCnvBackup{"phone's own NV backup", "80 37 00 00", "normal"};
const Step kToDload{"switch into download mode", "3A", "normal"};
const Step kDetectDload{"detect in download mode", "0C", "download"};
const Step kDloadUnlock{"download-mode unlock", "0B", "download"};
const Step kTrusted{"trusted mode", "48", "download"};
const Step kPartition{"partition table", "40", "download"};
const Step kBootWrite{"boot loader write", "01", "download"};
const Step kFinalize{"boot loader finalize", "22", "download"};
const Step kCommMode{"communication mode", "50 12", "download"};
// AMSS (200 KiB) goes in 13 packets, EFS GANG (96 KiB) in the 6 after them.
const Step kAmssWrite{"AMSS pipelined write", "50 10", "download", 3};
const Step kEfsWrite{"EFS GANG pipelined write", "50 10", "download", 16};
const Step kDloadReset{"reset after the flash", "0A", "download"};
const Step kRedetect{"detect back in normal mode", "00", "normal", 2};
const Step kCnvRestore{"phone's own NV restore", "80 37 01 00", "normal"};
const Step kFinalReset{"final reset", "29 02 00", "normal"};

// Flow 0 (the phone sits in download mode at the start): its first normal-mode request is the
// detection after the flash.
const Step kRedetect0{"detect back in normal mode", "00", "normal", 1};

enum class Fault { Pull, PullReplug, Silent, BadFcs, Refuse, LostPacket, EfsFull, NoReboot, Model };

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::Pull:
      return "cable pulled";
    case Fault::PullReplug:
      return "cable pulled, back 1 s later";
    case Fault::Silent:
      return "phone silent";
    case Fault::BadFcs:
      return "bad FCS on every answer";
    case Fault::Refuse:
      return "request refused";
    case Fault::LostPacket:
      return "pipelined packet lost";
    case Fault::EfsFull:
      return "EFS2 out of space";
    case Fault::NoReboot:
      return "reboot never returns";
    case Fault::Model:
      return "returns as another model";
  }
  return "?";
}

std::string FaultScenario(Fault fault, const Step& step) {
  auto armed = [&step](const char* kind) {
    return std::string("fault.kind = ") + kind + "\nfault.at = " + step.at +
           "\nfault.at_mode = " + step.mode + "\nfault.at_count = " + std::to_string(step.count) +
           "\n";
  };
  switch (fault) {
    case Fault::Pull:
      return armed("pull");
    case Fault::PullReplug:
      return armed("pull") + "fault.replug_ms = 1000\n";
    case Fault::Silent:
      return armed("silent");
    case Fault::BadFcs:
      return armed("bad_fcs");
    case Fault::Refuse:
      return armed("refuse");
    case Fault::NoReboot:
      return armed("reboot_never");
    case Fault::Model:
      return armed("other_model");
    case Fault::LostPacket:
      // The third packet of every pipelined image is reported lost.
      return "pipe.lost_at = 2\n";
    case Fault::EfsFull:
      return "efs.capacity = 1\n";
  }
  return "";
}

// A result code with, where the compressed clock makes two outcomes a matter of timing, the
// other one that is right as well (0: none).
struct Code {
  int code;
  int orCode = 0;
  Code(int c) : code(c) {}  // NOLINT(google-explicit-constructor): rows read as plain codes
  Code(int c, int alternative) : code(c), orCode(alternative) {}
  bool Accepts(int seen) const { return seen == code || (orCode != 0 && seen == orCode); }
};

struct Row {
  vphone::Mode start;
  const Step* step;  // null: no fault at all
  Fault fault;
  Code code;  // 0: success
  // A line the download must have logged ("%d" stands for the COM number); null: none.
  const char* logLine = nullptr;
};

// A phone found in download mode holds the calibration copy of an earlier backup, as a phone
// that a download left there would.
std::string ScenarioFor(const Row& row) {
  std::string text = row.start == vphone::Mode::Download ? "cnv.saved = true\n" : "";
  if (row.step != nullptr) text += FaultScenario(row.fault, *row.step);
  return text;
}

// The code in the host's result message: 1 for success, else the result code.
int HostCode(int code) {
  return code == 0 ? 1 : code;
}

std::string WithCom(std::string line, int com) {
  const std::string number = std::to_string(com);
  for (size_t at = line.find("%d"); at != std::string::npos; at = line.find("%d", at))
    line.replace(at, 2, number), at += number.size();
  return line;
}

// The longest a download may take on the process clock: every named wait of flow 1 (40 s
// "Emergency Reset", 60 s "DB Creation", 60 s "Reset") and the ten one-second tries to get the
// port back, all shortened by the wait scale; the longest failing step (the partition table,
// sent twice with three attempts of 70 s each); and a minute for the traffic of the steps that
// succeed.
constexpr uint64_t kRowLimitMs =
    ((40 + 60 + 60) * 1000 + 10 * 1000) / tr52test::PluginQuickHost::kWaitScale + 2 * 3 * 70000 +
    60 * 1000;

class PluginFaultMatrix : public tr52test::PluginQuickHost {
 protected:
  bool SessionPortOpen(int port) {
    bool open = false;
    Root().Sessions().WithSession(port,
                                  [&](DownloadSession& s) { open = s.Runner().Link()->IsOpen(); });
    return open;
  }
  // The log lines after the first `from`, one a line, for failure messages.
  std::string LogSince(size_t from) const {
    const auto lines = LogLines();
    std::string out;
    for (size_t i = from; i < lines.size(); ++i) out += lines[i] + "\n";
    return out;
  }
  bool LoggedAfter(size_t from, const std::string& line) const {
    const auto lines = LogLines();
    return std::find(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                     lines.end(), line) != lines.end();
  }
};

TEST_F(PluginFaultMatrix, EveryFaultAtEveryStepEndsWithItsCodeAndLeavesNothingBehind) {
  // Without a fault both flows succeed.
  std::vector<Row> rows = {{kNormal, nullptr, Fault::Pull, 0}, {kDload, nullptr, Fault::Pull, 0}};
  // The five faults that can strike any step, for each step of both flows, with the code the
  // host must see.
  struct StepCodes {
    vphone::Mode start;
    const Step* step;
    Code pull, replug, silent, badFcs, refuse;
  };
  const StepCodes steps[] = {
      {kNormal, &kDetectNormal, 502, 502, 502, 502, 502},
      {kNormal, &kUnlock, 508, 508, 508, 508, 508},
      {kNormal, &kOffline, 506, 506, 506, 506, 506},
      // The battery level never fails the download; going off line again before the switch
      // into download mode does.
      {kNormal, &kBattery, 6, 6, 506, 506, 0},
      {kNormal, &kCnvBackup, 3005, 3005, 3005, 3005, 3005},
      // The switch request always counts as done: a phone that did not switch (or hangs, or
      // garbles every answer) is not found in download mode.
      {kNormal, &kToDload, 6, 502, 502, 502, 502},
      {kNormal, &kDetectDload, 502, 502, 502, 502, 502},
      // An unlock without any answer counts as done; the trusted mode then fails.
      {kNormal, &kDloadUnlock, {1001, 6}, {1001, 6}, 1001, 1014, 1014},
      {kNormal, &kTrusted, 1001, 1001, 1001, 1001, 1001},
      {kNormal, &kPartition, 1002, 1002, 1002, 1002, 1002},
      {kNormal, &kBootWrite, 1010, 1010, 1010, 1010, 1010},
      {kNormal, &kFinalize, 1011, 1011, 1011, 1011, 1011},
      {kNormal, &kCommMode, 5001, 5001, 5001, 5001, 5001},
      {kNormal, &kAmssWrite, 4010, 4010, 500, 500, 4010},
      {kNormal, &kEfsWrite, 4010, 4010, 500, 500, 4010},
      // The reset always counts as done: the phone must then be found in normal mode.
      {kNormal, &kDloadReset, 6, 8, 502, 502, 8},
      {kNormal, &kRedetect, 502, 502, 502, 502, 502},
      {kNormal, &kCnvRestore, 3006, 3006, 3006, 3006, 3006},
      {kNormal, &kFinalReset, 1012, 1012, 1012, 1012, 1012},
      {kDload, &kDetectDload, 502, 502, 502, 502, 502},
      {kDload, &kDloadUnlock, {1001, 6}, {1001, 6}, 1001, 1014, 1014},
      {kDload, &kTrusted, 1001, 1001, 1001, 1001, 1001},
      {kDload, &kBootWrite, 1010, 1010, 1010, 1010, 1010},
      {kDload, &kAmssWrite, 4010, 4010, 500, 500, 4010},
      {kDload, &kDloadReset, 6, 8, 502, 502, 8},
      {kDload, &kRedetect0, 502, 502, 502, 502, 502},
      {kDload, &kCnvRestore, 3006, 3006, 3006, 3006, 3006},
      {kDload, &kFinalReset, 1012, 1012, 1012, 1012, 1012},
  };
  for (const StepCodes& s : steps) {
    rows.push_back({s.start, s.step, Fault::Pull, s.pull});
    rows.push_back({s.start, s.step, Fault::PullReplug, s.replug});
    rows.push_back({s.start, s.step, Fault::Silent, s.silent});
    rows.push_back({s.start, s.step, Fault::BadFcs, s.badFcs});
    rows.push_back({s.start, s.step, Fault::Refuse, s.refuse});
  }
  // Faults of single steps.
  const Row special[] = {
      {kNormal, &kAmssWrite, Fault::LostPacket, 4010,
       "[COM%d] ERROR Dl_AsyncOptimizeWrite() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH"},
      {kDload, &kAmssWrite, Fault::LostPacket, 4010,
       "[COM%d] ERROR Dl_AsyncOptimizeWrite() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH"},
      {kNormal, &kCnvBackup, Fault::EfsFull, 3005, "[COM%d]  CNV_Backup FAILED"},
      // Flow 0 makes no calibration copy: a full EFS2 does not stop it.
      {kDload, &kCnvRestore, Fault::EfsFull, 0},
      {kNormal, &kToDload, Fault::NoReboot, 6, "[COM%d] Port _DloadMode Open Fail[%d]"},
      {kNormal, &kDloadReset, Fault::NoReboot, 6},
      {kDload, &kDloadReset, Fault::NoReboot, 6},
      // After the final reset the download does not look for the phone again.
      {kNormal, &kFinalReset, Fault::NoReboot, 0},
      {kDload, &kFinalReset, Fault::NoReboot, 0},
      {kNormal, &kToDload, Fault::Model, 503},
      {kNormal, &kDloadReset, Fault::Model, 503},
      {kDload, &kDloadReset, Fault::Model, 503},
      {kNormal, &kFinalReset, Fault::Model, 0},
  };
  rows.insert(rows.end(), std::begin(special), std::end(special));

  struct Seen {
    std::string what;
    int code;
    double seconds;
  };
  std::vector<Seen> seen;
  const auto backupFiles = [] {
    int n = 0;
    for (int com = 1; com < 256; ++com)
      n += std::filesystem::exists("nv_backup_" + std::to_string(com) + ".nv2") ? 1 : 0;
    return n;
  };
  const int backupsBefore = backupFiles();
  const int com = 60;
  // One download before the rows: what a process opens once and keeps (the log file, a
  // sanitizer's own thread) is not something a row leaves behind.
  {
    auto phone = StartPhone(com, kNormal);
    ASSERT_EQ(Download(com), win::MAKELONG(1, 1)) << "the download before the rows";
    EXPECT_TRUE(Close());
  }
  for (const Row& row : rows) {
    const std::string what =
        std::string(row.start == kNormal ? "flow 1" : "flow 0") + ", " +
        (row.step == nullptr ? std::string("no fault")
                             : std::string(row.step->name) + ", " + FaultName(row.fault));
    SCOPED_TRACE(what);
    const tr52test::ResourceCount before = tr52test::CountResources();
    const size_t logFrom = LogLines().size();
    const size_t recordsBefore = Records().size();
    const uint64_t startMs = NowMs();
    const auto realStart = std::chrono::steady_clock::now();
    auto phone = StartPhone(com, row.start, ScenarioFor(row));
    ASSERT_EQ(IsDisconnected(com), 0);

    const win::WPARAM result = Download(com, 20);
    const uint64_t tookMs = NowMs() - startMs;
    const int code = result == kNoResult ? -1 : static_cast<int>(result & 0xFFFF);
    seen.push_back(
        {what, code,
         std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count()});
    EXPECT_EQ(result >> 16, 1u);
    EXPECT_TRUE(row.code.Accepts(code == 1 ? 0 : code))
        << "low word " << code << ", expected " << HostCode(row.code.code)
        << "; the download's log:\n"
        << LogSince(logFrom);
    EXPECT_LT(tookMs, kRowLimitMs) << "longer than the waits allow";
    if (result != kNoResult) {
      // A failed first detection leaves the port open until the host closes the pane (unless
      // the cable went with it).
      const bool firstDetection =
          row.step == (row.start == kNormal ? &kDetectNormal : &kDetectDload);
      EXPECT_EQ(SessionPortOpen(com),
                firstDetection && row.fault != Fault::Pull && row.fault != Fault::PullReplug)
          << "the download's log:\n"
          << LogSince(logFrom);
      if (row.logLine != nullptr) {
        EXPECT_TRUE(LoggedAfter(logFrom, WithCom(row.logLine, com))) << row.logLine;
      }
      // One record of the download, written before the result: the same code, and for a
      // failure the step that ended the download.
      const auto records = Records();
      ASSERT_EQ(records.size(), recordsBefore + 1);
      EXPECT_EQ(records.back().com, com);
      EXPECT_EQ(records.back().result, code == 1 ? 0 : code);
      EXPECT_EQ(records.back().facts.endStep.has_value(), code != 1)
          << records.back().facts.endStep.value_or("");
    }
    EXPECT_TRUE(Close());
    win::PumpMessages(30);
    EXPECT_EQ(results_.size(), 1u) << "exactly one result per download";
    EXPECT_EQ(SessionFlowType(com), -1) << "session still registered";
    phone.reset();
    const tr52test::ResourceCount after =
        tr52test::SettleTo(before, std::chrono::milliseconds(2000));
    EXPECT_EQ(after.fds, before.fds) << "descriptors left behind:\n" << tr52test::FdTargets();
    EXPECT_EQ(after.threads, before.threads) << "threads left behind";
  }
  // The plug-in's options make no NV backup file: no fault may leave one.
  EXPECT_EQ(backupFiles(), backupsBefore);

  double longest = 0;
  std::string longestRow;
  std::printf("%-70s %6s %8s\n", "row", "code", "seconds");
  for (const Seen& s : seen) {
    std::printf("%-70s %6d %8.2f\n", s.what.c_str(), s.code, s.seconds);
    if (s.seconds > longest) longest = s.seconds, longestRow = s.what;
  }
  std::printf("%zu rows; longest %.2f s (%s)\n", seen.size(), longest, longestRow.c_str());
}

// The working folder of the process, changed for the life of a scope: the NV backup file of a
// download is made in it.
class ScopedWorkingFolder {
 public:
  explicit ScopedWorkingFolder(const std::string& path)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~ScopedWorkingFolder() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
  }
  ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
  ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

 private:
  std::filesystem::path previous_;
};

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The NV backup file without its time of writing (bytes 20..35 of its header).
std::string WithoutWriteTime(std::string file) {
  if (file.size() >= 36) file.replace(20, 16, 16, '\0');
  return file;
}

// With options that back every NV item up to a file and restore them after the flash, a fault
// during the backup must leave the backup file of the earlier download as it was, byte for
// byte, and a fault after it the complete new one (the same phone gives the same records, only
// the time of writing differs). The session runs on the test's thread, without a pane.
TEST_F(PluginFaultMatrix, AFaultNeverDamagesTheNvBackupFile) {
  const Step kNvRead{"NV backup read", "26", "normal", 200};
  const Step kSpc{"service programming code", "41", "normal", 1};
  const Step kNvWrite{"NV restore write", "27", "normal", 50};
  const struct {
    const Step* step;
    Fault fault;
    int code;
    bool renewed;  // the backup was complete before the fault: a new file
  } rows[] = {
      {&kNvRead, Fault::Pull, 3001, false},   {&kNvRead, Fault::PullReplug, 3001, false},
      {&kNvRead, Fault::Silent, 3001, false}, {&kNvRead, Fault::BadFcs, 3001, false},
      {&kSpc, Fault::Refuse, 3004, false},    {&kToDload, Fault::Pull, 6, true},
      {&kNvWrite, Fault::Pull, 3002, true},   {&kNvWrite, Fault::Silent, 3002, true},
  };
  ScopedWorkingFolder folder(dir_->Path());
  const int com = 61;
  const std::string backupFile = "nv_backup_" + std::to_string(com) + ".nv2";
  const auto run = [&](const std::string& scenario) {
    auto phone = StartPhone(com, kNormal, scenario);
    DownloadJob job = PackageJob(com, OPT_NV_BACKUP_FILE | OPT_NV_RESTORE);
    job.waitScale = kWaitScale;
    DownloadSession session(job, Root().Images());
    ProgressReporter noPane;
    const int code = ToInt(session.Run(noPane));
    EXPECT_FALSE(session.Runner().Link()->IsOpen()) << "port still open";
    return code;
  };

  // A download without a fault makes the backup file the others must keep.
  std::filesystem::remove(backupFile);
  ASSERT_EQ(run(""), 0);
  std::string good = FileBytes(backupFile);
  ASSERT_GT(good.size(), 1000u);

  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.step->name) + ", " + FaultName(row.fault));
    const tr52test::ResourceCount before = tr52test::CountResources();
    EXPECT_EQ(run(FaultScenario(row.fault, *row.step)), row.code);
    const std::string now = FileBytes(backupFile);
    if (row.renewed) {
      EXPECT_TRUE(WithoutWriteTime(now) == WithoutWriteTime(good)) << "the new backup differs";
      EXPECT_FALSE(now == good) << "no new backup was written";
      good = now;
    } else {
      EXPECT_TRUE(now == good) << "the earlier NV backup file changed";
    }
    const tr52test::ResourceCount after =
        tr52test::SettleTo(before, std::chrono::milliseconds(2000));
    EXPECT_EQ(after.fds, before.fds) << "descriptors left behind:\n" << tr52test::FdTargets();
    EXPECT_EQ(after.threads, before.threads) << "threads left behind";
  }
  // Nothing but the backup file is left in the folder by the downloads.
  for (const auto& entry : std::filesystem::directory_iterator(dir_->Path()))
    EXPECT_EQ(entry.path().filename().string().rfind(".nv_backup", 0), std::string::npos)
        << entry.path();
}

}  // namespace
}  // namespace tr52
