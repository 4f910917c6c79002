#include "link/frame_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace tr52 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Build(const Bytes& payload) {
  FrameCodec codec;
  EXPECT_TRUE(codec.ComputeTxCRC(payload.data(), payload.size()));
  return Bytes(codec.TxBuffer(), codec.TxBuffer() + codec.TxLength());
}

// Feeds a stream; returns every completed frame's escaped bytes.
std::vector<Bytes> Delimit(FrameAssembler& a, const Bytes& stream) {
  std::vector<Bytes> frames;
  for (uint8_t b : stream)
    if (a.Feed(b)) frames.emplace_back(a.Frame(), a.Frame() + a.FrameLength());
  return frames;
}

TEST(Crc16, CheckValueAndResidue) {
  const char* check = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check), 9), 0x906E);
  const uint8_t withFcs[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0x6E, 0x90};
  EXPECT_EQ(Crc16Update(0xFFFF, withFcs, sizeof withFcs), kCrcResidue);
}

TEST(FrameCodecBuild, ByteExamples) {
  EXPECT_EQ(Build({0x00}), (Bytes{0x7E, 0x00, 0x78, 0xF0, 0x7E}));
  EXPECT_EQ(Build({0x0C}), (Bytes{0x7E, 0x0C, 0x14, 0x3A, 0x7E}));
}

TEST(FrameCodecBuild, EscapesPayloadAndCrcCoversUnescapedBytes) {
  const Bytes payload{0x7E, 0x01, 0x7D};
  const Bytes frame = Build(payload);
  const uint16_t crc = Crc16(payload.data(), payload.size());
  ASSERT_GE(frame.size(), 7u);
  EXPECT_EQ((Bytes{frame.begin(), frame.begin() + 6}), (Bytes{0x7E, 0x7D, 0x5E, 0x01, 0x7D, 0x5D}));
  // FCS follows (unescaped here unless its bytes need it), then the closing flag.
  FrameCodec codec;
  ASSERT_TRUE(codec.CheckRxFrame(frame.data() + 1, frame.size() - 2));
  EXPECT_EQ(codec.RxLength(), 5);
  EXPECT_EQ(codec.RxBuffer()[3] | (codec.RxBuffer()[4] << 8), crc);
  EXPECT_EQ(frame.back(), 0x7E);
}

