#include <gtest/gtest.h>

#include <map>

#include "command_fixture.h"
#include "commands/dload_client.h"
#include "support/scoped_clock.h"

namespace tr52test {
namespace {

using namespace tr52;  // image type names

class NandTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    link.SetProtocolMode(Protocol::Dload);
  }
};

// What the NAND programmer saw of a classic write: RAM packets and program requests.
struct RamPacket {
  uint32_t target;
  uint16_t length;
  Bytes data;
};
struct Program {
  uint32_t address;
  uint32_t size;
};
struct ClassicWrite {
  std::vector<RamPacket> packets;
  std::vector<Program> programs;
  // Flash contents rebuilt from the packets and program requests.
  std::map<uint32_t, Bytes> flash;
};

ClassicWrite Decode(const std::vector<Bytes>& requests) {
  ClassicWrite w;
  Bytes ram(17000, 0);
  for (const auto& r : requests) {
    if (r[0] == 0x01) {
      RamPacket p{static_cast<uint32_t>((r[1] << 16) | (r[2] << 8) | r[3]),
                  static_cast<uint16_t>((r[4] << 8) | r[5]), Bytes(r.begin() + 6, r.end())};
      std::copy(p.data.begin(), p.data.end(), ram.begin() + p.target);
      w.packets.push_back(p);
    } else if (r[0] == 0x21) {
      Program g{U32be(r, 1), U32be(r, 5)};
      w.programs.push_back(g);
      w.flash[g.address] = Bytes(ram.begin(), ram.begin() + g.size);
    }
  }
  return w;
}

TEST_F(NandTest, TrustedModeAnnouncesAndSendsTheMode) {
  AckAll();
  EXPECT_TRUE(dload.SetTrustedMode(1));
  EXPECT_TRUE(dload.SetTrustedMode(0));
  EXPECT_FALSE(dload.SetTrustedMode(2));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], (Bytes{0x48, 0x01}));
  EXPECT_EQ(requests[1], (Bytes{0x48, 0x00}));
  EXPECT_EQ(window.Texts(), (std::vector<std::string>{"TRUSTED MODE", "NON-TRUSTED MODE"}));
}

