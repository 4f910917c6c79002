// The base of the tests against scripted USB devices: a umockdev test bed, and a port table and
// COM map of the test's own. A test skips itself, saying why, where umockdev's preload library
// is not active.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "usb_testbed.h"

namespace tr52test {

class UdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!UsbTestbed::Available(why)) GTEST_SKIP() << why;
    bed.emplace();
  }

  void Plug(const UsbSerial& port) {
    std::string error;
    ASSERT_TRUE(bed->Plug(port, error)) << error;
  }

  TempDir table, mapDir;
  ScopedEnv tableEnv{"TR52_PORT_TABLE", table.Path()};
  ScopedEnv mapEnv{"TR52_COM_MAP_DIR", mapDir.Path()};
  std::optional<UsbTestbed> bed;
};

}  // namespace tr52test
