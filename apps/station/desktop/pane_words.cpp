#include "pane_words.h"

#include <algorithm>
#include <cctype>

namespace station {
namespace {

// "COM5" -> "COM 5"; a caption that has its space already stays.
std::string SpacedPortName(const std::string& name) {
  size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  if (digits == 0 || digits == name.size() || name[digits - 1] == ' ') return name;
  return name.substr(0, digits) + " " + name.substr(digits);
}

// "12.FLASHING AMSS" -> "FLASHING AMSS"; "3.-.ERROR 1015 " -> "ERROR 1015".
std::string StepText(const std::string& line) {
  size_t i = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
  std::string text = i > 0 && i < line.size() && line[i] == '.' ? line.substr(i + 1) : line;
  if (text.rfind("-.", 0) == 0) text = text.substr(2);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A first word in capital letters only is read out letter by letter by some screen readers:
// "FLASHING AMSS" -> "flashing AMSS".
std::string FirstWordSpoken(std::string text) {
  const size_t end = std::min(text.find(' '), text.size());
  const bool capitals = end > 1 && std::all_of(text.begin(), text.begin() + end,
                                               [](char c) { return c >= 'A' && c <= 'Z'; });
  if (capitals)
    std::transform(text.begin(), text.begin() + end, text.begin(),
                   [](char c) { return static_cast<char>(c - 'A' + 'a'); });
  return text;
}

}  // namespace

int PanePercent(const win::ProgressState& bar) {
  if (bar.upper <= bar.lower) return 0;
  const double f = (static_cast<double>(bar.position) - bar.lower) /
                   (static_cast<double>(bar.upper) - bar.lower);
  return std::clamp(static_cast<int>(f * 100 + 0.5), 0, 100);
}

std::string SpokenPane(const std::string& portName, const std::optional<PaneSnapshot>& snap) {
  if (!snap) return SpacedPortName(portName) + ", waiting for a phone";
  const std::string port = SpacedPortName(snap->caption.empty() ? portName : snap->caption);
  const std::string percent = std::to_string(PanePercent(snap->bar.state)) + " percent";
  const std::string step = snap->lines.empty() ? "" : StepText(snap->lines.back());
  switch (snap->outcome) {
    case PaneOutcome::kSucceeded:
      return port + ", finished OK";  // the bar shows where the last image ended
    case PaneOutcome::kFailed:
      return port + ", failed, " + step + ", " + percent;
    case PaneOutcome::kRunning:
      break;
  }
  return port + ", " + (step.empty() ? "starting" : FirstWordSpoken(step)) + ", " + percent;
}

std::string SummaryText(const PaneCounts& counts) {
  std::string text;
  auto add = [&](int n, const char* what) {
    if (n == 0) return;
    text += (text.empty() ? "" : " · ") + std::to_string(n) + " " + what;
  };
  add(counts.running, "running");
  add(counts.ok, "OK");
  add(counts.failed, "failed");
  return text.empty() ? "waiting for phones" : text;
}

}  // namespace station
