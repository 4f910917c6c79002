#include "phonedata/nv_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/byte_reader.h"
#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/progress_reporter.h"
#include "link/last_answer.h"
#include "link/phone_link.h"
#include "package/image_store.h"

namespace tr52 {

namespace {

constexpr uint8_t kSpcCommand = 0x41;
constexpr uint8_t kSubsysDispatchV2 = 0x80;
constexpr uint8_t kCnvSubsystem = 0x37;
constexpr int kCnvRequestLength = 12;
constexpr size_t kNvStatusOffset = 131;

}  // namespace

NvClient::NvClient() = default;
NvClient::~NvClient() = default;

void NvClient::Bind(PhoneLink* link, ProgressReporter* reporter, win::HWND dialog) {
  link_ = link;
  reporter_ = reporter;
  if (reporter_) reporter_->SetTextTarget(dialog);
  if (link_) {
    auto buffers = link_->PacketBuffers();
    request_ = buffers.request;
    response_ = buffers.response;
  } else {
    request_ = response_ = nullptr;
  }
}

void NvClient::SetItemNamer(std::function<std::string(int)> namer) {
  namer_ = std::move(namer);
}

std::string NvClient::ItemName(int item) const {
  return namer_ ? namer_(item) : NvItemName(item);
}

int NvClient::Port() const {
  return link_ ? link_->PortNumber() : 0;
}

bool NvClient::NvRead(uint16_t item, NvRecord& record) {
  record.Clear();
  if (!Ready()) return false;
  std::memset(request_, 0, NvRecord::kSize);
  request_[0] = kNvReadCommand;
  StoreU16le(request_ + 1, item);
  if (link_->AsyncTxRx(request_, response_, NvRecord::kSize, kReadTimeoutMs) != TXRX_ACCEPTED) {
    Log("[COM%d]   Nv Read Failed (item %d)", Port(), item);
    return false;
  }
  if (link_->RxStatus() == RX_NV_BAD_PARM) return true;
  AnswerReader reader = LastAnswer(*link_);
  const auto answered = reader.U16(1);
  if (answered && *answered != item) return true;
  const auto packet = reader.View(0, NvRecord::kSize);
  if (!packet) {
    LogShortAnswer(Port(), "NvRead", reader);
    Log("[COM%d]   Nv Read Failed (item %d)", Port(), item);
    return false;
  }
  const NvRecord answer = NvRecord::DecodeFrom(packet->data());
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
  std::memset(request_, 0, NvRecord::kSize);
  request_[0] = kNvReadCommand;
  StoreU16le(request_ + 1, record.item);
  request_[3] = static_cast<uint8_t>(index);
  if (link_->AsyncTxRx(request_, response_, NvRecord::kSize, kRecordTimeoutMs) != TXRX_ACCEPTED) {
    Log("[COM%d]  FAIL : %s", Port(), PrintableText(ItemName(item)).c_str());
    return false;
  }
  if (link_->RxStatus() == RX_NV_BAD_PARM) {
    record.flag = 0;
    return true;
  }
  AnswerReader reader = LastAnswer(*link_);
  const auto packet = reader.View(0, NvRecord::kSize);
  if (!packet) {
    LogShortAnswer(Port(), "NvReadRecord", reader);
    Log("[COM%d]  FAIL : %s", Port(), PrintableText(ItemName(item)).c_str());
    return false;
  }
  const NvRecord answer = NvRecord::DecodeFrom(packet->data());
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
  std::memset(request_, 0, NvRecord::kSize);
  request_[0] = kNvWriteCommand;
  StoreU16le(request_ + 1, record.item);
  std::memcpy(request_ + 3, record.data.data(), NvRecord::kDataSize);
  const bool accepted =
      link_->AsyncTxRx(request_, response_, NvRecord::kSize, kRecordTimeoutMs) == TXRX_ACCEPTED;
  AnswerReader reader = LastAnswer(*link_);
  const auto answered = reader.U16(kNvStatusOffset);
  if (accepted && !answered) LogShortAnswer(Port(), "NvWrite", reader);
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
  const char* spc = (code && std::strlen(code) == 6) ? code : kDefaultSpc;
  Log("[COM%d] >>Send SPC [DIAG_SPC_F]", Port());
  std::memset(request_, 0, 7);
  request_[0] = kSpcCommand;
  std::memcpy(request_ + 1, spc, 6);
  const int rc = link_->AsyncTxRx(request_, response_, 7, kSpcTimeoutMs);
  // A refused request can leave RX_OK behind; only an accepted answer that says yes counts.
  if (rc == TXRX_ACCEPTED && link_->RxStatus() == RX_OK) {
    AnswerReader reader = LastAnswer(*link_);
    const auto accepted = reader.U8(1);
    if (accepted && *accepted != 0) return true;
    if (!accepted) LogShortAnswer(Port(), "SendSpc", reader);
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
  std::memset(request_, 0, kCnvRequestLength);
  request_[0] = kSubsysDispatchV2;
  request_[1] = kCnvSubsystem;
  StoreU16le(request_ + 2, command);
  const bool accepted =
      link_->AsyncTxRx(request_, response_, kCnvRequestLength, kCnvTimeoutMs) == TXRX_ACCEPTED;
  AnswerReader reader = LastAnswer(*link_);
  const auto answeredStatus = reader.U32(4);
  const auto answeredCount = reader.U16(10);
  if (accepted && !(answeredStatus && answeredCount))
    LogShortAnswer(Port(), command == 0 ? "CnvBackup" : "CnvRestore", reader);
  if (!accepted || !(answeredStatus && answeredCount)) {
    Log("[COM%d]    CNV %s Failed", Port(), what);
    return -1;
  }
  const uint32_t status = *answeredStatus;
  const uint16_t count = *answeredCount;
  if (status != 1 && count != 0) {
    Log("[COM%d]    CNV %s SUCCESS", Port(), what);
    return 1;
  }
  Log("[COM%d]    CNV %s Failed (status = %d, rsp_cnt = %d ", Port(), what,
      static_cast<int>(status), count);
  return 0;
}

int NvClient::CnvBackup() {
  const int r = CnvCommand(0, "Backup");
  if (r < 0) return NV_RESULT_CNV_NO_ANSWER;
  return r ? NV_RESULT_OK : NV_RESULT_CNV_FAILED;
}

int NvClient::CnvRestore() {
  return CnvCommand(1, "Restore") > 0 ? NV_RESULT_OK : NV_RESULT_CNV_RESTORE;
}

int NvClient::CheckCnvItems() {
  int flags[5] = {};
  NvRecord record;
  for (int i = 0; i < 5; ++i) {
    NvRead(kCnvCheckItems[i].item, record);
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
