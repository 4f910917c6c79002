#include "base/process_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/process_info.h"
#include "support/temp_dir.h"

using tr52::LogTarget;
using tr52::ProcessLog;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    out.push_back(text.substr(start, end - start));
  return out;
}

// Each test routes Log() to a log of its own, opened on its own file.
class ProcessLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("host_log.txt");
    log_.Open(path_);
    ASSERT_TRUE(log_.IsOpen());
  }
  std::string Text() const { return Slurp(path_); }
  tr52test::TempDir dir_;
  std::string path_;
  ProcessLog log_;
  const LogTarget route_{log_};
};

// Checks `text` against a pattern in which '#' stands for a digit and every other character
// for itself.
bool Matches(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (pattern[i] == '#' ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
      return false;
  }
  return true;
}

// "[hh:mm:ss:mmm]  : " at the start of a line.
bool HasStamp(const std::string& line) {
  return line.size() >= 18 && Matches(line.substr(0, 18), "[##:##:##:###]  : ");
}

}  // namespace

TEST(ProcessLogPath, ComesFromTheFileNameOnly) {
  EXPECT_EQ(ProcessLog::LogPathFor("/opt/app.d/host"), "/opt/app.d/host_log.txt");
  EXPECT_EQ(ProcessLog::LogPathFor("/x/Host.exe"), "/x/Host_log.txt");
  EXPECT_EQ(ProcessLog::LogPathFor("/x/a.b.c"), "/x/a.b_log.txt");
  EXPECT_EQ(ProcessLog::LogPathFor("station"), "station_log.txt");
  tr52test::TempDir dir;
  std::filesystem::create_directory(dir.File("v1.2"));
  tr52::SetExecutablePathOverride(dir.File("v1.2/station"));
  EXPECT_EQ(ProcessLog::DefaultPath(), dir.File("v1.2/station_log.txt"));
  tr52::SetExecutablePathOverride("");
}

TEST_F(ProcessLogTest, HeaderHasThreeLinesInOrder) {
  const auto lines = Lines(Text());
  ASSERT_GE(lines.size(), 5u);  // the second header line holds two line breaks of its own
  EXPECT_TRUE(HasStamp(lines[0]));
  EXPECT_EQ(lines[0].substr(18), "=============================================");
  EXPECT_TRUE(Matches(lines[1].substr(18), "Log is started on ##.##.####, at ##:##:##:###, "))
      << lines[1];
  char exe[512];
  snprintf(exe, sizeof exe, "executable: %s (ProcID: 0x%08x), ", tr52::ExecutablePath().c_str(),
           tr52::ProcessId());
  EXPECT_EQ(lines[2], exe);
  // "compile time : Nov 17 2009 09:04:15"
  ASSERT_EQ(lines[3].size(), 35u);
  EXPECT_EQ(lines[3].substr(0, 15), "compile time : ");
  EXPECT_TRUE(Matches(lines[3].substr(18), " ## #### ##:##:##") ||
              Matches(lines[3].substr(18), "  # #### ##:##:##"))
      << lines[3];
  EXPECT_TRUE(HasStamp(lines[4]));
  EXPECT_EQ(lines[4].substr(18, 9), "Version :");
}

TEST_F(ProcessLogTest, LineLayoutAndFinishFooter) {
  EXPECT_EQ(tr52::Log("[COM%d] >>Change Dload Mode [DIAG_DLOAD_F]", 4), 0);
  log_.Finish();
  EXPECT_FALSE(log_.IsOpen());
  EXPECT_EQ(tr52::Log("after the end"), 0);  // dropped, not an error
  const auto lines = Lines(Text());
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_TRUE(HasStamp(lines[5]));
  EXPECT_EQ(lines[5].substr(18), "[COM4] >>Change Dload Mode [DIAG_DLOAD_F]");
  EXPECT_EQ(lines[6].substr(18), "Log finished");
  EXPECT_EQ(Text().find("after the end"), std::string::npos);
}

