#include "frame/module_entry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace tr52 {
namespace {

double ScaleFor(const char* value) {
  if (value)
    setenv("TR52_TIME_SCALE", value, 1);
  else
    unsetenv("TR52_TIME_SCALE");
  const double factor = TimeScaleFromEnvironment();
  unsetenv("TR52_TIME_SCALE");
  return factor;
}

TEST(ModuleTimeScale, OnlyNumbersAboveOneSpeedTheClockUp) {
  EXPECT_EQ(ScaleFor("50"), 50.0);
  EXPECT_EQ(ScaleFor("2.5"), 2.5);
  EXPECT_EQ(ScaleFor(nullptr), 0.0);
  EXPECT_EQ(ScaleFor(""), 0.0);
  EXPECT_EQ(ScaleFor("1"), 0.0);
  EXPECT_EQ(ScaleFor("0.5"), 0.0);
  EXPECT_EQ(ScaleFor("-20"), 0.0);
  EXPECT_EQ(ScaleFor("fast"), 0.0);
  EXPECT_EQ(ScaleFor("20x"), 0.0);
  EXPECT_EQ(ScaleFor("nan"), 0.0);
}

}  // namespace
}  // namespace tr52
