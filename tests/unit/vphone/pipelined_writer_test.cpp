#include "vphone/pipelined_writer.h"

#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "vphone/scenario.h"

namespace vphone {
namespace {

struct Ack {
  uint32_t seq, interval, error;
  uint8_t nand;
};

class PipelinedWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.openImage = "AMSS";
    ctx.openStart = 0x00030000;
  }
  static Bytes Packet(uint32_t offset, const Bytes& data, uint32_t seq, uint32_t kind) {
    Bytes req(16464, 0);
    req[0] = 0x50;
    req[1] = 0x10;
    tr52::StoreU32le(req.data() + 2, offset);
    tr52::StoreU16le(req.data() + 6, static_cast<uint16_t>(data.size()));
    tr52::StoreU32le(req.data() + 8, seq);
    tr52::StoreU32le(req.data() + 12, kind);
    std::copy(data.begin(), data.end(), req.begin() + 16);
    return req;
  }
  // Sends packet `seq` of `image` (16384-byte packets); returns the acknowledgements.
  std::vector<Ack> Send(const Bytes& image, uint32_t seq, size_t packet = 16384) {
    size_t offset = seq * packet;
    size_t n = std::min(packet, image.size() - offset);
    bool last = offset + n == image.size();
    Bytes data(image.begin() + offset, image.begin() + offset + n);
    Reply reply;
    EXPECT_TRUE(w.Handle(
        Mode::Download,
        Packet(static_cast<uint32_t>(offset), data, seq, last ? 2 : (seq == 0 ? 0 : 1)), reply));
    std::vector<Ack> acks;
    for (const auto& f : reply.frames) {
      EXPECT_EQ(f.size(), 15u);
      EXPECT_EQ(f[0], 0x50);
      EXPECT_EQ(f[1], 0x10);
      acks.push_back({tr52::LoadU32le(f.data() + 2), tr52::LoadU32le(f.data() + 6),
                      tr52::LoadU32le(f.data() + 10), f[14]});
    }
    EXPECT_EQ(reply.silent, acks.empty());
    return acks;
  }
  static Bytes Image(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i ^ (i >> 9));
    return b;
  }

  FlashStore flash;
  DownloadContext ctx{flash};
  PipelinedWriter w{ctx};
};

TEST_F(PipelinedWriterTest, AcknowledgesEveryIntervalAndTheFinalPacketBySequence) {
  Bytes image = Image(16384 * 11 + 100);  // 12 packets
  std::vector<uint32_t> acked;
  for (uint32_t seq = 0; seq < 12; ++seq)
    for (const Ack& a : Send(image, seq)) {
      EXPECT_EQ(a.error, 0u);
      EXPECT_EQ(a.interval, 5u);
      acked.push_back(a.seq);
    }
  EXPECT_EQ(acked, (std::vector<uint32_t>{4, 9, 11}));
  auto img = flash.Find("AMSS");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->method, FlashMethod::Pipelined);
  EXPECT_EQ(img->start, 0x00030000u);
  EXPECT_EQ(img->data, image);
}

TEST_F(PipelinedWriterTest, TwoPacketImage) {
  Bytes image = Image(2 * 16384);
  EXPECT_TRUE(Send(image, 0).empty());
  auto acks = Send(image, 1);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].seq, 1u);
  EXPECT_EQ(flash.Find("AMSS")->data, image);
}

TEST_F(PipelinedWriterTest, SinglePacketSmallerThanAPacket) {
  Bytes image = Image(300);
  auto acks = Send(image, 0);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].seq, 0u);
  EXPECT_EQ(flash.Find("AMSS")->data, image);
}

TEST_F(PipelinedWriterTest, AGapIsReportedAsALostPacketAndTheRestIgnored) {
  Bytes image = Image(16384 * 8);
  Send(image, 0);
  Send(image, 1);
  auto acks = Send(image, 3);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].error, kPipeErrLost);
  EXPECT_EQ(acks[0].interval, 2u);  // the missing packet
  EXPECT_EQ(acks[0].seq, 1u);       // the last packet taken
  EXPECT_TRUE(Send(image, 4).empty());
  // A new packet 0 starts over.
  EXPECT_TRUE(Send(image, 0).empty());
}

TEST_F(PipelinedWriterTest, ScenarioLossAndWriteError) {
  w.ApplyScenario(ParseScenario("pipe.lost_at = 2\n"));
  Bytes image = Image(16384 * 6);
  Send(image, 0);
  Send(image, 1);
  auto lost = Send(image, 2);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].error, kPipeErrLost);
  EXPECT_EQ(lost[0].interval, 2u);

  w.ApplyScenario(
      ParseScenario("pipe.lost_at = -1\npipe.write_error_at = 1\n"
                    "pipe.write_error = 0x21\npipe.nand_error = 0x0C\n"));
  Send(image, 0);
  auto err = Send(image, 1);
  ASSERT_EQ(err.size(), 1u);
  EXPECT_EQ(err[0].error, 0x21u);
  EXPECT_EQ(err[0].nand, 0x0C);
  EXPECT_EQ(err[0].seq, 1u);
}

TEST_F(PipelinedWriterTest, AckIntervalFromTheScenarioAndZero) {
  w.ApplyScenario(ParseScenario("pipe.ack_interval = 1\n"));
  Bytes image = Image(16384 * 3);
  for (uint32_t seq = 0; seq < 3; ++seq) {
    auto acks = Send(image, seq);
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0].seq, seq);
    EXPECT_EQ(acks[0].interval, 1u);
  }
  w.ApplyScenario(ParseScenario("pipe.ack_interval = 0\n"));
  EXPECT_TRUE(Send(image, 0).empty());
  EXPECT_TRUE(Send(image, 1).empty());
  auto last = Send(image, 2);  // only the final packet is acknowledged
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].interval, 0u);
}

TEST_F(PipelinedWriterTest, OversizedPacketIsRefused) {
  Bytes req = Packet(0, Bytes(4, 0), 0, 0);
  tr52::StoreU16le(req.data() + 6, 20000);
  Reply reply;
  ASSERT_TRUE(w.Handle(Mode::Download, req, reply));
  EXPECT_EQ(reply.frames.at(0), DloadNak(0, kNakInvalidLen));
}

}  // namespace
}  // namespace vphone
