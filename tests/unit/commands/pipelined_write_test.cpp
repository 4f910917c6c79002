#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "command_fixture.h"
#include "commands/dload_client.h"
#include "commands/pipelined_writer.h"
#include "support/scoped_clock.h"

namespace tr52test {
namespace {

using namespace tr52;

constexpr uint32_t kPacket = 16384;

Bytes Ack(uint32_t seq, uint32_t interval, uint32_t error = 0, uint8_t nandError = 0) {
  Bytes a(15, 0);
  a[0] = 0x50;
  a[1] = 0x10;
  for (int i = 0; i < 4; ++i) {
    a[2 + i] = static_cast<uint8_t>(seq >> (8 * i));
    a[6 + i] = static_cast<uint8_t>(interval >> (8 * i));
    a[10 + i] = static_cast<uint8_t>(error >> (8 * i));
  }
  a[14] = nandError;
  return a;
}

struct Packet {
  uint32_t offset;
  uint16_t size;
  uint32_t seq;
  uint32_t kind;
  Bytes data;  // the whole 16384-byte data area
};

std::vector<Packet> Packets(const std::vector<Bytes>& requests) {
  std::vector<Packet> out;
  for (const auto& r : requests) {
    if (r.size() != 16464 || r[0] != 0x50 || r[1] != 0x10) continue;
    out.push_back({U32le(r, 2), static_cast<uint16_t>(r[6] | (r[7] << 8)), U32le(r, 8),
                   U32le(r, 12), Bytes(r.begin() + 16, r.begin() + 16400)});
  }
  return out;
}

// The image as the phone would put it together from the packets' sizes and offsets.
Bytes Reassemble(const std::vector<Packet>& packets) {
  Bytes out;
  for (const auto& p : packets) {
    if (out.size() < p.offset + p.size) out.resize(p.offset + p.size);
    std::copy(p.data.begin(), p.data.begin() + p.size, out.begin() + p.offset);
  }
  return out;
}

// A phone that acknowledges every `interval` packets and the last packet by its own sequence
// number. `hook` may replace the answer to a packet (return true to use `answers`).
class PipelinePhone {
 public:
  using Hook = std::function<bool(const Packet&, ScriptedPeer::Answers& answers)>;
  explicit PipelinePhone(uint32_t interval) : interval_(interval) {}
  void SetHook(Hook hook) { hook_ = std::move(hook); }
  ScriptedPeer::Handler Handler() {
    return [this](const Bytes& r) {
      ScriptedPeer::Answers answers;
      if (r.size() < 16 || r[0] != 0x50 || r[1] != 0x10) return ScriptedPeer::Answers{{0x02}};
      Packet p{
          U32le(r, 2), static_cast<uint16_t>(r[6] | (r[7] << 8)), U32le(r, 8), U32le(r, 12), {}};
      if (hook_ && hook_(p, answers)) return answers;
      if ((p.seq + 1) % interval_ == 0 || p.kind == 2) answers.push_back(Ack(p.seq, interval_));
      return answers;
    };
  }

 private:
  uint32_t interval_;
  Hook hook_;
};

class PipelinedWriteTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    link.SetProtocolMode(Protocol::Dload);
  }
  void Use(PipelinePhone& phone) { peer.SetHandler(phone.Handler()); }
  void ExpectLinkBackToNormal() {
    EXPECT_EQ(link.CurrentPipelineMode(), tr52::PipelineMode{});
    // The next ordinary request is answered and read normally. The phone handles requests in
    // order, so once it has answered this one it has seen every packet of the write.
    peer.SetHandler([](const Bytes& r) {
      if (r.size() == 2 && r[0] == 0x50 && r[1] == 0x12)
        return ScriptedPeer::Answers{{0x50, 0x12, 2, 0, 0, 0}};
      return ScriptedPeer::Answers{};  // packets of the write still in the line
    });
    EXPECT_TRUE(dload.GetCommMode());
    const int mode = dload.CommMode();
    EXPECT_EQ(mode, 2);
    const auto requests = Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back(), (Bytes{0x50, 0x12}));
  }
};

