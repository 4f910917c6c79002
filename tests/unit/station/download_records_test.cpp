// The station's reading of the plug-in's download records: only its own, only what was appended
// since it last looked, and never a line that is not whole yet.
#include "core/download_records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "support/temp_dir.h"

namespace station {
namespace {

std::string Line(unsigned pid, int com, const std::string& model) {
  tr52::DownloadRecord r;
  r.hostPid = pid;
  r.com = com;
  r.facts.model = model;
  return tr52::DownloadRecordLine(r);
}

void Append(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

std::optional<std::string> ModelOf(const std::optional<tr52::DownloadRecord>& record) {
  return record ? record->facts.model : std::optional<std::string>("<no record>");
}

TEST(DownloadRecordFeed, TakesOnlyItsOwnRecordsAppendedSinceItStarted) {
  tr52test::TempDir dir;
  const std::string path = dir.File("station_downloads.jsonl");
  const unsigned me = 500, other = 501;
  // Earlier runs: never read, even by a station that happens to get the same process id.
  Append(path, Line(me, 5, "earlier run") + Line(other, 6, "other station"));
  DownloadRecordFeed feed(path, me);
  EXPECT_FALSE(feed.Take(5).has_value());

  // Its own records, among another station's, a damaged line and a line still being written.
  const std::string last = Line(me, 6, "COM6 second");
  Append(path, Line(me, 5, "COM5") + Line(other, 5, "not mine") + "{broken\n" +
                   Line(me, 6, "COM6 first") + last.substr(0, 40));
  struct Step {
    const char* what;
    int com;
    std::optional<std::string> model;
  };
  const Step steps[] = {
      {"own record", 5, "COM5"},
      {"taken once", 5, "<no record>"},
      {"the last whole line of the port", 6, "COM6 first"},
  };
  for (const Step& s : steps) EXPECT_EQ(ModelOf(feed.Take(s.com)), s.model) << s.what;
  Append(path, last.substr(40));
  EXPECT_EQ(ModelOf(feed.Take(6)), "COM6 second") << "the rest of the line arrived";

  // A record file made anew is read from its start.
  ASSERT_EQ(std::rename(path.c_str(), dir.File("old.jsonl").c_str()), 0);
  Append(path, Line(me, 7, "new file"));
  EXPECT_EQ(ModelOf(feed.Take(7)), "new file");
}

}  // namespace
}  // namespace station
