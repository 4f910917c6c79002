// NV items over DIAG: single reads and writes, the banner and the service programming code,
// the NV backup to a file and its restore, and the phone's own backup and restore (CNV).
//
// One client per port, bound to the session's link and progress sink; used only by the port's
// worker thread. Requests come from the NV and CNV builders (nv_requests.h, cnv_requests.h). An
// answer too short to hold the fields an operation reads counts as no answer, after a "short
// answer" log line: its missing status is never taken for NV_DONE_S nor its missing data stored.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/link_client.h"
#include "phonedata/nv_backup_set.h"
#include "phonedata/nv_ranges.h"
#include "phonedata/nv_record.h"

namespace tr52 {

// Results of the backup and restore operations (0 = success).
enum NvResult : int {
  NV_RESULT_OK = 0,
  NV_RESULT_NO_SET = 1,           // BackupNvToFile / LoadNvBackupFile: no backup set
  NV_RESULT_FILE_CREATE = 2,      // BackupNvToFile: file not created
  NV_RESULT_READ_NO_ANSWER = 4,   // BackupNvToFile: an NV read got no answer
  NV_RESULT_WRITE_NO_ANSWER = 5,  // RestoreNvFromFile: an NV write got no answer
  NV_RESULT_GET_FAILED = 6,       // RestoreNvFromFile: a record could not be fetched
  NV_RESULT_NO_BACKUP = 7,        // RestoreNvFromFile: no backup set
  NV_RESULT_FILE_READ = 8,        // LoadNvBackupFile: not opened or not read whole
  NV_RESULT_CNV_NO_ANSWER = 9,    // CnvBackup
  NV_RESULT_CNV_FAILED = 10,      // CnvBackup
  NV_RESULT_CNV_RESTORE = 3006,   // CnvRestore, CheckCnvItems
};

// The items checked around a CNV backup and restore, in reading order, with their log names.
struct CnvCheckItem {
  uint16_t item;
  const char* name;
};
inline constexpr CnvCheckItem kCnvCheckItems[5] = {
    {571, "bCalDateEnabled"},
    {114, "bPIDEnabled"},
    {2010, "bNV_WCDMA_TX_LIN_MASTER_3_I"},
    {5059, "bNV_WCDMA_2100_TX_LIN_MASTER_0_ENH_I"},
    {5459, "bNV_WCDMA_2100_EXP_HDET_VS_AGC_V2_I"},
};

class NvClient : public LinkClient {
 public:
  static constexpr int kReadTimeoutMs = 3000;
  static constexpr int kRecordTimeoutMs = 5000;
  static constexpr int kCnvTimeoutMs = 100000;
  static constexpr int kSpcTimeoutMs = 3000;
  static constexpr int kBannerItem = 71;
  // Default service programming code.
  static constexpr const char* kDefaultSpc = "000000";

  NvClient();
  ~NvClient() override;

  // Item names for log lines; NvItemName (NvItemTable.txt) unless another namer is set.
  void SetItemNamer(std::function<std::string(int item)> namer);
  std::string ItemName(int item) const;

  // --- single items ---
  // Plain read (3000 ms). True when the phone answered; whether the item was read is
  // record.IsValid().
  [[nodiscard]] bool NvRead(uint16_t item, NvRecord& record);
  // Read of record.item with `index` in byte 3 (5000 ms), logging bad statuses.
  [[nodiscard]] bool NvReadRecord(NvRecord& record, int index);
  // Write of a valid record (5000 ms); a record with flag 0 is not sent (true). The answer's
  // status is stored in record.status; only a missing answer gives false.
  [[nodiscard]] bool NvWrite(NvRecord& record);

  // Reads item 71 into the scratch record; true and `banner` set when it came back valid with
  // status 0. Logs "[COM%d] Banner : %s" or "[COM%d] ERROR Get Banner Failed".
  [[nodiscard]] bool GetBanner(std::string* banner = nullptr);
  // Sends the service programming code (0x41 + 6 characters; kDefaultSpc unless `code` has
  // length 6). True when the link reports an OK receive status and byte 1 of the answer is
  // non-zero.
  [[nodiscard]] bool SendSpc(const char* code = nullptr);

  // --- backup to file and restore ---
  [[nodiscard]] int BackupNvToFile(const std::string& path, const NvRanges& ranges);
  [[nodiscard]] int LoadNvBackupFile(const std::string& path);
  [[nodiscard]] int RestoreNvFromFile();

  // --- the phone's own backup and restore ---
  [[nodiscard]] int CnvBackup();
  [[nodiscard]] int CnvRestore();
  [[nodiscard]] int CheckCnvItems();

  // The backup set (null before the first backup or load).
  NvBackupSet* BackupSet() { return set_.get(); }
  NvRecord& ScratchRecord() { return scratch_; }

 private:
  int CnvCommand(uint16_t command, const char* what);
  bool Ready() const { return Attached(); }

  std::unique_ptr<NvBackupSet> set_;
  NvRecord scratch_;
  std::function<std::string(int)> namer_;
};

}  // namespace tr52