TEST_F(NandTest, InitWithFileForms) {
  images[IMAGE_PARTITION_TBL] = Pattern(512, 1);
  images[IMAGE_OEMSBL_HEADER] = Pattern(40, 2);
  images[IMAGE_AMSS_MODEM_HEADER] = Pattern(80, 3);
  images[IMAGE_MASTER_ROM] = Pattern(256, 4);
  AckAll();
  ASSERT_TRUE(dload.NandFlashInitWithFile(IMAGE_PARTITION_TBL, 0));
  ASSERT_TRUE(dload.NandFlashInitWithFile(IMAGE_PARTITION_TBL, 5));
  ASSERT_TRUE(dload.NandFlashInitWithFile(IMAGE_OEMSBL_HEADER, 0));
  ASSERT_TRUE(dload.NandFlashInitWithFile(IMAGE_AMSS_MODEM_HEADER, 0));
  ASSERT_TRUE(dload.NandFlashInitWithFile(IMAGE_MASTER_ROM, 0));
  const auto r = Requests();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0].size(), 516u);
  EXPECT_EQ(Bytes(r[0].begin(), r[0].begin() + 4), (Bytes{0x40, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Bytes(r[0].begin() + 4, r[0].end()), images[IMAGE_PARTITION_TBL]);
  EXPECT_EQ(r[1][3], 1);
  EXPECT_EQ(r[2].size(), 515u);
  EXPECT_EQ(Bytes(r[2].begin(), r[2].begin() + 3), (Bytes{0x44, 0x02, 0x00}));
  EXPECT_EQ(Bytes(r[2].begin() + 3, r[2].begin() + 43), images[IMAGE_OEMSBL_HEADER]);
  EXPECT_TRUE(AllZero(r[2], 43, 515));
  EXPECT_EQ(r[3][0], 0x45);
  EXPECT_EQ(r[4].size(), 265u);
  EXPECT_EQ(r[4][0], 0x49);
  EXPECT_TRUE(AllZero(r[4], 1, 9));
  EXPECT_EQ(Bytes(r[4].begin() + 9, r[4].end()), images[IMAGE_MASTER_ROM]);
  ExpectSent(images[IMAGE_MASTER_ROM], 256);
  EXPECT_TRUE(log.Has(Com(" >>NandFlashInitWithFile(PARTITION TBL)")));
}

TEST_F(NandTest, InitWithFileSendsNothingForMissingOversizedOrOtherImages) {
  AckAll();
  EXPECT_FALSE(dload.NandFlashInitWithFile(IMAGE_PARTITION_TBL, 0));  // not loaded
  ExpectSent({}, 0);
  images[IMAGE_PARTITION_TBL] = Pattern(513);
  images[IMAGE_MASTER_ROM] = Pattern(257);
  images[IMAGE_DBL] = Pattern(10);
  EXPECT_FALSE(dload.NandFlashInitWithFile(IMAGE_PARTITION_TBL, 0));
  EXPECT_FALSE(dload.NandFlashInitWithFile(IMAGE_MASTER_ROM, 0));
  EXPECT_FALSE(dload.NandFlashInitWithFile(IMAGE_DBL, 0));
  EXPECT_EQ(peer.RequestCount(), 0u);
}

TEST_F(NandTest, InitWithoutFileRequests) {
  AckAll();
  ASSERT_TRUE(dload.NandFlashInitWithoutFile(IMAGE_EFS_GANG));
  ASSERT_TRUE(dload.NandFlashInitWithoutFile(IMAGE_PBL));
  ASSERT_TRUE(dload.NandFlashInitWithoutFile(IMAGE_H3G_FLEX));
  ASSERT_TRUE(dload.NandFlashInitWithoutFile(IMAGE_APPS));
  ASSERT_TRUE(dload.NandFlashInitWithoutFile(IMAGE_FLEXIBLE_LOGO));
  EXPECT_FALSE(dload.NandFlashInitWithoutFile(IMAGE_AMSS));
  const auto r = Requests();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0], (Bytes{0x31, 0x09, 0x00, 0x00, 0x00}));
  EXPECT_EQ(r[1], Bytes{0x41});
  EXPECT_EQ(r[2], (Bytes{0x50, 0x06}));
  EXPECT_EQ(r[3], (Bytes{0x50, 0x0E, 0x00, 0x00, 0x00}));
  EXPECT_EQ(r[4], (Bytes{0x31, 0x15, 0x00, 0x00, 0x00}));
}

TEST_F(NandTest, ImageInitSendsTheTypeCode) {
  AckAll();
  ASSERT_TRUE(dload.NandFlashImageInit(IMAGE_AMSS));
  ASSERT_TRUE(dload.NandFlashImageInit(IMAGE_OSBL));
  EXPECT_FALSE(dload.NandFlashImageInit(IMAGE_PBL));
  const auto r = Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], (Bytes{0x31, 0x05, 0x00, 0x00, 0x00}));
  EXPECT_EQ(r[1], (Bytes{0x31, 0x11, 0x00, 0x00, 0x00}));
}

