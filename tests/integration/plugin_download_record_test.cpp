// The record each download leaves, through the plug-in's six operations: it names the step and
// the code that ended a failed download, it tells what the phones of the process really received
// however the package is changed or replaced after loading, and a phone's text can neither
// forge a log line nor touch another port's record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "base/progress_sink.h"
#include "platform/crypto.h"
#include "plugin_quick_host.h"
#include "session/download_session.h"
#include "session/result_codes.h"
#include "session/step_runner.h"
#include "ui/config_dialog.h"
#include "ui/dialog_templates.h"
#include "win/dialog.h"

namespace tr52 {
namespace {

std::string Md5Of(const std::vector<uint8_t>& bytes) {
  return Md5Hex(Md5::Of(bytes.data(), bytes.size()));
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[4];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x ", c);
    out += two;
  }
  return out;
}

// The record without what differs from one download to the next (process, number, device,
// times): what the phone and the package alone decide.
std::string FactsOf(DownloadRecord r) {
  r.hostPid = 0;
  r.download = 0;
  r.port.reset();
  r.started = r.ended = "";
  return DownloadRecordLine(r);
}

class PluginDownloadRecord : public tr52test::PluginQuickHost {
 protected:
  // Downloads on `ports` at once, each pane under its own parent window; the result word of
  // each port. The panes are closed at the end.
  std::map<int, win::WPARAM> DownloadTogether(const std::vector<int>& ports) {
    std::map<int, win::WPARAM> results;
    std::vector<std::unique_ptr<win::CWnd>> parents;
    for (int port : ports) {
      auto parent = std::make_unique<win::CWnd>();
      parent->m_hWnd =
          win::CreateWindowEx(nullptr, "Host", "", 0, {},
                              [&results, port](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM) {
                                if (m == WM_DOWNLOAD_RESULT) results.emplace(port, w);
                                return win::LRESULT{0};
                              });
      EXPECT_EQ(IsConnected(port), 1) << port;
      EXPECT_EQ(OpenProgress(parent.get(), port, 0), 1) << port;
      parents.push_back(std::move(parent));
    }
    for (int i = 0; i < 3000 && results.size() < ports.size(); ++i) win::PumpMessages(10);
    for (auto& parent : parents) {
      EXPECT_EQ(CloseProgress(parent.get()), 1);
      win::DestroyWindow(parent->m_hWnd);
    }
    win::PumpMessages(20);
    return results;
  }
};

TEST_F(PluginDownloadRecord, AFailedDownloadNamesTheStepAndTheCodeThatEndedIt) {
  struct Row {
    const char* name;
    vphone::Mode start;
    const char* scenario;
    int code;
    const char* step;
  };
  auto refuse = [](const char* at, const char* mode) {
    return std::string("fault.kind = refuse\nfault.at = ") + at + "\nfault.at_mode = " + mode +
           "\n";
  };
  const std::string scenarios[] = {
      refuse("46", "normal"),
      refuse("29 01 00", "normal"),
      refuse("48", "download"),
      refuse("01", "download"),
      refuse("50 12", "download"),
      refuse("29 02 00", "normal"),
      "cnv.saved = true\n" + refuse("0B", "download"),
  };
  const Row rows[] = {
      {"security code refused", vphone::Mode::Normal, scenarios[0].c_str(), 508, "security code"},
      {"off line refused", vphone::Mode::Normal, scenarios[1].c_str(), 506, "off line"},
      {"trusted mode refused", vphone::Mode::Normal, scenarios[2].c_str(), 1001,
       "trusted mode and partition table"},
      {"boot loader write refused", vphone::Mode::Normal, scenarios[3].c_str(), 1010, "write DBL"},
      {"communication mode refused", vphone::Mode::Normal, scenarios[4].c_str(), 5001,
       "communication mode"},
      {"final reset refused", vphone::Mode::Normal, scenarios[5].c_str(), 1012,
       "calibration restore and reset"},
      {"another model", vphone::Mode::Normal, "diag.model = TR99\n", 503, "detect"},
      {"download-mode unlock refused, flow 0", vphone::Mode::Download, scenarios[6].c_str(), 1014,
       "download-mode unlock"},
  };
  const int com = 62;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto phone = StartPhone(com, row.start, row.scenario);
    EXPECT_EQ(Download(com), win::MAKELONG(row.code, 1));
    EXPECT_TRUE(Close());
    const auto record = LastRecord(com);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->result, row.code);
    EXPECT_EQ(record->resultName, ResultCodeName(row.code));
    EXPECT_EQ(record->facts.endStep, row.step);
    EXPECT_FALSE(record->facts.bootModes.empty());
    if (row.code == ToInt(ResultCode::NandWrite)) {
      // The refused write is on record as not written, with nothing sent.
      ASSERT_FALSE(record->facts.images.empty());
      const ImageWrite& last = record->facts.images.back();
      EXPECT_EQ(std::tie(last.type, last.written, last.size),
                std::make_tuple(std::string("DBL"), false, uint64_t{0}));
    }
  }
}

