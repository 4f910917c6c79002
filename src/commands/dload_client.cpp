// DloadClient: session start in download mode and the RAM download.
#include "commands/dload_client.h"

#include <algorithm>
#include <cctype>

#include "base/messages.h"
#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "commands/image_type_table.h"
#include "commands/pipelined_writer.h"

namespace tr52 {

namespace {

constexpr int kShortTimeoutMs = 3000;
constexpr int kRamInitTimeoutMs = 40000;
constexpr int kRamWriteTimeoutMs = 90000;
constexpr int kRamProgramTimeoutMs = 270000;
constexpr int kVerreqTimeoutMs = 5000;
constexpr int kUnlockTimeoutMs = 500;

constexpr uint32_t kWinceRegion = 2;

std::span<const uint8_t> Bytes(const ImageView& view) {
  return view.data != nullptr ? std::span<const uint8_t>(view.data, view.size)
                              : std::span<const uint8_t>();
}

}  // namespace

DloadClient::DloadClient() = default;

void DloadClient::SetImageSource(ImageSource source) {
  imageSource_ = std::move(source);
}

ImageView DloadClient::Image(ImageType type) const {
  ImageView view = imageSource_ ? imageSource_(type) : ImageView{};
  // An image without data has nothing to send, whatever its size says.
  if (view.data == nullptr) view.size = 0;
  return view;
}

bool DloadClient::GetParameters() {
  Log("[COM%d] Get Parameters [DLOAD_ZUM_SUB_GET_PARAM_CMD]", Port());
  if (Attached() && Transact(BuildGetParameters(), kShortTimeoutMs) == TxRxResult::Accepted) {
    if (const auto params = ParseParameters(AnswerBytes())) {
      params_ = *params;
      return true;
    }
    LogShort("GetParameters", kParametersAnswerSize);
  }
  params_ = DloadParams{};
  Log("  FAIL");
  return false;
}

bool DloadClient::GetCommMode() {
  Log(">> GET DLOAD COMM MODE");
  if (Attached() && Transact(BuildGetCommMode(), kShortTimeoutMs) == TxRxResult::Accepted) {
    if (const auto mode = ParseCommMode(AnswerBytes())) {
      commMode_ = static_cast<int>(*mode);
      Log("[GetCommMode] Communication mode : %d", commMode_);
      return true;
    }
    LogShort("GetCommMode", kCommModeAnswerSize);
  }
  Log("[COM%d]  FAIL", Port());
  return false;
}

bool DloadClient::ModemHeaderFits(const ImageView& header) const {
  if (header.size <= kModemHeaderMax) return true;
  Log("[COM%d] Dl_Init - %s is %u bytes, more than %u", Port(),
      ImageTypeTable::Row(IMAGE_AMSS_MODEM_HEADER).name, header.size, kModemHeaderMax);
  return false;
}

bool DloadClient::Dl_Init() {
  Log("[COM%d] Initialize RAM DL", Port());
  if (!Attached()) return false;
  const ImageView amss = Image(IMAGE_AMSS);
  const ImageView header = Image(IMAGE_AMSS_MODEM_HEADER);
  if (!ModemHeaderFits(header)) return false;
  const bool accepted =
      Transact(BuildRamInit(amss.size, Bytes(header)), kRamInitTimeoutMs) == TxRxResult::Accepted;
  const auto answer = ParseRamInitAnswer(AnswerBytes());
  if (accepted && !answer) LogShort("Dl_Init", kRamInitAnswerSize);
  if (!accepted || !answer) {
    Log("[COM%d]  FAIL", Port());
    return false;
  }
  if (answer->errorNumber == 0 && amss.loaded && answer->region >= amss.size) return true;
  Log("[COM%d] Dl_Init - ZI_REGION Error(%d)", Port(), static_cast<int>(answer->errorNumber));
  return false;
}

bool DloadClient::Dl_Init_2nd(ImageType type) {
  const int t = static_cast<int>(type);
  Log("[COM%d] %s RAM INIT 2nd", Port(), ImageTypeTable::Row(t).name);
  if (t != IMAGE_AMSS && t != IMAGE_WINCE) return false;
  if (!Attached()) return false;
  const ImageView target = Image(type);
  ImageView header;
  if (t == IMAGE_AMSS) {
    header = Image(IMAGE_AMSS_MODEM_HEADER);
    if (!ModemHeaderFits(header)) return false;
  }
  const auto request =
      BuildRamInit2nd(t == IMAGE_WINCE ? kWinceRegion : 0, target.size, Bytes(header));
  if (Transact(request, kRamInitTimeoutMs) != TxRxResult::Accepted) return false;
  const auto answer = ParseRamInitAnswer(AnswerBytes());
  if (!answer) {
    LogShort("Dl_Init_2nd", kRamInitAnswerSize);
    return false;
  }
  if (answer->errorNumber != 0) {
    Log("[COM%d] Dl_Init - ErrNo(%d)", Port(), static_cast<int>(answer->errorNumber));
    return false;
  }
  if (answer->region >= target.size) return true;
  Log("[COM%d] Dl_Init - ZI_REGION Error(%d<%d)", Port(), static_cast<int>(answer->region),
      static_cast<int>(target.size));
  return false;
}

DlWriteResult DloadClient::Dl_Write(ImageType type) {
  const char* name = ImageTypeTable::Name(type);
  Log("[COM%d] %s RAM WRITING START ...", Port(), name);
  sent_.Reset();
  if (!Attached() || !link_->IsOpen()) return DlWriteResult::NotOpen;
  const ImageView image = Image(type);
  uint32_t total = image.size;
  uint32_t offset = 0;
  // The first chunk is never longer than the image itself.
  uint32_t chunk = std::min(kRamChunk, total);
  if (reporter_ != nullptr) {
    reporter_->WebDLFunction(3, "Write RAM (%s)...", name);
    reporter_->InitProgress(TYPE_WPARAM_PROGRESS_POS,
                            static_cast<int>((total + kRamChunk - 1) / kRamChunk));
  }
  Log("      dwRemainLen = %d", static_cast<int>(total));
  while (total > 0 && !link_->IsAborted()) {
    TxRxResult result =
        Transact(BuildRamWrite(offset, Bytes(image).subspan(offset, chunk)), kRamWriteTimeoutMs);
    const auto errorNumber = ParseRamWriteAnswer(AnswerBytes());
    if (result == TxRxResult::Accepted && !errorNumber) {
      // An answer without its error number is no acknowledgement of the chunk.
      LogShort("Dl_Write", kRamWriteAnswerSize);
      result = TxRxResult::Failed;
    }
    if (result != TxRxResult::Accepted) {
      Log("[COM%d] FAIL Return Code =%d", Port(), static_cast<int>(result));
      return DlWriteResult::Failed;
    }
    if (*errorNumber != 0) {
      Log("[COM%d] Dl_Write - ErrNo(%d), Addr(0x%08X), Len(0x%08X)", Port(),
          static_cast<int>(*errorNumber), offset, chunk);
      return DlWriteResult::Failed;
    }
    sent_.Add(image.data + offset, chunk);
    total -= chunk;
    offset += chunk;
    if (total < kRamChunk) chunk = total;
    if (reporter_ != nullptr) reporter_->StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
  }
  if (link_->IsAborted()) return DlWriteResult::Failed;
  Log("[COM%d] %s RAM WRITING END ...", Port(), name);
  return DlWriteResult::Done;
}

bool DloadClient::Dl_Program() {
  Log("[COM%d] Program RAM DL [DLOAD_ZUM_SUB_RAM_PROGRAM_CMD]", Port());
  if (!Attached()) return false;
  const bool accepted = Transact(BuildRamProgram(), kRamProgramTimeoutMs) == TxRxResult::Accepted;
  const auto answer = ParseRamProgramAnswer(AnswerBytes());
  if (accepted && !answer) LogShort("Dl_Program", kRamProgramAnswerSize);
  if (!accepted || !answer) {
    Log("[COM%d]  FAIL", Port());
    return false;
  }
  if (answer->errorNumber == 0) return true;
  Log("[COM%d] Nand Error : %d", Port(), answer->nandError);
  return false;
}

bool DloadClient::GetEmergencyModelName(std::string& name) {
  Log("[COM%d] >> Try to Get Model Name in Emergency Mode [DLOAD_VERREQ_F]", Port());
  if (Attached()) link_->SetProtocolMode(Protocol::Dload);
  const bool accepted =
      Attached() && Transact(BuildVersionQuery(), kVerreqTimeoutMs) == TxRxResult::Accepted;
  const std::span<const uint8_t> bytes = AnswerBytes();
  // The name is as long as the length byte says; an answer that ends before it is no answer.
  const auto answered = ParseModelName(bytes);
  if (accepted && !answered) LogShort("GetEmergencyModelName", ModelNameAnswerSize(bytes));
  if (!accepted || !answered) {
    Log("[COM%d] >> Get Model Name in Emergency Mode FAIL", Port());
    return false;
  }
  if (answered->empty()) return false;
  name = *answered;
  Log("[COM%d]   %s", Port(), PrintableText(name).c_str());
  if (name.size() >= 2 && std::toupper(static_cast<unsigned char>(name[0])) == 'K' &&
      std::toupper(static_cast<unsigned char>(name[1])) == 'W') {
    return true;
  }
  name.clear();
  Log("[COM%d]  First two character of model name is not KW", Port());
  return false;
}

bool DloadClient::DloadUnlock(const uint8_t code[8]) {
  Log("[COM%d] >> DloadUnlock [DLOAD_UNLOCK_F]", Port());
  bool sent = false;
  if (Attached() && code != nullptr) {
    if (Transact(BuildUnlock(std::span<const uint8_t, 8>(code, 8)), kUnlockTimeoutMs) ==
        TxRxResult::Accepted)
      return true;
    sent = true;
  }
  Log("[COM%d] >> DloadUnlock FAILED]", Port());
  if (sent && link_->RxStatus() == RxStatusCode::Timeout) {
    // A phone that stays silent has no lock to open.
    Log("[COM%d] >> DloadUnlock FAILED TIMEOUT]", Port());
    return true;
  }
  return false;
}

bool DloadClient::Dl_AsyncOptimizeWrite(ImageType type) {
  Log(">>Dl_AsyncOptimizeWrite()");
  sent_.Reset();
  if (!Attached()) return false;
  const ImageView image = Image(type);
  if (image.data == nullptr || image.size == 0) return false;
  const int t = static_cast<int>(type);
  const bool smallPackets = t == IMAGE_MASTER_ROM || t == IMAGE_ZIMAGE_RAMDISK || t == IMAGE_SYSTEM;
  PipelinedWriter writer(*link_, reporter_);
  return writer.Write(image.data, image.size,
                      smallPackets ? PipelinedWriter::kSmallPacket : PipelinedWriter::kPacket,
                      ImageTypeTable::Name(type), &sent_);
}

}  // namespace tr52
