// The run record's JSON: every port with what the station saw and what the plug-in's record of
// its last download says, nulls where nothing applies, and the package the downloads name.
#include "core/run_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/sample_record.h"

namespace station {
namespace {

tr52::DownloadRecord Record(const std::string& packageMd5) {
  tr52::DownloadRecord r = tr52test::SampleRecord("KW_TR52/V10A\r\n");
  r.facts.banner.reset();
  r.facts.endStep.reset();
  r.facts.package->path = "/fw/\xff.dz";
  r.facts.package->md5 = packageMd5;
  return r;
}

TEST(RunReport, PortsTellWhatTheStationSawAndWhatTheRecordSays) {
  RunReport report;
  PortReport ok;
  ok.com = 11;
  ok.outcome = PortOutcome::Ok;
  ok.detail = "OK (result 0: success)";
  ok.result = 0;
  ok.resultName = "success";
  ok.seconds = 12.3456;
  ok.downloads = 1;
  ok.record = Record("cc");
  PortReport none;
  none.com = 13;
  none.detail = "no phone appeared";
  report.ports = {ok, none};
  report.wallSeconds = 33.5;
  report.timedOut = true;
  report.log = "/opt/st/station_log.txt";
  report.records = "/opt/st/station_downloads.jsonl";

  const std::string text = RunReportJson(report);
  ASSERT_EQ(text.back(), '\n');
  const auto json = nlohmann::json::parse(text);
  EXPECT_EQ(json["ports"][0], nlohmann::json::parse(R"json({
    "com": 11, "outcome": "ok", "detail": "OK (result 0: success)", "result": 0,
    "result_name": "success", "seconds": 12.346, "model": "KW_TR52/V10A\r\n", "flow": 0,
    "images": [
      {"type": "DBL", "name": "dbl.mbn", "method": "nand", "address": null, "size": 32768,
       "md5": "aa", "written": true},
      {"type": "AMSS", "name": null, "method": "ram", "address": 196608, "size": 100,
       "md5": "bb", "written": false}],
    "downloads": 1, "banner": null, "boot_modes": [2, 2], "end_step": null,
    "port": "/dev/pts/3", "started": "2025-01-31T08:15:02.047Z",
    "ended": "2025-01-31T08:16:40.512Z"})json"));
  EXPECT_EQ(json["ports"][1], nlohmann::json::parse(R"json({
    "com": 13, "outcome": "unfinished", "detail": "no phone appeared", "result": null,
    "result_name": null, "seconds": null, "model": null, "flow": null, "images": [],
    "downloads": 0, "banner": null, "boot_modes": null, "end_step": null, "port": null,
    "started": null, "ended": null})json"));
  EXPECT_EQ(json["summary"], nlohmann::json::parse(R"json({
    "ports": 2, "ok": 1, "failed": 0, "unfinished": 1, "wall_seconds": 33.5,
    "timed_out": true, "interrupted": false, "package": "/fw/\\xff.dz",
    "log": "/opt/st/station_log.txt", "records": "/opt/st/station_downloads.jsonl",
    "package_size": 99, "package_md5": "cc",
    "package_images": [{"type": "DBL", "name": "dbl.mbn", "size": 32768, "md5": "aa"}]})json"));

  // Downloads that name two different packages name none.
  PortReport second = ok;
  second.com = 12;
  second.record = Record("dd");
  report.ports.push_back(second);
  const auto mixed = nlohmann::json::parse(RunReportJson(report))["summary"];
  for (const char* key : {"package", "package_size", "package_md5", "package_images"})
    EXPECT_TRUE(mixed[key].is_null()) << key;
}

}  // namespace
}  // namespace station
