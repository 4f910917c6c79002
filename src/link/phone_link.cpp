#include "link/phone_link.h"

#include <cstdio>
#include <cstring>

#include "base/byte_reader.h"
#include "base/process_log.h"
#include "platform/clock.h"

namespace tr52 {
namespace {

constexpr int kAttempts = 3;
constexpr size_t kReadChunk = 1024;
constexpr int kPollMs = 10;

constexpr const char* kDloadNakNames[] = {"KR",
                                          "NAK_INVALID_FCS",
                                          "NAK_INVALID_DEST",
                                          "NAK_INVALID_LEN",
                                          "NAK_EARLY_END",
                                          "NAK_TOO_LARGE",
                                          "NAK_INVALID_CMD",
                                          "NAK_FAILED",
                                          "NAK_WRONG_IID",
                                          "NAK_BAD_VPP",
                                          "NAK_VERIFY_FAILED",
                                          "NAK_NO_SEC_CODE",
                                          "NAK_BAD_SEC_CODE",
                                          "NAK_UPGRADE"};

constexpr const char* kNandNames[] = {"ERR_OK",
                                      "ERR_BAD_CMD",
                                      "ERR_DEV_MISSING",
                                      "ERR_REQ_BLK_BAD",
                                      "ERR_OUT_OF_NAND",
                                      "ERR_SPANS_TOO_BIG",
                                      "ERR_PAGE_TOO_BIG",
                                      "ERR_PAST_SPANS_END",
                                      "ERR_PAST_NAND_END",
                                      "ERR_ERASE_FAIL",
                                      "ERR_WRITE_FAIL",
                                      "ERR_READ_FAIL",
                                      "ERR_VERIFY_FAIL",
                                      "ERR_COMPARE_FAIL",
                                      "ERR_CRC_FAIL",
                                      "ERR_BIBCRC_FAIL",
                                      "ERR_MAGIC1_FAIL",
                                      "ERR_MAGIC2_FAIL",
                                      "ERR_BIBVER_FAIL",
                                      "ERR_OVER_CONSUME",
                                      "ERR_PAGE_UNIT_CALC",
                                      "ERR_BIB_TOO_BIG",
                                      "ERR_BIB_BAD",
                                      "ERR_SPAN_DIVIDE",
                                      "ERR_SPAN_NOTALIGN",
                                      "ERR_ADDR_REVERSE",
                                      "ERR_PPI_TOO_BIG",
                                      "ERR_ECC_READ",
                                      "ERR_ECC",
                                      "ERR_ECC_SELF",
                                      "ERR_BAD_BLOCK",
                                      "ERR_BAD_BOOT",
                                      "ERR_GOOD_BOOT",
                                      "ERR_PAST_BLOCK_END",
                                      "ERR_NO_MIBIB_BLOCK",
                                      "ERR_PARTI_NOMATCH",
                                      "ERR_PARTI_NOT_RCVD",
                                      "ERR_PARTI_NO_QCSBL",
                                      "ERR_PARTI_NO_OEMSBL",
                                      "ERR_PARTI_NO_AMSS",
                                      "ERR_PARTI_INVALID",
                                      "ERR_SECURE_PBL",
                                      "ERR_SECURE_BAD_MODE",
                                      "ERR_SECURE_MODE_CHG",
                                      "ERR_SEC_BAD_ORDER",
                                      "ERR_ALLOC_EXCEEDED",
                                      "ERR_PARTI_NO_EFS2",
                                      "ERR_PARTI_NO_FOTA",
                                      "ERR_MIBIB_DAMAGED",
                                      "ERR_NOT_ERASED",
                                      "ERR_NO_BBT_BLOCK",
                                      "ERR_BBT_MAGIC1_FAIL",
                                      "ERR_BBT_MAGIC2_FAIL"};
static_assert(sizeof(kNandNames) / sizeof(kNandNames[0]) == 53);

constexpr const char* kNandExNames[] = {
    "ERR_EX_UPGRADE_FAIL", "ERR_EX_NO_GOOD_BLOCK", "ERR_EX_OTP_LOCK",      "ERR_EX_EN_FLEX_SIZE",
    "ERR_EX_DE_FLEX_SIZE", "ERR_EX_READ_VER_BLK",  "ERR_EX_WRITE_VER_BLK", "ERR_EX_OTP_INIT",
    "ERR_EX_FLEX_DEC",     "ERR_EX_MASTER_ROM_MAP"};
static_assert(sizeof(kNandExNames) / sizeof(kNandExNames[0]) == 10);

}  // namespace

PhoneLink::PhoneLink() : request_(new uint8_t[kBufferSize]()) {}

PhoneLink::~PhoneLink() = default;

std::string PhoneLink::DloadNakName(int code) {
  if (code < 0 || code > 13) return {};
  return kDloadNakNames[code];
}

std::string PhoneLink::NandErrorName(int code) {
  char name[32];
  if (code >= 0 && code <= 52) {
    snprintf(name, sizeof name, "%-21s", kNandNames[code]);
  } else if (code >= 53 && code <= 127) {
    char raw[24];
    snprintf(raw, sizeof raw, "ERR_RESERVED_x%02X", code);
    snprintf(name, sizeof name, "%-21s", raw);
  } else if (code >= 128 && code <= 137) {
    snprintf(name, sizeof name, "%-21s", kNandExNames[code - 128]);
  } else {
    return {};
  }
  return name;
}

void PhoneLink::LogDloadNak(int code) {
  const std::string name = DloadNakName(code);
  if (name.empty())
    Log("Unknown Dload Error : %d", code);
  else
    Log("[ DLOAD ERROR ] : %s", name.c_str());
}

void PhoneLink::LogNandError(int code) {
  const std::string name = NandErrorName(code);
  if (name.empty())
    Log("Unknown Jnand Error : %d", code);
  else
    Log("[ JNAND ERROR ] : %s", name.c_str());
}

void PhoneLink::DumpRawFrame(const uint8_t* bytes, size_t length) {
  for (size_t line = 0; line < length; line += 16) {
    unsigned v[16] = {};
    for (size_t i = 0; i < 16 && line + i < length; ++i) v[i] = bytes[line + i];
    Log("    %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X", v[0],
        v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14],
        v[15]);
  }
  Log("===============================================");
}

