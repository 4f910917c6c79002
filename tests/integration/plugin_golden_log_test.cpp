// The plug-in log of a healthy normal-mode download, line for line against a committed golden
// file. Time stamps are cut, the COM number and the header's process facts masked; every other byte
// must match, so a changed, lost or added log line shows here. TR52_UPDATE_GOLDEN=1 rewrites the
// file.
//
// One thing is left to timing: a pipelined write moves its bar once per batch of acknowledgements
// the phone sends, and how the acknowledgements batch depends on the machine's load. The bar
// lines of a pipelined write are therefore compared as one line per run ("Pos(...)").
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "plugin_host_fixture.h"

namespace tr52 {
namespace {

constexpr int kCom = 77;

std::vector<std::string> Masked(const std::vector<std::string>& lines) {
  const std::regex com("COM" + std::to_string(kCom) + "\\b");
  const std::regex port("Port\\[" + std::to_string(kCom) + "\\]");
  const std::pair<std::regex, const char*> facts[] = {
      {std::regex("^Log is started on .*"), "Log is started on <time>"},
      {std::regex("^executable: .*"), "executable: <host>"},
      {std::regex("^compile time : .*"), "compile time : <build>"},
  };
  const std::regex barLine("^(\\[COM#\\] \\w+) Pos\\(\\d+\\)$");
  std::vector<std::string> out;
  // A pipelined write's packet lines and bar lines, from its first such line to the first other.
  bool pipelined = false;
  std::vector<std::string> packets;
  std::string bars;
  const auto endWrite = [&] {
    out.insert(out.end(), packets.begin(), packets.end());
    if (!bars.empty()) out.push_back(bars + " Pos(...)");
    packets.clear();
    bars.clear();
  };
  for (std::string line : lines) {
    line = std::regex_replace(std::regex_replace(line, com, "COM#"), port, "Port[#]");
    for (const auto& [pattern, mask] : facts) line = std::regex_replace(line, pattern, mask);
    std::smatch bar;
    if (pipelined && std::regex_match(line, bar, barLine)) {
      bars = bar[1].str();
      continue;
    }
    if (pipelined && line.starts_with("Tx packet")) {
      packets.push_back(line);
      continue;
    }
    if (!packets.empty() || !bars.empty()) {
      endWrite();
      pipelined = false;
    }
    if (line == ">>Dl_AsyncOptimizeWrite()") pipelined = true;
    out.push_back(line);
  }
  endWrite();
  return out;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A healthy download: the protocol's time-outs stay real, so no answer is ever missed.
class PluginGoldenLog : public tr52test::PluginHost {
 protected:
  PluginGoldenLog() : PluginHost(1) {}
};

TEST_F(PluginGoldenLog, NormalFlowLogMatchesTheGoldenFile) {
  auto phone = StartPhone(kCom, vphone::Mode::Normal);
  ASSERT_EQ(Download(kCom), win::MAKELONG(1, 1));
  EXPECT_TRUE(Close());
  const std::vector<std::string> lines = Masked(LogLines());
  const std::string golden = std::string(TR52_GOLDEN_DIR) + "/normal_flow_log.txt";
  if (const char* update = std::getenv("TR52_UPDATE_GOLDEN"); update && *update == '1') {
    std::ofstream out(golden, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
    GTEST_SKIP() << "golden file rewritten: " << golden;
  }
  const std::vector<std::string> expected = ReadLines(golden);
  ASSERT_FALSE(expected.empty()) << "no golden file at " << golden;
  for (size_t i = 0; i < std::max(lines.size(), expected.size()); ++i) {
    const std::string got = i < lines.size() ? lines[i] : "<missing>";
    const std::string want = i < expected.size() ? expected[i] : "<missing>";
    ASSERT_EQ(got, want) << "first difference at line " << i + 1;
  }
}

}  // namespace
}  // namespace tr52