TEST_F(NandTest, ClassicWriteOfOneBlock) {
  images[IMAGE_AMSS] = Pattern(16384);
  AckAll();
  ASSERT_TRUE(dload.NandFlashWrite(IMAGE_AMSS));
  const auto w = Decode(Requests());
  ASSERT_EQ(w.packets.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(w.packets[i].target, i * 4096);
    EXPECT_EQ(w.packets[i].length, 4096);
    EXPECT_EQ(w.packets[i].data.size(), 4096u);
  }
  ASSERT_EQ(w.programs.size(), 1u);
  EXPECT_EQ(w.programs[0].address, 0x00030000u);
  EXPECT_EQ(w.programs[0].size, 16384u);
  EXPECT_EQ(w.flash.at(0x00030000u), images[IMAGE_AMSS]);
  EXPECT_EQ(window.Positions(), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(window.Texts(), std::vector<std::string>{"FLASHING AMSS"});
}

TEST_F(NandTest, ClassicWriteOfAShortLastPacketPadsItButProgramsTheRealSize) {
  images[IMAGE_FLEXIBLE_LOGO] = Pattern(5000);
  AckAll();
  ASSERT_TRUE(dload.NandFlashWrite(IMAGE_FLEXIBLE_LOGO));
  const auto requests = Requests();
  const auto w = Decode(requests);
  ASSERT_EQ(w.packets.size(), 2u);
  EXPECT_EQ(w.packets[1].target, 4096u);
  EXPECT_EQ(w.packets[1].length, 4096);
  EXPECT_EQ(requests[1].size(), 4102u);
  EXPECT_TRUE(AllZero(requests[1], 6 + 904, 4102));
  ASSERT_EQ(w.programs.size(), 1u);
  EXPECT_EQ(w.programs[0].address, 0x00010000u);
  EXPECT_EQ(w.programs[0].size, 5000u);
  EXPECT_EQ(w.flash.at(0x00010000u), images[IMAGE_FLEXIBLE_LOGO]);
  ExpectSent(images[IMAGE_FLEXIBLE_LOGO], 5000);
}

TEST_F(NandTest, ClassicWriteOfMasterRomUsesItsOwnGeometry) {
  images[IMAGE_MASTER_ROM] = Pattern(20000);
  AckAll();
  ASSERT_TRUE(dload.NandFlashWrite(IMAGE_MASTER_ROM));
  const auto requests = Requests();
  const auto w = Decode(requests);
  ASSERT_EQ(w.packets.size(), 5u);
  const uint32_t targets[] = {0, 4224, 8448, 12672, 0};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(w.packets[i].target, targets[i]);
    EXPECT_EQ(w.packets[i].length, 4224);
  }
  EXPECT_EQ(requests[0].size(), 4230u);
  ASSERT_EQ(w.programs.size(), 2u);
  EXPECT_EQ(w.programs[0].address, 0xFFFFFFFEu);
  EXPECT_EQ(w.programs[0].size, 16896u);
  EXPECT_EQ(w.programs[1].address, static_cast<uint32_t>(0xFFFFFFFEu + 16896u));
  EXPECT_EQ(w.programs[1].size, 3104u);
  // The program requests come right after each block's fourth packet and after the last one.
  EXPECT_EQ(requests[4][0], 0x21);
  EXPECT_EQ(requests[6][0], 0x21);
  Bytes rebuilt = w.flash.at(0xFFFFFFFEu);
  const Bytes& tail = w.flash.at(static_cast<uint32_t>(0xFFFFFFFEu + 16896u));
  rebuilt.insert(rebuilt.end(), tail.begin(), tail.end());
  EXPECT_EQ(rebuilt, images[IMAGE_MASTER_ROM]);
}

TEST_F(NandTest, ARamPacketFailingTwiceIsRetriedAndTheWriteGoesOn) {
  images[IMAGE_DBL] = Pattern(3 * 4096);
  // The second packet (target 4096) is refused for two whole transactions (3 attempts each).
  int refusals = 0;
  peer.SetHandler([&refusals](const Bytes& r) {
    const bool second = r[0] == 0x01 && r[1] == 0 && r[2] == 0x10 && r[3] == 0;
    if (second && refusals < 6) {
      ++refusals;
      return ScriptedPeer::Answers{{0x03, 0x00, 0x07}};
    }
    return ScriptedPeer::Answers{{0x02}};
  });
  ScopedClock fast(20);  // the 500 ms pauses between attempts
  ASSERT_TRUE(dload.NandFlashWrite(IMAGE_DBL));
  const auto w = Decode(Requests());
  EXPECT_EQ(w.packets.size(), 3u + 6u);
  ASSERT_EQ(w.programs.size(), 1u);
  EXPECT_EQ(w.flash.at(1), images[IMAGE_DBL]);

  EXPECT_EQ(log.Count("  " + Com("FAIL")), 2u);
  EXPECT_EQ(log.Count("  Debug Log Start ======================================"), 2u);
  EXPECT_EQ(log.Count("  Ram Writing"), 2u);
  EXPECT_EQ(log.Count("  NandAddr   : 0x00000001, Size : 4096"), 2u);
  EXPECT_EQ(log.Count("  TargetAddr : 0x00001000"), 2u);
  const int retry1 = log.Find(">> RETRY(1)");
  const int retry2 = log.Find(">> RETRY(2)", retry1);
  const int burning = log.Find(Com(" >> DBL BURNING ..."), retry2);
  EXPECT_GE(retry1, 0);
  EXPECT_GT(retry2, retry1);
  EXPECT_GT(burning, retry2);
}

