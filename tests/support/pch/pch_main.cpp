// The program that owns the test programs' precompiled header (tests/CMakeLists.txt): it is
// built only so that the header exists; gtest_main gives it its main.
#include <gtest/gtest.h>
