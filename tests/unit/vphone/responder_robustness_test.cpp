// Malformed and random requests never crash a responder nor leave a request half-handled.
#include <gtest/gtest.h>

#include <random>

#include "vphone/diag_responder.h"
#include "vphone/dload_responder.h"
#include "vphone/nand_programmer.h"
#include "vphone/pipelined_writer.h"
#include "vphone/scripted_responder.h"

namespace vphone {
namespace {

TEST(ResponderRobustness, RandomRequestsOfEveryKnownCommand) {
  FlashStore flash;
  DownloadContext ctx(flash);
  DiagResponder diag;
  DloadResponder dload(ctx);
  NandProgrammer nand(ctx);
  PipelinedWriter pipe(ctx);
  std::vector<Responder*> all = {&diag, &dload, &nand, &pipe};
  const uint8_t commands[] = {0x00, 0x01, 0x0A, 0x0B, 0x0C, 0x21, 0x22, 0x24, 0x29, 0x31,
                              0x3A, 0x40, 0x41, 0x44, 0x45, 0x46, 0x48, 0x49, 0x4B, 0x50};
  std::mt19937 rng(52);
  int handled = 0;
  for (int i = 0; i < 20000; ++i) {
    Bytes req(rng() % 48);
    for (auto& b : req) b = static_cast<uint8_t>(rng());
    if (!req.empty()) req[0] = commands[rng() % std::size(commands)];
    if (req.size() > 1 && req[0] == 0x50) req[1] = static_cast<uint8_t>(rng() % 0x14);
    if (rng() % 8 == 0) req.resize(16464, 0);  // full-size requests with random fields
    Mode mode = rng() % 2 ? Mode::Normal : Mode::Download;
    for (Responder* r : all) {
      Reply reply;
      if (!r->Handle(mode, req, reply)) continue;
      ++handled;
      EXPECT_TRUE(reply.silent || !reply.frames.empty())
          << "request " << int(req.empty() ? -1 : req[0]) << " handled without an answer";
      for (const auto& f : reply.frames) EXPECT_FALSE(f.empty());
      break;
    }
  }
  EXPECT_GT(handled, 5000);  // the random requests do reach the responders
  // Whatever was burnt stays within the store's bounds.
  for (const auto& name : flash.Names())
    EXPECT_LE(flash.Find(name)->data.size(), FlashStore::kMaxImageBytes);
}

}  // namespace
}  // namespace vphone