TEST(FrameCodecBuild, EscapesFcsBytes) {
  // Search payloads whose FCS holds 0x7E or 0x7D and check they are escaped and read back.
  int found = 0;
  for (unsigned v = 0; v < 0x10000 && found < 4; ++v) {
    const Bytes payload{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    const uint16_t crc = Crc16(payload.data(), 2);
    const uint8_t lo = crc & 0xFF, hi = crc >> 8;
    const bool loEsc = lo == 0x7E || lo == 0x7D, hiEsc = hi == 0x7E || hi == 0x7D;
    if (!loEsc && !hiEsc) continue;
    if (payload[0] == 0x7E || payload[0] == 0x7D || payload[1] == 0x7E || payload[1] == 0x7D)
      continue;
    ++found;
    const Bytes frame = Build(payload);
    EXPECT_EQ(frame.size(), 6u + (loEsc ? 1 : 0) + (hiEsc ? 1 : 0));
    size_t pos = 3;
    if (loEsc) {
      EXPECT_EQ(frame[pos++], 0x7D);
      EXPECT_EQ(frame[pos++], lo ^ 0x20);
    } else {
      EXPECT_EQ(frame[pos++], lo);
    }
    if (hiEsc) {
      EXPECT_EQ(frame[pos++], 0x7D);
      EXPECT_EQ(frame[pos++], hi ^ 0x20);
    }
    FrameCodec codec;
    EXPECT_TRUE(codec.CheckRxFrame(frame.data() + 1, frame.size() - 2));
  }
  EXPECT_EQ(found, 4);
}

TEST(FrameCodecBuild, OversizeFrameRefusedAndLargestFits) {
  FrameCodec codec;
  // 16383 escaped bytes make 32766 bytes plus flags and FCS: more than the buffer.
  Bytes allEscapes(16383, 0x7E);
  EXPECT_FALSE(codec.ComputeTxCRC(allEscapes.data(), allEscapes.size()));
  EXPECT_EQ(codec.TxLength(), 0);
  Bytes plain(FrameCodec::kBufferSize - 4, 0x11);
  const uint16_t crc = Crc16(plain.data(), plain.size());
  const bool crcNeedsEscape =
      (crc & 0xFF) == 0x7E || (crc & 0xFF) == 0x7D || (crc >> 8) == 0x7E || (crc >> 8) == 0x7D;
  EXPECT_EQ(codec.ComputeTxCRC(plain.data(), plain.size()), !crcNeedsEscape);
  Bytes half(16381 - 3, 0x7D);  // every byte escaped, still fits
  EXPECT_TRUE(codec.ComputeTxCRC(half.data(), half.size()));
}

// A payload framed from runs that lie apart gives the frame of the joined payload, and a
// frame refused or shorter than the one before leaves no byte of that one behind.
TEST(FrameCodecBuild, PiecesFrameAsTheJoinedPayload) {
  struct Row {
    const char* what;
    std::vector<Bytes> pieces;
  };
  Bytes mixed(16384);
  for (size_t i = 0; i < mixed.size(); ++i) mixed[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  const Row rows[] = {
      {"one piece", {{0x0C}}},
      {"header, data, zero tail", {Bytes(16, 0x50), mixed, Bytes(64, 0)}},
      {"empty pieces anywhere", {{}, {0x7E, 0x01}, {}, {0x7D}, {}}},
      {"escapes at the joins", {{0x01, 0x7E}, {0x7D, 0x7E}, {0x7D}}},
      {"nothing at all", {{}, {}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes joined;
    std::vector<FrameCodec::Piece> pieces;
    for (const Bytes& p : row.pieces) {
      joined.insert(joined.end(), p.begin(), p.end());
      pieces.push_back({p.data(), p.size()});
    }
    FrameCodec codec;
    ASSERT_TRUE(codec.ComputeTxCRC(pieces.data(), pieces.size()));
    EXPECT_EQ(Bytes(codec.TxBuffer(), codec.TxBuffer() + codec.TxLength()), Build(joined));
  }

  FrameCodec codec;
  const Bytes longer(3000, 0x7E);
  ASSERT_TRUE(codec.ComputeTxCRC(longer.data(), longer.size()));
  const FrameCodec::Piece shortOne{longer.data(), 10};
  ASSERT_TRUE(codec.ComputeTxCRC(&shortOne, 1));
  const size_t n = static_cast<size_t>(codec.TxLength());
  EXPECT_EQ(std::count(codec.TxBuffer() + n, codec.TxBuffer() + FrameCodec::kBufferSize, 0),
            static_cast<long>(FrameCodec::kBufferSize - n));
  // Too long only once escaped: refused, and the buffer holds nothing of it or of before.
  const Bytes allEscapes(16383, 0x7D);
  const FrameCodec::Piece halves[2] = {{allEscapes.data(), 8000}, {allEscapes.data(), 8383}};
  EXPECT_FALSE(codec.ComputeTxCRC(halves, 2));
  EXPECT_EQ(codec.TxLength(), 0);
  EXPECT_EQ(std::count(codec.TxBuffer(), codec.TxBuffer() + FrameCodec::kBufferSize, 0),
            static_cast<long>(FrameCodec::kBufferSize));
}

TEST(FrameCodecCheck, RejectsBadFcsEvenWithPlausiblePayload) {
  Bytes frame = Build({0x02});
  frame[2] ^= 0x01;
  FrameCodec codec;
  EXPECT_FALSE(codec.CheckRxFrame(frame.data() + 1, frame.size() - 2));
}

TEST(FrameCodecCheck, EmptyFrameIsBad) {
  FrameCodec codec;
  const uint8_t none = 0;
  EXPECT_FALSE(codec.CheckRxFrame(&none, 0));
}

TEST(FrameCodecCheck, EscapeAtEndFailsWithoutReadingPastFrame) {
  Bytes frame = Build({0x02, 0x10});
  Bytes body(frame.begin() + 1, frame.end() - 1);
  body.push_back(0x7D);
  // Allocate exactly the frame so a read past it would be caught by the sanitizers.
  auto exact = std::make_unique<uint8_t[]>(body.size());
  std::memcpy(exact.get(), body.data(), body.size());
  FrameCodec codec;
  EXPECT_FALSE(codec.CheckRxFrame(exact.get(), body.size()));
  // Just the escape byte.
  const uint8_t esc = 0x7D;
  EXPECT_FALSE(codec.CheckRxFrame(&esc, 1));
}

TEST(FrameCodecCheck, RxHoldsPayloadPlusFcs) {
  const Bytes payload{0x7E, 0x7D, 0x20, 0x5E};
  const Bytes frame = Build(payload);
  FrameCodec codec;
  ASSERT_TRUE(codec.CheckRxFrame(frame.data() + 1, frame.size() - 2));
  ASSERT_EQ(codec.RxLength(), 6);
  EXPECT_EQ(Bytes(codec.RxBuffer(), codec.RxBuffer() + 4), payload);
}

TEST(FrameCodecCheck, FramesKeptOneAfterAnotherAndClearedPastThem) {
  FrameCodec codec;
  const Bytes big = Build(Bytes(40, 0x33));
  ASSERT_TRUE(codec.CheckRxFrame(big.data() + 1, big.size() - 2));
  const Bytes a = Build({0x01, 0x02}), b = Build({0x03});
  ASSERT_TRUE(codec.CheckRxFrameAt(a.data() + 1, a.size() - 2, 0));
  ASSERT_TRUE(codec.CheckRxFrameAt(b.data() + 1, b.size() - 2, 4));
  EXPECT_EQ(codec.RxLength(), 3);
  codec.ClearRxFrom(7);
  EXPECT_EQ(codec.RxBuffer()[0], 0x01);
  EXPECT_EQ(codec.RxBuffer()[4], 0x03);
  for (int i = 7; i < 42; ++i) ASSERT_EQ(codec.RxBuffer()[i], 0) << i;
  EXPECT_FALSE(codec.CheckRxFrameAt(a.data() + 1, a.size() - 2, FrameCodec::kBufferSize - 2));
}

TEST(FrameAssembler, LeadingFlagsDropped) {
  FrameAssembler a;
  const Bytes frame = Build({0x06, 0x07});
  Bytes stream{0x7E, 0x7E, 0x7E};
  stream.insert(stream.end(), frame.begin() + 1, frame.end());
  const auto frames = Delimit(a, stream);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], Bytes(frame.begin() + 1, frame.end() - 1));
  EXPECT_EQ(a.RawLength(), frame.size() - 1);  // closing flag included, leading flags not
  EXPECT_EQ(a.Raw()[a.RawLength() - 1], 0x7E);
}

TEST(FrameAssembler, BackToBackFramesAndFrameWithoutOpeningFlag) {
  FrameAssembler a;
  const Bytes f1 = Build({0x01}), f2 = Build({0x02, 0x7E});
  Bytes stream(f1.begin(), f1.end());
  stream.insert(stream.end(), f2.begin(), f2.end());
  stream.insert(stream.end(), f1.begin() + 1, f1.end());  // no opening flag
  const auto frames = Delimit(a, stream);
  ASSERT_EQ(frames.size(), 3u);
  FrameCodec codec;
  for (const auto& f : frames) EXPECT_TRUE(codec.CheckRxFrame(f.data(), f.size()));
  EXPECT_EQ(codec.RxBuffer()[0], 0x01);
}

TEST(FrameAssembler, OversizeStreamDropsPartialFrame) {
  auto a = std::make_unique<FrameAssembler>();
  Bytes junk(FrameAssembler::kCapacity + 100, 0x41);
  EXPECT_TRUE(Delimit(*a, junk).empty());
  EXPECT_EQ(a->DroppedOversize(), 1u);
  // The stream recovers: the junk tail plus a flag makes one (bad) frame of only the tail, and
  // a following frame comes through intact.
  const Bytes good = Build({0x02});
  const auto frames = Delimit(*a, good);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].size(), 100u);
  EXPECT_EQ(frames[1], Bytes(good.begin() + 1, good.end() - 1));
}

TEST(FrameAssembler, FrameFillingTheWholeAreaStillCompletes) {
  auto a = std::make_unique<FrameAssembler>();
  Bytes stream(FrameAssembler::kCapacity - 1, 0x41);
  stream.push_back(0x7E);
  const auto frames = Delimit(*a, stream);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), FrameAssembler::kCapacity - 1);
  EXPECT_EQ(a->DroppedOversize(), 0u);
}

}  // namespace
}  // namespace tr52
