// Whole downloads on a step runner against the virtual phone, read from what the phone received:
// the order of every step of both flows and of the flash block (one golden file per row: the
// phone's requests named and runs of the same request folded), and the named wait that follows
// each write (from the log, in order). TR52_UPDATE_GOLDEN=1 rewrites the golden files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "base/messages.h"
#include "integration/merge_file_image.h"
#include "link/phone_link.h"
#include "session/download_flows.h"
#include "session/download_session.h"
#include "session/download_steps.h"
#include "session/step_runner.h"
#include "support/download_package.h"
#include "support/log_capture.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/progress_reporter.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace tr52 {
namespace {

// The name of an image open request (0x31) by the code it carries.
const std::map<int, const char*> kOpenCodes = {
    {5, "AMSS"},    {9, "EFS GANG"}, {0x0B, "EFS GANG APPS"}, {0x0F, "DBL"},
    {0x10, "FSBL"}, {0x11, "OSBL"},  {0x15, "FLEXIBLE LOGO"}};

std::string Hex(int v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x", v);
  return text;
}

// One request of the phone's trace ("COMn < 29 01 00 ..."), named as the step that sends it.
std::string NameRequest(const std::vector<int>& b, bool download) {
  const auto at = [&](size_t i) { return i < b.size() ? b[i] : -1; };
  if (b.empty()) return "empty request";
  if (!download) {
    switch (b[0]) {
      case 0x00:
        return "model name";
      case 0x26:
        return "NV read " + std::to_string(at(1) | at(2) << 8);
      case 0x27:
        return "NV write";
      case 0x29:
        return at(1) == 1 ? "offline" : at(1) == 2 ? "DIAG reset" : "control " + Hex(at(1));
      case 0x3A:
        return "switch to download mode";
      case 0x41:
        return "service programming code";
      case 0x46:
        return "security code";
      case 0x4B:
        if (at(1) == 0x13) {
          switch (at(2)) {
            case 2:  // open
            case 3:  // close
            case 5:  // write
            case 9:  // make a folder
              return "EFS2 write";
            case 8:   // remove a file
            case 10:  // remove a folder
            case 50:  // remove a folder's files
              return "EFS2 remove";
            default:  // look (list, stat, query): part of the writing or removing around it
              return "";
          }
        }
        if (at(1) == 0xFC && at(2) == 4) return "battery level";
        if (at(1) == 0xFC && at(2) == 9) return "NV ranges";
        return "subsystem " + Hex(at(1)) + " " + Hex(at(2));
      case 0x80:
        if (at(1) == 0x37) return at(2) == 0 ? "CNV backup" : "CNV restore";
        return "subsystem v2 " + Hex(at(1));
      default:
        return "DIAG " + Hex(b[0]);
    }
  }
  switch (b[0]) {
    case 0x00:
      return "model name (DIAG)";
    case 0x01:  // a packet into the phone's RAM, then the block programmed from it
    case 0x21:
      return "NAND write blocks";
    case 0x0A:
      return "reset";
    case 0x0B:
      return "unlock";
    case 0x0C:
      return "model name";
    case 0x22:
      return "NAND finalize";
    case 0x24:
      return "erase EFS";
    case 0x31: {
      const auto name = kOpenCodes.find(at(1));
      return std::string("open ") + (name != kOpenCodes.end() ? name->second : Hex(at(1)));
    }
    case 0x40:
      return "partition table (override " + std::to_string(at(3)) + ")";
    case 0x48:
      return "trusted mode " + std::to_string(at(1));
    case 0x50:
      switch (at(1)) {
        case 0x00:
          return "parameters";
        case 0x01:
          return "RAM init";
        case 0x02:
          return "RAM write";
        case 0x04:
          return "RAM program";
        case 0x07:
          return "boot-code lock status";
        case 0x0C:
          return "RAM init 2nd";
        case 0x0F:
          return "boot-code unlock";
        case 0x10:
          return "pipelined write";
        case 0x12:
          return "communication mode";
        default:
          return "maker " + Hex(at(1));
      }
    default:
      return "DLOAD " + Hex(b[0]);
  }
}

// The phone's trace as named steps: requests named, the runs of the bulk steps (image data, EFS2
// files) folded into one line, the port's comings and goings kept. An EFS2 look (list, stat)
// joins the EFS2 step around it.
class StepTimeline {
 public:
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::istringstream in(line);
    std::string com, what;
    in >> com >> what;
    std::string name;
    if (what == "<") {
      std::vector<int> bytes;
      for (std::string hex; in >> hex && hex != "...";)
        bytes.push_back(std::stoi(hex, nullptr, 16));
      name = NameRequest(bytes, download_);
      if (name.empty()) {
        if (!steps_.empty() && steps_.back().rfind("EFS2 ", 0) == 0) return;
        name = "EFS2 look";
      }
    } else if (what == "on") {
      download_ = line.find("(download mode)") != std::string::npos;
      name = download_ ? "-- port back in download mode" : "-- port back in normal mode";
    } else if (what == "gone,") {
      name = "-- port gone";
    } else {
      return;  // answers
    }
    const bool bulk = name == "NAND write blocks" || name == "RAM write" ||
                      name == "pipelined write" || name.rfind("EFS2 ", 0) == 0;
    if (!bulk || steps_.empty() || steps_.back() != name) steps_.push_back(name);
  }
  std::vector<std::string> Steps() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return steps_;
  }

 private:
  mutable std::mutex mutex_;
  bool download_ = false;
  std::vector<std::string> steps_;
};

