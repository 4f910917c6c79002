// The full-screen station driven as a user drives it, in a terminal of tmux: two virtual phones
// downloaded side by side (each pane with its steps, its bar at 100 % and its result), the
// configuration dialog opened with c (a typed path, then a package picked in the file-open
// dialog, each landing in ZUDP2.ini; a path too long for it brings the plug-in's warning as a
// message box), and q leaving with the run's summary on the terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dz_writer.h"
#include "package/image_type.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path BinDir() {
  return fs::read_symlink("/proc/self/exe").parent_path();
}

// Runs a shell command; its standard output, or nullopt when it failed.
std::optional<std::string> Shell(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return std::nullopt;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  const int status = pclose(pipe.release());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool HaveTmux() {
  return Shell("command -v tmux >/dev/null 2>&1").has_value();
}

// A tmux server of the test's own (its own socket), with one 160 x 50 window running a
// command; killed with everything in it at the end.
class Terminal {
 public:
  Terminal(const std::string& socket, const std::string& folder, const std::string& command)
      // Without a display: the station on a terminal runs full screen, never in a window.
      : tmux_("env -u DISPLAY -u WAYLAND_DISPLAY tmux -S " + Quoted(socket) + " -f /dev/null") {
    started_ = Shell(tmux_ + " new-session -d -x 160 -y 50 -s station -c " + Quoted(folder) + " " +
                     Quoted(command))
                   .has_value();
  }
  ~Terminal() { (void)Shell(tmux_ + " kill-server 2>/dev/null"); }
  bool Started() const { return started_; }
  std::string Screen() const { return Shell(tmux_ + " capture-pane -p -t station").value_or(""); }
  // tmux key names ("Tab", "Enter", "C-u", "c").
  void Keys(const std::string& keys) const { (void)Shell(tmux_ + " send-keys -t station " + keys); }
  void Text(const std::string& text) const {
    (void)Shell(tmux_ + " send-keys -t station -l " + Quoted(text));
  }
  // Waits until `ready` holds for the screen; the last screen seen either way.
  bool WaitFor(const std::function<bool(const std::string&)>& ready, std::chrono::seconds limit,
               std::string& screen) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      screen = Screen();
      if (ready(screen)) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(150ms);
    }
  }

 private:
  std::string tmux_;
  bool started_ = false;
};

// Columns [from, to) of every line of a screen (characters, not bytes).
std::string Columns(const std::string& screen, int from, int to) {
  std::string out;
  size_t start = 0;
  while (start < screen.size()) {
    size_t end = screen.find('\n', start);
    if (end == std::string::npos) end = screen.size();
    int column = 0;
    for (size_t i = start; i < end;) {
      const unsigned char c = static_cast<unsigned char>(screen[i]);
      const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      if (column >= from && column < to) out.append(screen, i, len);
      i += len;
      ++column;
    }
    out += '\n';
    start = end + 1;
  }
  return out;
}

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What one port's pane must show once its phone is done.
bool PaneFinished(const std::string& pane, int com) {
  return Has(pane, "COM " + std::to_string(com)) && Has(pane, "FLASHING EFS GANG") &&
         Has(pane, "100 %") && Has(pane, ".OK ");
}

// The package: AMSS and EFS GANG of more than a hundred 4 KiB packets each, so that the bar of
// the classic NAND write climbs to 100 % and stays there after the last image.
bool WritePackage(const std::string& path) {
  std::map<int, std::vector<uint8_t>> images;
  tr52::DzWriter writer;
  for (int type :
       {tr52::IMAGE_AMSS, tr52::IMAGE_EFS_GANG, tr52::IMAGE_PARTITION_TBL,
        tr52::IMAGE_FLEXIBLE_LOGO, tr52::IMAGE_DBL, tr52::IMAGE_FSBL, tr52::IMAGE_OSBL}) {
    auto& data = images[type];
    const bool big = type == tr52::IMAGE_AMSS || type == tr52::IMAGE_EFS_GANG;
    data.assign(type == tr52::IMAGE_PARTITION_TBL ? 512
                : big                             ? 480 * 1024
                                                  : 3000,
                static_cast<uint8_t>(type));
    writer.Add(
        {static_cast<uint32_t>(type), tr52::ImageTypeName(type), type == tr52::IMAGE_AMSS, data});
  }
  const bool written = writer.Write(path);
  EXPECT_TRUE(written) << writer.Error();
  return written;
}

