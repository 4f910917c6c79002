#include "link/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "link/phone_link.h"
#include "link_test_fixture.h"
#include "platform/clock.h"
#include "platform/port_table.h"

namespace tr52test {
namespace {

using SerialPortTest = LinkTest;  // link_.Serial() is the port under test

TEST_F(SerialPortTest, OpenTwiceKeepsNumberCloseTwiceFails) {
  EXPECT_TRUE(link_.IsOpen());
  EXPECT_EQ(link_.PortNumber(), kCom);
  EXPECT_EQ(link_.DevicePath(), peer_->DevicePath());
  EXPECT_TRUE(link_.Open(kCom + 1));
  EXPECT_EQ(link_.PortNumber(), kCom);
  EXPECT_TRUE(link_.Close());
  EXPECT_FALSE(link_.Close());
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_TRUE(link_.Open(kCom));  // may be opened again
}

TEST_F(SerialPortTest, SecondOpenOfTheSamePortFailsUntilClosed) {
  tr52::SerialPort other;
  EXPECT_FALSE(other.Open(kCom));
  EXPECT_FALSE(other.IsOpen());
  link_.Close();
  EXPECT_TRUE(other.Open(kCom));
  EXPECT_FALSE(link_.Open(kCom));
  other.Close();
}

TEST_F(SerialPortTest, AbsentPortDoesNotOpen) {
  tr52::SerialPort other;
  EXPECT_FALSE(other.Open(kCom + 7));
  EXPECT_FALSE(other.IsOpen());
}

TEST_F(SerialPortTest, LineIsRawBinary) {
  // Every byte value passes unchanged both ways (no echo, no CR/LF or flow-control mangling),
  // even when the line was left cooked by an earlier user.
  link_.Close();
  {
    const int fd = open(peer_->DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    tio.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    tio.c_iflag |= ICRNL | IXON | ISTRIP;
    tio.c_oflag |= OPOST | ONLCR;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
    close(fd);
  }
  ASSERT_TRUE(link_.Open(kCom));
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  peer_->SendRaw(all);
  Bytes got;
  uint8_t buf[300];
  const uint64_t until = tr52::NowMs() + 20000;
  while (got.size() < all.size() && tr52::NowMs() < until) {
    link_.Serial().WaitReadable(100);
    const size_t n = link_.Serial().Read(buf, sizeof buf);
    got.insert(got.end(), buf, buf + n);
  }
  EXPECT_EQ(got, all);
  ASSERT_TRUE(link_.Serial().Write(all.data(), all.size()));
  const uint64_t until2 = tr52::NowMs() + 20000;
  while (peer_->RawReceived().size() < all.size() && tr52::NowMs() < until2) tr52::SleepMs(10);
  EXPECT_EQ(peer_->RawReceived(), all);
}

TEST_F(SerialPortTest, ReadTakesNoMoreThanAskedAndZeroWhenEmpty) {
  uint8_t buf[16];
  EXPECT_EQ(link_.Serial().Read(buf, sizeof buf), 0u);
  EXPECT_FALSE(link_.Serial().WaitReadable(50));
  peer_->SendRaw({1, 2, 3, 4, 5});
  ASSERT_TRUE(link_.Serial().WaitReadable(5000));
  tr52::SleepMs(50);
  EXPECT_EQ(link_.Serial().Read(buf, 2), 2u);
  EXPECT_EQ(buf[1], 2);
  EXPECT_EQ(link_.Serial().Read(buf, sizeof buf), 3u);
  EXPECT_EQ(buf[0], 3);
}

TEST_F(SerialPortTest, PurgeDiscardsWhatWasReceived) {
  peer_->SendRaw({1, 2, 3});
  ASSERT_TRUE(link_.Serial().WaitReadable(5000));
  EXPECT_TRUE(link_.Serial().Purge());
  uint8_t buf[8];
  EXPECT_EQ(link_.Serial().Read(buf, sizeof buf), 0u);
}

TEST_F(SerialPortTest, CableLossOnReadClosesThePort) {
  peer_->Vanish();
  uint8_t buf[8];
  for (int i = 0; i < 5 && link_.IsOpen(); ++i) {
    link_.Serial().WaitReadable(100);
    link_.Serial().Read(buf, sizeof buf);
  }
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_EQ(log_->Count("@@ Cable Disconnected - Reading Error") +
                log_->Count("@@ Cable Disconnected - Reading"),
            1u);
  const uint8_t b = 0;
  EXPECT_FALSE(link_.Serial().Write(&b, 1));  // does not touch a closed port
}

TEST_F(SerialPortTest, CableLossOnWriteClosesThePort) {
  peer_->Vanish();
  const uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_FALSE(link_.Serial().Write(b, sizeof b));
  EXPECT_FALSE(link_.IsOpen());
}

TEST_F(SerialPortTest, CableLossDuringTransactionFailsIt) {
  peer_->SetHandler([this](const Bytes&) {
    peer_->Vanish();
    return ScriptedPeer::Answers{};
  });
  const uint64_t t0 = tr52::NowMs();
  EXPECT_EQ(Transact({0x00}, 3000), 0);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_EQ(peer_->RequestCount(), 1u);
  // The loss is noticed in the first wait, not after three time-outs.
  EXPECT_LT(tr52::NowMs() - t0, 3 * 3000u);
  EXPECT_EQ(link_.Serial().Read(nullptr, 0), 0u);
}

TEST_F(SerialPortTest, PortCanBeReopenedAfterThePeerComesBack) {
  peer_.reset();
  tr52::SerialPort other;
  EXPECT_FALSE(other.Open(kCom));  // withdrawn
  peer_ =
      std::make_unique<ScriptedPeer>(kCom, [](const Bytes& r) { return ScriptedPeer::Answers{r}; });
  link_.Close();
  ASSERT_TRUE(link_.Open(kCom));
  EXPECT_EQ(Transact({0x00, 5}), 1);
}

}  // namespace
}  // namespace tr52test

namespace tr52test {
namespace {

// A pseudo-terminal whose far end never reads: writes fill the line and must give up after
// the write time-out instead of hanging, and without taking the line for lost.
TEST(SerialPortWrite, BoundedByTheWriteTimeOut) {
  ScriptedPeer::TableDir();  // the test port table
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  char name[128];
  ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
  ASSERT_TRUE(tr52::DeclarePort(43, name, "ZUM Mobile USB Serial Port (COM43)"));
  {
    ScopedClock fast(100.0);  // 10 s of write time-out in 100 ms
    tr52::SerialPort port;
    ASSERT_TRUE(port.Open(43));
    const std::vector<uint8_t> big(1 << 20, 0x55);
    const uint64_t t0 = tr52::NowMs();
    EXPECT_FALSE(port.Write(big.data(), big.size()));
    const uint64_t elapsed = tr52::NowMs() - t0;
    EXPECT_GE(elapsed, 9000u);
    EXPECT_LT(elapsed, 60000u);
    EXPECT_TRUE(port.IsOpen());
    port.Close();
  }
  tr52::WithdrawPort(43);
  close(master);
}

}  // namespace
}  // namespace tr52test
