// The virtual phone against the host's own link over real pseudo-terminals: DIAG in normal
// mode, the reboot into download mode under the same COM number, a classic NAND write, the
// reset back into normal mode, and a pipelined write whose acknowledgement batches the link
// keeps side by side.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "base/byte_reader.h"
#include "link/phone_link.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_pattern.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

using vphone::Bytes;
using vphone::Mode;

constexpr int kCom = 61;

class VphoneLinkTest : public ::testing::Test {
 protected:
  void TearDown() override { link.Close(); }

  std::unique_ptr<vphone::VirtualPhone> StartPhone(Mode mode, const std::string& scenario = "") {
    vphone::PhoneOptions o;
    o.com = kCom;
    o.startMode = mode;
    o.rebootDelayMs = 3000;
    o.scenario = vphone::ParseScenario(scenario);
    auto phone = std::make_unique<vphone::VirtualPhone>(o);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return phone;
  }
  int Tx(const Bytes& payload, int timeoutMs = 3000) {
    auto b = link.PacketBuffers();
    std::memcpy(b.request, payload.data(), payload.size());
    return static_cast<int>(
        link.AsyncTxRx(b.request, b.response, static_cast<int>(payload.size()), timeoutMs));
  }
  const uint8_t* Rsp() { return link.PacketBuffers().response; }

  tr52test::TempDir table;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", table.Path()};  // restored after the test
  tr52test::ScopedClock clock{10.0};
  tr52::PhoneLink link;
};

using tr52test::Pattern;

TEST_F(VphoneLinkTest, NormalModeThenDownloadModeThenBackAfterReset) {
  auto phone = StartPhone(Mode::Normal);
  ASSERT_TRUE(link.Open(kCom));
  link.SetProtocolMode(tr52::Protocol::Diag);
  ASSERT_EQ(Tx({0x00}), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(Rsp()) + 39, "TR52");

  ASSERT_EQ(Tx({0x3A}), 1);  // DIAG_DLOAD_F
  link.Close();
  ASSERT_TRUE(phone->WaitFor(true, Mode::Download, 10000));

  ASSERT_TRUE(link.Open(kCom));  // the same COM number, a new device
  link.SetProtocolMode(tr52::Protocol::Dload);
  ASSERT_EQ(Tx({0x0C}, 5000), 1);
  ASSERT_EQ(Rsp()[0], 0x0D);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Rsp()) + 2, Rsp()[1]), "KW_TR52/V10A");
  // DIAG in download mode is refused: the link counts it as a failure.
  link.SetProtocolMode(tr52::Protocol::Diag);
  EXPECT_EQ(Tx({0x00}), 0);
  EXPECT_EQ(link.RxStatus(), tr52::RxStatusCode::BadConnMode);
  link.SetProtocolMode(tr52::Protocol::Dload);

  ASSERT_EQ(Tx({0x0B, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}, 500), 1);
  ASSERT_EQ(Tx({0x48, 0x01}), 1);
  Bytes table(516, 0);
  table[0] = 0x40;
  table[1] = 0x02;
  table[4] = 0x55;
  ASSERT_EQ(Tx(table, 70000), 1);

  // Classic write of a 5000-byte logo: two 4096-byte RAM packets, one program request.
  Bytes logo = Pattern(5000, 3);
  ASSERT_EQ(Tx({0x31, 21, 0, 0, 0}, 60000), 1);
  for (uint32_t target = 0; target < logo.size(); target += 4096) {
    Bytes pkt(6 + 4096, 0);
    pkt[0] = 0x01;
    pkt[1] = static_cast<uint8_t>(target >> 16);
    tr52::StoreU16be(pkt.data() + 2, static_cast<uint16_t>(target));
    tr52::StoreU16be(pkt.data() + 4, 4096);
    size_t n = std::min<size_t>(4096, logo.size() - target);
    std::copy_n(logo.begin() + target, n, pkt.begin() + 6);
    ASSERT_EQ(Tx(pkt, 10000), 1);
  }
  Bytes program(9, 0);
  program[0] = 0x21;
  tr52::StoreU32be(program.data() + 1, 0x00010000);
  tr52::StoreU32be(program.data() + 5, 5000);
  ASSERT_EQ(Tx(program, 10000), 1);
  ASSERT_EQ(Tx({0x22}, 20000), 1);
  auto img = phone->Flash().Find("FLEXIBLE LOGO");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->start, 0x00010000u);
  EXPECT_EQ(img->data, logo);

  ASSERT_EQ(Tx({0x0A}), 1);  // reset
  link.Close();
  ASSERT_TRUE(phone->WaitFor(true, Mode::Normal, 10000));
  ASSERT_TRUE(link.Open(kCom));
  link.SetProtocolMode(tr52::Protocol::Diag);
  ASSERT_EQ(Tx({0x00}), 1);
  EXPECT_EQ(phone->Boots(), 3);
  // What was flashed survives the reboots.
  EXPECT_TRUE(phone->Flash().Find("FLEXIBLE LOGO"));
}