// A folder of its own for a copy of the station (its settings file and log stay private), with
// a port table (the test's phones declare themselves there too) and a package.
struct StationFolder {
  StationFolder() {
    fs::copy_file(BinDir() / "station", folder / "station");
    fs::create_directories(ports);
    fs::permissions(ports, fs::perms::owner_all);
    WritePackage(package);
  }
  tr52test::TempDir dir;
  fs::path folder = dir.Path();
  std::string ports = dir.File("ports");
  tr52test::ScopedEnv table{"TR52_PORT_TABLE", ports};
  std::string package = dir.File("TR52_TEST.dz");
};

TEST(StationScreen, TwoPhonesInPanesThenTheConfigurationDialogThenQuit) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed: no terminal to drive the station in";
  ASSERT_TRUE(fs::exists(BinDir() / "TR52_091117_MP.so")) << "plug-in module not built";

  const StationFolder station;
  const fs::path& folder = station.folder;
  const std::string& ports = station.ports;
  const std::string& package = station.package;
  // Beside it, what the file-open dialog must and must not offer.
  fs::create_directories(folder / "older");
  std::ofstream(folder / "notes.txt") << "not a package";

  std::vector<std::unique_ptr<vphone::VirtualPhone>> phones;
  for (int com : {61, 62}) {
    vphone::PhoneOptions options;
    options.com = com;
    options.rebootDelayMs = 500;
    options.scenario = vphone::ParseScenario("dload.comm_mode = 1\ndload.param_flags = 0\n");
    phones.push_back(std::make_unique<vphone::VirtualPhone>(options));
    std::string error;
    ASSERT_TRUE(phones.back()->Start(&error)) << com << ": " << error;
  }

  const std::string command =
      "env TR52_PORT_TABLE=" + Quoted(ports) + " LD_LIBRARY_PATH=" + Quoted(BinDir().string()) +
      " XDG_STATE_HOME=" + Quoted((folder / "state").string()) +
      " LANG=C.UTF-8 LC_ALL=C.UTF-8 ./station --plugin " +
      Quoted((BinDir() / "TR52_091117_MP.so").string()) + " --package " + Quoted(package) +
      " --ports 61,62 --time-scale 20 --poll-ms 50; echo STATION-EXIT=$?; sleep 600";
  Terminal term((folder / "tmux.sock").string(), folder.string(), command);
  ASSERT_TRUE(term.Started());

  // 1. Both downloads, each in its own pane: the left pane (columns 0-33) and the one beside it.
  //    The history's word on the port comes from its own thread, after the pane's result, so
  //    the wait covers it too.
  std::string screen;
  const bool done = term.WaitFor(
      [](const std::string& s) {
        const std::string left = Columns(s, 0, 34), right = Columns(s, 34, 68);
        return PaneFinished(left, 61) && PaneFinished(right, 62) && Has(left, " last: ") &&
               Has(right, " last: ");
      },
      120s, screen);
  ASSERT_TRUE(done) << screen;
  for (const std::string& pane : {Columns(screen, 0, 34), Columns(screen, 34, 68)}) {
    EXPECT_TRUE(Has(pane, "FLASHING AMSS")) << pane;
    EXPECT_TRUE(Has(pane, "Reset")) << pane;
    EXPECT_FALSE(Has(pane, "-.ERROR")) << pane;
    // The history's word on the port, on the lower edge of its frame.
    EXPECT_TRUE(Has(pane, " last: OK ")) << pane;
  }
  EXPECT_TRUE(Has(screen, "TR52 station | c: configuration  q: quit")) << screen;

  // 2. c opens the configuration dialog; a typed path and Enter (OK) save it.
  term.Keys("c");
  ASSERT_TRUE(term.WaitFor(
      [](const std::string& s) { return Has(s, "Download Configuration") && Has(s, "BIN(dz)"); },
      10s, screen))
      << screen;
  EXPECT_TRUE(Has(screen, package)) << "the dialog shows the saved path\n" << screen;
  term.Keys("C-u");
  term.Text("/data/fw/TR52_NEXT.dz");
  term.Keys("Enter");
  ASSERT_TRUE(term.WaitFor([](const std::string& s) { return !Has(s, "Download Configuration"); },
                           10s, screen))
      << screen;
  EXPECT_TRUE(Has(ReadText(folder / "ZUDP2.ini"), "PATH_BIN=/data/fw/TR52_NEXT.dz"))
      << ReadText(folder / "ZUDP2.ini");

  // 3. A path too long for the settings file: the plug-in's warning comes as a message box
  //    over the dialog, Enter answers it, and the dialog ends as OK ends it.
  const std::string longPath = "/data/" + std::string(300, 'x') + ".dz";
  term.Keys("c");
  ASSERT_TRUE(term.WaitFor([](const std::string& s) { return Has(s, "Download Configuration"); },
                           10s, screen))
      << screen;
  term.Keys("C-u");
  term.Text(longPath);
  term.Keys("Enter");
  ASSERT_TRUE(term.WaitFor(
      [](const std::string& s) { return Has(s, "WARNING:Too long data") && Has(s, "[ OK ]"); }, 10s,
      screen))
      << screen;
  term.Keys("Enter");
  ASSERT_TRUE(term.WaitFor(
      [](const std::string& s) {
        return !Has(s, "WARNING:Too long data") && !Has(s, "Download Configuration");
      },
      10s, screen))
      << screen;
  EXPECT_TRUE(Has(ReadText(folder / "ZUDP2.ini"), "PATH_BIN=" + longPath));

  // 4. Again, now through "...": the file-open dialog lists folders and packages only; the
  //    package picked by its name comes back into the edit, and OK saves it.
  term.Keys("c");
  ASSERT_TRUE(term.WaitFor([](const std::string& s) { return Has(s, "Download Configuration"); },
                           10s, screen))
      << screen;
  term.Keys("Tab");
  term.Keys("Enter");
  ASSERT_TRUE(term.WaitFor([](const std::string& s) { return Has(s, "Open: Binary Image (*.dz)"); },
                           10s, screen))
      << screen;
  EXPECT_TRUE(Has(screen, "older/")) << screen;
  EXPECT_TRUE(Has(screen, "TR52_TEST.dz")) << screen;
  EXPECT_FALSE(Has(screen, "notes.txt")) << screen;
  term.Text("TR52_TEST.dz");
  term.Keys("Enter");
  ASSERT_TRUE(
      term.WaitFor([&](const std::string& s) { return !Has(s, "Open: Binary") && Has(s, package); },
                   10s, screen))
      << screen;
  term.Keys("Tab");    // from "..." to OK
  term.Keys("Enter");  // OK
  ASSERT_TRUE(term.WaitFor([](const std::string& s) { return !Has(s, "Download Configuration"); },
                           10s, screen))
      << screen;
  EXPECT_TRUE(Has(ReadText(folder / "ZUDP2.ini"), "PATH_BIN=" + package))
      << ReadText(folder / "ZUDP2.ini");

  // 5. q leaves (nothing runs any more); the terminal is given back with the run's summary.
  term.Keys("q");
  ASSERT_TRUE(
      term.WaitFor([](const std::string& s) { return Has(s, "STATION-EXIT="); }, 20s, screen))
      << screen;
  EXPECT_TRUE(Has(screen, "summary: 2 of 2 port(s) succeeded")) << screen;
  EXPECT_TRUE(Has(screen, "STATION-EXIT=0")) << screen;
  EXPECT_FALSE(Has(screen, "TR52 station | c:")) << "the screen was not given back\n" << screen;
}