void PhoneLink::WaitRsp(int timeoutMs) {
  const uint64_t start = NowMs();
  codec_.SetRxLength(0);
  framesReceived_ = 0;
  // Frames of a pipelined wait are kept one after another; otherwise the last one at byte 0.
  const bool keepAll = pipeline_.KeepsAllFrames();
  size_t kept = 0;  // bytes of good answers now in the response buffer
  FrameAssembler assembler;
  bool done = false;
  while (!done) {
    if (abort_.load(std::memory_order_acquire)) {
      rxStatus_ = RxStatusCode::Abort;
      Log("   RX_ABORT");
      break;
    }
    const size_t n = port_.Read(readChunk_, kReadChunk);
    if (n == 0) {
      if (!IsOpen()) {
        // The port closed itself on a cable loss (and logged it): no answer can come any more,
        // so the wait ends now with the outcome its time-out would have had.
        rxStatus_ = RxStatusCode::Timeout;
        break;
      }
      const uint64_t elapsed = NowMs() - start;
      if (elapsed > static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs)) {
        Log("RX Timeout : %2.1f seconds", static_cast<double>(elapsed) / 1000.0);
        rxStatus_ = RxStatusCode::Timeout;
        break;
      }
      // Wake up as soon as bytes arrive instead of sleeping through the poll period.
      static_cast<void>(port_.WaitReadable(kPollMs));  // the next Read tells what came
      continue;
    }
    for (size_t i = 0; i < n;) {
      i += assembler.FeedBytes(readChunk_ + i, n - i);
      if (!assembler.FrameReady()) continue;
      const size_t at = keepAll ? kept : 0;
      if (codec_.CheckRxFrameAt(assembler.Frame(), assembler.FrameLength(), at)) {
        rxStatus_ = RxStatusCode::Ok;
        ++framesReceived_;
        kept = at + static_cast<size_t>(codec_.RxLength());
        if (i == n) {
          done = true;
          break;
        }
      } else {
        rxStatus_ = RxStatusCode::CrcError;
        Log("CRC Error");
        DumpRawFrame(assembler.Raw(), assembler.RawLength());
        done = true;
        break;
      }
    }
  }
  // Nothing of an earlier, longer answer (or of a rejected frame) may be read as part of this
  // one: everything past the kept answers reads as zero.
  codec_.ClearRxFrom(kept);
  responseLength_ = static_cast<int>(kept);
}