TEST_F(PipelinedWriteTest, TwoPacketImageGoesAsFirstThenLastPacket) {
  images[IMAGE_AMSS] = Pattern(2 * kPacket);
  PipelinePhone phone(5);
  Use(phone);
  ASSERT_TRUE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  const auto packets = Packets(Requests());
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].seq, 0u);
  EXPECT_EQ(packets[0].kind, 0u);
  EXPECT_EQ(packets[0].offset, 0u);
  EXPECT_EQ(packets[0].size, kPacket);
  EXPECT_EQ(packets[1].seq, 1u);
  EXPECT_EQ(packets[1].kind, 2u);
  EXPECT_EQ(packets[1].offset, kPacket);
  EXPECT_EQ(packets[1].size, kPacket);
  EXPECT_EQ(Reassemble(packets), images[IMAGE_AMSS]);
  EXPECT_TRUE(log.Has("Tx packet : Last packet sequence : 1 "));
  EXPECT_EQ(window.Texts(), std::vector<std::string>{"AMSS WRITING"});
  ExpectLinkBackToNormal();
}

TEST_F(PipelinedWriteTest, ImageSmallerThanAPacketGoesAsOneLastPacketOfItsRealSize) {
  images[IMAGE_EFS_GANG] = Pattern(1000);
  PipelinePhone phone(5);
  Use(phone);
  ASSERT_TRUE(dload.Dl_AsyncOptimizeWrite(IMAGE_EFS_GANG));
  const auto packets = Packets(Requests());
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].seq, 0u);
  EXPECT_EQ(packets[0].kind, 2u);
  EXPECT_EQ(packets[0].size, 1000u);
  EXPECT_TRUE(AllZero(packets[0].data, 1000, kPacket));
  EXPECT_EQ(Reassemble(packets), images[IMAGE_EFS_GANG]);
}

// Packets are framed straight from the image: nothing an earlier command left in the request
// buffer shows in them, past a packet's data every byte up to 16464 is zero.
TEST_F(PipelinedWriteTest, EarlierRequestBytesNeverShowInPackets) {
  images[IMAGE_AMSS] = Pattern(kPacket + 1000);
  std::fill(link.PacketBuffers().request, link.PacketBuffers().request + PhoneLink::kBufferSize,
            0xAA);
  PipelinePhone phone(5);
  Use(phone);
  ASSERT_TRUE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  const auto requests = Requests();
  const auto packets = Packets(requests);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[1].size, 1000u);
  size_t checked = 0;
  for (const auto& r : requests) {
    if (r.size() != 16464 || r[0] != 0x50 || r[1] != 0x10) continue;
    const size_t size = r[6] | (r[7] << 8);
    EXPECT_TRUE(AllZero(r, 16 + size, r.size())) << "packet of " << size << " bytes";
    ++checked;
  }
  EXPECT_EQ(checked, 2u);
  EXPECT_EQ(Reassemble(packets), images[IMAGE_AMSS]);
}

TEST_F(PipelinedWriteTest, OnePacketImageIsNotReportedWrittenWithoutItsAcknowledgement) {
  images[IMAGE_EFS_GANG] = Pattern(kPacket);
  ScopedClock fast(2000);
  Silent();
  EXPECT_FALSE(dload.Dl_AsyncOptimizeWrite(IMAGE_EFS_GANG));
  EXPECT_TRUE(log.Has("nResult==END_COMM || m_bRxOK == FALSE"));
  const auto packets = Packets(Requests());
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets[0].kind, 2u);
  EXPECT_EQ(packets[0].size, kPacket);
}

class PipelinedIntervalTest : public PipelinedWriteTest,
                              public ::testing::WithParamInterface<uint32_t> {};

TEST_P(PipelinedIntervalTest, LongImageArrivesWholeInOrder) {
  // 40 packets and a short tail: several credit windows and a short last packet.
  images[IMAGE_AMSS] = Pattern(40 * kPacket + 1234, 9);
  PipelinePhone phone(GetParam());
  Use(phone);
  ASSERT_TRUE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  const auto packets = Packets(Requests());
  ASSERT_EQ(packets.size(), 41u);
  for (uint32_t i = 0; i < 41; ++i) {
    EXPECT_EQ(packets[i].seq, i);
    EXPECT_EQ(packets[i].kind, i == 0 ? 0u : (i == 40 ? 2u : 1u));
    EXPECT_EQ(packets[i].offset, i * kPacket);
  }
  EXPECT_EQ(packets[40].size, 1234u);
  EXPECT_EQ(Reassemble(packets), images[IMAGE_AMSS]);
  ExpectSent(images[IMAGE_AMSS], 40 * kPacket + 1234);
  const auto positions = window.Positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.front(), 0);
  EXPECT_TRUE(log.Has(Com(" ProgreassiveBar Init wParam lParam(pos)=0 - Max41")));
  ExpectLinkBackToNormal();
}

