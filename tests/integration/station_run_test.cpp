// The station program run as a user runs it: command line, plug-in loading, and a batch run
// against a port declared in a private port table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "dz_writer.h"
#include "history/history_store.h"
#include "package/image_type.h"
#include "platform/crypto.h"
#include "platform/port_table.h"
#include "session/download_record.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

namespace fs = std::filesystem;

fs::path BinDir() {
  return fs::read_symlink("/proc/self/exe").parent_path();
}
fs::path StationPath() {
  return BinDir() / "station";
}
fs::path PluginPath() {
  return BinDir() / "TR52_091117_MP.so";
}

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  bool timedOut = false;
  std::string out;
  std::string err;
};

// What a watcher of the output does next: send a signal, stop reading standard output (closes
// its end of the pipe), or neither.
struct OutputAction {
  int signal = 0;
  bool closeOutput = false;
};

// Runs `program` with `args`, extra environment and standard input text; kills it after
// `limit`. `watch` sees the standard output so far after every read.
RunResult RunProgramWatched(const fs::path& program, const std::vector<std::string>& args,
                            const std::map<std::string, std::string>& env, const std::string& input,
                            std::chrono::seconds limit,
                            const std::function<OutputAction(const std::string&)>& watch) {
  RunResult result;
  int outPipe[2], errPipe[2], inPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe(inPipe) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], inPipe[0], inPipe[1]}) close(fd);
    // No window on the developer's display: the station chooses by what it finds.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);  // the child's own
    std::vector<char*> argv;
    std::string prog = program.string();
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(prog.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  close(inPipe[0]);
  if (!input.empty()) (void)!write(inPipe[1], input.data(), input.size());
  close(inPipe[1]);

  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 100))) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
    }
    if (watch) {
      const OutputAction action = watch(result.out);
      if (action.signal != 0) kill(pid, action.signal);
      if (action.closeOutput && fds[0].fd >= 0) {
        close(fds[0].fd);
        fds[0].fd = -1;
        --open;
      }
    }
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

// The same, where `onOutput` may return a signal to send once.
RunResult RunProgram(const fs::path& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {},
                     const std::string& input = "",
                     std::chrono::seconds limit = std::chrono::seconds(60),
                     std::function<int(const std::string&)> onOutput = {}) {
  bool signalled = false;
  return RunProgramWatched(program, args, env, input, limit, [&](const std::string& out) {
    OutputAction action;
    if (onOutput && !signalled) action.signal = onOutput(out);
    signalled = signalled || action.signal != 0;
    return action;
  });
}

