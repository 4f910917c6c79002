// Each program's man page and its --help name the same options: one cannot gain an option the
// other does not explain.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path BinDir() {
  return fs::read_symlink("/proc/self/exe").parent_path();
}

std::string HelpOf(const std::string& program) {
  std::string text;
  const std::string command = "'" + (BinDir() / program).string() + "' --help 2>&1";
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << program << " --help failed:\n" << text;
  }
  return text;
}

// The built page with its font changes and escapes taken out, so that "\fB--ports\fR" reads
// "--ports", and without its EXAMPLES section (which also shows other programs' options).
std::string PageOf(const std::string& program) {
  std::ifstream in(BinDir().parent_path() / "man" / (program + ".1"));
  std::ostringstream page;
  page << in.rdbuf();
  std::string text = page.str();
  if (const size_t examples = text.find(".SH EXAMPLES"); examples != std::string::npos)
    text.erase(examples, text.find(".SH ", examples + 1) - examples);
  return std::regex_replace(std::regex_replace(text, std::regex(R"(\\f[BIRP]|\\&)"), ""),
                            std::regex(R"(\\-)"), "-");
}

// "--name" and "-x" tokens that start a word (so "plug-in" and "7-9" are none).
std::set<std::string> OptionsIn(const std::string& text) {
  static const std::regex option(R"((^|[^A-Za-z0-9_-])(--?[a-z][a-z0-9-]*))");
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
    found.insert((*it)[2]);
  return found;
}

std::string Missing(const std::set<std::string>& from, const std::set<std::string>& in) {
  std::string missing;
  for (const auto& o : from)
    if (!in.count(o)) missing += " " + o;
  return missing;
}

TEST(ManPages, NameTheSameOptionsAsTheProgramsHelp) {
  for (const char* program : {"station", "dztool", "vphone", "progress_png"}) {
    const auto help = OptionsIn(HelpOf(program));
    const auto page = OptionsIn(PageOf(program));
    EXPECT_GE(help.size(), 2u) << program << ": no options found in --help";
    EXPECT_EQ(Missing(help, page), "") << program << ": in --help, not in the man page";
    EXPECT_EQ(Missing(page, help), "") << program << ": in the man page, not in --help";
  }
}

}  // namespace
