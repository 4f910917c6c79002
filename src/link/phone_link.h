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

// What the last wait of a transaction ended with.
enum class RxStatusCode : int {
  Nok = 0,
  Ok = 1,
  Timeout = 2,
  CrcError = 3,
  BadConnMode = 4,
  NvBadParm = 5,
  BadParm = 6,
  BadCmd = 7,
  BadLen = 8,
  BadSpcMode = 9,
  Abort = 11,
  Unexpected = 12,
};

// The protocol the phone speaks: download mode or DIAG (normal software).
enum class Protocol : int { Dload = 0, Diag = 1 };

// AsyncTxRx results.
enum class TxRxResult : int { Failed = 0, Accepted = 1, SentOnly = 26 };

// How the transactions of a pipelined write use the line (all off: one request, one answer).
struct PipelineMode {
  // Non-zero: the receive queue is not purged before the request goes out.
  uint32_t sequence = 0;
  // The request is written and the transaction ends at once (TxRxResult::SentOnly).
  bool sendOnly = false;
  // Nothing is written: the transaction only waits for answers.
  bool receiveOnly = false;
  // No wake-up flags before a download-mode request.
  bool noWake = false;
  bool operator==(const PipelineMode&) const = default;
  // While any of sequence, receiveOnly or noWake is set a wait keeps every good frame.
  bool KeepsAllFrames() const { return sequence != 0 || receiveOnly || noWake; }
};

class PhoneLink;

// Puts the link's earlier pipeline mode back when it goes out of scope.
class PipelineModeGuard {
 public:
  ~PipelineModeGuard();
  PipelineModeGuard(const PipelineModeGuard&) = delete;
  PipelineModeGuard& operator=(const PipelineModeGuard&) = delete;

 private:
  friend class PhoneLink;
  PipelineModeGuard(PhoneLink& link, const PipelineMode& previous)
      : link_(link), previous_(previous) {}
  PhoneLink& link_;
  PipelineMode previous_;
};

struct PacketBufferPair {
  uint8_t* request;   // 32768 bytes; build the request payload from byte 0
  uint8_t* response;  // 32768 bytes; the unescaped answer from byte 0, then its 2 FCS bytes
};

class PhoneLink {
 public:
  static constexpr size_t kBufferSize = 32768;

  PhoneLink();
  // Closes nothing: the owner closes the port first.
  ~PhoneLink();
  PhoneLink(const PhoneLink&) = delete;
  PhoneLink& operator=(const PhoneLink&) = delete;

  // The port (see SerialPort); the link's own reads and writes go through it.
  SerialPort& Serial() { return port_; }
  [[nodiscard]] bool Open(uint8_t portNumber) { return port_.Open(portNumber); }
  [[nodiscard]] bool OpenDevice(const std::string& path) { return port_.OpenDevice(path); }
  // False when the port was not open.
  bool Close() { return port_.Close(); }
  bool IsOpen() const { return port_.IsOpen(); }
  int LastError() const { return port_.LastError(); }
  uint8_t PortNumber() const { return port_.PortNumber(); }
  void SetPortNumber(uint8_t n) { port_.SetPortNumber(n); }
  const std::string& DevicePath() const { return port_.DevicePath(); }

  // Accepted = answer in the response buffer; SentOnly = written in send-only mode.
  // The answer always lands in PacketBuffers().response (the `response` argument names it).
  // Bytes of the response buffer past the received answer(s) read as zero, also after a
  // failed wait. A request whose frame would not fit 32768 bytes fails without being sent.
  [[nodiscard]] TxRxResult AsyncTxRx(uint8_t* request, uint8_t* response, int requestLength,
                                     int timeoutMs);
  // As AsyncTxRx, except that request bytes [bodyAt, bodyAt + bodyLength) are taken from `body`
  // instead of the request buffer (whose bytes there are neither read nor written): a packet
  // whose data stand in the caller's memory is framed from there without a copy. Fails like an
  // oversize request when the body does not lie inside the request.
  [[nodiscard]] TxRxResult AsyncTxRxSpliced(uint8_t* request, int requestLength,
                                            const uint8_t* body, size_t bodyAt, size_t bodyLength,
                                            int timeoutMs);

  PacketBufferPair PacketBuffers() { return {request_.get(), codec_.RxBuffer()}; }
  RxStatusCode RxStatus() const { return rxStatus_; }
  // Bytes of the last answer (payload + 2 FCS), or of all good frames of the last pipelined
  // wait one after another.
  int ResponseLength() const { return responseLength_; }

  void SetProtocolMode(Protocol mode) { protocolMode_ = mode; }
  Protocol ProtocolMode() const { return protocolMode_; }

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

  // Pipelined mode, set by the pipelined flash write for the transactions it runs: while the
  // guard lives the link uses `mode`, then the earlier mode is back. While the mode keeps all
  // frames a wait keeps every good frame, one after another (answer bytes then 2 FCS bytes), so
  // acknowledgement i of a batch of 15-byte answers starts at 17 * i; otherwise the last good
  // frame of a wait is at byte 0.
  [[nodiscard]] PipelineModeGuard UsePipelineMode(const PipelineMode& mode);
  const PipelineMode& CurrentPipelineMode() const { return pipeline_; }
  // Good frames of the last wait.
  int FramesReceived() const { return framesReceived_; }

 private:
  // The framed request in the codec's tx buffer: wake-up, attempts, waits and classification.
  TxRxResult Exchange(const uint8_t* request, int timeoutMs);
  // Receives into the response buffer (see above); called by AsyncTxRx only.
  void WaitRsp(int timeoutMs);
  // 1 accepted, 0 rejected at once, -1 attempt failed.
  int Classify(const uint8_t* request, int timeoutMs);
  int ClassifyDload(uint8_t q, const uint8_t* request);
  int ClassifyDiag(uint8_t q, const uint8_t* request, int timeoutMs);
  void DumpRawFrame(const uint8_t* bytes, size_t length);

  friend class PipelineModeGuard;

  SerialPort port_;
  RxStatusCode rxStatus_ = RxStatusCode::Nok;
  Protocol protocolMode_ = Protocol::Diag;
  PipelineMode pipeline_;
  int framesReceived_ = 0;
  std::unique_ptr<uint8_t[]> request_;
  uint8_t readChunk_[1024];
  FrameCodec codec_;
  int responseLength_ = 0;
  std::atomic<bool> abort_{false};  // set by Abort from any thread, never cleared
};

}  // namespace tr52
