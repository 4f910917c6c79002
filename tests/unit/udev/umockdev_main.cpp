// The test program's entry: runs the program again with umockdev's preload library, which
// redirects /sys and /dev to the test bed each test builds. When the library cannot be loaded
// the tests run without it and skip themselves, saying why.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "usb_testbed.h"

namespace {

constexpr const char* kReexecMark = "TR52_UMOCKDEV_REEXEC";

void ReexecUnderPreload(char** argv) {
  if (tr52test::UsbTestbed::PreloadActive() || std::getenv(kReexecMark)) return;
  setenv(kReexecMark, "1", 1);
  const char* oldPreload = std::getenv("LD_PRELOAD");
  const std::string previous = oldPreload ? oldPreload : "";
  std::string preload = tr52test::kPreloadLibrary;
  if (!previous.empty()) preload += ":" + previous;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  // A sanitizer runtime would otherwise refuse to start behind the preload library.
  std::string asan = "verify_asan_link_order=0";
  if (const char* old = std::getenv("ASAN_OPTIONS"); old && *old)
    asan = std::string(old) + ":" + asan;
  setenv("ASAN_OPTIONS", asan.c_str(), 1);
  execv("/proc/self/exe", argv);
  // exec failed: carry on as before, and the tests skip.
  oldPreload ? setenv("LD_PRELOAD", previous.c_str(), 1) : unsetenv("LD_PRELOAD");
}

}  // namespace

int main(int argc, char** argv) {
  ReexecUnderPreload(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
