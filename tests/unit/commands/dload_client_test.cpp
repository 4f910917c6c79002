#include "commands/dload_client.h"

#include <gtest/gtest.h>

#include "command_fixture.h"
#include "support/scoped_clock.h"

namespace tr52test {
namespace {

using tr52::IMAGE_AMSS;
using tr52::IMAGE_AMSS_MODEM_HEADER;
using tr52::IMAGE_DBL;
using tr52::IMAGE_WINCE;

class DloadClientTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    link.SetProtocolMode(tr52::Protocol::Dload);
  }
};

// An answer of the maker extension (0x50) with fields written at given offsets.
Bytes ZumAnswer(size_t length, std::initializer_list<std::pair<size_t, uint32_t>> fields) {
  Bytes a(length, 0);
  a[0] = 0x50;
  for (const auto& [at, v] : fields)
    for (int i = 0; i < 4 && at + i < length; ++i) a[at + i] = static_cast<uint8_t>(v >> (8 * i));
  return a;
}

// The answer to a RAM write that took its chunk: error number 0 at bytes 2..5.
Bytes RamWriteDone() {
  return {0x50, 0x02, 0, 0, 0, 0};
}

// --- parameters and communication mode -------------------------------------------------

TEST_F(DloadClientTest, ParametersDecodeTheFlagBitsOfByte39) {
  Bytes answer = ZumAnswer(40, {{35, 0x12345678}});
  answer[2] = 0x77;
  answer[39] = 0xFF;  // bits 5 and 7 are not kept
  AnswerAlways(answer);
  ASSERT_TRUE(dload.GetParameters());
  EXPECT_EQ(Requests()[0], (Bytes{0x50, 0x00}));
  const auto& p = dload.Params();
  EXPECT_EQ(p.valid, 1);
  EXPECT_EQ(p.paramByte, 0x77);
  EXPECT_EQ(p.paramWord, 0x12345678u);
  EXPECT_EQ(p.flag0 + p.flag1 + p.flag2 + p.flag3 + p.flag4 + p.flag6, 6);

  answer[39] = 0x42;  // flag1 and flag6 only
  AnswerAlways(answer);
  ASSERT_TRUE(dload.GetParameters());
  EXPECT_EQ(dload.Params().flag1, 1);
  EXPECT_EQ(dload.Params().flag6, 1);
  EXPECT_EQ(
      dload.Params().flag0 + dload.Params().flag2 + dload.Params().flag3 + dload.Params().flag4, 0);
}

TEST_F(DloadClientTest, FailedParametersClearEverything) {
  Bytes answer = ZumAnswer(40, {});
  answer[39] = 0x42;
  AnswerAlways(answer);
  ASSERT_TRUE(dload.GetParameters());
  AnswerAlways({0x03, 0x00, 0x06});
  EXPECT_FALSE(dload.GetParameters());
  EXPECT_FALSE(dload.GetParameters());
  EXPECT_EQ(dload.Params().valid, 0);
  EXPECT_EQ(dload.Params().flag1, 0);
  EXPECT_EQ(dload.Params().flag6, 0);
  EXPECT_TRUE(log.Has("  FAIL"));
}

TEST_F(DloadClientTest, ParametersOfAShortAnswerAreNotTakenFromAnEarlierOne) {
  Bytes full = ZumAnswer(40, {});
  full[39] = 0x42;
  AnswerAlways(full);
  ASSERT_TRUE(dload.GetParameters());
  AnswerAlways({0x50, 0x00, 0x01});
  EXPECT_FALSE(dload.GetParameters());
  EXPECT_EQ(dload.Params().valid, 0);
  EXPECT_EQ(dload.Params().flag1, 0);
  EXPECT_EQ(dload.Params().flag6, 0);
}

