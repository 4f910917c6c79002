// DloadClient: session start in download mode and the RAM download.
#include "commands/dload_client.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/byte_reader.h"
#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/progress_reporter.h"
#include "commands/image_type_table.h"
#include "commands/pipelined_writer.h"

namespace tr52 {

namespace {

constexpr uint8_t kZumCmd = 0x50;
constexpr uint8_t kSubGetParam = 0x00;
constexpr uint8_t kSubRamInit = 0x01;
constexpr uint8_t kSubRamWrite = 0x02;
constexpr uint8_t kSubRamProgram = 0x04;
constexpr uint8_t kSubRamInit2nd = 0x0C;
constexpr uint8_t kSubGetCommMode = 0x12;
constexpr uint8_t kDloadUnlockF = 0x0B;
constexpr uint8_t kDloadVerreqF = 0x0C;

constexpr int kShortTimeoutMs = 3000;
constexpr int kRamInitTimeoutMs = 40000;
constexpr int kRamWriteTimeoutMs = 90000;
constexpr int kRamProgramTimeoutMs = 270000;
constexpr int kVerreqTimeoutMs = 5000;
constexpr int kUnlockTimeoutMs = 500;

constexpr int kRamInitLength = 518;
constexpr int kRamInit2ndLength = 522;
constexpr int kRamWriteLength = 8200;
constexpr uint32_t kRamChunk = 8192;
constexpr uint32_t kModemHeaderMax = 512;

constexpr uint32_t kWinceRegion = 2;

}  // namespace

DloadClient::DloadClient() = default;

void DloadClient::SetImageSource(ImageSource source) {
  imageSource_ = std::move(source);
}

ImageView DloadClient::Image(ImageType type) const {
  ImageView view = imageSource_ ? imageSource_(type) : StoreImage(type);
  // An image without data has nothing to send, whatever its size says.
  if (view.data == nullptr) view.size = 0;
  return view;
}

bool DloadClient::GetParameters() {
  Log("[COM%d] Get Parameters [DLOAD_ZUM_SUB_GET_PARAM_CMD]", Port());
  try {
    if (Attached()) {
      ClearRequest(2);
      Request()[0] = kZumCmd;
      Request()[1] = kSubGetParam;
      if (Transact(2, kShortTimeoutMs) == TXRX_ACCEPTED) {
        AnswerReader answer = Answer();
        const auto paramByte = answer.U8(2);
        const auto paramWord = answer.U32(35);
        const auto flags = answer.U8(39);
        if (paramByte && paramWord && flags) {
          params_ = DloadParams{};
          params_.valid = 1;
          params_.paramByte = *paramByte;
          params_.paramWord = *paramWord;
          params_.flag0 = *flags & 0x01;
          params_.flag1 = (*flags >> 1) & 0x01;
          params_.flag2 = (*flags >> 2) & 0x01;
          params_.flag3 = (*flags >> 3) & 0x01;
          params_.flag4 = (*flags >> 4) & 0x01;
          params_.flag6 = (*flags >> 6) & 0x01;
          return true;
        }
        LogShortAnswer(Port(), "GetParameters", answer);
      }
    }
  } catch (...) {
  }
  params_ = DloadParams{};
  Log("  FAIL");
  return false;
}

bool DloadClient::GetCommMode(int& mode) {
  Log(">> GET DLOAD COMM MODE");
  if (Attached()) {
    ClearRequest(2);
    Request()[0] = kZumCmd;
    Request()[1] = kSubGetCommMode;
    if (Transact(2, kShortTimeoutMs) == TXRX_ACCEPTED) {
      AnswerReader answer = Answer();
      if (const auto value = answer.U32(2)) {
        mode = static_cast<int>(*value);
        Log("[GetCommMode] Communication mode : %d", mode);
        return true;
      }
      LogShortAnswer(Port(), "GetCommMode", answer);
    }
  }
  Log("[COM%d]  FAIL", Port());
  return false;
}

bool DloadClient::Dl_Init() {
  Log("[COM%d] Initialize RAM DL", Port());
  if (!Attached()) return false;
  try {
    const ImageView amss = Image(IMAGE_AMSS);
    const ImageView header = Image(IMAGE_AMSS_MODEM_HEADER);
    if (header.size > kModemHeaderMax) {
      Log("[COM%d] Dl_Init - %s is %u bytes, more than %u", Port(),
          ImageTypeTable::Row(IMAGE_AMSS_MODEM_HEADER).name, header.size, kModemHeaderMax);
      return false;
    }
    ClearRequest(kRamInitLength);
    Request()[0] = kZumCmd;
    Request()[1] = kSubRamInit;
    StoreU32le(Request() + 2, amss.size);
    if (header.size > 0) std::memcpy(Request() + 6, header.data, header.size);
    const bool accepted = Transact(kRamInitLength, kRamInitTimeoutMs) == TXRX_ACCEPTED;
    AnswerReader answer = Answer();
    const auto region = answer.U32(2);
    const auto errorNumber = answer.U32(7);
    if (accepted && !(region && errorNumber)) LogShortAnswer(Port(), "Dl_Init", answer);
    if (!accepted || !(region && errorNumber)) {
      Log("[COM%d]  FAIL", Port());
      return false;
    }
    if (*errorNumber == 0 && amss.loaded && *region >= amss.size) return true;
    Log("[COM%d] Dl_Init - ZI_REGION Error(%d)", Port(), static_cast<int>(*errorNumber));
  } catch (...) {
  }
  return false;
}

bool DloadClient::Dl_Init_2nd(ImageType type) {
  const int t = static_cast<int>(type);
  Log("[COM%d] %s RAM INIT 2nd", Port(), ImageTypeTable::Row(t).name);
  if (t != IMAGE_AMSS && t != IMAGE_WINCE) return false;
  if (!Attached()) return false;
  try {
    const ImageView target = Image(type);
    ClearRequest(kRamInit2ndLength);
    Request()[0] = kZumCmd;
    Request()[1] = kSubRamInit2nd;
    StoreU32le(Request() + 2, t == IMAGE_WINCE ? kWinceRegion : 0);
    StoreU32le(Request() + 6, target.size);
    if (t == IMAGE_AMSS) {
      const ImageView header = Image(IMAGE_AMSS_MODEM_HEADER);
      if (header.size > kModemHeaderMax) {
        Log("[COM%d] Dl_Init - %s is %u bytes, more than %u", Port(),
            ImageTypeTable::Row(IMAGE_AMSS_MODEM_HEADER).name, header.size, kModemHeaderMax);
        return false;
      }
      if (header.size > 0) std::memcpy(Request() + 10, header.data, header.size);
    }
    if (Transact(kRamInit2ndLength, kRamInitTimeoutMs) != TXRX_ACCEPTED) return false;
    AnswerReader answer = Answer();
    const auto errorNumber = answer.U32(7);
    const auto region = answer.U32(2);
    if (!errorNumber || !region) {
      LogShortAnswer(Port(), "Dl_Init_2nd", answer);
      return false;
    }
    if (*errorNumber != 0) {
      Log("[COM%d] Dl_Init - ErrNo(%d)", Port(), static_cast<int>(*errorNumber));
      return false;
    }
    if (*region >= target.size) return true;
    Log("[COM%d] Dl_Init - ZI_REGION Error(%d<%d)", Port(), static_cast<int>(*region),
        static_cast<int>(target.size));
  } catch (...) {
  }
  return false;
}

int DloadClient::Dl_Write(ImageType type) {
  const char* name = ImageTypeTable::Name(type);
  Log("[COM%d] %s RAM WRITING START ...", Port(), name);
  sent_.Reset();
  if (!Attached() || !link_->IsOpen()) return kDlWriteNotOpen;
  try {
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
      ClearRequest(kRamWriteLength);
      Request()[0] = kZumCmd;
      Request()[1] = kSubRamWrite;
      StoreU32le(Request() + 2, offset);
      StoreU16le(Request() + 6, static_cast<uint16_t>(chunk));
      std::memcpy(Request() + 8, image.data + offset, chunk);
      int result = Transact(kRamWriteLength, kRamWriteTimeoutMs);
      AnswerReader answer = Answer();
      const auto errorNumber = answer.U32(2);
      if (result == TXRX_ACCEPTED && !errorNumber) {
        // An answer without its error number is no acknowledgement of the chunk.
        LogShortAnswer(Port(), "Dl_Write", answer);
        result = TXRX_FAILED;
      }
      if (result != TXRX_ACCEPTED) {
        Log("[COM%d] FAIL Return Code =%d", Port(), result);
        return kDlWriteFailed;
      }
      if (*errorNumber != 0) {
        Log("[COM%d] Dl_Write - ErrNo(%d), Addr(0x%08X), Len(0x%08X)", Port(),
            static_cast<int>(*errorNumber), offset, chunk);
        return kDlWriteFailed;
      }
      sent_.Add(image.data + offset, chunk);
      total -= chunk;
      offset += chunk;
      if (total < kRamChunk) chunk = total;
      if (reporter_ != nullptr) reporter_->StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
    }
    if (link_->IsAborted()) return kDlWriteFailed;
    Log("[COM%d] %s RAM WRITING END ...", Port(), name);
    return kDlWriteDone;
  } catch (...) {
    return kDlWriteFailed;
  }
}

