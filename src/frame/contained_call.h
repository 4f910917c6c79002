// Runs the body of an operation that the host calls through a C entry point, so that no
// exception crosses into the host: any exception is logged with the operation's name and the
// operation answers its failure value, 0.
#pragma once

#include <exception>

#include "base/process_log.h"

namespace tr52 {

namespace detail {

inline void LogContainedFailure(const char* operation, const char* what) noexcept {
  try {
    Log("%s :: exception: %s", operation, what);
  } catch (...) {
    // Nothing more can be done without the log.
  }
}

}  // namespace detail

template <typename Body>
int ContainedCall(const char* operation, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    detail::LogContainedFailure(operation, e.what());
  } catch (...) {
    detail::LogContainedFailure(operation, "unknown");
  }
  return 0;
}

}  // namespace tr52
