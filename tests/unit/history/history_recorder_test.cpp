// The recorder as a station uses it: a row for each download at its start, completed from the
// plug-in's record at its end, the phone's or port's earlier download found before the row is
// written, all on the history's thread.
#include "history/history_recorder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <nlohmann/json.hpp>

#include "history/history_store.h"
#include "support/sample_record.h"
#include "support/temp_dir.h"

namespace tr52test {
namespace {

using history::DownloadRow;

TEST(HistoryRecorder, EachDownloadIsARowCompletedFromItsRecord) {
  TempDir dir;
  std::vector<std::string> notices;
  history::RecorderSettings settings;
  settings.stationId = "line-1";
  settings.writer.path = dir.File("state/tr52/history.sqlite");  // folders made as needed
  settings.identify = [](int com) {
    return com == 100 ? history::PortIdentity{"pci-0000:00:14.0-usb-0:2", "R52X0042"}
                      : history::PortIdentity{};
  };
  history::HistoryRecorder recorder(settings, [&](const std::string& t) { notices.push_back(t); });

  // The earlier download each start is told of, and the row as written.
  std::vector<std::promise<std::pair<DownloadRow, std::optional<DownloadRow>>>> seen(3);
  auto started = [&](int com, size_t i) {
    return recorder.Started(com, [&seen, i](const DownloadRow& now, auto previous) {
      seen[i].set_value({now, previous});
    });
  };
  const std::string first = started(100, 0);
  history::DownloadEnd end;
  end.result = 1010;
  end.seconds = 98.5;
  end.record = SampleRecord("TR52\r\n");
  recorder.Ended(first, end);
  const std::string second = started(100, 1);
  history::DownloadEnd refused;
  refused.whyNoResult = "no progress pane";
  recorder.Ended(second, refused);
  const std::string third = started(7, 2);  // a declared port: no USB identity
  recorder.Close();

  auto [firstRow, beforeFirst] = seen[0].get_future().get();
  EXPECT_FALSE(beforeFirst);
  EXPECT_EQ(firstRow.usbSerial, "R52X0042");
  auto [secondRow, beforeSecond] = seen[1].get_future().get();
  ASSERT_TRUE(beforeSecond);  // the same phone's first download, not itself
  EXPECT_EQ(beforeSecond->uid, first);
  auto [thirdRow, beforeThird] = seen[2].get_future().get();
  EXPECT_FALSE(thirdRow.usbSerial);
  EXPECT_FALSE(beforeThird);

  struct stat folder {};
  ASSERT_EQ(::stat(dir.File("state/tr52").c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);  // the user's own state
  history::HistoryStore store(settings.writer.path, history::StoreOptions{.mustExist = true});
  const auto rows = store.Query({});
  ASSERT_EQ(rows.size(), 3u);
  std::map<std::string, DownloadRow> byUid;
  for (const auto& r : rows) byUid[r.uid] = r;
  const DownloadRow& a = byUid[first];
  EXPECT_EQ(a.station, "line-1");
  EXPECT_EQ(a.com, 100);
  EXPECT_EQ(a.usbPosition, "pci-0000:00:14.0-usb-0:2");
  EXPECT_EQ(a.hostPid, ::getpid());
  EXPECT_EQ(a.model, "TR52\r\n");  // as the phone sent it
  EXPECT_EQ(a.banner, "TR52V10A_091117");
  EXPECT_EQ(a.device, "/dev/pts/3");
  EXPECT_EQ(a.flow, 0);
  EXPECT_EQ(a.packagePath, "/fw/TR52.dz");
  EXPECT_EQ(a.packageMd5, "cc");
  EXPECT_EQ(a.result, 1010);
  EXPECT_EQ(a.resultName, "NandFlashWrite failed");
  EXPECT_EQ(a.endStep, "write AMSS");
  EXPECT_EQ(a.download, 7);
  EXPECT_EQ(a.seconds, 98.5);
  EXPECT_TRUE(a.ended);
  const auto images = nlohmann::json::parse(a.images);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0], nlohmann::json::parse(R"({"type":"DBL","name":"dbl.mbn","address":null,
      "method":"nand","size":32768,"md5":"aa","written":true})"));
  EXPECT_EQ(images[1]["address"], 0x30000);
  EXPECT_EQ(images[1]["name"], nullptr);
  EXPECT_EQ(images[1]["written"], false);

  const DownloadRow& b = byUid[second];
  EXPECT_EQ(history::OutcomeOf(b), history::Outcome::kFailed);
  EXPECT_FALSE(b.result);
  EXPECT_EQ(b.resultName, "no progress pane");
  EXPECT_EQ(history::OutcomeOf(byUid[third]), history::Outcome::kUnfinished);
  EXPECT_TRUE(notices.empty());
  EXPECT_EQ(first.size(), 32u);
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace tr52test
