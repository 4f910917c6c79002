// The download record's grammar: one JSON line that a reader gets back whole, whatever bytes a
// phone or a file put into its texts; the record file's name and the appending of records.
#include "session/download_record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "support/temp_dir.h"

namespace tr52 {
namespace {

DownloadRecord FullRecord(const std::string& model) {
  DownloadRecord r;
  r.hostPid = 4242;
  r.download = 7;
  r.com = 11;
  r.port = "/dev/pts/3";
  r.started = "2025-01-31T08:15:02.047Z";
  r.ended = "2025-01-31T08:16:40.512Z";
  r.result = 1010;
  r.resultName = "NandFlashWrite failed";
  r.facts.flow = 1;
  r.facts.bootModes = {1, 2};
  r.facts.model = model;
  r.facts.banner = "TR52V10A_091117";
  r.facts.images = {
      {"PARTITION TBL", "partition.mbn", std::nullopt, kMethodPartitionTable, 300,
       "0123456789abcdef0123456789abcdef", true},
      {"AMSS", "amss.mbn", 0x30000u, kMethodNand, 4096, "fedcba9876543210fedcba9876543210", false},
  };
  r.facts.package =
      LoadedPackage{"/fw/TR52.dz",
                    123456,
                    "00112233445566778899aabbccddeeff",
                    {{"AMSS", "amss.mbn", 204800, "ffeeddccbbaa99887766554433221100"}}};
  r.facts.endStep = "write AMSS";
  return r;
}

void ExpectSame(const DownloadRecord& a, const DownloadRecord& b) {
  EXPECT_EQ(a.hostPid, b.hostPid);
  EXPECT_EQ(a.download, b.download);
  EXPECT_EQ(a.com, b.com);
  EXPECT_EQ(a.port, b.port);
  EXPECT_EQ(a.started, b.started);
  EXPECT_EQ(a.ended, b.ended);
  EXPECT_EQ(a.result, b.result);
  EXPECT_EQ(a.resultName, b.resultName);
  EXPECT_EQ(a.facts.flow, b.facts.flow);
  EXPECT_EQ(a.facts.bootModes, b.facts.bootModes);
  EXPECT_EQ(a.facts.model, b.facts.model);
  EXPECT_EQ(a.facts.banner, b.facts.banner);
  ASSERT_EQ(a.facts.images.size(), b.facts.images.size());
  for (size_t i = 0; i < a.facts.images.size(); ++i) {
    const ImageWrite &x = a.facts.images[i], &y = b.facts.images[i];
    EXPECT_EQ(std::tie(x.type, x.name, x.address, x.method, x.size, x.md5, x.written),
              std::tie(y.type, y.name, y.address, y.method, y.size, y.md5, y.written));
  }
  ASSERT_EQ(a.facts.package.has_value(), b.facts.package.has_value());
  if (a.facts.package) {
    EXPECT_EQ(a.facts.package->path, b.facts.package->path);
    EXPECT_EQ(a.facts.package->md5, b.facts.package->md5);
    EXPECT_EQ(a.facts.package->size, b.facts.package->size);
    ASSERT_EQ(a.facts.package->images.size(), b.facts.package->images.size());
    EXPECT_EQ(a.facts.package->images[0].md5, b.facts.package->images[0].md5);
  }
  EXPECT_EQ(a.facts.endStep, b.facts.endStep);
}

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
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DownloadRecord record = FullRecord(row.model);
    const std::string line = DownloadRecordLine(record);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line, ending in a line feed";
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_FALSE(nlohmann::json::parse(line, nullptr, false).is_discarded());
    const auto read = ParseDownloadRecord(line);
    ASSERT_TRUE(read.has_value()) << line;
    record.facts.model = row.read;
    ExpectSame(*read, record);
  }
  // Facts that do not apply are null and read back as absent.
  DownloadRecord bare;
  bare.com = 5;
  bare.result = 6;
  const std::string line = DownloadRecordLine(bare);
  for (const char* key : {"\"port\":null", "\"flow\":null", "\"model\":null", "\"banner\":null",
                          "\"package\":null", "\"end_step\":null", "\"images\":[]"})
    EXPECT_NE(line.find(key), std::string::npos) << key << " in " << line;
  const auto read = ParseDownloadRecord(line);
  ASSERT_TRUE(read.has_value());
  ExpectSame(*read, bare);
}

TEST(DownloadRecord, ReaderRefusesWhatIsNotARecordOfThisGrammar) {
  const std::string good = DownloadRecordLine(FullRecord("TR52"));
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
  ASSERT_TRUE(AppendDownloadRecord(path, FullRecord("A"), error)) << error;
  ASSERT_TRUE(AppendDownloadRecord(path, FullRecord("B"), error)) << error;
  std::ifstream in(path, std::ios::binary);
  std::string first, second, rest;
  std::getline(in, first);
  std::getline(in, second);
  std::getline(in, rest);
  EXPECT_EQ(ParseDownloadRecord(first)->facts.model, "A");
  EXPECT_EQ(ParseDownloadRecord(second)->facts.model, "B");
  EXPECT_TRUE(rest.empty() && in.eof());

  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const std::string& bad : {dir.Path(), dir.File("fifo"), dir.File("missing/x.jsonl")}) {
    error.clear();
    EXPECT_FALSE(AppendDownloadRecord(bad, FullRecord("C"), error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace tr52
