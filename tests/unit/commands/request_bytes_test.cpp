// The command families' request builders and answer parsers on plain bytes: each request kind
// against its golden bytes, each answer layout whole and cut short.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/bcpl_requests.h"
#include "commands/diag_requests.h"
#include "commands/dload_requests.h"
#include "commands/nand_requests.h"
#include "phonedata/nv_ranges.h"
#include "support/request_rows.h"

namespace {

using namespace tr52test;  // the rows and byte helpers of request_rows.h

Bytes Counting(size_t n, uint8_t from = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(from + i);
  return b;
}

constexpr uint8_t kCode[8] = {0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F};

TEST(RequestBytes, Diag) {
  ExpectGolden({
      {"version", tr52::BuildVersionRequest(), {0x00}},
      {"password",
       tr52::BuildPasswordRequest(kCode),
       {0x46, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}},
      {"switch to download mode", tr52::BuildDloadSwitchRequest(), {0x3A}},
      {"off line", tr52::BuildControlRequest(1), {0x29, 0x01, 0x00}},
      {"reset", tr52::BuildControlRequest(0x0102), {0x29, 0x02, 0x01}},
      {"battery", tr52::BuildBatteryRequest(), {0x4B, 0xFC, 0x04, 0x00}},
      {"NV ranges", tr52::BuildNvRangesRequest(), {0x4B, 0xFC, 0x09, 0x00}},
  });
  const Bytes verno = Joined(Padded({0x00}, 39), {'K', 'W', '5', '2', 0, 'x'});
  const auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  const auto battery = [](const tr52::BatteryAnswer& a) {
    return Joined(U32Bytes(a.status), {static_cast<uint8_t>(a.level)});
  };
  const auto ranges = [](const tr52::NvRanges& r) {
    return Bytes{static_cast<uint8_t>(r.qctMin), static_cast<uint8_t>(r.qctMax),
                 static_cast<uint8_t>(r.zumMin), static_cast<uint8_t>(r.zumMax)};
  };
  const Bytes rangesAnswer{0x4B, 0xFC, 0x09, 0x00, 1, 0, 2, 0, 3, 0, 4, 0};
  ExpectParsed({
      {"model text to its NUL", Put(tr52::ParseModelText(verno), text), text("KW52")},
      {"model text missing", Put(tr52::ParseModelText(Padded({0x00}, 39)), text), std::nullopt},
      {"model text at the last byte",
       Put(tr52::ParseModelText(Joined(Padded({0x00}, 39), {'Z'})), text), text("Z")},
      {"battery level is signed",
       Put(tr52::ParseBatteryAnswer(Padded({0x4B, 0xFC, 0x04, 0x00, 0, 0, 0, 0, 0xFB}, 9)),
           battery),
       Joined(U32Bytes(0), {0xFB})},
      {"battery refused without level bytes",
       Put(tr52::ParseBatteryAnswer(Bytes{0x4B, 0xFC, 0x04, 0x00, 2, 0, 0, 0}), battery),
       Joined(U32Bytes(2), {0})},
      {"battery accepted without level byte",
       Put(tr52::ParseBatteryAnswer(Bytes{0x4B, 0xFC, 0x04, 0x00, 0, 0, 0, 0}), battery),
       std::nullopt},
      {"battery without status", Put(tr52::ParseBatteryAnswer(Bytes{0x4B, 0xFC, 0x04}), battery),
       std::nullopt},
      {"NV ranges", Put(tr52::ParseNvRanges(rangesAnswer), ranges), Bytes{1, 2, 3, 4}},
      {"NV ranges cut short",
       Put(tr52::ParseNvRanges(Bytes(rangesAnswer.begin(), rangesAnswer.end() - 1)), ranges),
       std::nullopt},
  });
}

TEST(RequestBytes, DownloadMode) {
  const Bytes header = Counting(3, 0x10);
  ExpectGolden({
      {"parameters", tr52::BuildGetParameters(), {0x50, 0x00}},
      {"communication mode", tr52::BuildGetCommMode(), {0x50, 0x12}},
      {"RAM init", tr52::BuildRamInit(0x01020304, header),
       Padded({0x50, 0x01, 0x04, 0x03, 0x02, 0x01, 0x10, 0x11, 0x12}, 518)},
      {"RAM init with a full header", tr52::BuildRamInit(1, Bytes(512, 0xEE)),
       Joined({0x50, 0x01, 1, 0, 0, 0}, Bytes(512, 0xEE))},
      {"RAM init with too long a header", tr52::BuildRamInit(1, Bytes(513, 0xEE)), {}},
      {"second RAM init", tr52::BuildRamInit2nd(2, 0x00AABBCC, header),
       Padded({0x50, 0x0C, 2, 0, 0, 0, 0xCC, 0xBB, 0xAA, 0x00, 0x10, 0x11, 0x12}, 522)},
      {"second RAM init with too long a header", tr52::BuildRamInit2nd(0, 1, Bytes(513, 1)), {}},
      {"RAM write", tr52::BuildRamWrite(0x2000, Counting(3)),
       Padded({0x50, 0x02, 0x00, 0x20, 0, 0, 0x03, 0x00, 1, 2, 3}, 8200)},
      {"RAM write of a whole chunk", tr52::BuildRamWrite(0, Bytes(8192, 0x5A)),
       Joined({0x50, 0x02, 0, 0, 0, 0, 0x00, 0x20}, Bytes(8192, 0x5A))},
      {"RAM write of more than a chunk", tr52::BuildRamWrite(0, Bytes(8193, 0)), {}},
      {"RAM program", tr52::BuildRamProgram(), {0x50, 0x04}},
      {"version query", tr52::BuildVersionQuery(), {0x0C}},
      {"unlock", tr52::BuildUnlock(kCode), {0x0B, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}},
      {"reset", tr52::BuildDloadReset(), {0x0A}},
      {"pipelined header",
       [] {
         const auto h = tr52::BuildAsyncWriteHeader(0x00104000, 0x4000, 0x41, 2);
         return Bytes(h.begin(), h.end());
       }(),
       {0x50, 0x10, 0x00, 0x40, 0x10, 0x00, 0x00, 0x40, 0x41, 0, 0, 0, 2, 0, 0, 0}},
  });
  Bytes params = Padded({0x0D, 0, 0x77}, 40);
  params[35] = 0x78;
  params[38] = 0x12;
  params[39] = 0x42;  // bits 1 and 6
  const auto flags = [](const tr52::DloadParams& p) {
    return Joined({p.valid, p.paramByte, p.flag0, p.flag1, p.flag2, p.flag3, p.flag4, p.flag6},
                  U32Bytes(p.paramWord));
  };
  const auto word = [](uint32_t v) { return U32Bytes(v); };
  const auto ramInit = [](const tr52::RamInitAnswer& a) {
    return Joined(U32Bytes(a.region), U32Bytes(a.errorNumber));
  };
  const auto program = [](const tr52::RamProgramAnswer& a) {
    return Joined({a.nandError}, U32Bytes(a.errorNumber));
  };
  const auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  const auto ack = [](const tr52::AsyncAck& a) {
    return Joined(
        Joined(Joined(U32Bytes(a.sequence), U32Bytes(a.interval)), U32Bytes(a.errorNumber)),
        {a.nandError});
  };
  const Bytes ackBytes{0x50, 0x10, 4, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0x33};
  ExpectParsed({
      {"parameters", Put(tr52::ParseParameters(params), flags),
       Joined({1, 0x77, 0, 1, 0, 0, 0, 1}, U32Bytes(0x12000078))},
      {"parameters without the flag byte",
       Put(tr52::ParseParameters(Bytes(params.begin(), params.end() - 1)), flags), std::nullopt},
      {"communication mode", Put(tr52::ParseCommMode(Bytes{0x50, 0x12, 2, 0, 0, 0}), word),
       U32Bytes(2)},
      {"communication mode cut short", Put(tr52::ParseCommMode(Bytes{0x50, 0x12, 2}), word),
       std::nullopt},
      {"RAM init",
       Put(tr52::ParseRamInitAnswer(Bytes{0x50, 0x01, 0, 1, 0, 0, 0, 7, 0, 0, 0}), ramInit),
       Joined(U32Bytes(0x100), U32Bytes(7))},
      {"RAM init cut short",
       Put(tr52::ParseRamInitAnswer(Bytes{0x50, 0x01, 0, 1, 0, 0, 0, 7, 0, 0}), ramInit),
       std::nullopt},
      {"RAM write", Put(tr52::ParseRamWriteAnswer(Bytes{0x50, 0x02, 9, 0, 0, 0}), word),
       U32Bytes(9)},
      {"RAM write cut short", Put(tr52::ParseRamWriteAnswer(Bytes{0x50, 0x02, 9, 0, 0}), word),
       std::nullopt},
      {"RAM program",
       Put(tr52::ParseRamProgramAnswer(Bytes{0x50, 0x04, 0x0A, 1, 0, 0, 0}), program),
       Joined({0x0A}, U32Bytes(1))},
      {"RAM program cut short",
       Put(tr52::ParseRamProgramAnswer(Bytes{0x50, 0x04, 0x0A, 1, 0, 0}), program), std::nullopt},
      {"model name", Put(tr52::ParseModelName(Bytes{0x0D, 3, 'K', 'W', 'x', 0xFF}), text),
       text("KWx")},
      {"empty model name", Put(tr52::ParseModelName(Bytes{0x0D, 0}), text), text("")},
      {"model name shorter than its length byte",
       Put(tr52::ParseModelName(Bytes{0x0D, 4, 'K', 'W', 'x'}), text), std::nullopt},
      {"model name without length byte", Put(tr52::ParseModelName(Bytes{0x0D}), text),
       std::nullopt},
      {"acknowledgement", Put(tr52::ParseAsyncAck(ackBytes), ack),
       Joined(Joined(Joined(U32Bytes(4), U32Bytes(5)), U32Bytes(0)), {0x33})},
      {"acknowledgement cut short",
       Put(tr52::ParseAsyncAck(Bytes(ackBytes.begin(), ackBytes.end() - 1)), ack), std::nullopt},
  });
  // The reach a short model-name answer needed, for its log line.
  EXPECT_EQ(tr52::ModelNameAnswerSize(Bytes{0x0D}), 2u);
  EXPECT_EQ(tr52::ModelNameAnswerSize(Bytes{0x0D, 4, 'K'}), 6u);
}

TEST(RequestBytes, NandProgrammer) {
  const Bytes image = Counting(5, 0xA0);
  ExpectGolden({
      {"trusted mode", tr52::BuildNandSecMode(1), {0x48, 0x01}},
      {"non-trusted mode", tr52::BuildNandSecMode(0), {0x48, 0x00}},
      {"partition table with override", tr52::BuildNandOpenWithFile(0x40, true, image),
       Padded({0x40, 0x02, 0x00, 0x01, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}, 516)},
      {"partition table without override", tr52::BuildNandOpenWithFile(0x40, false, image),
       Padded({0x40, 0x02, 0x00, 0x00, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}, 516)},
      {"header (flag not sent)", tr52::BuildNandOpenWithFile(0x44, true, image),
       Padded({0x44, 0x02, 0x00, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}, 515)},
      {"second header", tr52::BuildNandOpenWithFile(0x45, false, image),
       Padded({0x45, 0x02, 0x00, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}, 515)},
      {"master ROM", tr52::BuildNandOpenWithFile(0x49, false, image),
       Padded({0x49, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}, 265)},
      {"header image exactly full", tr52::BuildNandOpenWithFile(0x44, false, Bytes(512, 7)),
       Joined({0x44, 0x02, 0x00}, Bytes(512, 7))},
      {"header image one byte too long",
       tr52::BuildNandOpenWithFile(0x44, false, Bytes(513, 7)),
       {}},
      {"master ROM image too long", tr52::BuildNandOpenWithFile(0x49, false, Bytes(257, 7)), {}},
      {"open without image form", tr52::BuildNandOpenWithFile(0x41, false, image), {}},
      {"image init", tr52::BuildNandImageInit(21), {0x31, 21, 0, 0, 0}},
      {"RAM write", tr52::BuildNandRamWrite(0x012345, 4096, Counting(3)),
       Padded({0x01, 0x01, 0x23, 0x45, 0x10, 0x00, 1, 2, 3}, 4102)},
      {"RAM write of a master ROM packet", tr52::BuildNandRamWrite(0, 4224, Bytes(4224, 9)),
       Joined({0x01, 0, 0, 0, 0x10, 0x80}, Bytes(4224, 9))},
      {"RAM write of a piece longer than its packet",
       tr52::BuildNandRamWrite(0, 4, Bytes(5, 9)),
       {}},
      {"program",
       tr52::BuildNandProgram(0x00AB0000, 16384),
       {0x21, 0x00, 0xAB, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00}},
      {"finalize", tr52::BuildNandFinalize(), {0x22}},
      {"erase EFS", tr52::BuildNandEraseEfs(), {0x24}},
  });
  // The wait of each open form.
  ASSERT_NE(tr52::NandOpenFormOf(0x45), nullptr);
  EXPECT_EQ(tr52::NandOpenFormOf(0x45)->timeoutMs, 3000);
  EXPECT_EQ(tr52::NandOpenFormOf(0x40)->timeoutMs, 70000);
  EXPECT_EQ(tr52::NandOpenFormOf(0x00), nullptr);
}

TEST(RequestBytes, BootCodeLock) {
  ExpectGolden({
      {"status", tr52::BuildBcplStatus(), {0x50, 0x07}},
      {"unlock with a long image", tr52::BuildBcplUnlock(Counting(200)),
       Joined({0x50, 0x0F}, Counting(128))},
      {"unlock with a short image", tr52::BuildBcplUnlock(Counting(3)),
       Padded({0x50, 0x0F, 1, 2, 3}, 130)},
  });
  const auto yes = [](bool b) { return Bytes{static_cast<uint8_t>(b)}; };
  ExpectParsed({
      {"on", Put(tr52::ParseBcplAnswer(Bytes{0x50, 0x07, 1}), yes), Bytes{1}},
      {"off", Put(tr52::ParseBcplAnswer(Bytes{0x50, 0x07, 2}), yes), Bytes{0}},
      {"cut short", Put(tr52::ParseBcplAnswer(Bytes{0x50, 0x07}), yes), std::nullopt},
  });
}

}  // namespace