TEST_F(ProcessLogTest, MessageOf1004CharactersFillsExactly1024Bytes) {
  const std::string m1004(1004, 'm');
  const std::string m1005(1005, 'n');
  EXPECT_EQ(log_.Printf("%s", m1004.c_str()), 0);
  EXPECT_EQ(log_.Printf("%s", m1005.c_str()), -1);
  EXPECT_EQ(log_.Printf("%s", std::string(1024, 'o').c_str()), -1);
  EXPECT_EQ(log_.Printf("%s", std::string(5000, 'p').c_str()), -1);
  const std::string text = Text();
  const size_t at = text.find(m1004);
  ASSERT_NE(at, std::string::npos);
  const size_t lineStart = text.rfind("\r\n", at) + 2;
  const size_t lineEnd = text.find("\r\n", at) + 2;
  EXPECT_EQ(lineEnd - lineStart, 1024u);
  EXPECT_EQ(text.find("nnnn"), std::string::npos);
  EXPECT_EQ(text.find("ooo"), std::string::npos);
}

TEST_F(ProcessLogTest, KoreanTextIsWrittenAsCodePage949) {
  EXPECT_EQ(tr52::Log("[COM%d] WM_COPYDATA 메시지 보냄 %d - %s", 3, 0, "Load Bin"), 0);
  const std::string expected = std::string("[COM3] WM_COPYDATA ") +
                               "\xB8\xDE\xBD\xC3\xC1\xF6\x20\xBA\xB8\xB3\xBF" + " 0 - Load Bin";
  EXPECT_NE(Text().find(expected), std::string::npos);
  EXPECT_EQ(Text().find("메시지"), std::string::npos);
}

TEST_F(ProcessLogTest, LimitCountsTheConvertedBytes) {
  // 400 Korean characters: 1200 bytes as UTF-8 but 800 as written.
  std::string korean;
  for (int i = 0; i < 400; ++i) korean += "메";
  EXPECT_EQ(tr52::Log("%s", korean.c_str()), 0);
  std::string written;
  for (int i = 0; i < 400; ++i) written += "\xB8\xDE";
  EXPECT_NE(Text().find(written + "\r\n"), std::string::npos);
  std::string tooLong;
  for (int i = 0; i < 600; ++i) tooLong += "메";  // 1200 bytes written: too long
  EXPECT_EQ(tr52::Log("%s", tooLong.c_str()), -1);
}

TEST_F(ProcessLogTest, PhoneBytesThatAreNotUtf8AreWrittenUnchanged) {
  EXPECT_EQ(tr52::Log("model %s", "\xC1\xFE\xFF"), 0);
  EXPECT_NE(Text().find("model \xC1\xFE\xFF"), std::string::npos);
}

TEST_F(ProcessLogTest, TwoThreadsNeverMixALine) {
  constexpr int kLines = 2000;
  const std::string a(120, 'A');
  const std::string b(120, 'B');
  std::thread ta([&] {
    for (int i = 0; i < kLines; ++i) tr52::Log("%s", a.c_str());
  });
  std::thread tb([&] {
    for (int i = 0; i < kLines; ++i) tr52::Log("%s", b.c_str());
  });
  ta.join();
  tb.join();
  int countA = 0, countB = 0;
  const auto lines = Lines(Text());
  for (size_t i = 5; i < lines.size(); ++i) {
    ASSERT_TRUE(HasStamp(lines[i])) << lines[i];
    const std::string body = lines[i].substr(18);
    if (body == a)
      ++countA;
    else if (body == b)
      ++countB;
    else
      FAIL() << "mixed line: " << lines[i];
  }
  EXPECT_EQ(countA, kLines);
  EXPECT_EQ(countB, kLines);
}

TEST(ProcessLogFile, OpeningEmptiesAnEarlierLog) {
  ProcessLog log;
  const LogTarget route(log);
  tr52test::TempDir dir;
  const std::string path = dir.File("Host_log.txt");
  std::ofstream(path) << "line of an earlier run\r\n";
  log.Open(path);
  tr52::Log("new run");
  log.Finish();
  const std::string text = Slurp(path);
  EXPECT_EQ(text.find("earlier run"), std::string::npos);
  EXPECT_NE(text.find("new run"), std::string::npos);
}