INSTANTIATE_TEST_SUITE_P(AckIntervals, PipelinedIntervalTest, ::testing::Values(1u, 3u, 5u, 15u));

TEST_F(PipelinedWriteTest, LastPacketAfterAWaitForLateAcknowledgementsIsShort) {
  // 15 full packets and a tail. The acknowledgement of packet 14 comes late, so the window
  // closes with only 10 packets acknowledged and the write waits; when the credit comes back
  // the remaining tail must still go as the last packet of its real size.
  images[IMAGE_AMSS] = Pattern(15 * kPacket + 700, 4);
  PipelinePhone phone(5);
  phone.SetHook([](const Packet& p, ScriptedPeer::Answers& answers) {
    if (p.seq != 14) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    answers.push_back(Ack(14, 5));
    return true;
  });
  Use(phone);
  ASSERT_TRUE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  const auto packets = Packets(Requests());
  ASSERT_EQ(packets.size(), 16u);
  EXPECT_EQ(packets[15].kind, 2u);
  EXPECT_EQ(packets[15].size, 700u);
  EXPECT_EQ(Reassemble(packets), images[IMAGE_AMSS]);
}

TEST_F(PipelinedWriteTest, FirstAcknowledgementOfOneIsAcceptedWhateverTheInterval) {
  images[IMAGE_AMSS] = Pattern(3 * kPacket);
  PipelinePhone phone(7);
  phone.SetHook([](const Packet& p, ScriptedPeer::Answers& answers) {
    if (p.seq == 1) answers.push_back(Ack(1, 7));  // not a multiple of the interval
    return p.seq == 1;
  });
  Use(phone);
  EXPECT_TRUE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
}

TEST_F(PipelinedWriteTest, LastPhaseWaitsUntilTheLastPacketIsAcknowledged) {
  images[IMAGE_AMSS] = Pattern(3 * kPacket);
  PipelinePhone phone(2);
  phone.SetHook([](const Packet& p, ScriptedPeer::Answers& answers) {
    if (p.seq != 2) return false;
    // The batch that answers the last packet's wait holds only the interval acknowledgement
    // of packet 1 (already queued); the final one follows later.
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    answers.push_back(Ack(2, 2));
    return true;
  });
  Use(phone);
  ASSERT_TRUE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  EXPECT_EQ(Packets(Requests()).size(), 3u);  // nothing sent again while waiting
  EXPECT_EQ(Reassemble(Packets(Requests())), images[IMAGE_AMSS]);
}

TEST_F(PipelinedWriteTest, LostPacketReportAnywhereInTheBatchFailsTheWrite) {
  images[IMAGE_AMSS] = Pattern(40 * kPacket);
  PipelinePhone phone(5);
  phone.SetHook([](const Packet& p, ScriptedPeer::Answers& answers) {
    if (p.seq == 4 || p.seq == 9) return true;  // held back, sent with packet 14's answer
    if (p.seq != 14) return false;
    answers = {Ack(4, 5), Ack(9, 7, 0x30), Ack(14, 5)};  // 9 reports packet 7 lost
    return true;
  });
  Use(phone);
  EXPECT_FALSE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  EXPECT_TRUE(log.Has("Dl_AsyncOptimizeWrite - Packet is lost! : Sent packet(9), Lost packet(7)"));
  EXPECT_TRUE(log.Has("if(bPktLost == TRUE)"));
  ExpectLinkBackToNormal();
  EXPECT_EQ(Packets(Requests()).size(), 15u);  // a lost packet is not sent again
  ExpectSent(images[IMAGE_AMSS], 15 * kPacket);
}

