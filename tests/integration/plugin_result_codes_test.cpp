// Every result code a phone can cause, through the plug-in's six operations: one virtual phone
// per row, set up to fail at one point of the download, and the code the host receives for it.
// Each download must end within a bounded time with exactly one result, and leave no handle on
// the phone's port once the host has closed it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "link/phone_link.h"
#include "plugin_host_fixture.h"
#include "session/step_runner.h"

namespace tr52 {
namespace {

using tr52test::PluginHost;

class PluginResultCodes : public PluginHost {
 protected:
  // Whether the session of `port` still holds its port open (its link's own flag).
  bool SessionPortOpen(int port) {
    bool open = false;
    Root().Sessions().WithSession(port,
                                  [&](DownloadSession& s) { open = s.Runner().Link()->IsOpen(); });
    return open;
  }
  // Whether `line` was logged after the first `from` lines of this test's log.
  bool LoggedAfter(size_t from, const std::string& line) const {
    const auto lines = LogLines();
    return std::find(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                     lines.end(), line) != lines.end();
  }
};

// Handles of this process on a pseudo-terminal's device side: the phone's own one while its
// port exists, plus whatever the host side has not closed (also on a port that has vanished).
int PtyHandles() {
  namespace fs = std::filesystem;
  int n = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(entry.path(), linkError);
    if (!linkError && target.string().rfind("/dev/pts/", 0) == 0) ++n;
  }
  return n;
}

// The expected log line with every "%d" replaced by the COM number.
std::string WithCom(std::string line, int com) {
  const std::string number = std::to_string(com);
  for (size_t at = line.find("%d"); at != std::string::npos; at = line.find("%d", at))
    line.replace(at, 2, number), at += number.size();
  return line;
}

enum class Package { Standard, WithoutEfsGang, Missing };

struct CodeCase {
  int code;
  const char* why;
  int com;
  vphone::Mode start;
  const char* scenario;
  // A line the download must have logged ("%d" stands for the COM number); null: none.
  const char* logLine = nullptr;
  // When set, the only commands (first request bytes) the phone may have seen at all.
  std::set<uint8_t> onlyCommands = {};
  Package package = Package::Standard;
  // A failed detection ends the download before any flow: the port then stays open until the
  // host closes the pane. Every other end closes it at once.
  bool portOpenUntilClose = false;
};

constexpr vphone::Mode kNormal = vphone::Mode::Normal;
constexpr vphone::Mode kDload = vphone::Mode::Download;

// Command bytes of the detection: DIAG model name, banner (NV read), emergency model name.
constexpr uint8_t kVerno = 0x00;
constexpr uint8_t kNvRead = 0x26;
constexpr uint8_t kVerreq = 0x0C;

TEST_F(PluginResultCodes, EachPhoneFaultEndsWithItsCodeAndClosesThePort) {
  const tr52test::DownloadPackage withoutEfsGang = tr52test::WriteDownloadPackage(
      dir_->File("TR52_NO_EFS.dz"), tr52test::DownloadPackageShape{.withEfsGang = false});
  ASSERT_FALSE(withoutEfsGang.path.empty());
  const std::string missingPackage = dir_->File("TR52_MISSING.dz");

  const CodeCase cases[] = {
      {6, "port not back after the switch into download mode", 11, kNormal,
       "phone.reboot_never = true", "[COM%d] Port _DloadMode Open Fail[%d]"},
      {8, "phone still in download mode after the final reset (flow 1)", 12, kNormal,
       "script.reset = 0A -> 02", "[COM%d] Error Invalid Booting Mode = 2"},
      {8, "phone still in download mode after the final reset (flow 0)", 13, kDload,
       "cnv.saved = true\nscript.reset = 0A -> 02", "[COM%d] Error Invalid Booting Mode = 2"},
      {500, "RAM preparation unanswered", 14, kNormal,
       "dload.comm_mode = 1\ndload.param_flags = 0x02\nscript.ram_init = 50 01 -> silent",
       "[COM%d] ERROR Dl_Init() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM"},
      {500, "pipelined write unacknowledged", 15, kDload, "script.async = 50 10 -> silent",
       "[COM%d] ERROR Dl_AsyncOptimizeWrite() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH"},
      {501,
       "no EFS GANG image (flow 1): nothing sent after the detection",
       16,
       kNormal,
       "",
       "Check, DZ file is EFS Gang Image Not Found.",
       {kVerno, kNvRead},
       Package::WithoutEfsGang},
      {501,
       "no EFS GANG image (flow 0): no unlock",
       17,
       kDload,
       "",
       "Check, DZ file is EFS Gang Image Not Found.",
       {kVerno, kVerreq},
       Package::WithoutEfsGang},
      {501,
       "package cannot be read",
       18,
       kNormal,
       "",
       nullptr,
       {kVerno, kNvRead},
       Package::Missing},
      {502,
       "no answer in either protocol",
       19,
       kNormal,
       "phone.silent_cmd = 0",
       "[COM%d] GetEmergencyModelName - FAIL (No Phone)",
       {kVerno, kVerreq},
       Package::Standard,
       true},
      {503,
       "emergency name without '/' reduces to nothing",
       20,
       kDload,
       "dload.model = KW_TR52",
       "[COM%d] Compare Model Name FAIL...Phone  vs Dll TR52",
       {kVerno, kVerreq},
       Package::Standard,
       true},
      {506, "off-line mode refused", 21, kNormal,
       "phone.refuse_cmd = 0x29\nphone.refuse_sub = 1\nphone.refuse_bytes = 14 29 01 00\n"
       "phone.refuse_count = -1",
       "[COM%d]  Fail(Mode:1)"},
      {508, "security code refused", 22, kNormal,
       "phone.refuse_cmd = 0x46\nphone.refuse_bytes = 14 46\nphone.refuse_count = -1",
       "[COM%d]   DIAG_PASSWORD_F FAILED"},
      {1001, "trusted mode refused", 23, kDload,
       "phone.refuse_cmd = 0x48\nphone.refuse_count = -1"},
      {1002, "partition table refused with and without override", 24, kDload,
       "phone.refuse_cmd = 0x40\nphone.refuse_count = -1"},
      {1009, "FLEXIBLE LOGO open refused", 25, kDload,
       "phone.refuse_cmd = 0x31\nphone.refuse_sub = 0x15\nphone.refuse_count = -1"},
      {1010, "NAND RAM write refused three times", 26, kDload,
       "nand.fail_ram_write = 1\nnand.fail_ram_write_count = -1",
       "[COM%d] ERROR :  NandFlashWrite(DBL)"},
      {1011, "NAND finalize refused", 27, kDload,
       "phone.refuse_cmd = 0x22\nphone.refuse_count = -1",
       "[COM%d] ERROR :  NandFlashFinalize(DBL)"},
      {1012, "final DIAG reset refused", 28, kNormal,
       "phone.refuse_cmd = 0x29\nphone.refuse_sub = 2\nphone.refuse_bytes = 14 29 02 00\n"
       "phone.refuse_count = -1",
       "[COM%d]  Fail(Mode:2)"},
      {1014, "download-mode unlock refused", 29, kNormal, "dload.unlock = refuse",
       "[COM%d] >> DloadUnlock FAILED]"},
      {1018, "DBL open refused", 30, kDload,
       "phone.refuse_cmd = 0x31\nphone.refuse_sub = 0x0F\nphone.refuse_count = -1"},
      {1019, "FSBL open refused", 31, kDload,
       "phone.refuse_cmd = 0x31\nphone.refuse_sub = 0x10\nphone.refuse_count = -1"},
      {1020, "OSBL open refused", 32, kDload,
       "phone.refuse_cmd = 0x31\nphone.refuse_sub = 0x11\nphone.refuse_count = -1"},
      {3005, "phone's own NV backup fails", 33, kNormal, "cnv.backup = fail",
       "[COM%d]  CNV_Backup FAILED"},
      {3006, "phone's own NV restore fails (flow 1)", 34, kNormal, "cnv.restore = fail",
       "[COM%d]    CNV Restore Failed (status = 1, rsp_cnt = 1 "},
      {3006, "no calibration copy to restore (flow 0)", 35, kDload, "",
       "[COM%d]    CNV Restore Failed (status = 1, rsp_cnt = 1 "},
      {3006, "calibration item unreadable after the restore (flow 0)", 43, kDload,
       "cnv.saved = true\nnv.read_status.114 = 5", "[COM%d]  bPIDEnabled=0"},
      {4006, "Dl_Init refused", 36, kDload,
       "dload.comm_mode = 1\ndload.param_flags = 0x02\ndload.init_error = 1",
       "[COM%d] ERROR Dl_Init() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM"},
      {4006, "Dl_Init_2nd refused", 37, kDload,
       "dload.comm_mode = 1\ndload.param_flags = 0x40\ndload.init_error = 1",
       "[COM%d] ERROR Dl_Init_2nd() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM"},
      {4007, "RAM write refused", 38, kNormal,
       "dload.comm_mode = 1\ndload.param_flags = 0x02\ndload.write_error_at = 8192",
       "[COM%d] ERROR Dl_Write() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM"},
      {4008, "program from RAM refused", 39, kDload,
       "dload.comm_mode = 1\ndload.param_flags = 0x02\ndload.program_error = 9",
       "[COM%d] ERROR Dl_Program() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM"},
      {4010, "pipelined write error", 40, kNormal, "pipe.write_error_at = 3",
       "[COM%d] ERROR Dl_AsyncOptimizeWrite() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH"},
      {5001, "communication mode request refused", 41, kDload,
       "phone.refuse_cmd = 0x50\nphone.refuse_sub = 0x12\nphone.refuse_count = -1"},
      {5004, "AMSS open refused", 42, kDload,
       "dload.comm_mode = 1\ndload.param_flags = 0\nphone.refuse_cmd = 0x31\n"
       "phone.refuse_sub = 0x05\nphone.refuse_count = -1"},
  };

  for (const CodeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + ": " + c.why);
    UsePackage(c.package == Package::WithoutEfsGang ? withoutEfsGang.path
               : c.package == Package::Missing      ? missingPackage
                                                    : package_->path);
    const int handlesBefore = PtyHandles();
    const size_t logFrom = LogLines().size();
    auto phone = StartPhone(c.com, c.start, c.scenario);
    ASSERT_EQ(IsDisconnected(c.com), 0);

    const win::WPARAM result = Download(c.com, 30);
    EXPECT_EQ(result, win::MAKELONG(c.code, 1)) << "low word " << (result & 0xFFFF);
    if (result == kNoResult) {
      Close();
      continue;
    }
    EXPECT_EQ(SessionPortOpen(c.com), c.portOpenUntilClose);
    if (c.logLine != nullptr) {
      EXPECT_TRUE(LoggedAfter(logFrom, WithCom(c.logLine, c.com))) << c.logLine;
    }
    if (!c.onlyCommands.empty()) {
      EXPECT_GT(phone->RequestsSeen(), 0u);
      for (const auto& request : phone->RecentRequests()) {
        EXPECT_TRUE(c.onlyCommands.count(request.at(0)))
            << "the phone was sent command " << int{request.at(0)};
      }
    }

    EXPECT_TRUE(Close());
    win::PumpMessages(50);
    EXPECT_EQ(results_.size(), 1u) << "exactly one result per download";
    EXPECT_EQ(SessionFlowType(c.com), -1) << "session still registered";
    EXPECT_EQ(PtyHandles(), handlesBefore + (phone->Present() ? 1 : 0))
        << "a handle on the phone's port is still open";
    phone.reset();
  }
  UsePackage(package_->path);
}

}  // namespace
}  // namespace tr52
