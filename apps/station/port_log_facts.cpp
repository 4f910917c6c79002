#include "port_log_facts.h"

#include <set>

namespace station {
namespace {

// "[hh:mm:ss:mmm]  : " starts every line the plug-in writes; the header's continuation lines
// and anything else do not carry it.
std::optional<std::string_view> MessageOf(std::string_view line) {
  constexpr std::string_view kStampEnd = "]  : ";
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto end = line.find(kStampEnd);
  // "[00:00:00:000]" is 14 characters; a longer bracket is not a time stamp.
  if (end == std::string_view::npos || end != 13) return std::nullopt;
  return line.substr(end + kStampEnd.size());
}

// The port number of a "[COM<n>]" prefix and the text after it (leading blanks dropped).
std::optional<std::pair<int, std::string_view>> SplitPortPrefix(std::string_view message) {
  constexpr std::string_view kOpen = "[COM";
  if (message.substr(0, kOpen.size()) != kOpen) return std::nullopt;
  size_t i = kOpen.size();
  int port = 0;
  size_t digits = 0;
  while (i < message.size() && message[i] >= '0' && message[i] <= '9' && digits < 4) {
    port = port * 10 + (message[i] - '0');
    ++i;
    ++digits;
  }
  // "[COM<n>] " always has a blank after the bracket.
  if (digits == 0 || i + 1 >= message.size() || message[i] != ']' || message[i + 1] != ' ')
    return std::nullopt;
  std::string_view body = message.substr(i + 1);
  while (!body.empty() && body.front() == ' ') body.remove_prefix(1);
  return std::make_pair(port, body);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// "WM_COPYDATA <words> <kind> - <text>": the text the reporter sent with kind 0.
std::optional<std::string_view> KindZeroText(std::string_view body) {
  constexpr std::string_view kPrefix = "WM_COPYDATA ";
  if (!StartsWith(body, kPrefix)) return std::nullopt;
  const auto dash = body.find(" - ", kPrefix.size());
  if (dash == std::string_view::npos || dash < 2) return std::nullopt;
  if (body.substr(dash - 2, 2) != " 0") return std::nullopt;
  return body.substr(dash + 3);
}

std::string_view NonEmpty(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

PortLogFacts ReadPortLogFacts(std::string_view logText, int port) {
  PortLogFacts facts;
  std::optional<std::string> sentName;     // kind 0 text of the reporter
  std::optional<std::string> normalModel;  // DIAG model name ("strModel = ...")
  std::optional<std::string> dloadModel;   // DLOAD_VERRSP_F of this port
  std::optional<int> firstDetection;       // 1 normal, 0 download mode
  bool detectionPassed = false;            // the model name was accepted and listed
  bool dloadSwitch = false;
  // Ports whose emergency model-name request is under way: "DLOAD_VERRSP_F" carries no port, so
  // it is taken for this port only while no other port's request is open.
  std::set<int> emergencyOpen;

  auto markFollowed = [&] {
    if (!facts.images.empty()) facts.images.back().followed = true;
  };
  auto addImage = [&](std::string_view type, const char* method) {
    markFollowed();
    facts.images.push_back(ImageWrite{std::string(type), method, false});
  };

  size_t start = 0;
  while (start < logText.size()) {
    const auto newline = logText.find('\n', start);
    if (newline == std::string_view::npos) break;  // a line still being written
    std::string_view line = logText.substr(start, newline - start);
    start = newline + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto message = MessageOf(line);
    if (!message) continue;

    constexpr std::string_view kVerRsp = "DLOAD_VERRSP_F : ";
    if (StartsWith(*message, kVerRsp)) {
      if (emergencyOpen.size() == 1 && *emergencyOpen.begin() == port && !dloadModel)
        dloadModel = std::string(NonEmpty(message->substr(kVerRsp.size())));
      emergencyOpen.clear();
      continue;
    }
    const auto prefixed = SplitPortPrefix(*message);
    if (!prefixed) continue;
    const auto& [linePort, body] = *prefixed;
    if (body == "EMERGENCY Booting Mode") {
      emergencyOpen.insert(linePort);
      if (linePort == port && !firstDetection) firstDetection = 0;
      continue;
    }
    const auto sent = KindZeroText(body);
    if (sent || StartsWith(body, "GetEmergencyModelName - FAIL") ||
        StartsWith(body, "Compare Model Name FAIL"))
      emergencyOpen.erase(linePort);
    if (linePort != port) continue;

    constexpr std::string_view kStrModel = "strModel = ";
    constexpr std::string_view kNand = "_NandDownload(";
    constexpr std::string_view kFlashing = " FLASHING ...";
    if (sent) {
      if (!sentName && !sent->empty() && *sent != "No Phone") {
        sentName = std::string(*sent);
        detectionPassed = true;
      }
    } else if (StartsWith(body, kStrModel)) {
      if (!normalModel) normalModel = std::string(NonEmpty(body.substr(kStrModel.size())));
      if (!firstDetection) firstDetection = 1;
    } else if (body == "_DloadMode()") {
      dloadSwitch = true;
    } else if (StartsWith(body, kNand) && EndsWith(body, ")")) {
      addImage(body.substr(kNand.size(), body.size() - kNand.size() - 1), "nand");
    } else if (body == ">>DOWNLOAD AMSS (RAM)") {
      addImage("AMSS", "ram");
    } else if (EndsWith(body, kFlashing) && body.size() > kFlashing.size()) {
      addImage(body.substr(0, body.size() - kFlashing.size()), "pipelined");
    } else if (body == "Pre Nand Download") {
      addImage("PARTITION TBL", "partition table");
    } else if (StartsWith(body, "_Reset_N_Close")) {
      markFollowed();
    }
  }

  if (sentName)
    facts.model = sentName;
  else if (normalModel && !normalModel->empty())
    facts.model = normalModel;
  else if (dloadModel && !dloadModel->empty())
    facts.model = dloadModel;
  // A flow runs once the first detection accepted the phone; only flow 1 switches the phone
  // into download mode.
  if (dloadSwitch)
    facts.flow = 1;
  else if (detectionPassed)
    facts.flow = firstDetection;
  return facts;
}

std::optional<std::string> ModelFromPaneLines(const std::vector<std::string>& firstLines) {
  auto unnumbered = [](const std::string& line) {
    size_t i = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    if (i == 0 || i >= line.size() || line[i] != '.') return line;
    return line.substr(i + 1);
  };
  if (firstLines.size() < 2 || unnumbered(firstLines[1]) != "Load Bin") return std::nullopt;
  std::string model = unnumbered(firstLines[0]);
  if (model.empty() || model.rfind("-.", 0) == 0 || model == "No Phone") return std::nullopt;
  return model;
}

}  // namespace station
