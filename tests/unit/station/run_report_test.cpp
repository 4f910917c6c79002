// The run record's JSON text.
#include "run_report.h"

#include <gtest/gtest.h>

namespace station {
namespace {

TEST(RunReport, JsonStringEscapesWhatJsonForbidsAndKeepsValidUtf8) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"TR52", "\"TR52\""},
      {"", "\"\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\r\n\tend", "\"line\\r\\n\\tend\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x1f\x7f", "\"\\u001f\\u007f\""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB1",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB1\""},
      // Code page 949 bytes from the log, a cut sequence, an overlong form, a surrogate.
      {"\xB8\xDE", "\"\\ufffd\\ufffd\""},
      {"x\xE2\x82", "\"x\\ufffd\\ufffd\""},
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
      {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
  };
  for (const auto& [text, json] : rows) EXPECT_EQ(JsonString(text), json) << json;
}

TEST(RunReport, JsonHoldsEveryPortAndCountsTheOutcomes) {
  RunReport report;
  PortReport ok;
  ok.com = 11;
  ok.outcome = PortOutcome::Ok;
  ok.detail = "OK (result 0: success)";
  ok.result = 0;
  ok.resultName = "success";
  ok.seconds = 12.3456;
  ok.model = "TR52";
  ok.flow = 1;
  ok.images = {{"DBL", "nand", 32768, true}, {"AMSS", "ram", std::nullopt, std::nullopt}};
  ok.downloads = 1;
  PortReport failed;
  failed.com = 12;
  failed.outcome = PortOutcome::Failed;
  failed.detail = "FAILED (unknown step notice)";
  failed.resultName = "unknown step notice";
  failed.downloads = 2;
  PortReport none;
  none.com = 13;
  none.detail = "no phone appeared";
  report.ports = {ok, failed, none};
  report.wallSeconds = 33.5;
  report.timedOut = true;
  report.log = "/opt/st/station_log.txt";

  EXPECT_EQ(RunReportJson(report), R"json({
  "ports": [
    {
      "com": 11,
      "outcome": "ok",
      "detail": "OK (result 0: success)",
      "result": 0,
      "result_name": "success",
      "seconds": 12.346,
      "model": "TR52",
      "flow": 1,
      "images": [
        {"type": "DBL", "method": "nand", "size": 32768, "written": true},
        {"type": "AMSS", "method": "ram", "size": null, "written": null}
      ],
      "downloads": 1
    },
    {
      "com": 12,
      "outcome": "failed",
      "detail": "FAILED (unknown step notice)",
      "result": null,
      "result_name": "unknown step notice",
      "seconds": null,
      "model": null,
      "flow": null,
      "images": [],
      "downloads": 2
    },
    {
      "com": 13,
      "outcome": "unfinished",
      "detail": "no phone appeared",
      "result": null,
      "result_name": null,
      "seconds": null,
      "model": null,
      "flow": null,
      "images": [],
      "downloads": 0
    }
  ],
  "summary": {
    "ports": 3,
    "ok": 1,
    "failed": 1,
    "unfinished": 1,
    "wall_seconds": 33.500,
    "timed_out": true,
    "interrupted": false,
    "package": null,
    "log": "/opt/st/station_log.txt"
  }
}
)json");
}

}  // namespace
}  // namespace station
