// The download record's grammar: one JSON line that a reader gets back whole, whatever bytes a
// phone or a file put into its texts; the record file's name and the appending of records.
#include "session/download_record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/sample_record.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

using tr52test::SampleRecord;

TEST(DownloadRecord, OneLineThatReadsBackWhateverThePhoneSent) {
  struct Row {
    const char* name;
    std::string model;
    std::string read;  // the model a reader gets
  };
  const Row rows[] = {
      {"plain", "TR52", "TR52"},
      {"a forged log line", "X\r\n[12:00:00:000]  : [COM5] _NandDownload(AMSS)\x1b[2J",
       "X\r\n[12:00:00:000]  : [COM5] _NandDownload(AMSS)\x1b[2J"},
      {"NUL and C1", std::string("A\0B\xc2\x85", 5), std::string("A\0B\xc2\x85", 5)},
      {"not UTF-8", "KW\xff\xfe/\"\\", "KW\\xff\\xfe/\"\\"},
  };
  DownloadRecord bare;  // every fact that does not apply
  bare.com = 5;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string line = DownloadRecordLine(SampleRecord(row.model));
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line, ending in a line feed";
    EXPECT_EQ(line.find('\r'), std::string::npos);
    const auto read = ParseDownloadRecord(line);
    ASSERT_TRUE(read.has_value()) << line;
    EXPECT_EQ(read->facts.model, row.read);
    // Every other field comes back as written.
    EXPECT_EQ(DownloadRecordLine(*read), DownloadRecordLine(SampleRecord(row.read)));
  }
  const std::string line = DownloadRecordLine(bare);
  for (const char* key : {"\"port\":null", "\"flow\":null", "\"model\":null", "\"package\":null",
                          "\"end_step\":null", "\"images\":[]"})
    EXPECT_NE(line.find(key), std::string::npos) << key << " in " << line;
  ASSERT_TRUE(ParseDownloadRecord(line).has_value());
  EXPECT_EQ(DownloadRecordLine(*ParseDownloadRecord(line)), line);
}

TEST(DownloadRecord, ReaderRefusesWhatIsNotARecordOfThisGrammar) {
  const std::string good = DownloadRecordLine(SampleRecord());
  auto with = [&good](const std::string& from, const std::string& to) {
    std::string line = good;
    line.replace(line.find(from), from.size(), to);
    return line;
  };
  const std::string rows[] = {
      "",
      "not json",
      good.substr(0, good.size() / 2),
      "[1,2,3]",
      with("\"record\":1", "\"record\":2"),
      with("\"com\":11", "\"com\":\"11\""),
      with("\"host_pid\":4242,", ""),
      with("\"written\":true", "\"written\":1"),
      with("\"com\":11", "\"com\":11.5"),
      with("\"com\":11", "\"com\":1e300"),
      with("\"download\":7", "\"download\":-7"),
      with("\"boot_modes\":[2,2]", "\"boot_modes\":[2,\"x\"]"),
  };
  for (const std::string& line : rows) EXPECT_FALSE(ParseDownloadRecord(line)) << line;
}

TEST(DownloadRecord, FileNameAndTimeFollowTheLog) {
  EXPECT_EQ(RecordPathFor("/opt/st/station_log.txt"), "/opt/st/station_downloads.jsonl");
  EXPECT_EQ(RecordPathFor("/opt/v1.2/host.log"), "/opt/v1.2/host_downloads.jsonl");
  EXPECT_EQ(RecordPathFor("/opt/v1.2/host"), "/opt/v1.2/host_downloads.jsonl");
  const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1738311302047));
  EXPECT_EQ(UtcTimestamp(when), "2025-01-31T08:15:02.047Z");
}

TEST(DownloadRecord, RecordsAreAppendedAndAFileThatCannotTakeThemIsReported) {
  tr52test::TempDir dir;
  const std::string path = dir.File("host_downloads.jsonl");
  std::string error;
  ASSERT_TRUE(AppendDownloadRecord(path, SampleRecord("A"), error)) << error;
  ASSERT_TRUE(AppendDownloadRecord(path, SampleRecord("B"), error)) << error;
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, DownloadRecordLine(SampleRecord("A")) + DownloadRecordLine(SampleRecord("B")));

  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const std::string& bad : {dir.Path(), dir.File("fifo"), dir.File("missing/x.jsonl")}) {
    error.clear();
    EXPECT_FALSE(AppendDownloadRecord(bad, SampleRecord(), error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace tr52
