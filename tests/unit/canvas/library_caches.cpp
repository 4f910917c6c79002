// cairo and fontconfig keep process-wide caches (fonts, patterns) until they are told to let
// go; freeing them when the test program ends keeps the leak checker's report about our code.
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

namespace {

class LibraryCaches : public ::testing::Environment {
 public:
  void TearDown() override {
    cairo_debug_reset_static_data();
    FcFini();
  }
};

const auto* const kCaches = ::testing::AddGlobalTestEnvironment(new LibraryCaches);

}  // namespace
