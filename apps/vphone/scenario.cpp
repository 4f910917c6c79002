#include "vphone/scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vphone {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

Scenario ParseScenario(const std::string& text, std::vector<std::string>* errors) {
  Scenario out;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    if (line.empty()) continue;
    auto eq = line.find('=');
    std::string key = eq == std::string::npos ? "" : Trim(line.substr(0, eq));
    if (key.empty()) {
      if (errors) errors->push_back("line " + std::to_string(number) + ": " + line);
      continue;
    }
    out[key] = Trim(line.substr(eq + 1));
  }
  return out;
}

bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read scenario file " + path;
    return false;
  }
  std::ostringstream text;
  text << f.rdbuf();
  std::vector<std::string> errors;
  out = ParseScenario(text.str(), &errors);
  if (!errors.empty()) {
    error = "malformed scenario " + path + " (expected \"key = value\"): " + errors.front();
    return false;
  }
  return true;
}

std::optional<int64_t> ParseInt(const std::string& text) {
  std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, 0);
  if (errno != 0 || end == t.c_str() || *end != '\0') return std::nullopt;
  return v;
}

std::optional<Bytes> ParseHexBytes(const std::string& text) {
  std::istringstream in(text);
  std::string tok;
  Bytes out;
  while (in >> tok) {
    if (tok.size() > 2 && (tok[0] == '0') && (tok[1] == 'x' || tok[1] == 'X')) tok.erase(0, 2);
    if (tok.empty() || tok.size() > 2) return std::nullopt;
    char* end = nullptr;
    unsigned long v = std::strtoul(tok.c_str(), &end, 16);
    if (*end != '\0') return std::nullopt;
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

std::string ScenarioString(const Scenario& s, const std::string& key, const std::string& def) {
  auto it = s.find(key);
  return it == s.end() ? def : it->second;
}

int64_t ScenarioInt(const Scenario& s, const std::string& key, int64_t def) {
  auto it = s.find(key);
  if (it == s.end()) return def;
  return ParseInt(it->second).value_or(def);
}

bool ScenarioBool(const Scenario& s, const std::string& key, bool def) {
  auto it = s.find(key);
  if (it == s.end()) return def;
  std::string v = Lower(Trim(it->second));
  if (v == "true" || v == "yes" || v == "on" || v == "1") return true;
  if (v == "false" || v == "no" || v == "off" || v == "0") return false;
  return def;
}

std::optional<Bytes> ScenarioBytes(const Scenario& s, const std::string& key) {
  auto it = s.find(key);
  if (it == s.end()) return std::nullopt;
  return ParseHexBytes(it->second);
}

}  // namespace vphone