int PhoneLink::ClassifyDload(uint8_t q, const uint8_t* request) {
  const uint8_t* rsp = codec_.RxBuffer();
  const uint8_t r = rsp[0];
  if (r == 0x02) return 1;
  if (q == 0x0C && r == 0x0D) return 1;
  if (q == 0x25 && r == 0x25) return 1;
  if (q == 0x60 && r == 0x60) return 1;
  if (q == 0x50 && r == 0x50) return 1;
  if (r == 0x03) {
    Log("      DLOAD_NAK_F reason_msb = %d, reason_lsb = %d", rsp[1], rsp[2]);
    if (rsp[1] == 0)
      LogDloadNak(rsp[2]);
    else
      LogNandError(rsp[2]);
    return -1;
  }
  if ((q == 0x0A || q == 0x0B) && r == 0x3A) return 1;
  if (q == 0x50 && request[1] == 0x0F) return 1;
  rxStatus_ = RxStatusCode::Unexpected;
  Log("DLOAD MODE : Req(%d) -> Rsp(%d)", q, r);
  return -1;
}

int PhoneLink::ClassifyDiag(uint8_t q, const uint8_t* request, int timeoutMs) {
  const uint8_t* rsp = codec_.RxBuffer();
  const uint8_t r = rsp[0];
  if (r == q && q == 0x4B) return LoadU16le(rsp + 2) == LoadU16le(request + 2) ? 1 : -1;
  if (r == q && q != 0x80) return 1;
  if (r == q) {  // 0x80: the phone may announce a second, final packet
    if (LoadU16le(rsp + 10) != 0) return -1;
    Log("DIAG_SUBSYS_CMD_VER_2_F : Wait for one more response packet");
    WaitRsp(timeoutMs);
    return rxStatus_ == RxStatusCode::Ok ? 1 : -1;
  }
  switch (r) {
    case 0x42:
      rxStatus_ = RxStatusCode::BadSpcMode;
      Log("DIAG_BAD_SPC_MODE : %d", q);
      return -1;
    case 0x47:
      Log("DIAG ERROR : DIAG_BAD_SEC_MODE_F : %d", q);
      return -1;
    case 0x14:
      if (q == 0x26 || q == 0x27) {
        rxStatus_ = RxStatusCode::NvBadParm;
        return 1;
      }
      rxStatus_ = RxStatusCode::BadParm;
      return 0;
    case 0x13:
      rxStatus_ = RxStatusCode::BadCmd;
      return 0;
    case 0x15:
      rxStatus_ = RxStatusCode::BadLen;
      Log("BAD_LEN : %d", q);
      return -1;
    case 0x03:
      rxStatus_ = RxStatusCode::BadConnMode;
      Log("BAD CONN MODE : Req(%d) -> Rsp(%d)", q, r);
      return -1;
    default:
      rxStatus_ = RxStatusCode::Unexpected;
      Log("UNKNOWN : Req(%d) -> Rsp(%d)", q, r);
      return -1;
  }
}

