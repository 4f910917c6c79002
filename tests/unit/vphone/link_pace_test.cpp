#include "vphone/link_pace.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vphone {
namespace {

using std::chrono::milliseconds;

TEST(LinkPace, BytesCrossTheLineOneAfterAnotherAtItsRate) {
  const LinkPace::Clock::time_point t0{};
  struct Transfer {
    size_t bytes;
    int atMs;    // when they are offered
    int overMs;  // when the last of them is over
  };
  struct Row {
    const char* what;
    uint64_t rate;
    std::vector<Transfer> transfers;
  };
  const std::vector<Row> rows = {
      {"unpaced: at once", 0, {{65536, 0, 0}, {1, 5, 5}}},
      {"one burst", 1000, {{500, 0, 500}}},
      {"a burst waits for the one before", 1000, {{500, 0, 500}, {250, 100, 750}}},
      {"an idle line saves no credit", 1000, {{100, 0, 100}, {100, 1000, 1100}}},
      {"a part of a millisecond rounds up", 3000, {{1, 0, 1}}},
  };
  for (const Row& row : rows) {
    LinkPace pace(row.rate);
    for (const Transfer& t : row.transfers)
      EXPECT_EQ(std::chrono::ceil<milliseconds>(pace.Pass(t.bytes, t0 + milliseconds(t.atMs)) - t0),
                milliseconds(t.overMs))
          << row.what;
  }
  // Bytes are taken about 10 ms of the line at a time, at least one, at most what fits.
  const std::pair<uint64_t, size_t> chunks[] = {
      {0, 65536}, {256000, 2560}, {50, 1}, {100000000, 65536}};
  for (const auto& [rate, chunk] : chunks) EXPECT_EQ(LinkPace(rate).Chunk(65536), chunk) << rate;
}

}  // namespace
}  // namespace vphone
