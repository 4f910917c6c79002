#include "vphone/nv_store.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "vphone/scenario.h"

namespace vphone {

namespace {

std::set<uint16_t> ParseItemList(const std::string& text) {
  std::set<uint16_t> out;
  std::istringstream in(text);
  std::string tok;
  while (in >> tok) {
    if (auto v = ParseInt(tok); v && *v >= 0 && *v <= 0xFFFF) out.insert(static_cast<uint16_t>(*v));
  }
  return out;
}

NvStore::Outcome ParseOutcome(const std::string& text, NvStore::Outcome def) {
  if (text == "ok") return NvStore::Outcome::Ok;
  if (text == "fail") return NvStore::Outcome::Fail;
  if (text == "silent") return NvStore::Outcome::Silent;
  return def;
}

void DumpHex(std::ostream& out, const NvData& d) {
  static const char* hex = "0123456789abcdef";
  for (uint8_t b : d) out << hex[b >> 4] << hex[b & 15];
}

}  // namespace

NvStore::NvStore() {
  FillDefault();
}

NvData NvStore::DefaultData(uint16_t item) {
  NvData d{};
  for (size_t i = 0; i < d.size(); ++i)
    d[i] = static_cast<uint8_t>(item * 31 + i * 7 + (item >> 8));
  return d;
}

void NvStore::FillDefault() {
  items_.clear();
  for (uint16_t i = 0; i < 4393; ++i)
    if (i % 3 != 2) items_[i] = DefaultData(i);
  for (uint16_t i = 9001; i < 9181; i += 2) items_[i] = DefaultData(i);
  for (uint16_t i : kCalibrationItems) items_[i] = DefaultData(i);
  NvData banner{};
  const char* text = "TR52V10A_091117";
  std::memcpy(banner.data(), text, std::strlen(text));
  items_[kBannerItem] = banner;
}

void NvStore::ApplyScenario(const Scenario& s) {
  if (ScenarioString(s, "nv.fill", "default") == "none") items_.clear();
  if (auto it = s.find("nv.banner"); it != s.end()) {
    NvData banner{};
    std::memcpy(banner.data(), it->second.data(), std::min<size_t>(it->second.size(), 127));
    items_[kBannerItem] = banner;
  }
  if (auto it = s.find("nv.missing"); it != s.end())
    for (uint16_t i : ParseItemList(it->second)) items_.erase(i);
  if (auto it = s.find("nv.readonly"); it != s.end()) readOnly_ = ParseItemList(it->second);
  if (auto it = s.find("nv.bad_parm"); it != s.end()) badParm_ = ParseItemList(it->second);
  readStatusAll_ = static_cast<int>(ScenarioInt(s, "nv.read_status_all", readStatusAll_));
  silentReadAt_ = static_cast<long>(ScenarioInt(s, "nv.silent_read_at", silentReadAt_));
  spc_ = ScenarioString(s, "nv.spc", spc_);
  for (const auto& entry : s) {
    // Named references, not a structured binding: clang 14 cannot capture those in a lambda.
    const std::string& key = entry.first;
    const std::string& value = entry.second;
    auto take = [&](const char* prefix, std::map<uint16_t, uint16_t>& into) {
      const size_t n = std::strlen(prefix);
      if (key.compare(0, n, prefix) != 0) return;
      auto item = ParseInt(key.substr(n));
      auto status = ParseInt(value);
      if (item && status) into[static_cast<uint16_t>(*item)] = static_cast<uint16_t>(*status);
    };
    take("nv.read_status.", readStatus_);
    take("nv.write_status.", writeStatus_);
  }
  cnvBackup_ = ParseOutcome(ScenarioString(s, "cnv.backup", ""), cnvBackup_);
  cnvRestore_ = ParseOutcome(ScenarioString(s, "cnv.restore", ""), cnvRestore_);
  if (ScenarioBool(s, "cnv.saved", false)) SaveCalibrationCopy();
}

std::optional<NvData> NvStore::Get(uint16_t item) const {
  auto it = items_.find(item);
  if (it == items_.end()) return std::nullopt;
  return it->second;
}

std::optional<uint16_t> NvStore::ReadStatusFor(uint16_t item) const {
  if (readStatusAll_ >= 0) return static_cast<uint16_t>(readStatusAll_);
  if (auto it = readStatus_.find(item); it != readStatus_.end()) return it->second;
  return std::nullopt;
}

std::optional<uint16_t> NvStore::WriteStatusFor(uint16_t item) const {
  if (readOnly_.count(item)) return uint16_t{7};
  if (auto it = writeStatus_.find(item); it != writeStatus_.end()) return it->second;
  return std::nullopt;
}

bool NvStore::NextReadSilent() {
  ++reads_;
  return silentReadAt_ > 0 && reads_ >= silentReadAt_;
}

bool NvStore::CnvBackup() {
  if (cnvBackup_ != Outcome::Ok) return false;
  return SaveCalibrationCopy();
}

void NvStore::ClearCalibration() {
  for (uint16_t i : kCalibrationItems)
    if (auto it = items_.find(i); it != items_.end()) it->second = NvData{};
}

bool NvStore::SaveCalibrationCopy() {
  cnvCopy_.clear();
  for (uint16_t i : kCalibrationItems) {
    auto d = Get(i);
    if (!d) {  // a calibration item is missing: nothing to keep
      cnvCopy_.clear();
      return false;
    }
    cnvCopy_[i] = *d;
  }
  return true;
}

bool NvStore::CnvRestore() {
  if (cnvRestore_ != Outcome::Ok || cnvCopy_.empty()) return false;
  for (const auto& [item, data] : cnvCopy_) items_[item] = data;
  return true;
}

void NvStore::DumpState(std::ostream& out) const {
  for (const auto& [item, data] : items_) {
    out << "nv " << item << ' ';
    DumpHex(out, data);
    out << '\n';
  }
  for (const auto& [item, data] : cnvCopy_) {
    out << "cnv " << item << ' ';
    DumpHex(out, data);
    out << '\n';
  }
}

}  // namespace vphone