bool DloadClient::Dl_Program() {
  Log("[COM%d] Program RAM DL [DLOAD_ZUM_SUB_RAM_PROGRAM_CMD]", Port());
  if (!Attached()) return false;
  try {
    ClearRequest(2);
    Request()[0] = kZumCmd;
    Request()[1] = kSubRamProgram;
    const bool accepted = Transact(2, kRamProgramTimeoutMs) == TXRX_ACCEPTED;
    AnswerReader answer = Answer();
    const auto nandError = answer.U8(2);
    const auto errorNumber = answer.U32(3);
    if (accepted && !(nandError && errorNumber)) LogShortAnswer(Port(), "Dl_Program", answer);
    if (!accepted || !(nandError && errorNumber)) {
      Log("[COM%d]  FAIL", Port());
      return false;
    }
    if (*errorNumber == 0) return true;
    Log("[COM%d] Nand Error : %d", Port(), *nandError);
  } catch (...) {
  }
  return false;
}

bool DloadClient::GetEmergencyModelName(std::string& name) {
  Log("[COM%d] >> Try to Get Model Name in Emergency Mode [DLOAD_VERREQ_F]", Port());
  if (Attached()) {
    link_->SetProtocolMode(MODE_DLOAD);
    Request()[0] = kDloadVerreqF;
  }
  const bool accepted = Attached() && Transact(1, kVerreqTimeoutMs) == TXRX_ACCEPTED;
  AnswerReader answer = Answer();
  const auto n = answer.U8(1);
  // The name is as long as the length byte says; an answer that ends before it is no answer.
  std::span<const uint8_t> bytes;
  bool whole = false;
  if (n) {
    if (const auto view = answer.View(2, *n)) {
      bytes = *view;
      whole = true;
    }
  }
  if (accepted && !whole) LogShortAnswer(Port(), "GetEmergencyModelName", answer);
  if (!accepted || !whole) {
    Log("[COM%d] >> Get Model Name in Emergency Mode FAIL", Port());
    return false;
  }
  if (*n == 0) return false;
  name.assign(bytes.begin(), bytes.end());
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
    ClearRequest(9);
    Request()[0] = kDloadUnlockF;
    std::memcpy(Request() + 1, code, 8);
    if (Transact(9, kUnlockTimeoutMs) == TXRX_ACCEPTED) return true;
    sent = true;
  }
  Log("[COM%d] >> DloadUnlock FAILED]", Port());
  if (sent && link_->RxStatus() == RX_TIMEOUT) {
    // A phone that stays silent has no lock to open.
    Log("[COM%d] >> DloadUnlock FAILED TIMEOUT]", Port());
    return true;
  }
  return false;
}

}  // namespace tr52

namespace tr52 {

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
