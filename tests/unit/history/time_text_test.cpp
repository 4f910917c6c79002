// Times as people type and read them, against the rows' UTC form.
#include "history/time_text.h"

#include <gtest/gtest.h>

#include <ctime>

#include "support/scoped_env.h"

namespace tr52test {
namespace {

TEST(HistoryTimeText, TypedTimesBecomeUtcBoundsInTheLocalZone) {
  struct Row {
    const char* zone;
    std::string typed;
    bool dayEnd;
    std::optional<std::string> bound;
  };
  // CET: one hour ahead of UTC in winter, two in summer.
  const char* cet = "CET-1CEST,M3.5.0,M10.5.0/3";
  const std::vector<Row> rows = {
      {"UTC", "2025-01-31", false, "2025-01-31T00:00:00.000Z"},
      {"UTC", "2025-01-31", true, "2025-02-01T00:00:00.000Z"},
      {"UTC", "2024-12-31", true, "2025-01-01T00:00:00.000Z"},
      {"UTC", "2025-01-31 09:15", false, "2025-01-31T09:15:00.000Z"},
      {"UTC", "2025-01-31T09:15:02.047", true, "2025-01-31T09:15:02.047Z"},
      {cet, "2025-01-31", false, "2025-01-30T23:00:00.000Z"},
      {cet, "2025-07-01 12:00", false, "2025-07-01T10:00:00.000Z"},
      {cet, "2025-07-01T12:00:00Z", false, "2025-07-01T12:00:00.000Z"},
      {"UTC", "2024-02-29", false, "2024-02-29T00:00:00.000Z"},
      {"UTC", "2025-02-29", false, std::nullopt},
      {"UTC", "2025-13-01", false, std::nullopt},
      {"UTC", "2025-01-31 25:00", false, std::nullopt},
      {"UTC", "2025-01-31Z", false, std::nullopt},
      {"UTC", "yesterday", false, std::nullopt},
      {"UTC", "2025-01-31 09:15 and more", false, std::nullopt},
  };
  for (const Row& row : rows) {
    ScopedEnv tz("TZ", row.zone);
    tzset();
    EXPECT_EQ(history::UtcBound(row.typed, row.dayEnd), row.bound) << row.zone << " " << row.typed;
  }
  tzset();
}

TEST(HistoryTimeText, RowTimesAreShownInTheLocalZone) {
  struct Row {
    const char* zone;
    std::string utc, local, day;
  };
  const std::vector<Row> rows = {
      {"UTC", "2025-01-31T23:30:00.000Z", "2025-01-31 23:30:00", "2025-01-31"},
      {"CET-1", "2025-01-31T23:30:00.000Z", "2025-02-01 00:30:00", "2025-02-01"},
      {"UTC", "not a time", "not a time", "not a time"},
  };
  for (const Row& row : rows) {
    ScopedEnv tz("TZ", row.zone);
    tzset();
    EXPECT_EQ(history::LocalTimeText(row.utc), row.local) << row.zone;
    EXPECT_EQ(history::LocalDay(row.utc), row.day.substr(0, 10)) << row.zone;
  }
  tzset();
}

}  // namespace
}  // namespace tr52test