TEST_F(DloadClientTest, CommModeIsSetOnlyOnSuccess) {
  AnswerAlways(ZumAnswer(6, {{2, 2}}));
  ASSERT_TRUE(dload.GetCommMode());
  EXPECT_EQ(dload.CommMode(), 2);
  EXPECT_EQ(Requests()[0], (Bytes{0x50, 0x12}));
  EXPECT_TRUE(log.Has("[GetCommMode] Communication mode : 2"));

  AnswerAlways({0x03, 0x00, 0x06});
  EXPECT_FALSE(dload.GetCommMode());
  EXPECT_EQ(dload.CommMode(), 2);
}

// --- RAM download ------------------------------------------------------------------------

TEST_F(DloadClientTest, DlInitSendsTheAmssSizeAndTheModemHeader) {
  images[IMAGE_AMSS] = Pattern(100000);
  images[IMAGE_AMSS_MODEM_HEADER] = Pattern(300, 7);
  AnswerAlways(ZumAnswer(11, {{2, 100000}, {7, 0}}));
  ASSERT_TRUE(dload.Dl_Init());
  ASSERT_EQ(Requests().size(), 1u);
  const auto allr = Requests();
  ASSERT_FALSE(allr.empty());
  const Bytes& r = allr[0];
  ASSERT_EQ(r.size(), 518u);
  EXPECT_EQ(r[0], 0x50);
  EXPECT_EQ(r[1], 0x01);
  EXPECT_EQ(U32le(r, 2), 100000u);
  EXPECT_EQ(Bytes(r.begin() + 6, r.begin() + 306), images[IMAGE_AMSS_MODEM_HEADER]);
  EXPECT_TRUE(AllZero(r, 306, 518));
}

TEST_F(DloadClientTest, DlInitRefusesASmallRegionOrAnErrorNumber) {
  images[IMAGE_AMSS] = Pattern(100000);
  images[IMAGE_AMSS_MODEM_HEADER] = Pattern(300);
  AnswerAlways(ZumAnswer(11, {{2, 99999}, {7, 0}}));
  EXPECT_FALSE(dload.Dl_Init());
  EXPECT_TRUE(log.Has(Com(" Dl_Init - ZI_REGION Error(0)")));
  AnswerAlways(ZumAnswer(11, {{2, 200000}, {7, 9}}));
  EXPECT_FALSE(dload.Dl_Init());
  EXPECT_TRUE(log.Has(Com(" Dl_Init - ZI_REGION Error(9)")));
}

TEST_F(DloadClientTest, AModemHeaderLargerThanTheRequestIsNotSent) {
  images[IMAGE_AMSS] = Pattern(1000);
  images[IMAGE_AMSS_MODEM_HEADER] = Pattern(513);
  AckAll();
  EXPECT_FALSE(dload.Dl_Init());
  EXPECT_FALSE(dload.Dl_Init_2nd(IMAGE_AMSS));
  EXPECT_EQ(peer.RequestCount(), 0u);
}

TEST_F(DloadClientTest, DlInit2ndLayoutsForAmssAndWince) {
  images[IMAGE_AMSS] = Pattern(5000);
  images[IMAGE_WINCE] = Pattern(7000);
  images[IMAGE_AMSS_MODEM_HEADER] = Pattern(512, 3);
  AnswerAlways(ZumAnswer(11, {{2, 10000}}));
  ASSERT_TRUE(dload.Dl_Init_2nd(IMAGE_AMSS));
  ASSERT_TRUE(dload.Dl_Init_2nd(IMAGE_WINCE));
  ASSERT_EQ(Requests().size(), 2u);
  const auto allamss = Requests();
  ASSERT_FALSE(allamss.empty());
  const Bytes& amss = allamss[0];
  ASSERT_EQ(amss.size(), 522u);
  EXPECT_EQ(amss[1], 0x0C);
  EXPECT_EQ(U32le(amss, 2), 0u);
  EXPECT_EQ(U32le(amss, 6), 5000u);
  EXPECT_EQ(Bytes(amss.begin() + 10, amss.end()), images[IMAGE_AMSS_MODEM_HEADER]);
  const auto allwince = Requests();
  ASSERT_FALSE(allwince.empty());
  const Bytes& wince = allwince[1];
  EXPECT_EQ(U32le(wince, 2), 2u);
  EXPECT_EQ(U32le(wince, 6), 7000u);
  EXPECT_TRUE(AllZero(wince, 10, 522));
  EXPECT_TRUE(log.Has(Com(" AMSS RAM INIT 2nd")));
}