TEST_F(VphoneLinkTest, PipelinedWriteAcknowledgementBatches) {
  auto phone = StartPhone(Mode::Download, "pipe.ack_interval = 5\n");
  ASSERT_TRUE(link.Open(kCom));
  link.SetProtocolMode(tr52::Protocol::Dload);
  ASSERT_EQ(Tx({0x31, 5, 0, 0, 0}, 60000), 1);  // open AMSS

  const size_t kPackets = 15, kPacket = 16384;
  Bytes image = Pattern(kPackets * kPacket, 9);
  auto b = link.PacketBuffers();
  std::vector<uint32_t> acked;
  for (uint32_t seq = 0; seq < kPackets; ++seq) {
    std::memset(b.request, 0, 16464);
    b.request[0] = 0x50;
    b.request[1] = 0x10;
    tr52::StoreU32le(b.request + 2, seq * kPacket);
    tr52::StoreU16le(b.request + 6, kPacket);
    tr52::StoreU32le(b.request + 8, seq);
    tr52::StoreU32le(b.request + 12, seq == 0 ? 0 : (seq + 1 == kPackets ? 2 : 1));
    std::memcpy(b.request + 16, image.data() + seq * kPacket, kPacket);
    const bool last = seq + 1 == kPackets;
    const auto mode = link.UsePipelineMode({.sequence = seq, .sendOnly = !last, .noWake = true});
    const auto r = link.AsyncTxRx(b.request, b.response, 16464, 70000);
    ASSERT_EQ(r, last ? tr52::TxRxResult::Accepted : tr52::TxRxResult::SentOnly);
  }
  // Wait (receive only) until all three acknowledgements (4, 9, 14) arrived.
  for (int pass = 0; pass < 4; ++pass) {
    if (pass > 0) {
      const auto mode = link.UsePipelineMode(
          {.sequence = static_cast<uint32_t>(kPackets - 1), .receiveOnly = true, .noWake = true});
      ASSERT_EQ(link.AsyncTxRx(b.request, b.response, 16464, 70000), tr52::TxRxResult::Accepted);
    }
    for (int i = 0; i < link.FramesReceived(); ++i) {
      const uint8_t* ack = b.response + 17 * i;
      EXPECT_EQ(ack[0], 0x50);
      EXPECT_EQ(tr52::LoadU32le(ack + 10), 0u);
      EXPECT_EQ(tr52::LoadU32le(ack + 6), 5u);
      acked.push_back(tr52::LoadU32le(ack + 2));
    }
    if (acked.size() >= 3) break;
  }
  EXPECT_EQ(acked, (std::vector<uint32_t>{4, 9, 14}));
  auto img = phone->Flash().Find("AMSS");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->method, vphone::FlashMethod::Pipelined);
  EXPECT_EQ(img->data, image);
  // The link answers ordinary requests again.
  ASSERT_EQ(Tx({0x50, 0x12}), 1);
  EXPECT_EQ(tr52::LoadU32le(Rsp() + 2), 2u);
}

}  // namespace