// Log() writes to the newest living route and drops lines with none, whatever order the routes
// end in.
TEST(LogRoute, LinesGoToTheNewestLivingRoute) {
  tr52test::TempDir dir;
  EXPECT_EQ(tr52::Log("nowhere"), 0);
  ProcessLog outer;
  ProcessLog inner;
  outer.Open(dir.File("outer_log.txt"));
  inner.Open(dir.File("inner_log.txt"));
  auto outerRoute = std::make_unique<LogTarget>(outer);
  tr52::Log("to outer");
  {
    const LogTarget innerRoute(inner);
    tr52::Log("to inner");
    EXPECT_EQ(tr52::CurrentLogPath(), dir.File("inner_log.txt"));
  }
  tr52::Log("outer again");
  auto late = std::make_unique<LogTarget>(inner);
  outerRoute.reset();  // ends out of order: the later route stays
  tr52::Log("inner stays");
  late.reset();
  tr52::Log("nowhere either");
  outer.Finish();
  inner.Finish();
  const std::string o = Slurp(dir.File("outer_log.txt"));
  const std::string i = Slurp(dir.File("inner_log.txt"));
  for (const char* line : {"to outer", "outer again"}) EXPECT_NE(o.find(line), std::string::npos);
  for (const char* line : {"to inner", "inner stays"}) EXPECT_NE(i.find(line), std::string::npos);
  for (const char* line : {"nowhere", "to inner", "inner stays"})
    EXPECT_EQ(o.find(line), std::string::npos) << line;
  EXPECT_EQ(i.find("outer"), std::string::npos);
}

// A lasting note is written when it appears and again only after a look of its scope went
// without it; notes of another scope are neither written nor forgotten; a new log (a module
// loaded again) is told every condition that still holds.
TEST_F(ProcessLogTest, LastingNotesAreWrittenWhenTheyAppear) {
  const std::string a = "COM map: folder /x cannot be made", b = "Port table: skipped COM5.port";
  const struct {
    std::vector<std::string> notes;
    std::string scope;
    std::vector<std::string> written;
  } looks[] = {
      {{a, b}, "COM map", {a}}, {{a, a}, "COM map", {}}, {{b}, "Port table", {b}},
      {{}, "COM map", {}},  // a went away; b, of another scope, is still remembered
      {{a, b}, "", {a}},
  };
  for (const auto& look : looks) {
    const size_t from = Lines(Text()).size();
    tr52::LogLastingNotes(look.notes, look.scope);
    const std::vector<std::string> lines = Lines(Text());
    std::vector<std::string> written;
    for (size_t i = from; i < lines.size(); ++i) written.push_back(lines[i].substr(18));
    EXPECT_EQ(written, look.written) << "scope '" << look.scope << "'";
  }
  ProcessLog fresh;  // the log of a module loaded again
  fresh.Open(dir_.File("fresh_log.txt"));
  const LogTarget route(fresh);
  tr52::LogLastingNotes({a}, "COM map");
  EXPECT_NE(Slurp(dir_.File("fresh_log.txt")).find(a), std::string::npos);
}

// Stands in for the process clock: time moves only when a test moves it.
class ManualClock : public tr52::Clock {
 public:
  uint64_t NowMs() override { return now; }
  void SleepMs(uint64_t ms) override { now += ms; }
  uint64_t now = 0;
};