TEST_F(DloadClientTest, DlInit2ndRejectsOtherTypesAndReportsPhoneErrors) {
  images[IMAGE_DBL] = Pattern(100);
  images[IMAGE_AMSS] = Pattern(5000);
  AnswerAlways(ZumAnswer(11, {{2, 10000}}));
  EXPECT_FALSE(dload.Dl_Init_2nd(IMAGE_DBL));
  EXPECT_EQ(peer.RequestCount(), 0u);

  AnswerAlways(ZumAnswer(11, {{2, 10000}, {7, 4}}));
  EXPECT_FALSE(dload.Dl_Init_2nd(IMAGE_AMSS));
  EXPECT_TRUE(log.Has(Com(" Dl_Init - ErrNo(4)")));
  AnswerAlways(ZumAnswer(11, {{2, 4999}}));
  EXPECT_FALSE(dload.Dl_Init_2nd(IMAGE_AMSS));
  EXPECT_TRUE(log.Has(Com(" Dl_Init - ZI_REGION Error(4999<5000)")));
}

// Offsets and lengths of the RAM-write requests received.
struct Chunk {
  uint32_t offset;
  uint16_t length;
};
std::vector<Chunk> Chunks(const std::vector<Bytes>& requests) {
  std::vector<Chunk> out;
  for (const auto& r : requests)
    if (r.size() >= 8 && r[0] == 0x50 && r[1] == 0x02)
      out.push_back({U32le(r, 2), static_cast<uint16_t>(r[6] | (r[7] << 8))});
  return out;
}

TEST_F(DloadClientTest, DlWriteOfAMultipleOf8192GoesInFullChunks) {
  images[IMAGE_AMSS] = Pattern(3 * 8192);
  AnswerAlways(RamWriteDone());
  EXPECT_EQ(dload.Dl_Write(IMAGE_AMSS), tr52::DlWriteResult::Done);
  const auto requests = Requests();
  const auto chunks = Chunks(requests);
  ASSERT_EQ(chunks.size(), 3u);
  Bytes joined;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(requests[i].size(), 8200u);
    EXPECT_EQ(chunks[i].offset, i * 8192);
    EXPECT_EQ(chunks[i].length, 8192);
    joined.insert(joined.end(), requests[i].begin() + 8, requests[i].end());
  }
  EXPECT_EQ(joined, images[IMAGE_AMSS]);
  ExpectSent(images[IMAGE_AMSS], 3 * 8192);
  // Init at 0 and one step per chunk.
  EXPECT_EQ(window.Positions(), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(log.Has(Com(" ProgreassiveBar Init wParam lParam(pos)=0 - Max3")));
  EXPECT_TRUE(log.Has(Com(" AMSS RAM WRITING END ...")));
  ASSERT_FALSE(window.Texts().empty());
  EXPECT_EQ(window.Texts()[0], "Write RAM (AMSS)...");
}

TEST_F(DloadClientTest, DlWriteOf8193BytesEndsWithAOneByteChunk) {
  images[IMAGE_AMSS] = Pattern(8193);
  AnswerAlways(RamWriteDone());
  EXPECT_EQ(dload.Dl_Write(IMAGE_AMSS), tr52::DlWriteResult::Done);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].size(), 8200u);
  EXPECT_EQ(U32le(requests[1], 2), 8192u);
  EXPECT_EQ(requests[1][6], 1);
  EXPECT_EQ(requests[1][7], 0);
  EXPECT_EQ(requests[1][8], images[IMAGE_AMSS][8192]);
  EXPECT_TRUE(AllZero(requests[1], 9, 8200));
}

