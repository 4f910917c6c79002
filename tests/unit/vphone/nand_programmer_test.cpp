#include "vphone/nand_programmer.h"

#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "vphone/scenario.h"

namespace vphone {
namespace {

// Drives the programmer as the classic write does: RAM packets into one block, then a program
// request per block.
class NandProgrammerTest : public ::testing::Test {
 protected:
  Bytes Only(Bytes req) {
    Reply reply;
    EXPECT_TRUE(p.Handle(Mode::Download, req, reply));
    EXPECT_EQ(reply.frames.size(), 1u);
    return reply.frames.empty() ? Bytes{} : reply.frames[0];
  }
  static Bytes RamPacket(uint32_t target, const uint8_t* data, size_t n, uint16_t packet) {
    Bytes req(6 + packet, 0);
    req[0] = 0x01;
    req[1] = static_cast<uint8_t>(target >> 16);
    tr52::StoreU16be(req.data() + 2, static_cast<uint16_t>(target));
    tr52::StoreU16be(req.data() + 4, packet);
    std::copy(data, data + n, req.begin() + 6);
    return req;
  }
  static Bytes ProgramReq(uint32_t address, uint32_t count) {
    Bytes req(9, 0);
    req[0] = 0x21;
    tr52::StoreU32be(req.data() + 1, address);
    tr52::StoreU32be(req.data() + 5, count);
    return req;
  }
  // The host's classic write of `image` at `start`; returns the number of program requests.
  int ClassicWrite(const Bytes& image, uint32_t start, uint16_t packet, uint32_t block) {
    size_t remaining = image.size(), source = 0;
    uint32_t target = 0, inBlock = 0, address = start;
    int programs = 0;
    while (remaining > 0) {
      size_t piece = std::min<size_t>(packet, remaining);
      EXPECT_EQ(Only(RamPacket(target, image.data() + source, piece, packet)), DloadAck());
      source += piece;
      target += static_cast<uint32_t>(piece);
      inBlock += static_cast<uint32_t>(piece);
      remaining -= piece;
      if (inBlock == block || remaining == 0) {
        EXPECT_EQ(Only(ProgramReq(address, inBlock)), DloadAck());
        ++programs;
        address += inBlock;
        inBlock = 0;
        target = 0;
      }
    }
    return programs;
  }
  static Bytes Pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return b;
  }

  FlashStore flash;
  DownloadContext ctx{flash};
  NandProgrammer p{ctx};
};

TEST_F(NandProgrammerTest, TrustedModeAcceptsZeroAndOneOnly) {
  EXPECT_EQ(Only({0x48, 0x01}), DloadAck());
  EXPECT_EQ(ctx.secMode, 1);
  EXPECT_EQ(Only({0x48, 0x02}), DloadNak(1, kErrSecureBadMode));
}

TEST_F(NandProgrammerTest, PartitionTableNeedsTheSecurityModeAndOverridesAMismatch) {
  Bytes table(516, 0);
  table[0] = 0x40;
  table[1] = 0x02;
  table[4] = 0xAA;
  EXPECT_EQ(Only(table), DloadNak(1, 44));  // before DLOAD_NAND_SEC_MODE
  Only({0x48, 0x01});
  EXPECT_EQ(Only(table), DloadAck());
  EXPECT_EQ(flash.Find("PARTITION TBL")->data.size(), 512u);
  EXPECT_EQ(Only(table), DloadAck());  // the same table again
  table[5] = 0xBB;
  EXPECT_EQ(Only(table), DloadNak(1, kErrPartiNoMatch));
  table[3] = 1;  // override
  EXPECT_EQ(Only(table), DloadAck());
  EXPECT_EQ(flash.Find("PARTITION TBL")->data[1], 0xBB);

  p.ApplyScenario(ParseScenario("nand.partition_mismatch = true\n"));
  table[3] = 0;
  EXPECT_EQ(Only(table), DloadNak(1, kErrPartiNoMatch));
}

TEST_F(NandProgrammerTest, SixteenKilobyteImageIsOneBlockAtItsAddress) {
  Only({0x31, 5, 0, 0, 0});  // open AMSS
  Bytes image = Pattern(16384);
  EXPECT_EQ(ClassicWrite(image, 0x00030000, 4096, 16384), 1);
  EXPECT_EQ(Only({0x22}), DloadAck());
  auto img = flash.Find("AMSS");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->start, 0x00030000u);
  EXPECT_EQ(img->method, FlashMethod::Classic);
  EXPECT_EQ(img->data, image);
}

