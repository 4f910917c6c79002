// Where a program's settings and logs go: beside it in a folder of its own, else in the user's
// folders.
#include "platform/program_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

TEST(ProgramFiles, BesideAnOwnFolderElseInTheUsersFolderOfItsKind) {
  const ProgramFileFacts own{true, "/home/u/.config", "/home/u/.local/state"};
  const ProgramFileFacts installed{false, "/home/u/.config", "/home/u/.local/state"};
  const ProgramFileFacts homeless{false, "", ""};
  struct Row {
    std::string beside;
    ProgramFileKind kind;
    const ProgramFileFacts& facts;
    std::string want;
  };
  const std::vector<Row> rows = {
      {"/opt/bin/ZUDP2.ini", ProgramFileKind::kSettings, own, "/opt/bin/ZUDP2.ini"},
      {"/opt/bin/station_log.txt", ProgramFileKind::kState, own, "/opt/bin/station_log.txt"},
      {"/usr/bin/ZUDP2.ini", ProgramFileKind::kSettings, installed,
       "/home/u/.config/tr52/ZUDP2.ini"},
      {"/usr/bin/station_log.txt", ProgramFileKind::kState, installed,
       "/home/u/.local/state/tr52/station_log.txt"},
      {"/usr/bin/ZUDP2.ini", ProgramFileKind::kSettings, homeless, "/usr/bin/ZUDP2.ini"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(PlaceProgramFile(row.beside, row.kind, row.facts), row.want) << row.beside;
}

TEST(ProgramFiles, FactsComeFromTheFolderAndTheEnvironment) {
  for (const char* folder : {"/usr/bin", "/usr/bin/", "/usr/local/bin", "/bin", "/usr/sbin"})
    EXPECT_TRUE(IsSystemProgramFolder(folder)) << folder;
  for (const char* folder : {"/opt/tr52/bin", "/usr/bin/tr52", "/home/u/bin", "/usr"})
    EXPECT_FALSE(IsSystemProgramFolder(folder)) << folder;

  struct Row {
    const char* home;
    const char* config;  // XDG_CONFIG_HOME (nullptr: unset)
    const char* state;   // XDG_STATE_HOME
    std::string wantConfig, wantState;
  };
  const std::vector<Row> rows = {
      {"/home/u", nullptr, nullptr, "/home/u/.config", "/home/u/.local/state"},
      {"/home/u/", "/cfg/", "/st", "/cfg", "/st"},
      {"/home/u", "relative", "", "/home/u/.config", "/home/u/.local/state"},  // not absolute
      {nullptr, nullptr, nullptr, "", ""},
  };
  tr52test::TempDir dir;
  for (const Row& row : rows) {
    tr52test::ScopedEnv home("HOME", row.home), config("XDG_CONFIG_HOME", row.config),
        state("XDG_STATE_HOME", row.state);
    const ProgramFileFacts facts = ProgramFileFactsFor(dir.Path());
    EXPECT_EQ(facts.configHome, row.wantConfig) << (row.home ? row.home : "(no HOME)");
    EXPECT_EQ(facts.stateHome, row.wantState) << (row.home ? row.home : "(no HOME)");
    EXPECT_TRUE(facts.ownFolder) << "a writable folder of its own";
  }

  // A program in a system folder gets its user's folder, made private on first use.
  tr52test::ScopedEnv state("XDG_STATE_HOME", dir.File("state"));
  EXPECT_EQ(ProgramFilePath("/usr/bin/station_log.txt", ProgramFileKind::kState),
            dir.File("state/tr52/station_log.txt"));
  struct stat st {};
  ASSERT_EQ(stat(dir.File("state/tr52").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace tr52