int PhoneLink::Classify(const uint8_t* request, int timeoutMs) {
  if (rxStatus_ != RxStatusCode::Ok) {
    switch (rxStatus_) {
      case RxStatusCode::CrcError:
        Log("CRC ERROR");
        break;
      case RxStatusCode::Timeout:
        Log("RX TIMEOUT");
        break;
      case RxStatusCode::Nok:
        Log("RX NOK");
        break;
      default: {
        char text[64];
        snprintf(text, sizeof text, "Unknown Rx Error : %d", static_cast<int>(rxStatus_));
        Log("Error %s", text);
      }
    }
    return -1;
  }
  const uint8_t q = request[0];
  if (protocolMode_ == Protocol::Dload) return ClassifyDload(q, request);
  if (protocolMode_ == Protocol::Diag) return ClassifyDiag(q, request, timeoutMs);
  return -1;
}

TxRxResult PhoneLink::AsyncTxRx(uint8_t* request, uint8_t* /*response*/, int requestLength,
                                int timeoutMs) {
  rxStatus_ = RxStatusCode::Nok;
  if (!IsOpen()) return TxRxResult::Failed;
  if (!request || requestLength < 0) return TxRxResult::Failed;
  // A request whose frame does not fit the tx buffer is never sent half-built.
  if (!codec_.ComputeTxCRC(request, static_cast<size_t>(requestLength))) {
    Log("Exception AsyncTxRx - ComputeTxCRC Failed");
    return TxRxResult::Failed;
  }
  return Exchange(request, timeoutMs);
}

TxRxResult PhoneLink::AsyncTxRxSpliced(uint8_t* request, int requestLength, const uint8_t* body,
                                       size_t bodyAt, size_t bodyLength, int timeoutMs) {
  rxStatus_ = RxStatusCode::Nok;
  if (!IsOpen()) return TxRxResult::Failed;
  if (!request || requestLength < 0) return TxRxResult::Failed;
  const size_t length = static_cast<size_t>(requestLength);
  if (bodyAt > length || bodyLength > length - bodyAt || (bodyLength > 0 && !body)) {
    Log("Exception AsyncTxRx - ComputeTxCRC Failed");
    return TxRxResult::Failed;
  }
  const size_t tail = bodyAt + bodyLength;
  const FrameCodec::Piece pieces[3] = {
      {request, bodyAt}, {body, bodyLength}, {request + tail, length - tail}};
  if (!codec_.ComputeTxCRC(pieces, 3)) {
    Log("Exception AsyncTxRx - ComputeTxCRC Failed");
    return TxRxResult::Failed;
  }
  return Exchange(request, timeoutMs);
}

TxRxResult PhoneLink::Exchange(const uint8_t* request, int timeoutMs) {
  // A write or purge that fails shows as no answer: the wait runs out and the attempt is
  // repeated; a port that closed on a cable loss ends the transaction below.
  if (protocolMode_ == Protocol::Dload && !pipeline_.noWake) {
    static const uint8_t kWake[3] = {kFrameFlag, kFrameFlag, kFrameFlag};
    static_cast<void>(port_.Purge());
    static_cast<void>(port_.Write(kWake, sizeof kWake));
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (pipeline_.sequence == 0) static_cast<void>(port_.Purge());
    if (!pipeline_.receiveOnly)
      static_cast<void>(port_.Write(codec_.TxBuffer(), static_cast<size_t>(codec_.TxLength())));
    if (!IsOpen()) return TxRxResult::Failed;
    if (pipeline_.sendOnly) return TxRxResult::SentOnly;
    // The pause before the wait ends as soon as the answer starts to arrive.
    static_cast<void>(port_.WaitReadable(1));
    WaitRsp(timeoutMs);
    if (request[0] == 0x0A) SleepMs(100);
    const int verdict = Classify(request, timeoutMs);
    if (verdict >= 0) return static_cast<TxRxResult>(verdict);
  }
  return TxRxResult::Failed;
}

PipelineModeGuard PhoneLink::UsePipelineMode(const PipelineMode& mode) {
  const PipelineMode previous = pipeline_;
  pipeline_ = mode;
  return PipelineModeGuard(*this, previous);
}

PipelineModeGuard::~PipelineModeGuard() {
  link_.pipeline_ = previous_;
}

}  // namespace tr52
