#include "vphone/dload_responder.h"

#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "vphone/diag_responder.h"
#include "vphone/scenario.h"

namespace vphone {
namespace {

class DloadResponderTest : public ::testing::Test {
 protected:
  Reply Ask(Bytes req) {
    Reply reply;
    EXPECT_TRUE(d.Handle(Mode::Download, req, reply));
    return reply;
  }
  Bytes Only(Bytes req) {
    Reply r = Ask(std::move(req));
    EXPECT_EQ(r.frames.size(), 1u);
    return r.frames.empty() ? Bytes{} : r.frames[0];
  }
  static Bytes RamInit(uint32_t size) {
    Bytes req(518, 0);
    req[0] = 0x50;
    req[1] = 0x01;
    tr52::StoreU32le(req.data() + 2, size);
    return req;
  }
  static Bytes RamInit2nd(uint32_t kind, uint32_t size) {
    Bytes req(522, 0);
    req[0] = 0x50;
    req[1] = 0x0C;
    tr52::StoreU32le(req.data() + 2, kind);
    tr52::StoreU32le(req.data() + 6, size);
    return req;
  }
  static Bytes RamWrite(uint32_t offset, const Bytes& data) {
    Bytes req(8200, 0);
    req[0] = 0x50;
    req[1] = 0x02;
    tr52::StoreU32le(req.data() + 2, offset);
    tr52::StoreU16le(req.data() + 6, static_cast<uint16_t>(data.size()));
    std::copy(data.begin(), data.end(), req.begin() + 8);
    return req;
  }
  static uint32_t U32(const Bytes& b, size_t at) { return tr52::LoadU32le(b.data() + at); }

