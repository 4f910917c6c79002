// The vphone program: its command line, and a run that declares the port, answers, and writes
// its state when stopped by SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/port_table.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

std::string ProgramPath() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vphone").string();
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out) {
  std::vector<char*> argv;
  std::string program = ProgramPath();
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

int RunProgram(const std::vector<std::string>& args, const std::string& out) {
  pid_t pid = Spawn(args, out);
  if (pid < 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

class VphoneProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(ProgramPath())) GTEST_SKIP() << "vphone not built";
  }
  tr52test::TempDir dir;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", dir.Path()};  // restored after the test
};

TEST_F(VphoneProgramTest, CommandLineErrorsAreClear) {
  std::string out = dir.File("out.txt");
  EXPECT_EQ(RunProgram({"--help"}, out), 0);
  EXPECT_NE(Slurp(out).find("--reboot-delay-ms"), std::string::npos);
  EXPECT_EQ(RunProgram({}, out), 2);
  EXPECT_NE(Slurp(out).find("--com is required"), std::string::npos);
  EXPECT_EQ(RunProgram({"--com", "300"}, out), 2);
  EXPECT_EQ(RunProgram({"--com", "3", "--mode", "sleepy"}, out), 2);
  EXPECT_EQ(RunProgram({"--com", "3", "--scenario", dir.File("missing")}, out), 2);
  EXPECT_NE(Slurp(out).find("cannot read scenario"), std::string::npos);
  EXPECT_EQ(RunProgram({"--com", "3", "--bogus"}, out), 2);
  EXPECT_TRUE(tr52::ListDeclaredPorts().empty());
}

TEST_F(VphoneProgramTest, RunsUntilSigtermAndWritesItsState) {
  std::ofstream(dir.File("faults")) << "diag.model = TR52\ndload.comm_mode = 1\n";
  std::string state = dir.File("state.txt");
  pid_t pid = Spawn(
      {"--com", "77", "--mode", "download", "--scenario", dir.File("faults"), "--state-out", state},
      dir.File("out.txt"));
  ASSERT_GT(pid, 0);
  bool declared = false;
  for (int i = 0; i < 200 && !declared; ++i) {
    declared = tr52::ListDeclaredPorts().size() == 1;
    if (!declared) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(declared);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(tr52::ListDeclaredPorts().empty());
  std::string s = Slurp(state);
  EXPECT_NE(s.find("phone com 77\n"), std::string::npos);
  EXPECT_NE(s.find("phone mode download\n"), std::string::npos);
  EXPECT_NE(s.find("dload comm_mode 1\n"), std::string::npos);
  EXPECT_NE(s.find("flash efs_erasures 0\n"), std::string::npos);
}

}  // namespace
