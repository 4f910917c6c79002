// Sets (or removes) one environment variable for the life of a test or fixture and puts back
// what was there before: its earlier value, or no variable at all. Tests must not leak an
// environment into the next test, nor into the developer's own settings.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace tr52test {

class ScopedEnv {
 public:
  // `value` nullptr removes the variable for the scope.
  ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = getenv(name_.c_str())) previous_ = old;
    Set(value);
  }
  ScopedEnv(std::string name, const std::string& value)
      : ScopedEnv(std::move(name), value.c_str()) {}
  ~ScopedEnv() { Set(previous_ ? previous_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  // Changes the value again within the scope (the earlier value is still what comes back).
  void Set(const char* value) {
    if (value)
      setenv(name_.c_str(), value, 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace tr52test