  FlashStore flash;
  DownloadContext ctx{flash};
  DloadResponder d{ctx};
};

TEST_F(DloadResponderTest, EmergencyModelName) {
  Bytes a = Only({0x0C});
  EXPECT_EQ(a, (Bytes{0x0D, 12, 'K', 'W', '_', 'T', 'R', '5', '2', '/', 'V', '1', '0', 'A'}));
  d.ApplyScenario(ParseScenario("dload.model = kw_TR52/V10C\n"));
  EXPECT_EQ(Only({0x0C})[1], 12);
}

TEST_F(DloadResponderTest, UnlockChecksTheCodeAndFollowsTheScenario) {
  Bytes good{0x0B};
  good.insert(good.end(), kSecurityCode.begin(), kSecurityCode.end());
  Bytes bad = good;
  bad[8] ^= 1;
  EXPECT_EQ(Only(bad), (Bytes{0x03, 0x00, 12}));
  EXPECT_FALSE(ctx.unlocked);
  EXPECT_EQ(Only(good), (Bytes{0x02}));
  EXPECT_TRUE(ctx.unlocked);

  d.ApplyScenario(ParseScenario("dload.unlock = refuse\n"));
  EXPECT_EQ(Only(good), (Bytes{0x03, 0x00, 12}));
  d.ApplyScenario(ParseScenario("dload.unlock = silent\n"));
  Reply r = Ask(good);
  EXPECT_TRUE(r.silent);
  EXPECT_TRUE(r.frames.empty());
}

TEST_F(DloadResponderTest, ResetAcknowledgesAndRebootsIntoNormalMode) {
  Reply r = Ask({0x0A});
  EXPECT_EQ(r.frames[0], (Bytes{0x02}));
  EXPECT_EQ(r.next, Reply::Switch::ToNormal);
}

TEST_F(DloadResponderTest, ParametersAndCommMode) {
  d.ApplyScenario(ParseScenario(
      "dload.param_flags = 0x42\ndload.param_byte = 9\ndload.param_word = 0x11223344\n"
      "dload.comm_mode = 1\n"));
  Bytes p = Only({0x50, 0x00});
  ASSERT_EQ(p.size(), 40u);
  EXPECT_EQ(p[0], 0x50);
  EXPECT_EQ(p[1], 0x00);
  EXPECT_EQ(p[2], 9);
  EXPECT_EQ(U32(p, 35), 0x11223344u);
  EXPECT_EQ(p[39], 0x42);
  Bytes c = Only({0x50, 0x12});
  EXPECT_EQ(c, (Bytes{0x50, 0x12, 1, 0, 0, 0}));
}

TEST_F(DloadResponderTest, RamDownloadProgramsTheWholeImage) {
  Bytes init = Only(RamInit(8193));
  EXPECT_EQ(U32(init, 2), 64u << 20);  // region offered
  EXPECT_EQ(U32(init, 7), 0u);         // error number
  Bytes first(8192), second{0xAB};
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(U32(Only(RamWrite(0, first)), 2), 0u);
  EXPECT_EQ(U32(Only(RamWrite(8192, second)), 2), 0u);
  Bytes prog = Only({0x50, 0x04});
  EXPECT_EQ(prog.size(), 7u);
  EXPECT_EQ(prog[2], 0);
  EXPECT_EQ(U32(prog, 3), 0u);
  auto img = flash.Find("AMSS");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->method, FlashMethod::RamDownload);
  EXPECT_EQ(img->start, 0x00030000u);
  ASSERT_EQ(img->data.size(), 8193u);
  EXPECT_EQ(img->data[8191], static_cast<uint8_t>(8191));
  EXPECT_EQ(img->data[8192], 0xAB);
}

TEST_F(DloadResponderTest, ProgramRefusesAnIncompleteOrUnpreparedImage) {
  EXPECT_NE(U32(Only({0x50, 0x04}), 3), 0u);              // nothing prepared
  EXPECT_NE(U32(Only(RamWrite(0, Bytes(4, 1))), 2), 0u);  // write before preparation
  Only(RamInit(16384));
  Only(RamWrite(0, Bytes(8192, 1)));
  EXPECT_NE(U32(Only({0x50, 0x04}), 3), 0u);  // second half missing
  EXPECT_FALSE(flash.Find("AMSS"));
}

TEST_F(DloadResponderTest, WritesOutsideTheRegionOrTheDeclaredSizeAreRefused) {
  d.ApplyScenario(ParseScenario("dload.ram_region = 4096\n"));
  Bytes init = Only(RamInit(8192));
  EXPECT_EQ(U32(init, 2), 4096u);  // the host decides that the region is too small
  EXPECT_NE(U32(Only(RamWrite(4000, Bytes(200, 1))), 2), 0u);
  Bytes shortReq{0x50, 0x02, 0, 0, 0, 0, 0x10, 0x00, 1, 2};  // claims 16 bytes, carries 2
  EXPECT_NE(U32(Only(shortReq), 2), 0u);
}

TEST_F(DloadResponderTest, SecondGenerationPreparationTakesAmssAndWince) {
  Only(RamInit2nd(2, 4));
  Only(RamWrite(0, Bytes{1, 2, 3, 4}));
  EXPECT_EQ(U32(Only({0x50, 0x04}), 3), 0u);
  EXPECT_TRUE(flash.Find("WINCE"));
  EXPECT_NE(U32(Only(RamInit2nd(7, 4)), 7), 0u);  // unknown kind
}

TEST_F(DloadResponderTest, ScenarioErrorsOfTheRamRoute) {
  d.ApplyScenario(ParseScenario("dload.init_error = 3\n"));
  EXPECT_EQ(U32(Only(RamInit(16)), 7), 3u);
  d.ApplyScenario(ParseScenario("dload.init_error = 0\ndload.write_error_at = 8192\n"));
  Only(RamInit(16384));
  EXPECT_EQ(U32(Only(RamWrite(0, Bytes(8192, 1))), 2), 0u);
  EXPECT_EQ(U32(Only(RamWrite(8192, Bytes(8192, 1))), 2), 5u);
  d.ApplyScenario(ParseScenario("dload.write_error_at = -1\ndload.program_error = 0x0A\n"));
  Only(RamWrite(8192, Bytes(8192, 1)));
  Bytes prog = Only({0x50, 0x04});
  EXPECT_EQ(prog[2], 0x0A);
  EXPECT_NE(U32(prog, 3), 0u);
}

TEST_F(DloadResponderTest, RebootDropsThePreparedRam) {
  Only(RamInit(4));
  Only(RamWrite(0, Bytes(4, 1)));
  d.OnBoot(Mode::Download);
  EXPECT_NE(U32(Only({0x50, 0x04}), 3), 0u);
}

TEST_F(DloadResponderTest, BcplStates) {
  Bytes unlock(130, 0x5A);
  unlock[0] = 0x50;
  unlock[1] = 0x0F;
  EXPECT_EQ(Only({0x50, 0x07}), (Bytes{0x50, 0x07, 0}));

  d.ApplyScenario(ParseScenario("dload.bcpl = on\n"));
  EXPECT_EQ(Only({0x50, 0x07})[2], 1);
  EXPECT_EQ(Only(unlock)[2], 1);
  EXPECT_EQ(Only({0x50, 0x07})[2], 0);

  d.ApplyScenario(ParseScenario("dload.bcpl = on_refuse\n"));
  EXPECT_EQ(Only(unlock)[2], 0);
  EXPECT_EQ(Only({0x50, 0x07})[2], 1);

  d.ApplyScenario(ParseScenario("dload.bcpl = on_stuck\n"));
  EXPECT_EQ(Only(unlock)[2], 1);
  EXPECT_EQ(Only({0x50, 0x07})[2], 1);

  EXPECT_EQ(Only({0x50, 0x0F, 1, 2}), (Bytes{0x03, 0x00, 0x03}));  // short unlock
}

TEST_F(DloadResponderTest, LeavesProgrammerCommandsAndNormalModeToOthers) {
  Reply r;
  EXPECT_FALSE(d.Handle(Mode::Normal, Bytes{0x0C}, r));
  EXPECT_FALSE(d.Handle(Mode::Download, Bytes{0x50, 0x10}, r));
  EXPECT_FALSE(d.Handle(Mode::Download, Bytes{0x31, 5, 0, 0, 0}, r));
}

}  // namespace
}  // namespace vphone
