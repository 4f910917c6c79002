// The per-phone link: a serial port with the frame codec and the transaction engine.
//
// Every command of the system is one AsyncTxRx call: frame the request, write it, wait for one
// answer frame, check and classify it, up to three attempts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/frame_codec.h"
#include "link/serial_port.h"

namespace tr52 {

enum RxStatusCode : int {
  RX_NOK = 0,
  RX_OK = 1,
  RX_TIMEOUT = 2,
  RX_CRC_ERROR = 3,
  RX_BAD_CONN_MODE = 4,
  RX_NV_BAD_PARM = 5,
  RX_BAD_PARM = 6,
  RX_BAD_CMD = 7,
  RX_BAD_LEN = 8,
  RX_BAD_SPC_MODE = 9,
  RX_ABORT = 11,
  RX_UNEXPECTED = 12,
};

constexpr int MODE_DLOAD = 0;
constexpr int MODE_DIAG = 1;

// AsyncTxRx results.
constexpr int TXRX_FAILED = 0;
constexpr int TXRX_ACCEPTED = 1;
constexpr int TXRX_SENT_ONLY = 26;

struct PacketBufferPair {
  uint8_t* request;   // 32768 bytes; build the request payload from byte 0
  uint8_t* response;  // 32768 bytes; the unescaped answer from byte 0, then its 2 FCS bytes
};

class PhoneLink : public SerialPort {
 public:
  static constexpr size_t kBufferSize = 32768;

  PhoneLink();
  ~PhoneLink() override;

  // 1 = accepted answer in the response buffer, 0 = failed, 26 = sent in send-only mode.
  // The answer always lands in PacketBuffers().response (the `response` argument names it).
  // Bytes of the response buffer past the received answer(s) read as zero, also after a
  // failed wait. A request whose frame would not fit 32768 bytes fails without being sent.
  int AsyncTxRx(uint8_t* request, uint8_t* response, int requestLength, int timeoutMs);
  // As AsyncTxRx, except that request bytes [bodyAt, bodyAt + bodyLength) are taken from `body`
  // instead of the request buffer (whose bytes there are neither read nor written): a packet
  // whose data stand in the caller's memory is framed from there without a copy. Fails like an
  // oversize request when the body does not lie inside the request.
  int AsyncTxRxSpliced(uint8_t* request, int requestLength, const uint8_t* body, size_t bodyAt,
                       size_t bodyLength, int timeoutMs);

  PacketBufferPair PacketBuffers() { return {request_.get(), codec_.RxBuffer()}; }
  int RxStatus() const { return rxStatus_; }
  // Bytes of the last answer (payload + 2 FCS), or of all good frames of the last pipelined
  // wait one after another.
  int ResponseLength() const { return responseLength_; }

  void SetProtocolMode(int mode) { protocolMode_ = mode; }
  int ProtocolMode() const { return protocolMode_; }

  // Ends the current wait within one poll period and fails every later transaction of this
  // link. Safe to call from any thread while the link's own thread waits in a transaction.
  void Abort() { abort_.store(true, std::memory_order_release); }
  bool IsAborted() const { return abort_.load(std::memory_order_acquire); }

  void LogDloadNak(int code);
  void LogNandError(int code);
  // The names those two log (NAND names padded with blanks to 21 characters); empty for codes
  // without a name.
  static std::string DloadNakName(int code);
  static std::string NandErrorName(int code);

  // Pipelined mode, set and cleared by the pipelined flash write. While pipeSequence is non-zero
  // the receive queue is not purged. While any of pipeSequence, noWakeFlags or receiveOnly is
  // set a wait keeps every good frame, one after another (answer bytes then 2 FCS bytes), so
  // acknowledgement i of a batch of 15-byte answers starts at 17 * i; otherwise the last good
  // frame of a wait is at byte 0.
  int pipeSequence = 0;
  int framesReceived = 0;
  int sendOnly = 0;
  int receiveOnly = 0;
  int noWakeFlags = 0;

 private:
  // The framed request in the codec's tx buffer: wake-up, attempts, waits and classification.
  int Exchange(const uint8_t* request, int timeoutMs);
  // Receives into the response buffer (see above); called by AsyncTxRx only.
  void WaitRsp(int timeoutMs);
  // 1 accepted, 0 rejected at once, -1 attempt failed.
  int Classify(const uint8_t* request, int timeoutMs);
  int ClassifyDload(uint8_t q, const uint8_t* request);
  int ClassifyDiag(uint8_t q, const uint8_t* request, int timeoutMs);
  void DumpRawFrame(const uint8_t* bytes, size_t length);

  int rxStatus_ = RX_NOK;
  int protocolMode_ = MODE_DIAG;
  std::unique_ptr<uint8_t[]> request_;
  uint8_t readChunk_[1024];
  FrameCodec codec_;
  int responseLength_ = 0;
  std::atomic<bool> abort_{false};  // set by Abort from any thread, never cleared
};

}  // namespace tr52
