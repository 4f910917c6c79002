#include "platform/serial_device.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

namespace tr52 {
namespace {

constexpr uid_t kNobody = 65534;
constexpr int kCannotSetUp = 77;

// A pseudo-terminal: the master is the phone's side, the slave the node the link opens.
struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
      if (master >= 0) close(master);
      master = -1;
      return;
    }
    slave = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() {
    if (master >= 0) close(master);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
};

// Runs `body` in a forked child as an unprivileged user (root drops to nobody, anyone else
// keeps their own identity) and returns its exit code; kCannotSetUp when privileges could not
// be dropped. The child uses no test macros: it only reports through its exit code.
int RunUnprivileged(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) return kCannotSetUp;
  if (pid == 0) {
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
         setresuid(kNobody, kNobody, kNobody) != 0))
      _exit(kCannotSetUp);
    if (geteuid() == 0) _exit(kCannotSetUp);
    _exit(body());
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A user without privileges opens, closes and opens the port again while the phone's side stays
// open (and, in the second row, something else holds the node open too, as a terminal program
// or a modem manager does on a real port). Exit codes: 0 reopened, 1 pty, 2 first open,
// 3 reopen (errno in the message is lost: EBUSY is what an exclusive flag left behind gives).
TEST(SerialDevice, NonRootUserReopensAPortItClosed) {
  struct Row {
    const char* what;
    bool otherHolder;
  };
  const Row rows[] = {{"phone side open", false}, {"phone side and another holder open", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const int rc = RunUnprivileged([&] {
      Pty pty;
      if (pty.master < 0) return 1;
      const int holder = row.otherHolder ? open(pty.slave.c_str(), O_RDWR | O_NOCTTY) : -1;
      if (row.otherHolder && holder < 0) return 1;
      SerialDevice device;
      if (!device.Open(pty.slave)) return 2;
      device.Close();
      if (!device.Open(pty.slave)) return 3;
      device.Close();
      if (holder >= 0) close(holder);
      return 0;
    });
    if (rc == kCannotSetUp) GTEST_SKIP() << "cannot run as an unprivileged user (uid 65534)";
    EXPECT_NE(rc, 1) << "no pseudo-terminal for the unprivileged user";
    EXPECT_NE(rc, 2) << "first open failed";
    EXPECT_EQ(rc, 0) << "reopen after close failed (the port was left exclusive)";
  }
}

// Close puts back the line settings found at open (a terminal program or the next user of the
// port finds its own settings, not the link's raw 115200). The output discard that close also
// does cannot be seen on a pseudo-terminal: bytes written there reach the other side at once.
TEST(SerialDevice, CloseRestoresTheLineSettingsFoundAtOpen) {
  Pty pty;
  ASSERT_GE(pty.master, 0);
  const int holder = open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  struct termios before;
  ASSERT_EQ(tcgetattr(holder, &before), 0);
  before.c_lflag |= ICANON | ECHO;
  before.c_iflag |= ICRNL;
  cfsetispeed(&before, B9600);
  cfsetospeed(&before, B9600);
  ASSERT_EQ(tcsetattr(holder, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(holder, &before), 0);

  SerialDevice device;
  ASSERT_TRUE(device.Open(pty.slave));
  const uint8_t bytes[64] = {1, 2, 3};
  ASSERT_EQ(device.WriteAll(bytes, sizeof bytes, 1000), SerialDevice::Status::Ok);
  device.Close();

  struct termios after;
  ASSERT_EQ(tcgetattr(holder, &after), 0);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  close(holder);
}

}  // namespace
}  // namespace tr52
