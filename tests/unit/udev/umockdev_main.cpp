// The test program's entry: runs the program again with umockdev's preload library, which
// redirects /sys and /dev to the test bed each test builds. When the library cannot be loaded
// the tests run without it and skip themselves, saying why.
#include <gtest/gtest.h>

#include "usb_testbed.h"

int main(int argc, char** argv) {
  tr52test::UsbTestbed::ReexecUnderPreload(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