TEST_F(DloadClientTest, DlWriteOfAnImageShorterThanAChunkSendsOnlyTheImage) {
  images[IMAGE_AMSS] = Pattern(100);
  AnswerAlways(RamWriteDone());
  EXPECT_EQ(dload.Dl_Write(IMAGE_AMSS), tr52::DlWriteResult::Done);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0][6], 100);
  EXPECT_EQ(requests[0][7], 0);
  EXPECT_EQ(Bytes(requests[0].begin() + 8, requests[0].begin() + 108), images[IMAGE_AMSS]);
  EXPECT_TRUE(AllZero(requests[0], 108, 8200));
}

TEST_F(DloadClientTest, DlWriteStopsAtAnErrorNumberOrAFailedChunk) {
  images[IMAGE_AMSS] = Pattern(5 * 8192);
  peer.SetHandler([](const Bytes& r) {
    const bool second = U32le(r, 2) == 8192;
    return ScriptedPeer::Answers{second ? Bytes{0x50, 0x02, 0x07, 0, 0, 0} : RamWriteDone()};
  });
  EXPECT_EQ(dload.Dl_Write(IMAGE_AMSS), tr52::DlWriteResult::Failed);
  // The phone reads the last attempt on its own thread, maybe after the link gave up.
  EXPECT_TRUE(peer.WaitForRequests(2, 2000));
  EXPECT_EQ(peer.RequestCount(), 2u);
  EXPECT_TRUE(log.Has(Com(" Dl_Write - ErrNo(7), Addr(0x00002000), Len(0x00002000)")));
  ExpectSent(images[IMAGE_AMSS], 8192);

  AnswerAlways({0x03, 0x00, 0x07});
  EXPECT_EQ(dload.Dl_Write(IMAGE_AMSS), tr52::DlWriteResult::Failed);
  EXPECT_TRUE(log.Has(Com(" FAIL Return Code =0")));
}

TEST_F(DloadClientTest, DlWriteOnAClosedPortReturnsSix) {
  images[IMAGE_AMSS] = Pattern(100);
  link.Close();
  EXPECT_EQ(dload.Dl_Write(IMAGE_AMSS), tr52::DlWriteResult::NotOpen);
}

TEST_F(DloadClientTest, DlWriteOnAnAbortedLinkFails) {
  images[IMAGE_AMSS] = Pattern(100);
  AckAll();
  link.Abort();
  EXPECT_EQ(dload.Dl_Write(IMAGE_AMSS), tr52::DlWriteResult::Failed);
  EXPECT_EQ(peer.RequestCount(), 0u);
}

TEST_F(DloadClientTest, DlProgramChecksTheErrorNumber) {
  AnswerAlways({0x50, 0x04, 0x00, 0, 0, 0, 0});
  EXPECT_TRUE(dload.Dl_Program());
  EXPECT_EQ(Requests()[0], (Bytes{0x50, 0x04}));
  AnswerAlways({0x50, 0x04, 0x0A, 0x01, 0, 0, 0});
  EXPECT_FALSE(dload.Dl_Program());
  EXPECT_TRUE(log.Has(Com(" Nand Error : 10")));
}

// --- emergency model name and unlock ------------------------------------------------------

Bytes VerResponse(const std::string& name) {
  Bytes a{0x0D, static_cast<uint8_t>(name.size())};
  a.insert(a.end(), name.begin(), name.end());
  return a;
}