TEST_F(PipelinedWriteTest, WriteErrorInAnAcknowledgementFailsWithItsDetails) {
  images[IMAGE_AMSS] = Pattern(40 * kPacket);
  PipelinePhone phone(5);
  phone.SetHook([](const Packet& p, ScriptedPeer::Answers& answers) {
    if (p.seq != 4) return false;
    answers.push_back(Ack(4, 5, 0x11, 0x0A));
    return true;
  });
  Use(phone);
  EXPECT_FALSE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  bool found = false;
  for (const auto& line : log.Lines())
    found |= line.rfind(Com(" Dl_AsyncOptimizeWrite - ErrNo(17), Addr(0x"), 0) == 0 &&
             line.find("NandErrNo(0x0A)") != std::string::npos;
  EXPECT_TRUE(found);
  ExpectLinkBackToNormal();
}

TEST_F(PipelinedWriteTest, GapInTheAcknowledgementsFailsTheWrite) {
  images[IMAGE_AMSS] = Pattern(40 * kPacket);
  PipelinePhone phone(5);
  phone.SetHook([](const Packet& p, ScriptedPeer::Answers&) { return p.seq == 9; });
  Use(phone);
  EXPECT_FALSE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  EXPECT_TRUE(
      log.Has(Com(" Dl_AsyncOptimizeWrite() - Lost packet seq : 9, Recieved packet seq : 14")));
}

TEST_F(PipelinedWriteTest, AckIntervalOfZeroFailsInsteadOfWaitingForever) {
  images[IMAGE_AMSS] = Pattern(40 * kPacket);
  PipelinePhone phone(5);
  // Sequence 1 passes the sequence check whatever the interval, so only the interval itself
  // can stop the write.
  phone.SetHook([](const Packet& p, ScriptedPeer::Answers& answers) {
    if (p.seq == 1) answers.push_back(Ack(1, 0));
    return true;
  });
  Use(phone);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(log.Has(Com(" Dl_AsyncOptimizeWrite() - Acknowledgement interval 0")));
  ExpectLinkBackToNormal();
  EXPECT_EQ(Packets(Requests()).size(), 15u);
}

TEST_F(PipelinedWriteTest, MasterRomGoesIn2112BytePackets) {
  images[IMAGE_MASTER_ROM] = Pattern(3 * 2112 + 10);
  PipelinePhone phone(5);
  Use(phone);
  ASSERT_TRUE(dload.Dl_AsyncOptimizeWrite(IMAGE_MASTER_ROM));
  const auto packets = Packets(Requests());
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[0].size, 2112u);
  EXPECT_EQ(packets[3].size, 10u);
  EXPECT_EQ(Reassemble(packets), images[IMAGE_MASTER_ROM]);
}

TEST_F(PipelinedWriteTest, EmptySlotSendsNothing) {
  PipelinePhone phone(5);
  Use(phone);
  EXPECT_FALSE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  images[IMAGE_AMSS] = {};
  EXPECT_FALSE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  EXPECT_EQ(peer.RequestCount(), 0u);
  EXPECT_TRUE(log.Has(">>Dl_AsyncOptimizeWrite()"));
}

// A packet must fit the request's 16384-byte data area: larger packet sizes send nothing
// (instead of reading and framing past the data area).
TEST_F(PipelinedWriteTest, PacketSizeBeyondTheDataAreaSendsNothing) {
  const Bytes image = Pattern(3 * kPacket);
  PipelinePhone phone(5);
  Use(phone);
  PipelinedWriter writer(link, nullptr);
  for (const uint32_t packetSize : {kPacket + 1, 2 * kPacket, 0u}) {
    SCOPED_TRACE(packetSize);
    EXPECT_FALSE(
        writer.Write(image.data(), static_cast<uint32_t>(image.size()), packetSize, "AMSS"));
  }
  EXPECT_EQ(peer.RequestCount(), 0u);
  EXPECT_EQ(link.CurrentPipelineMode(), tr52::PipelineMode{});
}

TEST_F(PipelinedWriteTest, SilentPhoneFailsTheWriteAndFreesTheLink) {
  images[IMAGE_AMSS] = Pattern(40 * kPacket);
  ScopedClock fast(2000);
  Silent();
  EXPECT_FALSE(dload.Dl_AsyncOptimizeWrite(IMAGE_AMSS));
  EXPECT_TRUE(log.Has("nResult==END_COMM || m_bRxOK == FALSE"));
  ExpectLinkBackToNormal();
}

}  // namespace
}  // namespace tr52test
