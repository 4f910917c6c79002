// A scripted phone on a pseudo-terminal, for unit tests of everything that talks to a phone.
//
//   tr52test::ScriptedPeer peer(5, [](const std::vector<uint8_t>& req) {
//     return tr52test::ScriptedPeer::Answers{{req[0], 0x01}};  // echo the command code
//   });
//   tr52::PhoneLink link;
//   link.Open(5);  // finds the peer through the port table
//
// The peer opens a pseudo-terminal (raw), declares its slave side in a port table as
// "ZUM Mobile USB Serial Port (COM<n>)" (the table lives in a temporary folder of the test
// process; TR52_PORT_TABLE is set to it), and on its own thread reads frames, checks them and
// calls the handler with each good request payload (FCS removed). Every payload the handler
// returns is framed and sent; all of one answer's frames go in one write. An empty list is
// silence. The destructor stops the thread, closes the terminal and withdraws the port.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tr52test {

class ScriptedPeer {
 public:
  using Bytes = std::vector<uint8_t>;
  using Answers = std::vector<Bytes>;
  using Handler = std::function<Answers(const Bytes& request)>;

  // Declares COM `com`. Without a handler the peer stays silent.
  explicit ScriptedPeer(int com, Handler handler = {});
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int Com() const { return com_; }
  // Slave device node (what the link opens).
  const std::string& DevicePath() const { return slavePath_; }

  void SetHandler(Handler handler);
  // Answers go out `ms` milliseconds of the process clock after the request arrived.
  void SetAnswerDelay(int ms);
  // The next `count` answer frames are sent with a corrupted FCS.
  void CorruptNextAnswers(int count);
  // Each frame of an answer in its own write (default false: all frames in one write).
  void SetOneWritePerFrame(bool on);

  // Writes bytes as they are (no framing), e.g. a partial or unsolicited frame.
  void SendRaw(const Bytes& bytes);
  // Closes the terminal and withdraws the port: to the link the cable was pulled.
  void Vanish();

  // Good request payloads received so far, in order (FCS removed).
  std::vector<Bytes> Requests() const;
  size_t RequestCount() const;
  // Waits (real time, at most `realMs`) until at least `count` requests arrived.
  bool WaitForRequests(size_t count, int realMs) const;
  // Every byte received from the link, raw (flags and wake-up bytes included).
  Bytes RawReceived() const;

  // A payload framed as on the wire: 7E, escaped payload and FCS, 7E.
  static Bytes Frame(const Bytes& payload);
  // The port table folder every peer of this process uses.
  static const std::string& TableDir();

 private:
  void Run();
  void Answer(const Bytes& request);
  void WriteMaster(const Bytes& bytes);

  int com_;
  int master_ = -1;
  int slaveHold_ = -1;  // keeps the slave side alive between the link's opens
  int stopPipe_[2] = {-1, -1};
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> vanished_{false};

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  Handler handler_;
  int delayMs_ = 0;
  int corrupt_ = 0;
  bool oneWritePerFrame_ = false;
  std::vector<Bytes> requests_;
  Bytes raw_;
};

}  // namespace tr52test
