// `station --udev-rule` without hardware: the port's USB facts come from udev (a device tree
// scripted in umockdev, read by the station's own lookup), and the model question goes through
// the station's link and command clients to a virtual phone. umockdev's node cannot carry the
// link's receive loop (it refuses the queued-byte count), so the question is put to the phone's
// own pseudo-terminal (through a link outside /dev, which umockdev leaves alone), and only when
// the command asks the node of the port it was given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "core/udev_rule.h"
#include "usb_testbed.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace tr52test {
namespace {

// A pseudo-terminal nobody answers on.
class SilentLine {
 public:
  SilentLine() : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) path_ = ptsname(master_);
  }
  ~SilentLine() {
    if (master_ >= 0) close(master_);
  }
  SilentLine(const SilentLine&) = delete;
  SilentLine& operator=(const SilentLine&) = delete;
  const std::string& Path() const { return path_; }

 private:
  int master_;
  std::string path_;
};

TEST(UdevRuleVirtualPhone, ARuleForTheModeThePhoneAnswersInAndNoneOtherwise) {
  std::string why;
  if (!UsbTestbed::Available(why)) GTEST_SKIP() << why;
  TempDir table, mapDir;
  ScopedEnv tableEnv("TR52_PORT_TABLE", table.Path());
  ScopedEnv mapEnv("TR52_COM_MAP_DIR", mapDir.Path());
  struct Row {
    const char* what;
    UsbSerial port;
    const char* mode;      // the phone's mode; nullptr: nothing answers
    const char* scenario;  // the phone's scenario
    int status;
    const char* out;  // the start of what is printed
    const char* err;
  };
  const Row rows[] = {
      {"normal mode",
       {"2", "ffff", "fff0", "Phone", 1, "ttyACM0", ""},
       "normal",
       "",
       0,
       "# TR52 in normal mode: ttyACM0, USB ffff:fff0 interface 01\nSUBSYSTEM==\"tty\", "
       "ACTION!=\"remove\", ATTRS{idVendor}==\"ffff\", ATTRS{idProduct}==\"fff0\", "
       "ENV{ID_USB_INTERFACE_NUM}==\"01\", ",
       "asking /dev/ttyACM0"},
      {"download mode",
       {"3", "ffff", "fff1", "Phone", 0, "ttyACM1", ""},
       "download",
       "",
       0,
       "# TR52 in download mode: ttyACM1, USB ffff:fff1 interface 00\n",
       ""},
      {"another model",
       {"4", "1234", "5678", "Other", 2, "ttyUSB0", "", "option"},
       "normal",
       "diag.model = TR99",
       1,
       "",
       "answered as 'TR99' in normal mode, not as a TR52"},
      {"nothing answers",
       {"5", "0aaa", "0001", "Adapter", 0, "ttyUSB1", "", "ftdi_sio"},
       nullptr,
       "",
       1,
       "",
       "did not answer as a TR52"},
  };
  for (const Row& row : rows) {
    UsbTestbed bed;
    ASSERT_TRUE(bed.Plug(row.port, why)) << why;
    std::unique_ptr<vphone::VirtualPhone> phone;
    SilentLine silent;
    std::unique_ptr<ScopedClock> fast;  // the silent line's waits run out quickly
    std::string line = silent.Path();
    if (row.mode) {
      vphone::PhoneOptions options;
      options.com = 7;
      options.startMode =
          std::string(row.mode) == "download" ? vphone::Mode::Download : vphone::Mode::Normal;
      options.scenario = vphone::ParseScenario(row.scenario);
      phone = std::make_unique<vphone::VirtualPhone>(options);
      ASSERT_TRUE(phone->Start(&why)) << why;
      line = phone->DevicePath();
    } else {
      fast = std::make_unique<ScopedClock>(20);
    }
    TempDir links;
    std::filesystem::create_symlink(line, links.File("line"));
    station::UdevRuleSetup setup = station::SystemUdevRuleSetup();
    std::vector<std::string> asked;
    setup.askModel = [&](const std::string& node) {
      asked.push_back(node);
      return station::AskModel(links.File("line"));
    };
    std::ostringstream out, err;
    const int status = station::UdevRuleCommand(row.port.kernelName, false, setup, out, err);
    EXPECT_EQ(status, row.status) << row.what << "\n" << err.str();
    EXPECT_EQ(asked, std::vector<std::string>{"/dev/" + row.port.kernelName}) << row.what;
    EXPECT_EQ(out.str().rfind(row.out, 0), 0u) << row.what << "\n" << out.str();
    EXPECT_NE(err.str().find(row.err), std::string::npos) << row.what << "\n" << err.str();
  }
}

}  // namespace
}  // namespace tr52test