// A log file that cannot be created is said once on standard error; lines are dropped, and a
// line at least a second after the last try tries again (never more often, whatever the number
// of lines). The file created late says how many lines were lost, and starts the viewer once.
TEST(ProcessLogFile, CreationIsRetriedAtALineAtMostOnceASecond) {
  ProcessLog log;
  const LogTarget route(log);
  tr52test::TempDir dir;
  const std::string folder = dir.File("logs");
  const std::string path = folder + "/host_log.txt";
  const std::string viewer = dir.File("Tail");  // beside the host: started only with a log
  std::ofstream(viewer) << "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/viewer_runs\"\n";
  chmod(viewer.c_str(), 0755);
  tr52::SetExecutablePathOverride(dir.File("host"));
  ManualClock clock;
  tr52::SetClock(&clock);
  ::testing::internal::CaptureStderr();
  log.Open(path);  // at 0 ms: no such folder
  struct Step {
    uint64_t atMs;
    bool folderThere;  // the folder exists from this step on
    bool open;         // the log is open after this step's line
  };
  const Step steps[] = {
      {0, false, false},     // too soon after the failure
      {1000, false, false},  // tried again, in vain
      {1500, true, false},   // would work now, but the last try was half a second ago
      {1999, true, false},  {2000, true, true},  // a second after the last try: created
      {2001, true, true},
  };
  for (const Step& step : steps) {
    clock.now = step.atMs;
    if (step.folderThere) std::filesystem::create_directories(folder);
    const std::string line = "line at " + std::to_string(step.atMs);
    EXPECT_EQ(log.Printf("%s", line.c_str()), 0);
    EXPECT_EQ(log.IsOpen(), step.open) << line;
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  log.Finish();
  tr52::SetClock(nullptr);
  tr52::SetExecutablePathOverride("");
  EXPECT_EQ(err, "tr52: cannot create the log file " + path + ": No such file or directory\n");
  const auto lines = Lines(Slurp(path));
  ASSERT_EQ(lines.size(), 9u) << Slurp(path);
  EXPECT_EQ(lines[5].substr(18), "4 lines were lost while the log file could not be created");
  EXPECT_EQ(lines[6].substr(18), "line at 2000");
  EXPECT_EQ(lines[7].substr(18), "line at 2001");
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(dir.File("viewer_runs")) &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Slurp(dir.File("viewer_runs")), path + "\n");
}

// The viewer comes from beside the host executable, never from the working directory (where
// anyone who can write there could place a program of that name).
class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldCwd_ = std::filesystem::current_path();
    std::filesystem::create_directories(hostDir_);
    std::filesystem::create_directories(workDir_);
    std::filesystem::current_path(workDir_);
    tr52::SetExecutablePathOverride(hostDir_ + "/host");
  }
  void TearDown() override {
    log_.Finish();
    tr52::SetExecutablePathOverride("");
    std::filesystem::current_path(oldCwd_);
  }
  // A viewer that records the path it was given in "viewer_ran" of its own folder.
  static void PlaceViewer(const std::string& folder) {
    const std::string tail = folder + "/Tail";
    std::ofstream(tail) << "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/viewer.tmp\"\n"
                        << "mv \"$(dirname \"$0\")/viewer.tmp\" \"$(dirname \"$0\")/viewer_ran\"\n";
    chmod(tail.c_str(), 0755);
  }
  static bool AppearsWithin(const std::string& path, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!std::filesystem::exists(path) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return std::filesystem::exists(path);
  }
  tr52test::TempDir dir_;
  std::string hostDir_ = dir_.File("host");
  std::string workDir_ = dir_.File("work");
  std::filesystem::path oldCwd_;
  ProcessLog log_;
  const LogTarget route_{log_};
};

TEST_F(ViewerTest, MissingViewerIsNoProblem) {
  log_.Open(dir_.File("a_log.txt"));
  EXPECT_TRUE(log_.IsOpen());
  EXPECT_EQ(tr52::Log("still logging"), 0);
  EXPECT_NE(Slurp(dir_.File("a_log.txt")).find("still logging"), std::string::npos);
}

TEST_F(ViewerTest, ViewerBesideTheHostGetsTheLogPath) {
  PlaceViewer(hostDir_);
  const std::string log = dir_.File("b_log.txt");
  log_.Open(log);
  ASSERT_TRUE(AppearsWithin(hostDir_ + "/viewer_ran", 10000));
  EXPECT_EQ(Slurp(hostDir_ + "/viewer_ran"), log);
}

TEST_F(ViewerTest, ViewerInTheWorkingDirectoryIsNeverStarted) {
  PlaceViewer(workDir_);
  log_.Open(dir_.File("c_log.txt"));
  EXPECT_TRUE(log_.IsOpen());
  EXPECT_FALSE(AppearsWithin(workDir_ + "/viewer_ran", 1000));
}