constexpr uint32_t kMedia = 1u << IMAGE_MEDIA;
constexpr uint32_t kModule = 1u << IMAGE_MODULE;
constexpr uint32_t kEfsGang = 1u << IMAGE_EFS_GANG;

struct FlowCase {
  const char* golden;  // tests/integration/golden/flow_<golden>.txt
  vphone::Mode start;
  std::string scenario;
  uint32_t imageMask;
  uint32_t options;
  // The named waits of the download, in order.
  std::vector<std::string> waits;
};

class DownloadFlow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new tr52test::TempDir();
    images_ = new ImageCatalogue();
    const auto package = tr52test::WriteDownloadPackage(dir_->File("TR52_FLOW.dz"));
    ASSERT_FALSE(package.path.empty());
    images_->SetImagePaths(kPluginImageMask, package.path);
    ASSERT_TRUE(images_->LoadImages(package.path, kPluginImageMask));
    // Media and module merge files beside the package's images: one folder and one file each.
    tr52test::LoadMergeFile(*images_, *dir_, IMAGE_MEDIA, kEfs2KindMedia, "/VIZED/Common/");
    tr52test::LoadMergeFile(*images_, *dir_, IMAGE_MODULE, kEfs2KindModule, "/brew/");
  }
  static void TearDownTestSuite() {
    delete images_;
    delete dir_;
  }

  static tr52test::TempDir* dir_;
  static ImageCatalogue* images_;
  tr52test::TempDir ports_;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", ports_.Path()};
  // Protocol time-outs at their length (a healthy phone never misses one); the named waits and
  // the phone's reboots 100 times shorter.
  tr52test::ScopedClock clock_{10};
};

