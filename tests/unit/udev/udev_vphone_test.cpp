// The whole path without hardware: a phone port scripted in umockdev (with the rule's name),
// found by the enumerator, numbered by the COM map, opened by the link's port by its COM number,
// and a model-name request written there and answered by the virtual phone behind it. umockdev
// backs the port's node with a pseudo-terminal; a relay carries its bytes to and from the virtual
// phone's own one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "link/frame_codec.h"
#include "link/port_enum.h"
#include "link/serial_port.h"
#include "udev_test_base.h"
#include "vphone/virtual_phone.h"

namespace tr52test {
namespace {

// Copies bytes both ways between two descriptors until destroyed.
class Relay {
 public:
  Relay(int a, int b) : a_(a), b_(b), thread_([this] { Run(); }) {}
  ~Relay() {
    stop_ = true;
    thread_.join();
  }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

 private:
  static bool Copy(int from, int to) {
    uint8_t buffer[4096];
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR);
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (w <= 0) return false;
      done += w;
    }
    return true;
  }
  void Run() {
    while (!stop_) {
      pollfd fds[2] = {{a_, POLLIN, 0}, {b_, POLLIN, 0}};
      if (poll(fds, 2, 20) <= 0) continue;
      if ((fds[0].revents & POLLIN) && !Copy(a_, b_)) return;
      if ((fds[1].revents & POLLIN) && !Copy(b_, a_)) return;
    }
  }

  int a_, b_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A terminal opened raw and non-blocking, closed with its owner.
class RawTerminal {
 public:
  explicit RawTerminal(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    termios t{};
    if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~RawTerminal() {
    if (fd_ >= 0) close(fd_);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  int Fd() const { return fd_; }

 private:
  int fd_;
};

using UdevVirtualPhone = UdevTest;

TEST_F(UdevVirtualPhone, ModelNameRequestThroughAUdevDeclaredPort) {
  const UsbSerial port = NormalModePhone("2", "ttyACM0");
  Plug(port);
  const int master = bed->MasterFd(port);
  if (master < 0) GTEST_SKIP() << "umockdev gave the scripted tty no pseudo-terminal";

  vphone::PhoneOptions options;
  options.com = 7;  // its own pty is declared as COM7; the link must not use that one
  vphone::VirtualPhone phone(options);
  std::string why;
  ASSERT_TRUE(phone.Start(&why)) << why;
  RawTerminal phoneSide(phone.DevicePath());
  ASSERT_GE(phoneSide.Fd(), 0) << std::strerror(errno);
  Relay relay(master, phoneSide.Fd());

  std::vector<tr52::SerialPortInfo> phones;
  tr52::EnumPhonePorts(phones, false);
  ASSERT_EQ(phones.size(), 2u);
  EXPECT_EQ(phones[0].portNumber, 7);
  EXPECT_EQ(phones[1].portNumber, 100);
  EXPECT_EQ(phones[1].friendlyName, "ZUM Mobile USB Serial Port (COM100)");
  EXPECT_EQ(phones[1].devicePath, "/dev/ttyACM0");

  // The link's port opens COM100, which only udev and the COM map know, and sends the DIAG
  // model-name request. umockdev answers the queued-byte count (FIONREAD) of a mocked node with
  // an error, so the answer is read from a second descriptor on the same node rather than by
  // the link's receive loop.
  tr52::SerialPort link;
  ASSERT_TRUE(link.Open(100));
  EXPECT_EQ(link.DevicePath(), "/dev/ttyACM0");
  RawTerminal answers("/dev/ttyACM0");
  ASSERT_GE(answers.Fd(), 0);
  tr52::FrameCodec codec;
  const uint8_t request[] = {0x00};  // DIAG_VERNO_F
  ASSERT_TRUE(codec.ComputeTxCRC(request, sizeof request));
  ASSERT_TRUE(link.Write(codec.TxBuffer(), static_cast<size_t>(codec.TxLength())));

  tr52::FrameAssembler assembler;
  bool answered = false;
  for (int waited = 0; !answered && waited < 3000; waited += 20) {
    pollfd p{answers.Fd(), POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[512];
    const ssize_t n = read(answers.Fd(), buffer, sizeof buffer);
    for (ssize_t i = 0; i < n && !answered; ++i) answered = assembler.Feed(buffer[i]);
  }
  ASSERT_TRUE(answered) << "no answer frame through the udev-declared port";
  ASSERT_TRUE(codec.CheckRxFrame(assembler.Frame(), assembler.FrameLength()));
  ASSERT_GE(codec.RxLength(), 44);
  EXPECT_EQ(codec.RxBuffer()[0], 0x00);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(codec.RxBuffer()) + 39, 4), "TR52");
  EXPECT_EQ(phone.RequestsSeen(0x00), 1u);
  link.Close();
}

}  // namespace
}  // namespace tr52test