TEST_F(NandProgrammerTest, ShortLastPacketKeepsOnlyTheRealBytes) {
  Only({0x31, 21, 0, 0, 0});  // FLEXIBLE LOGO
  Bytes image = Pattern(5000);
  EXPECT_EQ(ClassicWrite(image, 0x00010000, 4096, 16384), 1);
  EXPECT_EQ(flash.Find("FLEXIBLE LOGO")->data, image);
}

TEST_F(NandProgrammerTest, MasterRomGeometryWrapsTheAddress) {
  Bytes header(265, 0);
  header[0] = 0x49;
  header[9] = 0x4D;
  EXPECT_EQ(Only(header), DloadAck());
  EXPECT_EQ(flash.Find("MASTER ROM HEADER")->data[0], 0x4D);
  Bytes image = Pattern(20000);
  EXPECT_EQ(ClassicWrite(image, 0xFFFFFFFE, 4224, 16896), 2);
  auto img = flash.Find("MASTER ROM");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->start, 0xFFFFFFFEu);
  EXPECT_EQ(img->data, image);
}

TEST_F(NandProgrammerTest, ImagesWithoutAnOpenAreNamedByAddress) {
  Bytes image = Pattern(100);
  ClassicWrite(image, 0x1234, 4096, 16384);
  EXPECT_TRUE(flash.Find("NAND 0x00001234"));
}

TEST_F(NandProgrammerTest, OpenCommands) {
  Only({0x41});
  EXPECT_EQ(ctx.openImage, "PBL");
  Only({0x31, 9, 0, 0, 0});
  EXPECT_EQ(ctx.openImage, "EFS GANG");
  EXPECT_EQ(ctx.openStart, 0x01400000u);
  Only({0x31, 15, 0, 0, 0});
  EXPECT_EQ(ctx.openImage, "DBL");
  Only({0x50, 0x0E, 0, 0, 0});
  EXPECT_EQ(ctx.openImage, "APPS");
  Bytes oemsbl(515, 0);
  oemsbl[0] = 0x44;
  oemsbl[1] = 0x02;
  Only(oemsbl);
  EXPECT_EQ(ctx.openImage, "OEMSBL");
  EXPECT_EQ(flash.Find("OEMSBL HEADER")->data.size(), 512u);
  EXPECT_EQ(Only({0x31, 99, 0, 0, 0}), DloadNak(1, kErrBadCmd));
  EXPECT_EQ(Only({0x31, 5}), DloadNak(0, kNakInvalidLen));
}

TEST_F(NandProgrammerTest, MalformedRamPacketsAreRefused) {
  Bytes data(8, 1);
  Bytes wrongLength = RamPacket(0, data.data(), 8, 4096);
  wrongLength.pop_back();
  EXPECT_EQ(Only(wrongLength), DloadNak(0, kNakInvalidLen));
  EXPECT_EQ(Only(RamPacket(16384, data.data(), 8, 4096)), DloadNak(1, 6));  // past the block
  EXPECT_EQ(Only(ProgramReq(0, 20000)), DloadNak(1, 6));
}

TEST_F(NandProgrammerTest, ScenarioRefusesTheNthRamPacketAndProgram) {
  p.ApplyScenario(
      ParseScenario("nand.fail_ram_write = 2\nnand.fail_ram_write_count = 2\n"
                    "nand.fail_program = 1\n"));
  Bytes d(4096, 3);
  EXPECT_EQ(Only(RamPacket(0, d.data(), d.size(), 4096)), DloadAck());
  EXPECT_EQ(Only(RamPacket(4096, d.data(), d.size(), 4096)), DloadNak(1, kErrWriteFail));
  EXPECT_EQ(Only(RamPacket(4096, d.data(), d.size(), 4096)), DloadNak(1, kErrWriteFail));
  EXPECT_EQ(Only(RamPacket(4096, d.data(), d.size(), 4096)), DloadAck());
  EXPECT_EQ(Only(ProgramReq(0, 8192)), DloadNak(1, kErrWriteFail));
  EXPECT_EQ(Only(ProgramReq(0, 8192)), DloadAck());
}

TEST_F(NandProgrammerTest, EfsErase) {
  flash.Put("EFS GANG", 0x01400000, FlashMethod::Classic, Bytes(4, 0));
  EXPECT_EQ(Only({0x24}), DloadAck());
  EXPECT_FALSE(flash.Find("EFS GANG"));
  p.ApplyScenario(ParseScenario("nand.erase_fail = yes\n"));
  EXPECT_EQ(Only({0x24}), DloadNak(1, kErrEraseFail));
}

}  // namespace
}  // namespace vphone