// The outcome of every download in a station's history, oldest first.
std::vector<std::string> HistoryOutcomes(const std::string& path) {
  std::vector<std::string> outcomes;
  history::HistoryStore store(path, history::StoreOptions{.mustExist = true});
  for (const auto& row : store.Query({})) outcomes.push_back(OutcomeName(OutcomeOf(row)));
  return outcomes;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

// A copy of the station in its own folder, so that its settings file and log stay private.
class StationCopy {
 public:
  StationCopy() {
    fs::copy_file(StationPath(), Exe());
    // The port table refuses a folder that group or others may write to: 0700 whatever the
    // umask.
    fs::create_directories(PortTable());
    fs::permissions(PortTable(), fs::perms::owner_all);
  }
  fs::path Exe() const { return fs::path(dir_.Path()) / "station"; }
  fs::path Ini() const { return fs::path(dir_.Path()) / "ZUDP2.ini"; }
  std::string PortTable() const { return dir_.File("ports"); }
  // Its history goes into its own state folder, never the user's.
  std::map<std::string, std::string> Env() const {
    return {{"TR52_PORT_TABLE", PortTable()},
            {"LD_LIBRARY_PATH", BinDir().string()},
            {"XDG_STATE_HOME", dir_.File("state")}};
  }
  std::string History() const { return dir_.File("state/tr52/history.sqlite"); }
  RunResult Run(std::vector<std::string> args, const std::string& input = "",
                std::chrono::seconds limit = std::chrono::seconds(60),
                std::function<int(const std::string&)> onOutput = {}) const {
    args.insert(args.begin(), {"--plugin", PluginPath().string()});
    return RunProgram(Exe(), args, Env(), input, limit, std::move(onOutput));
  }
  RunResult RunWatched(std::vector<std::string> args, std::chrono::seconds limit,
                       const std::function<OutputAction(const std::string&)>& watch) const {
    args.insert(args.begin(), {"--plugin", PluginPath().string()});
    return RunProgramWatched(Exe(), args, Env(), "", limit, watch);
  }

 private:
  tr52test::TempDir dir_;
};

#define REQUIRE_PLUGIN()                                                       \
  do {                                                                         \
    if (!fs::exists(PluginPath())) GTEST_SKIP() << "plug-in module not built"; \
  } while (0)

TEST(StationCommandLine, HelpExplainsEveryOption) {
  const auto r = RunProgram(StationPath(), {"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* opt :
       {"--plugin", "--ports", "--poll-ms", "--batch", "--timeout", "--time-scale", "--config",
        "--info", "--help", "--json", "--package", "--list-ports", "--udev-rule", "--install",
        "--history", "--no-history", "--station-id", "--history-url"})
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
}

// Both programs that use the port table say where it is as the code finds it: the variable,
// else the runtime folder, else the temporary folder per user.
TEST(StationCommandLine, HelpTextsStateThePortTableFolderTheCodeUses) {
  const std::string rule[] = {"TR52_PORT_TABLE", "$XDG_RUNTIME_DIR/tr52-ports",
                              "${TMPDIR:-/tmp}/tr52-ports-<uid>"};
  for (const char* program : {"station", "vphone"}) {
    const auto r = RunProgram(BinDir() / program, {"--help"});
    EXPECT_EQ(r.status, 0) << program;
    std::string help = r.out;
    std::replace(help.begin(), help.end(), '\n', ' ');
    std::erase(help, ' ');
    size_t at = 0;
    for (const std::string& part : rule) {
      at = help.find(part, at);
      EXPECT_NE(at, std::string::npos) << program << " does not name " << part << "\n" << r.out;
      if (at == std::string::npos) break;
    }
  }
  // (PortTableDir, which follows that rule, is tested with the port table.)
}

TEST(StationCommandLine, RejectsBadArgumentsWithAClearError) {
  const std::vector<std::vector<std::string>> bad = {
      {"--ports", "256"},
      {"--ports", "9-5"},
      {"--ports", "5,x"},
      {"--ports", ""},
      {"--ports"},
      {"--ports", "5", "--poll-ms", "0"},
      {"--batch"},
      {"--ports", "5", "--timeout", "-3"},
      {"--ports", "5", "--time-scale", "0"},
      {"--frobnicate"},
      {},
      {"--package", "/nonexistent/TR52.dz"},
      {"--package", "/tmp"},
      {"--ports", "5", "--json", "/nonexistent/run.json"},
  };
  for (const auto& args : bad) {
    const auto r = RunProgram(StationPath(), args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined;
    EXPECT_NE(r.err.find("station: error: "), std::string::npos) << joined << r.err;
    EXPECT_EQ(r.out.find("loaded plug-in"), std::string::npos) << joined;
  }
}

TEST(StationCommandLine, ReportsAMissingModuleOrEntryPoint) {
  const auto missing =
      RunProgram(StationPath(), {"--plugin", "/nonexistent/TR52.so", "--ports", "5"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot load plug-in"), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find("/nonexistent/TR52.so"), std::string::npos) << missing.err;

  // The window layer is a loadable module without the entry point.
  const auto noEntry = RunProgram(
      StationPath(), {"--plugin", (BinDir() / "libtr52_win.so").string(), "--ports", "5"});
  EXPECT_EQ(noEntry.status, 2);
  EXPECT_NE(noEntry.err.find("_A130"), std::string::npos) << noEntry.err;
}

TEST(StationPlugin, CopiedFolderRunsFromAnotherFolderWithoutALibraryPath) {
  REQUIRE_PLUGIN();
  tr52test::TempDir dir;
  for (const char* file : {"station", "TR52_091117_MP.so", "libtr52_win.so"})
    fs::copy_file(BinDir() / file, fs::path(dir.Path()) / file);
  const fs::path exe = fs::path(dir.Path()) / "station";
  // Only the copies are found: no library path, and the working folder is not the copy's.
  const std::map<std::string, std::string> env = {{"LD_LIBRARY_PATH", ""}};
  auto r = RunProgram(exe, {"--help"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  r = RunProgram(exe, {"--info"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("loaded plug-in " + dir.File("TR52_091117_MP.so")), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("PATH_BIN : NULL\n"), std::string::npos) << r.out;
}

TEST(StationPlugin, PackageOptionSavesTheSettingAsTheDialogDoes) {
  REQUIRE_PLUGIN();
  StationCopy station;
  tr52test::TempDir fw;
  std::ofstream(fw.File("TR52.dz")) << "package";
  auto r = station.Run({"--package", fw.File("TR52.dz")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  r = station.Run({"--info"});
  EXPECT_NE(r.out.find("PATH_BIN : " + fw.File("TR52.dz") + "\n"), std::string::npos) << r.out;
  // A refused path leaves the saved one alone.
  r = station.Run({"--package", fw.File("none.dz"), "--info"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(fw.File("none.dz")), std::string::npos) << r.err;
  r = station.Run({"--info"});
  EXPECT_NE(r.out.find("PATH_BIN : " + fw.File("TR52.dz") + "\n"), std::string::npos) << r.out;
}

TEST(StationPlugin, InfoShowsThePackagePathOfTheSettingsBesideTheStation) {
  REQUIRE_PLUGIN();
  StationCopy station;
  auto r = station.Run({"--info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("PATH_BIN : NULL\n"), std::string::npos) << r.out;
  // A folder of its own keeps the files beside the program.
  EXPECT_NE(r.out.find("\nsettings file     " + station.Ini().string() + "\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nlog folder        " + station.Exe().parent_path().string() +
                       " (the plug-in's log station_log.txt)\n"),
            std::string::npos)
      << r.out;
  // The history file in use: the state folder's unless named.
  EXPECT_NE(r.out.find("\nhistory           " + station.History() + " (station "),
            std::string::npos)
      << r.out;
  r = station.Run({"--info", "--no-history"});
  EXPECT_NE(r.out.find("\nhistory           off\n"), std::string::npos) << r.out;

  std::ofstream(station.Ini()) << "[TR52]\nPATH_BIN=/data/fw/TR52.dz\n";
  r = station.Run({"--info"});
  EXPECT_NE(r.out.find("PATH_BIN : /data/fw/TR52.dz\n"), std::string::npos) << r.out;
}

TEST(StationPlugin, ConfigTakesTheNewPathFromStandardInput) {
  REQUIRE_PLUGIN();
  StationCopy station;
  auto r = station.Run({"--config", "--info"}, "/data/new.dz\n");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("now: NULL"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PATH_BIN : /data/new.dz\n"), std::string::npos) << r.out;

  // An empty answer keeps what was saved.
  r = station.Run({"--config", "--info"}, "\n");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("PATH_BIN : /data/new.dz\n"), std::string::npos) << r.out;
}

TEST(StationPlugin, BatchWithoutPhoneEndsAtTheTimeLimitWithItsOwnStatus) {
  REQUIRE_PLUGIN();
  StationCopy station;
  const auto r = station.Run({"--ports", "31,32", "--batch", "--timeout", "1", "--poll-ms", "50"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_NE(r.out.find("time limit reached"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("COM31: no phone appeared"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("COM32: no phone appeared"), std::string::npos) << r.out;
  EXPECT_EQ(Count(r.out, "RESULT"), 0);
}

TEST(StationPlugin, InterruptEndsAnInteractiveWatchOfTheListedPorts) {
  REQUIRE_PLUGIN();
  StationCopy station;
  const auto r = station.Run({"--ports", "26-27,COM23,25,26", "--poll-ms", "50"}, "",
                             std::chrono::seconds(30), [](const std::string& out) {
                               return out.find("watching ") != std::string::npos ? SIGINT : 0;
                             });
  EXPECT_FALSE(r.timedOut);
  // Nothing ran, so nothing was cut short.
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("watching COM23, COM25, COM26, COM27\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("interrupted (SIGINT)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("summary: 0 of 4 port(s)"), std::string::npos) << r.out;
}

// Points the port table of this process (where the virtual phones and silent ports declare
// themselves) at `dir` for the life of a test; the earlier value comes back afterwards.
class ScopedPortTable {
 public:
  explicit ScopedPortTable(const std::string& dir) : env_("TR52_PORT_TABLE", dir) {}

 private:
  tr52test::ScopedEnv env_;
};

// A phone port that accepts the line but never answers: the plug-in connects, opens the pane,
// fails the download and reports exactly one result; the batch run then closes and exits.
class SilentPort {
 public:
  explicit SilentPort(int com) : com_(com) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = ptsname(master_);
    // Keep one slave descriptor so the master never sees a hang-up between opens.
    keep_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY);
    drain_ = std::thread([this] {
      char buf[4096];
      while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) (void)!read(master_, buf, sizeof buf);
      }
    });
  }
  ~SilentPort() {
    tr52::WithdrawPort(com_);
    stop_ = true;
    if (drain_.joinable()) drain_.join();
    if (keep_ >= 0) close(keep_);
    if (master_ >= 0) close(master_);
  }
  bool Declare() {
    return !slave_.empty() &&
           tr52::DeclarePort(com_, slave_,
                             "ZUM Mobile USB Serial Port (COM" + std::to_string(com_) + ")");
  }

 private:
  int com_;
  int master_ = -1;
  int keep_ = -1;
  std::string slave_;
  std::atomic<bool> stop_{false};
  std::thread drain_;
};

TEST(StationPlugin, BatchRunDrivesADeclaredPortToExactlyOneResult) {
  REQUIRE_PLUGIN();
  StationCopy station;
  ScopedPortTable table(station.PortTable());  // also where ~SilentPort withdraws the port
  SilentPort port(37);
  ASSERT_TRUE(port.Declare());

  const auto r = station.Run(
      {"--ports", "37", "--batch", "--timeout", "120", "--poll-ms", "50", "--time-scale", "100"});
  EXPECT_FALSE(r.timedOut);
  const auto& out = r.out;
  const auto loaded = out.find("loaded plug-in");
  const auto connected = out.find("COM37 | phone connected");
  const auto opened = out.find("COM37 | pane opened [COM 37]");
  const auto firstLine = out.find("COM37 | 1.");
  const auto result = out.find("COM37 | RESULT ");
  const auto closed = out.find("COM37 | pane closed");
  ASSERT_NE(loaded, std::string::npos) << out << r.err;
  ASSERT_NE(connected, std::string::npos) << out << r.err;
  ASSERT_NE(opened, std::string::npos) << out << r.err;
  ASSERT_NE(firstLine, std::string::npos) << out << r.err;
  ASSERT_NE(result, std::string::npos) << out << r.err;
  ASSERT_NE(closed, std::string::npos) << out << r.err;
  EXPECT_LT(loaded, connected);
  EXPECT_LT(connected, opened);
  EXPECT_LT(opened, firstLine);
  EXPECT_LT(firstLine, result);
  EXPECT_LT(result, closed);
  EXPECT_EQ(Count(out, "RESULT "), 1) << out;
  EXPECT_EQ(Count(out, "phone connected"), 1) << out;
  // Nobody answered, so the download cannot have succeeded.
  EXPECT_EQ(out.find("RESULT OK"), std::string::npos) << out;
  EXPECT_NE(out.find("summary: 0 of 1 port(s) succeeded"), std::string::npos) << out;
  EXPECT_EQ(r.status, 1);
}

// The lines of one port, in order, without their timestamps.
std::vector<std::string> PortLines(const std::string& out, const std::string& port) {
  std::vector<std::string> lines;
  const std::string tag = " " + port + " | ";
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    if (auto at = line.find(tag); at != std::string::npos)
      lines.push_back(line.substr(at + tag.size()));
    start = end + 1;
  }
  return lines;
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(
      lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

TEST(StationPhones, TwoPhonesEachGetTheirOwnPaneAndExactlyOneResult) {
  REQUIRE_PLUGIN();
  StationCopy station;
  ScopedPortTable table(station.PortTable());
  vphone::PhoneOptions a, b;
  a.com = 41;
  b.com = 42;
  vphone::VirtualPhone phoneA(a), phoneB(b);
  std::string error;
  ASSERT_TRUE(phoneA.Start(&error)) << error;
  ASSERT_TRUE(phoneB.Start(&error)) << error;

  const auto r = station.Run({"--ports", "41-42", "--batch", "--timeout", "120", "--poll-ms", "50",
                              "--time-scale", "100"});
  EXPECT_FALSE(r.timedOut);
  for (const std::string port : {"COM41", "COM42"}) {
    const auto lines = PortLines(r.out, port);
    ASSERT_FALSE(lines.empty()) << r.out << r.err;
    EXPECT_EQ(lines.front(), "phone connected") << r.out;
    EXPECT_EQ(CountPrefix(lines, "pane opened [COM " + port.substr(3) + "]"), 1) << r.out;
    // The phone answered its model name, which the pane lists first.
    EXPECT_EQ(CountPrefix(lines, "1.TR52"), 1) << r.out;
    EXPECT_EQ(CountPrefix(lines, "RESULT "), 1) << r.out;
    EXPECT_EQ(lines.back(), "pane closed") << r.out;
  }
  EXPECT_NE(r.out.find("summary: "), std::string::npos);
  // The status matches the summary: 0 exactly when both downloads succeeded.
  const bool bothOk = Count(r.out, "RESULT OK") == 2;
  EXPECT_EQ(r.status, bothOk ? 0 : 1) << r.out;
}

// A package with every image of the plug-in's mask (small, made-up contents), and each image by
// its type name.
struct TestPackage {
  std::string path;
  std::map<std::string, std::vector<uint8_t>> images;
};

TestPackage WriteTestPackage(const std::string& dir) {
  TestPackage package{dir + "/TR52_TEST.dz", {}};
  tr52::DzWriter writer;
  for (int type :
       {tr52::IMAGE_AMSS, tr52::IMAGE_EFS_GANG, tr52::IMAGE_PARTITION_TBL,
        tr52::IMAGE_FLEXIBLE_LOGO, tr52::IMAGE_DBL, tr52::IMAGE_FSBL, tr52::IMAGE_OSBL}) {
    // The writer keeps a view of the image until it has written it.
    auto& data = package.images[tr52::ImageTypeName(type)];
    // The partition table goes to the phone in one packet: as small as a real one.
    data.assign(type == tr52::IMAGE_PARTITION_TBL ? 512 : 3000 + 100 * type,
                static_cast<uint8_t>(type));
    writer.Add(
        {static_cast<uint32_t>(type), tr52::ImageTypeName(type), type == tr52::IMAGE_AMSS, data});
  }
  EXPECT_TRUE(writer.Write(package.path)) << writer.Error();
  return package;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The station's name of the way a virtual phone's flash received an image.
std::string MethodName(vphone::FlashMethod method) {
  switch (method) {
    case vphone::FlashMethod::Classic:
      return "nand";
    case vphone::FlashMethod::RamDownload:
      return "ram";
    case vphone::FlashMethod::Pipelined:
      return "pipelined";
    case vphone::FlashMethod::Header:
      return "partition table";
  }
  return "?";
}

std::string Md5Of(const uint8_t* data, size_t size) {
  return tr52::Md5Hex(tr52::Md5::Of(data, size));
}

// Four phones at once, each taking another road: the normal-mode flow with the classic NAND
// write, the pipelined write and the RAM download, and a phone found in download mode (the
// emergency flow, whose calibration restore needs the copy of an earlier backup). Every port
// must end with result 0, and the run record must tell each port's model, flow and the images
// written with the method the phone really received them by.
TEST(StationPhones, RunRecordTellsModelFlowAndResultOfEachPort) {
  REQUIRE_PLUGIN();
  StationCopy station;
  ScopedPortTable table(station.PortTable());
  tr52test::TempDir fw;
  const TestPackage package = WriteTestPackage(fw.Path());

  struct PhoneCase {
    int com;
    vphone::Mode mode;
    const char* scenario;
    int flow;
    const char* amss;  // how AMSS and EFS GANG are written; the rest by the classic NAND write
    const char* efs;
  };
  const std::vector<PhoneCase> cases = {
      {44, vphone::Mode::Normal, "dload.comm_mode = 1\ndload.param_flags = 0\n", 1, "nand", "nand"},
      {45, vphone::Mode::Download, "dload.comm_mode = 1\ndload.param_flags = 0\ncnv.saved = true\n",
       0, "nand", "nand"},
      {46, vphone::Mode::Normal, "dload.comm_mode = 2\n", 1, "pipelined", "pipelined"},
      {47, vphone::Mode::Normal, "dload.comm_mode = 1\ndload.param_flags = 0x02\n", 1, "ram",
       "nand"},
  };
  std::vector<std::unique_ptr<vphone::VirtualPhone>> phones;
  for (const auto& c : cases) {
    vphone::PhoneOptions options;
    options.com = c.com;
    options.startMode = c.mode;
    options.rebootDelayMs = 500;
    options.scenario = vphone::ParseScenario(c.scenario);
    phones.push_back(std::make_unique<vphone::VirtualPhone>(options));
    std::string error;
    ASSERT_TRUE(phones.back()->Start(&error)) << c.com << ": " << error;
  }

  // Records of an earlier run and a broken line beside the station: the station reads only
  // the records its own downloads append.
  const fs::path recordFile = station.Exe().parent_path() / "station_downloads.jsonl";
  {
    tr52::DownloadRecord stale;
    stale.hostPid = 1;
    stale.com = 45;
    stale.facts.model = "STALE";
    std::ofstream(recordFile, std::ios::binary) << tr52::DownloadRecordLine(stale) << "{broken\n";
  }
  const std::string jsonPath = fw.File("run.json");
  const auto r = station.Run({"--package", package.path, "--ports", "44-47", "--batch", "--timeout",
                              "120", "--poll-ms", "50", "--time-scale", "20", "--json", jsonPath},
                             "", std::chrono::seconds(150));
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_TRUE(fs::exists(jsonPath)) << r.out << r.err;
  const auto run = nlohmann::json::parse(ReadText(jsonPath));
  // The records of this run, as the plug-in wrote them.
  std::map<int, nlohmann::json> records;
  std::istringstream lines(ReadText(recordFile));
  for (std::string line; std::getline(lines, line);) {
    const auto record = nlohmann::json::parse(line, nullptr, false);
    if (!record.is_discarded() && record["host_pid"] != 1)
      records[record["com"].get<int>()] = record;
  }
  ASSERT_EQ(records.size(), cases.size());

  std::map<int, nlohmann::json> ports;
  for (const auto& port : run["ports"]) ports[port["com"].get<int>()] = port;
  for (size_t i = 0; i < cases.size(); ++i) {
    const PhoneCase& c = cases[i];
    SCOPED_TRACE("COM" + std::to_string(c.com));
    ASSERT_TRUE(ports.count(c.com)) << run.dump(2);
    const nlohmann::json& port = ports[c.com];
    const nlohmann::json& record = records[c.com];
    EXPECT_EQ(port["result"], 0) << port.dump(2);
    EXPECT_EQ(port["outcome"], "ok");
    EXPECT_EQ(port["flow"], c.flow);
    // The model as the phone first sent it: its normal-mode name, or its download-mode name.
    EXPECT_EQ(port["model"], c.mode == vphone::Mode::Normal ? "TR52" : "KW_TR52/V10A");
    EXPECT_EQ(port["end_step"], nullptr);
    // Field by field, what the record of the download says.
    for (const char* key :
         {"model", "flow", "banner", "boot_modes", "end_step", "port", "started", "ended"})
      EXPECT_EQ(port[key], record[key]) << key;
    const auto& images = port["images"];
    ASSERT_EQ(images.size(), record["images"].size());
    for (size_t k = 0; k < images.size(); ++k)
      for (const char* key : {"type", "name", "method", "address", "size", "md5", "written"})
        EXPECT_EQ(images[k][key], record["images"][k][key]) << key;

    // And what the phone itself received: each image of the package, whole, by the method the
    // record names, where it says.
    std::map<std::string, std::string> expected;
    for (const auto& [type, data] : package.images) expected[type] = "nand";
    expected["PARTITION TBL"] = "partition table";
    expected["AMSS"] = c.amss;
    expected["EFS GANG"] = c.efs;
    std::map<std::string, std::string> listed;
    for (const auto& image : images) {
      const std::string type = image["type"].get<std::string>();
      listed[type] = image["method"].get<std::string>();
      const auto flashed = phones[i]->Flash().Find(type);
      ASSERT_TRUE(flashed.has_value()) << type;
      const std::vector<uint8_t>& data = package.images.at(type);
      EXPECT_EQ(MethodName(flashed->method), image["method"]) << type;
      EXPECT_EQ(image["size"], data.size()) << type;
      EXPECT_EQ(image["md5"], Md5Of(data.data(), data.size())) << type;
      ASSERT_GE(flashed->data.size(), data.size()) << type;
      EXPECT_EQ(image["md5"], Md5Of(flashed->data.data(), data.size())) << type << " in flash";
      EXPECT_EQ(image["written"], true) << type;
      if (!image["address"].is_null()) {
        EXPECT_EQ(image["address"], flashed->start) << type;
      }
    }
    EXPECT_EQ(listed, expected);

    // The plain summary names the port's result code with its name.
    const auto at = r.out.find("station |   COM" + std::to_string(c.com) + ": ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::string line = r.out.substr(at, r.out.find('\n', at) - at);
    EXPECT_NE(line.find("(result 0: "), std::string::npos) << line;
  }
  const auto& summary = run["summary"];
  EXPECT_EQ(summary["ports"], 4);
  EXPECT_EQ(summary["ok"], 4);
  EXPECT_EQ(summary["failed"], 0);
  EXPECT_EQ(summary["unfinished"], 0);
  EXPECT_EQ(summary["records"], recordFile.string());
  // The package the phones got, as the plug-in loaded it.
  const std::string file = ReadText(package.path);
  EXPECT_EQ(summary["package"], package.path);
  EXPECT_EQ(summary["package_size"], file.size());
  EXPECT_EQ(summary["package_md5"],
            Md5Of(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
  ASSERT_EQ(summary["package_images"].size(), package.images.size());
  for (const auto& image : summary["package_images"]) {
    const auto& data = package.images.at(image["type"].get<std::string>());
    EXPECT_EQ(image["md5"], Md5Of(data.data(), data.size())) << image["type"];
  }
}

TEST(StationPhones, InteractivePaneClosesWhenThePhoneGoesAndTheNextPhoneIsServed) {
  REQUIRE_PLUGIN();
  StationCopy station;
  ScopedPortTable table(station.PortTable());
  vphone::PhoneOptions options;
  options.com = 43;
  vphone::VirtualPhone phone(options);
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;

  // First phone: when its result is in, unplug it; once the port is free, plug a phone in
  // again; stop the station after the second result.
  int stage = 0;
  const auto r =
      station.Run({"--ports", "43", "--poll-ms", "50", "--time-scale", "100", "--timeout", "120"},
                  "", std::chrono::seconds(150), [&](const std::string& out) -> int {
                    const auto lines = PortLines(out, "COM43");
                    const int results = CountPrefix(lines, "RESULT ");
                    if (stage == 0 && results == 1) {
                      stage = 1;
                      phone.Stop();
                    } else if (stage == 1 && CountPrefix(lines, "pane closed") == 1) {
                      stage = 2;
                      EXPECT_TRUE(phone.Start());
                    } else if (stage == 2 && results == 2) {
                      stage = 3;
                      return SIGINT;
                    }
                    return 0;
                  });
  EXPECT_FALSE(r.timedOut) << r.out;
  EXPECT_EQ(stage, 3) << r.out << r.err;
  const auto lines = PortLines(r.out, "COM43");
  EXPECT_EQ(CountPrefix(lines, "phone connected"), 2) << r.out;
  EXPECT_EQ(CountPrefix(lines, "RESULT "), 2) << r.out;
  // The first pane was closed when its phone went, not before; the second one (result in,
  // phone still there) is closed on the way out.
  EXPECT_EQ(CountPrefix(lines, "pane closed"), 2) << r.out;
  const auto gone = std::find(lines.begin(), lines.end(), "phone gone");
  ASSERT_NE(gone, lines.end()) << r.out;
  EXPECT_EQ(*(gone + 1), "pane closed") << r.out;
  EXPECT_NE(r.out.find("COM43: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(last of 2 phones, "), std::string::npos) << r.out;
  // The stop cut nothing: the status is the downloads'.
  EXPECT_EQ(r.status, Count(r.out, "RESULT OK") == 2 ? 0 : 1) << r.out << r.err;
  // Both downloads are on record, and the second phone was told of the first.
  EXPECT_EQ(HistoryOutcomes(station.History()).size(), 2u);
  EXPECT_EQ(CountPrefix(lines, "history: the last download on this port began "), 1) << r.out;
}

// Stopping in plain mode: a stop signal takes no new phone and lets the running download end
// with its result and record as without the stop; a second one leaves it unfinished at once,
// its pane open and the record written; a closed standard output ends the output, not the
// download.
TEST(StationStops, AStopLetsTheRunningDownloadFinishASecondLeavesIt) {
  REQUIRE_PLUGIN();
  struct Row {
    const char* name;
    bool answers;              // a virtual phone; else a port that never answers
    std::vector<int> signals;  // the first once the pane is open, the next once the station waits
    bool closeOutput;          // stop reading standard output once the pane is open
    int status;
    const char* outcome;  // in the record
    std::vector<std::string> said;
    std::vector<std::string> unsaid;
  };
  const std::string waiting = "waiting for COM51 to finish; Ctrl-C again to leave them\n";
  const std::vector<Row> rows = {
      {"SIGTERM",
       true,
       {SIGTERM},
       false,
       0,
       "ok",
       {"interrupted (SIGTERM): no new phones are taken\n", waiting, "COM51 | RESULT OK",
        "summary: 1 of 1 port(s) succeeded (interrupted)"},
       {"leaving while downloads still run"}},
      {"SIGHUP",
       true,
       {SIGHUP},
       false,
       0,
       "ok",
       {"interrupted (SIGHUP): no new phones are taken\n", waiting, "COM51 | RESULT OK"},
       {}},
      {"SIGINT twice",
       false,
       {SIGINT, SIGINT},
       false,
       130,
       "unfinished",
       {waiting, "COM51: still downloading, no result", "leaving while downloads still run"},
       {"RESULT ", "pane closed"}},
      {"closed output", true, {}, true, 0, "ok", {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StationCopy station;
    ScopedPortTable table(station.PortTable());
    std::unique_ptr<vphone::VirtualPhone> phone;
    std::unique_ptr<SilentPort> silent;
    if (row.answers) {
      vphone::PhoneOptions options;
      options.com = 51;
      options.rebootDelayMs = 500;
      phone = std::make_unique<vphone::VirtualPhone>(options);
      std::string error;
      ASSERT_TRUE(phone->Start(&error)) << error;
    } else {
      silent = std::make_unique<SilentPort>(51);
      ASSERT_TRUE(silent->Declare());
    }
    tr52test::TempDir out;
    const std::string json = out.File("run.json");
    const TestPackage package = WriteTestPackage(out.Path());
    size_t sent = 0;
    const auto r = station.RunWatched(
        {"--package", package.path, "--ports", "51", "--batch", "--timeout", "120", "--poll-ms",
         "50", "--time-scale", "20", "--json", json},
        std::chrono::seconds(150), [&](const std::string& text) {
          OutputAction action;
          const bool opened = text.find("COM51 | pane opened") != std::string::npos;
          if (!opened) return action;
          action.closeOutput = row.closeOutput;
          if (sent < row.signals.size() && (sent == 0 || text.find(waiting) != std::string::npos))
            action.signal = row.signals[sent++];
          return action;
        });
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(sent, row.signals.size());
    EXPECT_EQ(r.status, row.status) << r.out << r.err;
    for (const auto& text : row.said)
      EXPECT_NE(r.out.find(text), std::string::npos) << text << r.out;
    for (const auto& text : row.unsaid)
      EXPECT_EQ(r.out.find(text), std::string::npos) << text << r.out;
    const std::string record = ReadText(json);
    const auto run = nlohmann::json::parse(record, nullptr, false);
    ASSERT_TRUE(run.is_object()) << record << r.out << r.err;
    std::string outcome;
    for (const auto& port : run["ports"])
      if (port.value("com", -1) == 51) outcome = port.value("outcome", "");
    EXPECT_EQ(outcome, row.outcome) << record << r.out << r.err;
    // The history says the same, also of a download the station left running.
    EXPECT_EQ(HistoryOutcomes(station.History()), std::vector<std::string>{row.outcome});
  }
}

}  // namespace