tr52test::TempDir* DownloadFlow::dir_ = nullptr;
ImageCatalogue* DownloadFlow::images_ = nullptr;

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(DownloadFlow, StepsReachThePhoneInOrderAndEachWriteIsFollowedByItsWait) {
  const uint32_t plugin = kPluginImageMask;
  const uint32_t cnv = OPT_CNV_BACKUP | OPT_CNV_RESTORE;
  const FlowCase cases[] = {
      {"normal",
       vphone::Mode::Normal,
       "",
       plugin,
       cnv,
       {"Emergency Reset", "DB Creation", "Reset"}},
      // A phone found in download mode holds the calibration copy of an earlier backup.
      {"emergency",
       vphone::Mode::Download,
       "cnv.saved = true",
       plugin,
       cnv,
       {"DB Creation", "Reset"}},
      // Every optional step: EFS erased before EFS GANG is written, media erased then written,
      // modules written, the reset after them.
      {"normal_media_modules_erase",
       vphone::Mode::Normal,
       "",
       plugin | kMedia | kModule,
       cnv | OPT_ERASE_EFS,
       {"Emergency Reset", "DB Creation", "DB Creation", "Reset"}},
      {"normal_modules",
       vphone::Mode::Normal,
       "",
       plugin | kModule,
       cnv,
       {"Emergency Reset", "DB Creation", "DB Creation", "Reset"}},
      // Without EFS GANG the flash block waits "Reset"; without the calibration restore the
      // emergency flow ends after it.
      {"emergency_no_efs", vphone::Mode::Download, "", plugin & ~kEfsGang, 0, {"Reset"}},
      // Communication mode 1: images by the NAND programmer, AMSS through RAM when the phone's
      // parameters ask for it (flag 1: first RAM initialisation, flag 6: second).
      {"normal_nand",
       vphone::Mode::Normal,
       "dload.comm_mode = 1\ndload.param_flags = 0",
       plugin,
       cnv,
       {"Emergency Reset", "DB Creation", "Reset"}},
      {"emergency_ram",
       vphone::Mode::Download,
       "dload.comm_mode = 1\ndload.param_flags = 0x02",
       plugin,
       0,
       {"DB Creation"}},
      {"emergency_ram_2nd",
       vphone::Mode::Download,
       "dload.comm_mode = 1\ndload.param_flags = 0x40",
       plugin,
       0,
       {"DB Creation"}},
  };
  const bool update =
      std::getenv("TR52_UPDATE_GOLDEN") && *std::getenv("TR52_UPDATE_GOLDEN") == '1';
  int com = 150;
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.golden);
    ++com;
    tr52test::LogCapture log;
    StepTimeline timeline;
    vphone::PhoneOptions options;
    options.com = com;
    options.startMode = c.start;
    options.rebootDelayMs = 100;
    options.scenario = vphone::ParseScenario(c.scenario);
    options.trace = [&timeline](const std::string& line) { timeline.Add(line); };
    vphone::VirtualPhone phone(options);
    std::string error;
    ASSERT_TRUE(phone.Start(&error)) << error;

    // As a session does: open, detect, then the flow the detection chose.
    const auto port = static_cast<uint8_t>(com);
    DownloadJob job;
    job.port = port;
    job.imageMask = c.imageMask;
    job.options = c.options;
    job.notifyMsg = WM_DOWNLOAD_STEP;
    job.waitScale = 10;
    StepRunner runner(job, *images_);
    ProgressReporter noPane;
    runner.UseProgress(&noPane);
    ASSERT_TRUE(runner.Link()->Open(port));
    const BootDetection found = GetBootingMode(runner.Context(), BootMode::Unknown);
    ASSERT_EQ(ToInt(found.result), 0);
    if (IsDloadMode(found.mode)) runner.Configure(job.WithFlow(kFlowEmergency));
    EXPECT_EQ(ToInt(RunDownloadFlow(runner.Context())), 0);
    runner.Link()->Close();
    phone.Stop();

    std::vector<std::string> waits;
    const std::string prefix = "[COM" + std::to_string(com) + "] Wait \"";
    for (const std::string& line : log.Lines())
      if (line.rfind(prefix, 0) == 0)
        waits.push_back(line.substr(prefix.size(), line.find('"', prefix.size()) - prefix.size()));
    EXPECT_EQ(waits, c.waits);

    const std::vector<std::string> steps = timeline.Steps();
    const std::string golden = std::string(TR52_GOLDEN_DIR) + "/flow_" + c.golden + ".txt";
    if (update) {
      std::ofstream out(golden, std::ios::trunc);
      for (const std::string& step : steps) out << step << '\n';
      continue;
    }
    const std::vector<std::string> expected = ReadLines(golden);
    ASSERT_FALSE(expected.empty()) << "no golden file at " << golden;
    for (size_t i = 0; i < std::max(steps.size(), expected.size()); ++i) {
      const std::string got = i < steps.size() ? steps[i] : "<missing>";
      const std::string want = i < expected.size() ? expected[i] : "<missing>";
      ASSERT_EQ(got, want) << "first difference at step " << i + 1 << " of " << golden;
    }
  }
}

}  // namespace
}  // namespace tr52
