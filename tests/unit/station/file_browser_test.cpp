// The terminal's file-open dialog without its screen: the filter, what a folder lists, and
// what opening an entry or typing a name chooses.
#include "terminal/file_browser.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace station {
namespace {

namespace fs = std::filesystem;

const char kPackageFilter[] = "Binary Image (*.dz)|*.dz||";

TEST(FileBrowser, FilterTextGivesItsPatterns) {
  struct Case {
    const char* filter;
    std::vector<std::string> descriptions;
    std::vector<std::vector<std::string>> patterns;
  };
  const std::vector<Case> cases = {
      {kPackageFilter, {"Binary Image (*.dz)"}, {{"*.dz"}}},
      {"Packages|*.dz;*.bin|All|*.*||", {"Packages", "All"}, {{"*.dz", "*.bin"}, {"*.*"}}},
      {"Packages|*.dz", {"Packages"}, {{"*.dz"}}},  // no closing bars
      {"", {}, {}},
      {"Only a description", {}, {}},
      {"Empty patterns| ; ||", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    const auto filters = ParseFileFilter(c.filter);
    ASSERT_EQ(filters.size(), c.descriptions.size());
    for (size_t i = 0; i < filters.size(); ++i) {
      EXPECT_EQ(filters[i].description, c.descriptions[i]);
      EXPECT_EQ(filters[i].patterns, c.patterns[i]);
    }
  }
}

TEST(FileBrowser, NamesThroughThePackageFilter) {
  const auto filters = ParseFileFilter(kPackageFilter);
  struct Case {
    const char* name;
    bool passes;
  };
  for (const Case& c : std::vector<Case>{{"TR52.dz", true},
                                         {"TR52.DZ", true},
                                         {"a.b.dz", true},
                                         {"TR52.dz.txt", false},
                                         {"TR52dz", false},
                                         {"TR52.bin", false},
                                         {"dz", false}}) {
    EXPECT_EQ(MatchesFilter(c.name, filters), c.passes) << c.name;
  }
  EXPECT_TRUE(MatchesFilter("anything.txt", {}));
  EXPECT_TRUE(MatchesFilter("anything.txt", ParseFileFilter("All|*.*||")));
}

// A folder with every kind of entry the dialog must sort out.
class Tree {
 public:
  Tree() {
    fs::create_directories(Path("firmware/old"));
    fs::create_directories(Path("Zeta"));
    fs::create_directories(Path(".hidden_dir"));
    for (const char* f : {"TR52_V20.dz", "backup.DZ", "notes.txt", "TR52.dz.part", ".secret.dz",
                          "firmware/inner.dz"})
      std::ofstream(Path(f)) << "x";
    fs::create_symlink(Path("TR52_V20.dz"), Path("link_to.dz"));
    fs::create_symlink(Path("firmware"), Path("link_dir"));
    fs::create_symlink(Path("missing.dz"), Path("dangling.dz"));
    mkfifo(Path("pipe.dz").c_str(), 0600);
    fs::create_directories(Path("folder.dz"));
  }
  std::string Path(const std::string& name) const { return dir_.File(name); }
  std::string Root() const { return dir_.Path(); }

 private:
  tr52test::TempDir dir_;
};

std::vector<BrowserEntry> E(std::initializer_list<std::pair<const char*, bool>> items) {
  std::vector<BrowserEntry> v;
  for (const auto& [name, folder] : items) v.push_back({name, folder});
  return v;
}

TEST(FileBrowser, ListsOnlyFoldersAndPackages) {
  Tree tree;
  std::string error;
  const auto entries = ListFolder(tree.Root(), ParseFileFilter(kPackageFilter), error);
  EXPECT_EQ(error, "");
  // Folders first (a link to a folder is one, and so is a folder named like a package), then
  // packages and links to packages; no text file, partial download, FIFO, dangling link or
  // hidden entry.
  EXPECT_EQ(entries, E({{"..", true},
                        {"Zeta", true},
                        {"firmware", true},
                        {"folder.dz", true},
                        {"link_dir", true},
                        {"TR52_V20.dz", false},
                        {"backup.DZ", false},
                        {"link_to.dz", false}}));

  const auto root = ListFolder("/", {}, error);
  ASSERT_FALSE(root.empty());
  EXPECT_NE(root.front().name, "..") << "the root has no parent entry";

  const auto missing = ListFolder(tree.Path("nowhere"), {}, error);
  EXPECT_NE(error, "");
  EXPECT_EQ(missing, E({{"..", true}}));
}

TEST(FileBrowser, OpeningAndTypingChooseAPathOrChangeTheFolder) {
  Tree tree;
  const std::string root = tree.Root();
  struct Step {
    enum { kOpen, kType } kind;
    std::string what;  // the entry's name to open, or the text typed
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::string folderAfter;
    std::optional<std::string> chosen;  // from the last step
  };
  const std::vector<Case> cases = {
      {"a listed package", {{Step::kOpen, "TR52_V20.dz"}}, root, root + "/TR52_V20.dz"},
      {"into a folder, then its package",
       {{Step::kOpen, "firmware"}, {Step::kOpen, "inner.dz"}},
       root + "/firmware",
       root + "/firmware/inner.dz"},
      {"into a folder and up again",
       {{Step::kOpen, "firmware"}, {Step::kOpen, ".."}},
       root,
       std::nullopt},
      {"a typed name in the current folder",
       {{Step::kType, "TR52_V20.dz"}},
       root,
       root + "/TR52_V20.dz"},
      {"a typed absolute path, existing or not",
       {{Step::kType, "/data/fw/TR52_NEW.dz"}},
       root,
       "/data/fw/TR52_NEW.dz"},
      {"a typed name without extension gets the default one",
       {{Step::kType, "TR52"}},
       root,
       root + "/TR52.bin"},
      {"a typed folder is entered",
       {{Step::kType, "firmware/old/"}},
       root + "/firmware/old",
       std::nullopt},
      {"a typed relative path is tidied",
       {{Step::kType, "firmware/../backup.DZ"}},
       root,
       root + "/backup.DZ"},
      {"blank text does nothing", {{Step::kType, "   "}}, root, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileBrowser browser(root, ParseFileFilter(kPackageFilter), "bin");
    std::optional<std::string> chosen;
    for (const Step& s : c.steps) {
      if (s.kind == Step::kType) {
        chosen = browser.Accept(s.what);
        continue;
      }
      const auto& entries = browser.Entries();
      const auto at = std::find_if(entries.begin(), entries.end(),
                                   [&](const BrowserEntry& e) { return e.name == s.what; });
      ASSERT_NE(at, entries.end()) << s.what;
      chosen = browser.Open(static_cast<size_t>(at - entries.begin()));
    }
    EXPECT_EQ(browser.Folder().string(), c.folderAfter);
    EXPECT_EQ(chosen, c.chosen);
  }
}

}  // namespace
}  // namespace station