TEST_F(NandTest, ARamPacketFailingThreeTimesEndsTheWrite) {
  images[IMAGE_DBL] = Pattern(3 * 4096);
  peer.SetHandler([](const Bytes& r) {
    const bool second = r[0] == 0x01 && r[2] == 0x10;
    return ScriptedPeer::Answers{second ? Bytes{0x03, 0x00, 0x07} : Bytes{0x02}};
  });
  ScopedClock fast(20);
  EXPECT_FALSE(dload.NandFlashWrite(IMAGE_DBL));
  EXPECT_EQ(log.Count("  Ram Writing"), 3u);
  EXPECT_FALSE(log.Has(">> RETRY(3)"));
  EXPECT_EQ(Decode(Requests()).programs.size(), 0u);
  ExpectSent(images[IMAGE_DBL], 4096);  // the packet the phone took, not the refused one
}

TEST_F(NandTest, AFailedProgramRequestEndsTheWriteAtOnce) {
  images[IMAGE_OSBL] = Pattern(20000);
  peer.SetHandler([](const Bytes& r) {
    return ScriptedPeer::Answers{r[0] == 0x21 ? Bytes{0x03, 0x01, 0x0A} : Bytes{0x02}};
  });
  EXPECT_FALSE(dload.NandFlashWrite(IMAGE_OSBL));
  const auto w = Decode(Requests());
  EXPECT_EQ(w.packets.size(), 4u);   // nothing after the first block
  EXPECT_EQ(w.programs.size(), 3u);  // one transaction of three attempts, no retry of its own
  EXPECT_EQ(log.Count("  Flash Programming"), 1u);
  EXPECT_TRUE(log.Has("  NandAddr   : 0x00000001, Size : 16384"));
}

TEST_F(NandTest, ClassicWriteRefusesUnloadedAndUnsupportedImages) {
  AckAll();
  EXPECT_FALSE(dload.NandFlashWrite(IMAGE_AMSS));
  images[IMAGE_MEDIA] = Pattern(100);
  images[IMAGE_PARTITION_TBL] = Pattern(100);
  EXPECT_FALSE(dload.NandFlashWrite(IMAGE_MEDIA));
  EXPECT_FALSE(dload.NandFlashWrite(IMAGE_PARTITION_TBL));
  EXPECT_EQ(peer.RequestCount(), 0u);
}

TEST_F(NandTest, ClassicWriteStopsOnAnAbortedLink) {
  images[IMAGE_AMSS] = Pattern(100000);
  AckAll();
  link.Abort();
  EXPECT_FALSE(dload.NandFlashWrite(IMAGE_AMSS));
  EXPECT_EQ(peer.RequestCount(), 0u);
}

TEST_F(NandTest, FinalizeEraseAndReset) {
  AckAll();
  EXPECT_TRUE(dload.NandFlashFinalize());
  EXPECT_TRUE(dload.EraseEfs());
  ScopedClock fast(20);
  dload.DloadReset();
  const auto r = Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0], Bytes{0x22});
  EXPECT_EQ(r[1], Bytes{0x24});
  EXPECT_EQ(r[2], Bytes{0x0A});
  EXPECT_EQ(window.Texts(), std::vector<std::string>{"ERASE EFS ..."});

  AnswerAlways({0x03, 0x00, 0x07});
  EXPECT_FALSE(dload.NandFlashFinalize());
  EXPECT_FALSE(dload.EraseEfs());
  EXPECT_EQ(log.Count(Com("   FAIL")), 2u);
}

TEST_F(NandTest, ResetOfASilentPhoneIsTriedThreeTimes) {
  ScopedClock fast(1000);
  Silent();
  dload.DloadReset();
  // The phone reads the last attempt on its own thread, maybe after the link gave up.
  EXPECT_TRUE(peer.WaitForRequests(3, 2000));
  EXPECT_EQ(peer.RequestCount(), 3u);
}

}  // namespace
}  // namespace tr52test
