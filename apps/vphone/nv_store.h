// The handset's NV items: numbered items of 128 bytes with the faults a scenario may set
// (per-item read and write statuses, read-only items, items that are missing), the service
// programming code, and the phone's own calibration copy (CNV).
//
// Scenario keys (defaults in brackets):
//   nv.fill = default | none         the usual item population, or an empty store [default]
//   nv.missing = 114 2010            items removed from the population
//   nv.banner = TR52V10A_091117      text of item 71
//   nv.read_status.<item> = n        that item's reads are answered with status n
//   nv.read_status_all = n           every read is answered with status n [-1: none]
//   nv.bad_parm = 6 7                items whose reads are refused with 0x14
//   nv.readonly = 0 1                items whose writes are answered with status 7
//   nv.write_status.<item> = n       that item's writes are answered with status n
//   nv.silent_read_at = n            from the n-th read on (1-based) reads get no answer [0]
//   nv.spc = 000000                  the service programming code the phone takes
//   cnv.backup = ok | fail | silent  outcome of the phone's own backup [ok]
//   cnv.restore = ok | fail | silent outcome of the phone's own restore [ok]
//   cnv.saved = false                the phone already holds a calibration copy from an
//                                    earlier backup (taken from its items at start)
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>

#include "vphone/responder.h"

namespace vphone {

using NvData = std::array<uint8_t, 128>;

class NvStore {
 public:
  static constexpr uint16_t kBannerItem = 71;
  // The calibration set the phone copies in a CNV backup and a CNV restore brings back.
  static constexpr uint16_t kCalibrationItems[5] = {571, 114, 2010, 5059, 5459};

  NvStore();

  void ApplyScenario(const Scenario& s);
  // Items only ("nv <item> <hex data>"), then the CNV copy ("cnv <item> <hex>").
  void DumpState(std::ostream& out) const;

  // The population: items 0..4392 except every third, 9001..9180 every second, the
  // calibration set, and the banner; data derived from the item number.
  void FillDefault();
  static NvData DefaultData(uint16_t item);

  std::optional<NvData> Get(uint16_t item) const;
  void Set(uint16_t item, const NvData& data) { items_[item] = data; }
  void Erase(uint16_t item) { items_.erase(item); }
  size_t Count() const { return items_.size(); }
  const std::map<uint16_t, NvData>& Items() const { return items_; }

  // Faults.
  std::optional<uint16_t> ReadStatusFor(uint16_t item) const;
  bool IsBadParm(uint16_t item) const { return badParm_.count(item) != 0; }
  std::optional<uint16_t> WriteStatusFor(uint16_t item) const;
  // Counts reads; true when this one must go unanswered.
  bool NextReadSilent();
  const std::string& Spc() const { return spc_; }

  // CNV: copies the calibration set aside / back. False when the scenario makes it fail or
  // (restore) there is no copy.
  enum class Outcome { Ok, Fail, Silent };
  Outcome CnvBackupOutcome() const { return cnvBackup_; }
  Outcome CnvRestoreOutcome() const { return cnvRestore_; }
  bool CnvBackup();
  // A new EFS holds no calibration: the calibration items read as zeros until restored.
  void ClearCalibration();
  // Copies the calibration items as they are now; false (and no copy) when one is missing.
  bool SaveCalibrationCopy();
  bool CnvRestore();
  bool HasCnvCopy() const { return !cnvCopy_.empty(); }

 private:
  std::map<uint16_t, NvData> items_;
  std::map<uint16_t, uint16_t> readStatus_;
  std::map<uint16_t, uint16_t> writeStatus_;
  std::set<uint16_t> readOnly_;
  std::set<uint16_t> badParm_;
  int readStatusAll_ = -1;
  long silentReadAt_ = 0;
  long reads_ = 0;
  std::string spc_ = "000000";
  Outcome cnvBackup_ = Outcome::Ok;
  Outcome cnvRestore_ = Outcome::Ok;
  std::map<uint16_t, NvData> cnvCopy_;
};

}  // namespace vphone
