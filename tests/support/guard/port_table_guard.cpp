// Built into every test program: keeps its tests off the developer's port table.
//
// The port table's default folder is the user's own, shared with the phones and tools run by
// hand, so when nothing set TR52_PORT_TABLE the guard points it at an empty private folder
// (0700) for the whole program; a test that wants the default location removes the variable
// in its own scope. After each test it checks that
//  - TR52_PORT_TABLE is still set: a test that removed it instead of putting back the earlier
//    value would send the next ones to the default table;
//  - TMPDIR holds what it held before the test;
//  - the program-wide folder is still empty: a port declared there comes from a test that
//    forgot its own table.
// A breach is printed when it happens and fails the program at its end; the guard then puts
// things back so that the later tests stay private.
// The COM map (numbers of the machine's USB serial ports) is kept off the developer's state the
// same way: TR52_COM_MAP_DIR points at a private folder unless the environment set it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kTable = "TR52_PORT_TABLE";

std::optional<std::string> Env(const char* name) {
  const char* value = getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

class PortTableGuard : public ::testing::EmptyTestEventListener {
 public:
  const std::vector<std::string>& Breaches() const { return breaches_; }

 private:
  void OnTestProgramStart(const ::testing::UnitTest&) override {
    PrivateComMap();
    if (const auto table = Env(kTable); table && !table->empty()) {
      table_ = *table;
      return;
    }
    const auto tmp = Env("TMPDIR");
    std::string tmpl = (tmp && !tmp->empty() ? *tmp : "/tmp") + "/tr52-test-ports-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
      breaches_.push_back("cannot create the program's private port table in " + tmpl);
      return;
    }
    table_ = own_ = tmpl;
    setenv(kTable, table_.c_str(), 1);
  }
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    if (!ownComMap_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(ownComMap_, ec);
    }
    if (own_.empty()) return;
    unsetenv(kTable);
    std::error_code ec;
    std::filesystem::remove_all(own_, ec);
  }
  void OnTestStart(const ::testing::TestInfo&) override { tmpdir_ = Env("TMPDIR"); }
  void OnTestEnd(const ::testing::TestInfo& test) override {
    const std::string name = std::string(test.test_suite_name()) + "." + test.name();
    if (!Env(kTable)) {
      Breach(name + " left TR52_PORT_TABLE unset (put the earlier value back: ScopedEnv)");
      if (!table_.empty()) setenv(kTable, table_.c_str(), 1);
    }
    if (Env("TMPDIR") != tmpdir_) {
      Breach(name + " changed TMPDIR and left it so (ScopedEnv puts it back)");
      tmpdir_ ? setenv("TMPDIR", tmpdir_->c_str(), 1) : unsetenv("TMPDIR");
    }
    std::error_code ec;
    if (!own_.empty() && !std::filesystem::is_empty(own_, ec) && !ec) {
      Breach(name + " declared a port in the program-wide port table " + own_ +
             " (give the test a port table of its own)");
      for (const auto& entry : std::filesystem::directory_iterator(own_, ec))
        std::filesystem::remove_all(entry.path(), ec);
    }
  }
  void PrivateComMap() {
    if (const auto dir = Env("TR52_COM_MAP_DIR"); dir && !dir->empty()) return;
    const auto tmp = Env("TMPDIR");
    std::string tmpl = (tmp && !tmp->empty() ? *tmp : "/tmp") + "/tr52-test-com-map-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) return;
    ownComMap_ = tmpl;
    setenv("TR52_COM_MAP_DIR", ownComMap_.c_str(), 1);
  }
  void Breach(const std::string& what) {
    std::fprintf(stderr, "port table guard: %s\n", what.c_str());
    breaches_.push_back(what);
  }

  std::string table_;      // TR52_PORT_TABLE for the program
  std::string own_;        // the folder the guard made for it, if it made one
  std::string ownComMap_;  // the COM map folder the guard made, if it made one
  std::optional<std::string> tmpdir_;
  std::vector<std::string> breaches_;
};

// Fails the program, after its last test, for each breach the guard saw.
class GuardVerdict : public ::testing::Environment {
 public:
  explicit GuardVerdict(const PortTableGuard* guard) : guard_(guard) {}
  void TearDown() override {
    for (const auto& breach : guard_->Breaches()) ADD_FAILURE() << "port table guard: " << breach;
  }

 private:
  const PortTableGuard* guard_;  // owned by the listener list, which outlives the run
};

// Registered before main: gtest keeps (and deletes) both objects.
[[maybe_unused]] const bool kRegistered = [] {
  auto* guard = new PortTableGuard;
  ::testing::UnitTest::GetInstance()->listeners().Append(guard);
  ::testing::AddGlobalTestEnvironment(new GuardVerdict(guard));
  return true;
}();

}  // namespace