// Reports nothing, and fails (throws) at the first text line equal to `failAt`.
class FailingSink : public ProgressSink {
 public:
  explicit FailingSink(std::string failAt) : failAt_(std::move(failAt)) {}
  void InitProgress(unsigned, int) override {}
  void StepProgress(unsigned, int) override {}
  void FollowStep(unsigned) override {}

 protected:
  void ShowText(int, const char* text, int) override {
    if (text == failAt_) throw std::runtime_error("the progress sink failed");
  }

 private:
  std::string failAt_;
};

// A download that an exception ends is recorded with the exception's code and the step that was
// running, and the exception reaches the caller.
TEST_F(PluginDownloadRecord, AnExceptionNamesTheStepThatWasRunning) {
  const struct {
    const char* text;  // the line at which the sink fails
    const char* step;
  } rows[] = {{"TR52", "detect"}, {"BACKUP CNV", "NV backup"}, {"FLASHING DBL", "write DBL"}};
  const int com = 64;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    auto phone = StartPhone(com, vphone::Mode::Normal);
    DownloadSession session(PackageJob(com, kPluginOptions), Root().Images());
    FailingSink sink(row.text);
    EXPECT_THROW(static_cast<void>(session.Run(sink)), std::runtime_error);
    EXPECT_EQ(session.Runner().Progress(), nullptr) << "the sink kept after the download";
    const auto record = LastRecord(com);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->result, ToInt(ResultCode::Exception));
    EXPECT_EQ(record->facts.endStep, row.step);
  }
}

TEST_F(PluginDownloadRecord, AForgedModelAnswerIsLoggedEscapedAndTouchesNoOtherRecord) {
  const int victim = 5, forger = 7;
  const std::string forged = "X\r\n[12:00:00:000]  : [COM5] _NandDownload(AMSS)\x1b[2J";
  // The model text of DIAG_VERNO_F stands at offset 39 of the answer, up to a NUL.
  const std::string answer = Hex(std::string(39, '\0') + forged + std::string(1, '\0'));
  const std::string scenario = "script.model = 00 -> " + answer + "\n";

  // The victim alone first, then side by side with the forger.
  auto phone = StartPhone(victim, vphone::Mode::Normal);
  ASSERT_EQ(Download(victim), win::MAKELONG(1, 1));
  EXPECT_TRUE(Close());
  const auto alone = LastRecord(victim);
  ASSERT_TRUE(alone.has_value());
  phone.reset();
  const size_t logFrom = LogLines().size();
  phone = StartPhone(victim, vphone::Mode::Normal);
  auto forging = StartPhone(forger, vphone::Mode::Normal, scenario);
  const auto results = DownloadTogether({victim, forger});
  EXPECT_EQ(results.at(victim), win::MAKELONG(1, 1));
  EXPECT_EQ(results.at(forger), win::MAKELONG(ToInt(ResultCode::ModelMismatch), 1));

  const auto beside = LastRecord(victim);
  ASSERT_TRUE(beside.has_value());
  EXPECT_EQ(FactsOf(*beside), FactsOf(*alone));
  const auto record = LastRecord(forger);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->facts.model, forged) << "the record keeps the bytes the phone sent";
  EXPECT_EQ(record->facts.endStep, "detect");
  EXPECT_TRUE(record->facts.images.empty());

  const std::string escaped = "X\\x0d\\x0a[12:00:00:000]  : [COM5] _NandDownload(AMSS)\\x1b[2J";
  const auto lines = LogLines();
  std::vector<std::string> own(lines.begin() + static_cast<std::ptrdiff_t>(logFrom), lines.end());
  EXPECT_NE(std::find(own.begin(), own.end(), "[COM7]  strModel = " + escaped), own.end());
  EXPECT_NE(std::find(own.begin(), own.end(),
                      "[COM7] Compare Model Name FAIL...Phone X\\x0d\\x0a[12:00:00:000]  : [COM5] "
                      "_NANDDOWNLOAD(AMSS)\\x1b[2J vs Dll TR52"),
            own.end());
  for (const std::string& line : own) {
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(line.rfind("[COM5] _NandDownload(AMSS)\x1b", 0), 0u) << "a forged line";
  }
}