TEST_F(DloadClientTest, EmergencyNameStartingWithKwInAnyCaseIsAccepted) {
  link.SetProtocolMode(tr52::Protocol::Diag);
  AnswerAlways(VerResponse("KW_TR52/V10A"));
  std::string name;
  ASSERT_TRUE(dload.GetEmergencyModelName(name));
  EXPECT_EQ(name, "KW_TR52/V10A");
  EXPECT_EQ(link.ProtocolMode(), tr52::Protocol::Dload);
  EXPECT_EQ(Requests()[0], Bytes{0x0C});
  EXPECT_TRUE(log.Has(Com("   KW_TR52/V10A")));

  AnswerAlways(VerResponse("kw_TR52/V10A"));
  EXPECT_TRUE(dload.GetEmergencyModelName(name));
}

TEST_F(DloadClientTest, EmergencyNameWithoutKwIsRejectedAndEmptied) {
  AnswerAlways(VerResponse("XY_TR52/V10A"));
  std::string name;
  EXPECT_FALSE(dload.GetEmergencyModelName(name));
  EXPECT_EQ(name, "");
  EXPECT_TRUE(log.Has(Com("  First two character of model name is not KW")));
}

TEST_F(DloadClientTest, EmergencyNameOfLengthZeroIsRejectedSilently) {
  AnswerAlways({0x0D, 0x00, 'K', 'W'});
  std::string name = "keep";
  EXPECT_FALSE(dload.GetEmergencyModelName(name));
  EXPECT_EQ(name, "keep");
  EXPECT_FALSE(log.Has(Com("  First two character of model name is not KW")));
}

TEST_F(DloadClientTest, EmergencyNameLongerThanItsAnswerFailsTheCommand) {
  AnswerAlways(VerResponse("KW_TR52/LONGER-NAME"));
  std::string name;
  ASSERT_TRUE(dload.GetEmergencyModelName(name));
  AnswerAlways({0x0D, 40, 'K', 'W', '_', 'T'});  // claims 40 bytes, brings 4
  EXPECT_FALSE(dload.GetEmergencyModelName(name));
  EXPECT_TRUE(log.Has(Com(" >> Get Model Name in Emergency Mode FAIL")));
}

TEST_F(DloadClientTest, EmergencyNameOfASilentPhoneFails) {
  ScopedClock fast(1000);
  Silent();
  std::string name;
  EXPECT_FALSE(dload.GetEmergencyModelName(name));
  EXPECT_TRUE(log.Has(Com(" >> Get Model Name in Emergency Mode FAIL")));
}

TEST_F(DloadClientTest, UnlockSendsTheCodeAndAcceptsAckOrDloadAnswer) {
  AckAll();
  EXPECT_TRUE(dload.DloadUnlock(tr52::kPhoneSecurityCode));
  EXPECT_EQ(Requests()[0], (Bytes{0x0B, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}));
  AnswerAlways({0x3A});
  EXPECT_TRUE(dload.DloadUnlock(tr52::kPhoneSecurityCode));
}

TEST_F(DloadClientTest, UnlockOfASilentPhoneCountsAsUnlocked) {
  ScopedClock fast(100);
  Silent();
  EXPECT_TRUE(dload.DloadUnlock(tr52::kPhoneSecurityCode));
  EXPECT_TRUE(log.Has(Com(" >> DloadUnlock FAILED]")));
  EXPECT_TRUE(log.Has(Com(" >> DloadUnlock FAILED TIMEOUT]")));
}

TEST_F(DloadClientTest, UnlockRefusedByThePhoneFails) {
  AnswerAlways({0x03, 0x00, 0x0C});
  EXPECT_FALSE(dload.DloadUnlock(tr52::kPhoneSecurityCode));
  EXPECT_TRUE(log.Has(Com(" >> DloadUnlock FAILED]")));
  EXPECT_FALSE(log.Has(Com(" >> DloadUnlock FAILED TIMEOUT]")));
  EXPECT_TRUE(log.Has("[ DLOAD ERROR ] : NAK_BAD_SEC_CODE"));
}

}  // namespace
}  // namespace tr52test
