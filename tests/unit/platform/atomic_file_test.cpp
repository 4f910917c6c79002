#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(ReplaceFileAtomically, ReplacesWholeKeepsModeAndLeavesNoTemporaryFile) {
  tr52test::TempDir dir;
  const std::string path = dir.File(std::string(250, 'n'));  // "<name>.<pid>.tmp" passes 255
  ASSERT_FALSE(dir.Path().empty());
  std::string error;
  ASSERT_TRUE(tr52::ReplaceFileAtomically(path, "first\n", error, 0600)) << error;
  EXPECT_EQ(Slurp(path), "first\n");
  EXPECT_EQ(ModeOf(path), 0600u);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(tr52::ReplaceFileAtomically(path, std::string(100000, 'x'), error)) << error;
  EXPECT_EQ(Slurp(path), std::string(100000, 'x'));
  EXPECT_EQ(ModeOf(path), 0640u) << "a replaced file keeps its permissions";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(ReplaceFileAtomically, AFailureLeavesTheOldFileAndSaysWhy) {
  tr52test::TempDir dir;
  std::ofstream(dir.File("file")) << "old";
  fs::create_directory(dir.File("folder"));
  std::ofstream(dir.File("folder/inside")) << "kept";
  struct Row {
    std::string path;
    std::string why;  // part of the error
  };
  const Row rows[] = {
      {dir.File("missing/x"), "cannot create a temporary file in " + dir.File("missing")},
      {dir.File("file/x"), "Not a directory"},
      {dir.File("folder"), "cannot replace " + dir.File("folder")},  // a folder is not replaced
  };
  for (const Row& row : rows) {
    std::string error;
    EXPECT_FALSE(tr52::ReplaceFileAtomically(row.path, "new", error)) << row.path;
    EXPECT_NE(error.find(row.why), std::string::npos) << error;
  }
  EXPECT_EQ(Slurp(dir.File("file")), "old");
  EXPECT_EQ(Slurp(dir.File("folder/inside")), "kept");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

}  // namespace