TEST_F(PluginDownloadRecord, TheRecordNamesThePackageThePhonesReceivedWhateverChangesLater) {
  // A package of this test's own, loaded at the first download.
  tr52test::TempDir dir;
  const std::string path = dir.File("TR52_FIRST.dz");
  std::filesystem::copy_file(package_->path, path);
  const auto file = [&path] {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }();
  UsePackage(path);

  // Whatever happens after that first download, the phones get and the records name the
  // package as it was loaded.
  const auto replaced = tr52test::WriteDownloadPackage(dir.File("new.dz"), {.amssBytes = 1000});
  const auto chosen =
      tr52test::WriteDownloadPackage(dir.File("TR52_CHOSEN.dz"), {.amssBytes = 2000});
  struct Step {
    const char* name;
    std::function<void()> before;
  };
  const Step steps[] = {
      {"first download", [] {}},
      {"package replaced on disk",
       [&] { ASSERT_EQ(std::rename(replaced.path.c_str(), path.c_str()), 0); }},
      {"another package chosen in the configuration dialog",
       [&] {
         ConfigDialog config(&parent_, Root().Settings());
         win::HWND hwnd = win::CreateDialogFromTemplate(
             nullptr, kConfigDialogTemplate,
             [&config](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
               return config.HandleMessage(h, m, w, l);
             });
         ASSERT_NE(hwnd, nullptr);
         win::SetWindowText(win::GetDlgItem(hwnd, IDC_PATH_EDIT), chosen.path);
         win::SendMessage(hwnd, win::WM_COMMAND, win::MAKELONG(win::IDOK, 0), 0);
         if (win::IsWindow(hwnd)) win::DestroyWindow(hwnd);
         ASSERT_EQ(Root().Settings().Read(kSettingsSection, kPathBinKey, ""), chosen.path);
       }},
  };
  const int com = 63;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.before();
    auto phone = StartPhone(com, vphone::Mode::Normal);
    ASSERT_EQ(Download(com), win::MAKELONG(1, 1));
    EXPECT_TRUE(Close());
    const auto record = LastRecord(com);
    ASSERT_TRUE(record.has_value());
    ASSERT_TRUE(record->facts.package.has_value());
    const LoadedPackage& package = *record->facts.package;
    EXPECT_EQ(package.path, path);
    EXPECT_EQ(package.size, file.size());
    EXPECT_EQ(package.md5, Md5Of(file));
    std::map<std::string, std::string> loaded, sent;
    for (const LoadedImage& image : package.images) loaded[image.type] = image.md5;
    for (const ImageWrite& image : record->facts.images) {
      EXPECT_TRUE(image.written) << image.type;
      sent[image.type] = image.md5;
    }
    for (const auto& [type, data] : package_->images) {
      const std::string name = ImageTypeName(type);
      EXPECT_EQ(loaded[name], Md5Of(data)) << name;
      EXPECT_EQ(sent[name], Md5Of(data)) << name << " as sent";
      const auto flashed = phone->Flash().Find(name);
      ASSERT_TRUE(flashed.has_value()) << name;
      ASSERT_GE(flashed->data.size(), data.size()) << name;
      // The partition table travels in a fixed 512-byte field: the image, then zeros.
      EXPECT_TRUE(std::equal(data.begin(), data.end(), flashed->data.begin())) << name;
    }
  }
  UsePackage(package_->path);  // the other tests' package, loaded afresh
}

}  // namespace
}  // namespace tr52
