#include "session/download_steps.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

namespace tr52 {
namespace {

double ScaleFor(const char* value) {
  const char* before = std::getenv("TR52_TIME_SCALE");
  const std::string saved = before ? before : "";
  struct Restore {
    bool had;
    std::string value;
    ~Restore() { had ? setenv("TR52_TIME_SCALE", value.c_str(), 1) : unsetenv("TR52_TIME_SCALE"); }
  } restore{before != nullptr, saved};
  if (value)
    setenv("TR52_TIME_SCALE", value, 1);
  else
    unsetenv("TR52_TIME_SCALE");
  const double factor = WaitScaleFromEnvironment();
  return factor;
}

TEST(WaitScale, OnlyNumbersAboveOneCompressTheNamedWaits) {
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
