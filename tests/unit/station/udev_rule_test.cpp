// `station --udev-rule PORT [--install]` with the port, the phone's answer and udev played by
// the test: which answers give a rule, what is printed, and what the local rules file keeps.
#include "core/udev_rule.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace station {
namespace {

const RulePort kNormalPort{"ttyACM0", "/dev/ttyACM0", true, "FFFF", "fff0", "01"};
const RulePort kDownloadPort{"ttyACM1", "/dev/ttyACM1", true, "ffff", "fff1", "00"};

ModelAnswer Answer(ModelAnswer::Outcome outcome, PhoneMode mode, std::string model,
                   int openError = 0) {
  return {outcome, mode, std::move(model), openError};
}

struct CommandRun {
  int status = -1;
  std::string out, err;
  std::vector<std::string> asked;  // device nodes the model question went to
  int reloads = 0;
};

CommandRun RunCommand(const std::optional<RulePort>& port, const ModelAnswer& answer, bool install,
                      const std::string& rulesPath) {
  CommandRun run;
  UdevRuleSetup setup;
  setup.findPort = [&](const std::string& name, std::string&) -> std::optional<RulePort> {
    if (port && port->kernelName == name) return port;
    return std::nullopt;
  };
  setup.askModel = [&](const std::string& node) {
    run.asked.push_back(node);
    return answer;
  };
  setup.rulesPath = rulesPath;
  setup.reloadUdev = [&] {
    ++run.reloads;
    return std::string("udev reloaded (test)");
  };
  std::ostringstream out, err;
  run.status = UdevRuleCommand(port ? port->kernelName : "ttyACM9", install, setup, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(UdevRule, OnlyATr52AnsweringOnTheNamedUsbPortGetsARule) {
  using O = ModelAnswer::Outcome;
  struct Row {
    const char* what;
    std::optional<RulePort> port;
    ModelAnswer answer;
    int status;
    bool asked;
    const char* outContains;  // "" : nothing printed on standard output
    const char* errContains;
  };
  RulePort serial{"ttyS0", "/dev/ttyS0", false, "", "", ""};
  RulePort oddIds{"ttyUSB0", "/dev/ttyUSB0", true, "ff\"f", "0001", ""};
  const std::vector<Row> rows = {
      {"no such port", std::nullopt, {}, 2, false, "", "no serial port ttyACM9"},
      {"not USB", serial, {}, 1, false, "", "not a USB port"},
      {"busy", kNormalPort, Answer(O::kCannotOpen, PhoneMode::kNormal, "", EBUSY), 1, true, "",
       "in use"},
      {"no permission", kNormalPort, Answer(O::kCannotOpen, PhoneMode::kNormal, "", EACCES), 1,
       true, "", "group dialout"},
      {"silent", kNormalPort, Answer(O::kNoAnswer, PhoneMode::kNormal, ""), 1, true, "",
       "did not answer as a TR52"},
      {"another model, its text escaped", kNormalPort,
       Answer(O::kAnswered, PhoneMode::kNormal, "X9\n\x1b[2J"), 1, true, "",
       "answered as 'X9\\x0a\\x1b[2J' in normal mode, not as a TR52"},
      {"ids no rule can match", oddIds, Answer(O::kAnswered, PhoneMode::kNormal, "TR52"), 1, true,
       "", "no USB vendor"},
      {"normal mode, any case", kNormalPort, Answer(O::kAnswered, PhoneMode::kNormal, "tr52"), 0,
       true,
       "# TR52 in normal mode: ttyACM0, USB ffff:fff0 interface 01\n"
       "SUBSYSTEM==\"tty\", ACTION!=\"remove\", ATTRS{idVendor}==\"ffff\", "
       "ATTRS{idProduct}==\"fff0\", ENV{ID_USB_INTERFACE_NUM}==\"01\", "
       "ENV{ID_TR52_PORT_NAME}=\"ZUM Mobile USB Serial Port\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", "
       "GROUP=\"dialout\", MODE=\"0660\", TAG+=\"uaccess\"\n",
       "asking /dev/ttyACM0"},
      {"download mode", kDownloadPort, Answer(O::kAnswered, PhoneMode::kDownload, "TR52"), 0, true,
       "# TR52 in download mode: ttyACM1, USB ffff:fff1 interface 00\n", ""},
  };
  tr52test::TempDir dir;
  for (const Row& row : rows) {
    const CommandRun run = RunCommand(row.port, row.answer, false, dir.File("local.rules"));
    EXPECT_EQ(run.status, row.status) << row.what << "\n" << run.err;
    EXPECT_EQ(run.asked.size(), row.asked ? 1u : 0u) << row.what;
    if (row.asked) {
      EXPECT_EQ(run.asked[0], row.port->devNode) << row.what;
    }
    if (*row.outContains == '\0')
      EXPECT_EQ(run.out, "") << row.what;
    else
      EXPECT_EQ(run.out.find(row.outContains), 0u) << row.what << "\n" << run.out;
    EXPECT_NE(run.err.find(row.errContains), std::string::npos) << row.what << "\n" << run.err;
    EXPECT_EQ(run.reloads, 0) << row.what;
  }
  EXPECT_FALSE(std::ifstream(dir.File("local.rules"))) << "printing never writes the file";
}

// Installing keeps one rule per mode seen: the file after both modes (and a repeat) is the one
// that tests/unit/udev/rule_check.sh runs through udevadm.
TEST(UdevRule, InstallKeepsOneRulePerModeAndRefusesBeforeAsking) {
  using O = ModelAnswer::Outcome;
  tr52test::TempDir dir;
  const std::string rules = dir.File("71-tr52-local.rules");
  const auto normal = Answer(O::kAnswered, PhoneMode::kNormal, "TR52");
  const auto download = Answer(O::kAnswered, PhoneMode::kDownload, "TR52");
  struct Step {
    RulePort port;
    ModelAnswer answer;
    const char* errContains;
  };
  for (const Step& step : {Step{kNormalPort, normal, "rule for normal mode added"},
                           Step{kDownloadPort, download, "rule for download mode added"},
                           Step{kNormalPort, normal, "already in"}}) {
    const CommandRun run = RunCommand(step.port, step.answer, true, rules);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(step.errContains), std::string::npos) << run.err;
    EXPECT_EQ(run.reloads, 1);
  }
  EXPECT_EQ(Slurp(rules), Slurp(std::string(TR52_UDEV_TEST_DIR) + "/71-tr52-local.rules"));

  // A folder that cannot take the file is refused before the phone is asked anything.
  const CommandRun refused = RunCommand(kNormalPort, normal, true, dir.File("none/local.rules"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.asked.empty());
  EXPECT_NE(refused.err.find("no such folder"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace station
