#include "phonedata/nv_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "link/phone_link.h"
#include "package/nv_item_name.h"
#include "phonedata/cnv_requests.h"
#include "phonedata/nv_requests.h"

namespace tr52 {

NvClient::NvClient() = default;
NvClient::~NvClient() = default;

void NvClient::SetItemNamer(std::function<std::string(int)> namer) {
  namer_ = std::move(namer);
}

std::string NvClient::ItemName(int item) const {
  return namer_ ? namer_(item) : NvItemName(item);
}

bool NvClient::NvRead(uint16_t item, NvRecord& record) {
  record.Clear();
  if (!Ready()) return false;
  if (Transact(BuildNvRead(item, 0), kReadTimeoutMs) != TxRxResult::Accepted) {
    Log("[COM%d]   Nv Read Failed (item %d)", Port(), item);
    return false;
  }
  if (link_->RxStatus() == RxStatusCode::NvBadParm) return true;
  const std::span<const uint8_t> bytes = AnswerBytes();
  const auto answered = ParseNvItem(bytes);
  if (answered && *answered != item) return true;
  const auto packet = ParseNvPacket(bytes);
  if (!packet) {
    LogShort("NvRead", NvRecord::kSize);
    Log("[COM%d]   Nv Read Failed (item %d)", Port(), item);
    return false;
  }
  const NvRecord& answer = *packet;
  record.item = item;
  record.status = answer.status;
  if (answer.status == NV_DONE_S) {
    record.flag = 1;
    record.data = answer.data;
  } else if (answer.status == NV_NOTACTIVE_S || answer.status == NV_BADPARM_S) {
    Log("[COM%d] NV_NOTACTIVE_S", Port());
  }
  return true;
}

bool NvClient::NvReadRecord(NvRecord& record, int index) {
  record.flag = 0;
  if (!Ready()) return false;
  const int item = record.item;
  if (Transact(BuildNvRead(record.item, static_cast<uint8_t>(index)), kRecordTimeoutMs) !=
      TxRxResult::Accepted) {
    Log("[COM%d]  FAIL : %s", Port(), PrintableText(ItemName(item)).c_str());
    return false;
  }
  if (link_->RxStatus() == RxStatusCode::NvBadParm) {
    record.flag = 0;
    return true;
  }
  const auto packet = ParseNvPacket(AnswerBytes());
  if (!packet) {
    LogShort("NvReadRecord", NvRecord::kSize);
    Log("[COM%d]  FAIL : %s", Port(), PrintableText(ItemName(item)).c_str());
    return false;
  }
  const NvRecord& answer = *packet;
  record.status = answer.status;
  switch (answer.status) {
    case NV_DONE_S:
      break;
    case NV_NOTACTIVE_S:
      Log("NV_NOTACTIVE_S=> %d - %s", item, NvStatusName(answer.status));
      break;
    case NV_BADPARM_S:
      Log("NV_BADPARM_S=> %d - %s", item, NvStatusName(answer.status));
      break;
    case NV_READONLY_S:
      Log("%d - ReadOnly Item", item);
      break;
    default:
      Log("NV Read Error => %d - %s", item, NvStatusName(answer.status));
      break;
  }
  if (answer.item == record.item && answer.status == NV_DONE_S) {
    record.flag = 1;
    record.data = answer.data;
  }
  return true;
}

bool NvClient::NvWrite(NvRecord& record) {
  if (!record.IsValid()) return true;
  if (!Ready()) return false;
  const bool accepted = Transact(BuildNvWrite(record), kRecordTimeoutMs) == TxRxResult::Accepted;
  const auto answered = ParseNvWriteStatus(AnswerBytes());
  if (accepted && !answered) LogShort("NvWrite", NvRecord::kSize);
  if (!accepted || !answered) {
    Log("[COM%d]    NV Write Fail : %s(%d)", Port(), PrintableText(ItemName(record.item)).c_str(),
        record.item);
    return false;
  }
  const uint16_t status = *answered;
  record.status = status;
  if (status == NV_READONLY_S) {
    Log("[COM%d] %d - ReadOnly Item", Port(), record.item);
  } else if (status != NV_DONE_S) {
    Log("[COM%d] NV Write Error => %d - %s", Port(), record.item, NvStatusName(status));
  }
  return true;
}

bool NvClient::GetBanner(std::string* banner) {
  scratch_.Clear();
  scratch_.item = kBannerItem;
  if (NvReadRecord(scratch_, 0) && scratch_.status == NV_DONE_S && scratch_.IsValid()) {
    const auto* text = reinterpret_cast<const char*>(scratch_.data.data());
    std::string value(text, strnlen(text, NvRecord::kDataSize));
    Log("[COM%d] Banner : %s", Port(), PrintableText(value).c_str());
    if (banner) *banner = value;
    return true;
  }
  Log("[COM%d] ERROR Get Banner Failed", Port());
  return false;
}

bool NvClient::SendSpc(const char* code) {
  if (!Ready()) return false;
  const char* spc = (code && std::strlen(code) == kSpcLength) ? code : kDefaultSpc;
  Log("[COM%d] >>Send SPC [DIAG_SPC_F]", Port());
  const TxRxResult rc = Transact(BuildSpcRequest(spc), kSpcTimeoutMs);
  // A refused request can leave an OK receive status behind; only an accepted answer that says
  // yes counts.
  if (rc == TxRxResult::Accepted && link_->RxStatus() == RxStatusCode::Ok) {
    const auto accepted = ParseSpcAnswer(AnswerBytes());
    if (accepted && *accepted) return true;
    if (!accepted) LogShort("SendSpc", kSpcAnswerSize);
  }
  Log("[COM%d]   DIAG_SPC_F FAILED", Port());
  return false;
}

int NvClient::BackupNvToFile(const std::string& path, const NvRanges& ranges) {
  Log("[COM%d] MIN/MAX : qct(%d:%d), zum(%d:%d)", Port(), ranges.qctMin, ranges.qctMax,
      ranges.zumMin, ranges.zumMax);
  // Reversed zum bounds give no zum items (instead of shortening the qct range).
  const int zumCount = std::max(0, static_cast<int>(ranges.zumMax) - ranges.zumMin);
  const int total = ranges.qctMax + zumCount;
  Log("Total Number of NV Item to be read = %d", total);
  if (!set_) set_ = std::make_unique<NvBackupSet>();
  if (!set_) return NV_RESULT_NO_SET;
  if (!set_->Open(path, NvBackupSet::kWrite)) {
    Log("NV_ERROR_FILE_CREATE %s", PrintableText(path).c_str());
    Log("[COM%d]   %s", Port(), PrintableText(set_->Error()).c_str());
    return NV_RESULT_FILE_CREATE;
  }
  NvRecord record;
  for (int i = 0; i < total; ++i) {
    const int item = i < ranges.qctMax ? i : ranges.zumMin + (i - ranges.qctMax);
    record.Clear();
    record.item = static_cast<uint16_t>(item);
    if (!NvReadRecord(record, 0)) {
      Log("[COM%d] Error NV Read", Port());
      // The unfinished backup is dropped; the previous backup file stays as it was.
      set_->Close();
      return NV_RESULT_READ_NO_ANSWER;
    }
    if (record.IsValid() && record.status == NV_DONE_S) set_->Append(record);
  }
  // A backup that did not reach the disk must not pass for one that did.
  if (!set_->Flush()) {
    Log("NV_ERROR_FILE_WRITE %s", PrintableText(path).c_str());
    Log("[COM%d]   %s", Port(), PrintableText(set_->Error()).c_str());
    set_->Close();
    return NV_RESULT_FILE_CREATE;
  }
  return NV_RESULT_OK;
}

int NvClient::LoadNvBackupFile(const std::string& path) {
  Log("[COM%d] Read Backup File : %s", Port(), PrintableText(path).c_str());
  set_.reset();
  set_ = std::make_unique<NvBackupSet>();
  if (!set_) return NV_RESULT_NO_SET;
  return set_->Open(path, NvBackupSet::kRead) ? NV_RESULT_OK : NV_RESULT_FILE_READ;
}

int NvClient::RestoreNvFromFile() {
  // A set whose file failed to load holds nothing to restore: that is no backup, not success.
  if (!set_ || set_->OpenMode() == NvBackupSet::kClosed) return NV_RESULT_NO_BACKUP;
  const size_t n = set_->Count();
  if (reporter_) reporter_->WebDLFunction(3, "Restoring NV(%d)", static_cast<int>(n));
  NvRecord record;
  for (size_t i = 0; i < n; ++i) {
    if (!set_->Get(i, record)) return NV_RESULT_GET_FAILED;
    if (!NvWrite(record)) return NV_RESULT_WRITE_NO_ANSWER;
  }
  return NV_RESULT_OK;
}

// Sends the CNV request; 1 = the phone reported success, 0 = it reported failure, -1 = no answer.
int NvClient::CnvCommand(uint16_t command, const char* what) {
  Log("[COM%d] CNV %s", Port(), what);
  if (!Ready()) {
    Log("[COM%d]    CNV %s Failed", Port(), what);
    return -1;
  }
  const bool accepted = Transact(BuildCnvRequest(command), kCnvTimeoutMs) == TxRxResult::Accepted;
  const auto answer = ParseCnvAnswer(AnswerBytes());
  if (accepted && !answer)
    LogShort(command == kCnvBackup ? "CnvBackup" : "CnvRestore", kCnvAnswerSize);
  if (!accepted || !answer) {
    Log("[COM%d]    CNV %s Failed", Port(), what);
    return -1;
  }
  if (answer->Succeeded()) {
    Log("[COM%d]    CNV %s SUCCESS", Port(), what);
    return 1;
  }
  Log("[COM%d]    CNV %s Failed (status = %d, rsp_cnt = %d ", Port(), what,
      static_cast<int>(answer->status), answer->count);
  return 0;
}

int NvClient::CnvBackup() {
  const int r = CnvCommand(kCnvBackup, "Backup");
  if (r < 0) return NV_RESULT_CNV_NO_ANSWER;
  return r ? NV_RESULT_OK : NV_RESULT_CNV_FAILED;
}

int NvClient::CnvRestore() {
  return CnvCommand(kCnvRestore, "Restore") > 0 ? NV_RESULT_OK : NV_RESULT_CNV_RESTORE;
}

int NvClient::CheckCnvItems() {
  int flags[5] = {};
  NvRecord record;
  for (int i = 0; i < 5; ++i) {
    // A read that got no answer leaves the record invalid: the item counts as missing.
    static_cast<void>(NvRead(kCnvCheckItems[i].item, record));
    flags[i] = record.IsValid() ? 1 : 0;
  }
  if (flags[1] && flags[2] && flags[3] && flags[4]) {
    Log("[COM%d]  CNV Check OK", Port());
    return NV_RESULT_OK;
  }
  Log("[COM%d]  Invalid NV Item inserted on the Phone", Port());
  for (int i = 0; i < 5; ++i) Log("[COM%d]  %s=%d", Port(), kCnvCheckItems[i].name, flags[i]);
  return NV_RESULT_CNV_RESTORE;
}

}  // namespace tr52
