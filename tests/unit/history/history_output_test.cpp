// What people and programs read: the rows and the per-day summary as a table, CSV and JSON
// (golden file, times in UTC), and the fields of a CSV line.
#include "history/history_output.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "history/day_summary.h"
#include "history_sample.h"
#include "support/scoped_env.h"

namespace tr52test {
namespace {

TEST(HistoryOutput, RowsAndDaysInEveryFormatMatchTheGoldenFile) {
  ScopedEnv tz("TZ", "UTC");
  tzset();
  auto rows = SampleRows();
  rows[1].model = "TR52\x1b[2J";         // a phone's text can move no cursor in the table
  rows[2].model = "=cmd|' /C calc'!A0";  // nor become a formula in a spreadsheet
  std::string text;
  for (auto format : {history::Format::kTable, history::Format::kCsv, history::Format::kJson})
    text += "--- rows\n" + history::RowsText(rows, format);
  const auto days = history::SummariseByDay(rows);
  for (auto format : {history::Format::kTable, history::Format::kCsv, history::Format::kJson})
    text += "--- days\n" + history::SummaryText(days, format);
  text += "--- none\n" + history::RowsText({}, history::Format::kTable) +
          history::SummaryText({}, history::Format::kTable);
  tz.Set(nullptr);
  tzset();

  const std::string golden = std::string(TR52_HISTORY_GOLDEN) + "/history_output.txt";
  if (const char* update = std::getenv("TR52_UPDATE_GOLDEN"); update && *update == '1') {
    std::ofstream(golden, std::ios::binary) << text;
    GTEST_SKIP() << "golden file rewritten";
  }
  std::ifstream in(golden, std::ios::binary);
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(text, expected.str());
}

TEST(HistoryOutput, CsvFieldsAreQuotedWhenTheyMustBeAndNeverAFormula) {
  struct Row {
    std::string value;
    bool outside;
    std::string field;
  };
  const std::vector<Row> rows = {
      {"TR52", true, "TR52"},
      {"a,b", true, "\"a,b\""},
      {"say \"hi\"", true, "\"say \"\"hi\"\"\""},
      {"two\nlines", true, "two\\x0alines"},  // a phone's text: no control character
      {"two\nlines", false, "\"two\nlines\""},
      {"=1+1", true, "'=1+1"},
      {"-3", true, "'-3"},
      {"@x", true, "'@x"},
      {"+x,y", true, "\"'+x,y\""},
      {"-3", false, "-3"},  // our own numbers and texts stay as they are
      {"", true, ""},
  };
  for (const Row& row : rows) EXPECT_EQ(history::CsvField(row.value, row.outside), row.field);
}

}  // namespace
}  // namespace tr52test
