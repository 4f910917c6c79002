// The session registry: owns its sessions, finds the first one of a port, hands it over.
#include "session/session_registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "package/image_catalogue.h"
#include "session/download_session.h"

namespace tr52 {
namespace {

TEST(SessionRegistry, FindsAndTakesTheFirstSessionOfAPort) {
  struct Row {
    const char* name;
    std::vector<int> ports;  // sessions added, in order
    int asked;
    int found;  // index of the session found (-1: none)
    size_t left;
  };
  const Row rows[] = {
      {"empty", {}, 5, -1, 0},
      {"its own port", {5}, 5, 0, 0},
      {"another port", {5}, 6, -1, 1},
      {"first of two on one port", {5, 5}, 5, 0, 1},
      {"second of two", {4, 5}, 5, 1, 1},
      {"port beyond a byte", {5}, 256 + 5, -1, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ImageCatalogue images;
    SessionRegistry registry;
    std::vector<DownloadSession*> added;
    for (int port : row.ports) {
      DownloadJob job;
      job.port = static_cast<uint8_t>(port);
      auto session = std::make_unique<DownloadSession>(job, images);
      added.push_back(session.get());
      registry.Add(std::move(session));
    }
    DownloadSession* seen = nullptr;
    const bool ran = registry.WithSession(row.asked, [&](DownloadSession& s) { seen = &s; });
    DownloadSession* const expected = row.found >= 0 ? added[row.found] : nullptr;
    EXPECT_EQ(ran, row.found >= 0);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(registry.Has(row.asked), row.found >= 0);
    const std::unique_ptr<DownloadSession> taken = registry.Take(row.asked);
    EXPECT_EQ(taken.get(), expected);
    EXPECT_EQ(registry.Count(), row.left);
    EXPECT_EQ(registry.TakeAll().size(), row.left);
    EXPECT_EQ(registry.Count(), 0u);
  }
}

}  // namespace
}  // namespace tr52