// Every way out of the full screen, in a terminal of tmux: Ctrl-C during a download lets it
// finish and the run ends as it would have; SIGHUP, SIGQUIT, SIGTERM with the configuration
// dialog open and the time limit with it open all end the station without anyone closing a box.
// Each time the terminal comes back with its settings as they were (stty) and the lines said
// while the screen was up.
TEST(StationScreen, EveryWayOutGivesTheTerminalBackAsItWas) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed: no terminal to drive the station in";
  ASSERT_TRUE(fs::exists(BinDir() / "TR52_091117_MP.so")) << "plug-in module not built";
  enum class Before { kIdle, kDownloading, kConfigKey, kConfigShown };
  struct Row {
    const char* name;
    std::string args;
    Before before;     // what is on when the stop comes
    std::string stop;  // keys for tmux (C-c) or a signal for kill (HUP, QUIT, TERM); empty: none
    int status;
    std::vector<std::string> shown;  // on the terminal afterwards (the screen's footer shows
                                     // only the latest line: these come from the replay)
  };
  const std::vector<Row> rows = {
      {"Ctrl-C during a download",
       "--ports 63 --time-scale 20 --poll-ms 50",
       Before::kDownloading,
       "C-c",
       0,
       {"interrupted (SIGINT): no new phones are taken",
        "waiting for COM63 to finish; Ctrl-C again to leave them", "COM63 | RESULT OK",
        "summary: 1 of 1 port(s) succeeded"}},
      {"SIGHUP",
       "--ports 63 --poll-ms 50",
       Before::kIdle,
       "HUP",
       0,
       {"loaded plug-in", "interrupted (SIGHUP)"}},
      {"SIGQUIT",
       "--ports 63 --poll-ms 50",
       Before::kIdle,
       "QUIT",
       128 + SIGQUIT,
       {"loaded plug-in"}},
      {"SIGTERM with the configuration dialog open",
       "--ports 63 --poll-ms 50",
       Before::kConfigKey,
       "TERM",
       0,
       {"interrupted (SIGTERM)"}},
      {"the time limit with the configuration dialog open",
       "--config --timeout 8",
       Before::kConfigShown,
       "",
       3,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const StationFolder station;
    const fs::path& folder = station.folder;
    const std::string& ports = station.ports;
    const std::string& package = station.package;
    std::unique_ptr<vphone::VirtualPhone> phone;
    if (row.before == Before::kDownloading) {
      vphone::PhoneOptions options;
      options.com = 63;
      options.rebootDelayMs = 500;
      options.scenario = vphone::ParseScenario("dload.comm_mode = 1\ndload.param_flags = 0\n");
      phone = std::make_unique<vphone::VirtualPhone>(options);
      std::string error;
      ASSERT_TRUE(phone->Start(&error)) << error;
    }

    // The shell runs the station as a job of its own (set -m), as a login shell would: the
    // terminal's Ctrl-C reaches the station only.
    const std::string run = "env TR52_PORT_TABLE=" + Quoted(ports) +
                            " LD_LIBRARY_PATH=" + Quoted(BinDir().string()) +
                            " XDG_STATE_HOME=" + Quoted((folder / "state").string()) +
                            " LANG=C.UTF-8 LC_ALL=C.UTF-8 ./station --plugin " +
                            Quoted((BinDir() / "TR52_091117_MP.so").string()) + " --package " +
                            Quoted(package) + " " + row.args;
    const std::string command = "set -m; ulimit -c 0; stty -g > stty-before; sh -c " +
                                Quoted("echo $$ > station.pid; exec " + run) +
                                "; echo STATION-EXIT=$?; stty -g > stty-after; sleep 600";
    Terminal term((folder / "tmux.sock").string(), folder.string(), command);
    ASSERT_TRUE(term.Started());

    std::string screen;
    switch (row.before) {
      case Before::kIdle:
        // The screen's header is up before the plug-in loads; the port's pane comes once the
        // station serves, after "loaded plug-in" was said.
        ASSERT_TRUE(term.WaitFor(
            [](const std::string& s) {
              return Has(s, "TR52 station | c: configuration") && Has(Columns(s, 0, 34), "COM63");
            },
            30s, screen))
            << screen;
        break;
      case Before::kDownloading:
        // The pane lists the phone's model: the download is under way, with seconds to go.
        ASSERT_TRUE(term.WaitFor(
            [](const std::string& s) {
              const std::string pane = Columns(s, 0, 34);
              return Has(pane, "COM 63") && Has(pane, "1.TR52");
            },
            60s, screen))
            << screen;
        break;
      case Before::kConfigKey:
        ASSERT_TRUE(term.WaitFor(
            [](const std::string& s) { return Has(s, "TR52 station | c: configuration"); }, 30s,
            screen))
            << screen;
        term.Keys("c");
        [[fallthrough]];
      case Before::kConfigShown:
        ASSERT_TRUE(term.WaitFor(
            [](const std::string& s) { return Has(s, "Download Configuration"); }, 30s, screen))
            << screen;
        break;
    }
    if (row.stop == "C-c") {
      term.Keys("C-c");
    } else if (!row.stop.empty()) {
      const pid_t pid = std::atoi(ReadText(folder / "station.pid").c_str());
      ASSERT_GT(pid, 0);
      ASSERT_EQ(Shell("kill -" + row.stop + " " + std::to_string(pid)), std::string());
    }
    ASSERT_TRUE(
        term.WaitFor([](const std::string& s) { return Has(s, "STATION-EXIT="); }, 60s, screen))
        << screen;
    EXPECT_TRUE(Has(screen, "STATION-EXIT=" + std::to_string(row.status) + "\n")) << screen;
    for (const auto& text : row.shown) EXPECT_TRUE(Has(screen, text)) << text << "\n" << screen;
    EXPECT_FALSE(Has(screen, "TR52 station | ")) << "the screen was not given back\n" << screen;
    ASSERT_TRUE(term.WaitFor(
        [&](const std::string&) { return !ReadText(folder / "stty-after").empty(); }, 10s, screen));
    const std::string before = ReadText(folder / "stty-before");
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(ReadText(folder / "stty-after"), before);
  }
}

}  // namespace
