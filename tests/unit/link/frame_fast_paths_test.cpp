// The block-wise CRC, escaping, unescaping and delimiting give exactly what their byte-wise
// references give, at every length around the block size and every alignment.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "link/crc16.h"
#include "link/frame_codec.h"
#include "link/frame_scan.h"
#include "link/frame_scan_blocks.h"

namespace tr52 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

TEST(Crc16Fast, MatchesBytewiseAtEveryLengthAndAlignment) {
  // Every byte value at every position of a 16-byte block, so each entry of every slicing
  // table is used; then random data and a few start values.
  Bytes everyValue;
  for (unsigned v = 0; v < 256; ++v)
    for (int j = 0; j < 16; ++j) everyValue.push_back(static_cast<uint8_t>(v + 17 * j));
  struct Row {
    std::string name;
    Bytes data;
    std::vector<size_t> lengths;
  };
  std::vector<size_t> small, medium;
  for (size_t n = 0; n <= 64; ++n) small.push_back(n);
  for (size_t n = 65; n <= 200; ++n) medium.push_back(n);
  const std::vector<Row> rows = {
      {"random small", Random(64 + 16, 1), small},
      {"flags and escapes", Bytes(64 + 16, 0x7E), small},
      {"random medium", Random(200 + 16, 4), medium},
      {"every value at every position", everyValue, {everyValue.size() - 16}},
      {"large random", Random(100003 + 16, 2), {4096, 32768, 100003}},
  };
  for (const auto& row : rows)
    for (size_t length : row.lengths)
      for (size_t align = 0; align < 16; ++align)
        for (uint16_t start : {uint16_t{0xFFFF}, uint16_t{0x0000}, uint16_t{0x1D0F}}) {
          ASSERT_LE(align + length, row.data.size());
          const uint8_t* p = row.data.data() + align;
          const uint16_t want = Crc16UpdateBytewise(start, p, length);
          ASSERT_EQ(Crc16UpdateSliced(start, p, length), want)
              << "sliced, " << row.name << ", length " << length << ", alignment " << align
              << ", start " << start;
          ASSERT_EQ(Crc16UpdateClmul(start, p, length), want)
              << "clmul, " << row.name << ", length " << length << ", alignment " << align
              << ", start " << start;
          ASSERT_EQ(Crc16Update(start, p, length), want);
        }
}

// Byte patterns that put escapes and flags on and around the block edges.
std::vector<std::pair<std::string, Bytes>> ScanRows() {
  std::vector<std::pair<std::string, Bytes>> rows = {
      {"plain", Bytes(80, 0x11)},
      {"all flags", Bytes(80, 0x7E)},
      {"all escapes", Bytes(80, 0x7D)},
      {"random", Random(80, 3)},
  };
  for (size_t at : {0, 7, 8, 15, 16, 17, 31, 32, 63, 79}) {
    Bytes esc(80, 0x41), flag(80, 0x41);
    esc[at] = 0x7D;
    flag[at] = 0x7E;
    rows.push_back({"escape at " + std::to_string(at), esc});
    rows.push_back({"flag at " + std::to_string(at), flag});
  }
  Bytes pairs;
  for (int i = 0; i < 40; ++i) pairs.insert(pairs.end(), {0x7D, static_cast<uint8_t>(i * 7)});
  rows.push_back({"escape pairs", pairs});
  return rows;
}

// One set of block kernels against the byte-wise references on data[0, len).
template <class B>
void CheckBlocks(const uint8_t* p, size_t len) {
  namespace fb = frame_blocks;
  for (uint8_t v : {kFrameFlag, kFrameEscape, uint8_t{0x41}}) {
    ASSERT_EQ(fb::FindByte<B>(p, len, v), FindByteBytewise(p, len, v));
    ASSERT_EQ(fb::SkipByte<B>(p, len, v), SkipByteBytewise(p, len, v));
  }
  ASSERT_EQ(fb::CountEscapable<B>(p, len), CountEscapableBytewise(p, len));
  Bytes fast(2 * len), ref(2 * len);
  const size_t nf = fb::EscapeBody<B>(p, len, fast.data());
  ASSERT_EQ(nf, EscapeBodyBytewise(p, len, ref.data()));
  ASSERT_EQ(nf, len + CountEscapableBytewise(p, len));
  ASSERT_EQ(fast, ref);
  // Unescaping the escaped bytes gives the input back; unescaping the raw pattern (which may
  // end in an escape) agrees with the reference, with ample and with short room.
  Bytes back(len);
  size_t nb = 0;
  ASSERT_TRUE(fb::UnescapeBody<B>(fast.data(), nf, back.data(), len, &nb));
  ASSERT_EQ(Bytes(back.begin(), back.begin() + nb), Bytes(p, p + len));
  for (size_t room : {len, len / 2}) {
    Bytes of(len, 0), orf(len, 0);
    size_t wf = 99, wr = 77;
    ASSERT_EQ(fb::UnescapeBody<B>(p, len, of.data(), room, &wf),
              UnescapeBodyBytewise(p, len, orf.data(), room, &wr));
    ASSERT_EQ(wf, wr);
    ASSERT_EQ(of, orf);
  }
}

TEST(FrameScan, BlockPathsMatchBytewiseOnEveryPrefixAndAlignment) {
  for (const auto& [name, pattern] : ScanRows())
    for (size_t align = 0; align < 16; ++align) {
      Bytes buf(align, 0xAA);
      buf.insert(buf.end(), pattern.begin(), pattern.end());
      for (size_t len = 0; len + align <= buf.size(); ++len) {
        SCOPED_TRACE(name + ", alignment " + std::to_string(align) + ", length " +
                     std::to_string(len));
        // Exactly sized copies, so a read past the end is caught by the sanitizers.
        auto in = std::make_unique<uint8_t[]>(len);
        std::memcpy(in.get(), buf.data() + align, len);
        {
          SCOPED_TRACE("native blocks");
          CheckBlocks<frame_blocks::NativeBlocks>(in.get(), len);
        }
        {
          SCOPED_TRACE("word blocks");
          CheckBlocks<frame_blocks::WordBlocks>(in.get(), len);
        }
        if (HasFatalFailure()) return;
        // The public entry points are the native blocks.
        ASSERT_EQ(FindByte(in.get(), len, kFrameEscape),
                  FindByteBytewise(in.get(), len, kFrameEscape));
      }
    }
}

// A frame kept near the end of the rx buffer has less room than bytes: the unescape writes
// what fits and not one byte more, and says it did not finish.
TEST(FrameScan, UnescapeStopsAtTheRoom) {
  struct Row {
    const char* why;
    Bytes in;
    size_t room;
    bool ok;
    Bytes out;
  };
  const Row rows[] = {
      {"plain bytes beyond the room", {1, 2, 3, 4, 5}, 3, false, {1, 2, 3}},
      {"escape pair beyond the room", {1, 2, 0x7D, 0x5E, 4}, 3, false, {1, 2, 0x7E}},
      {"escape pair as the last byte that fits", {1, 2, 0x7D, 0x5E}, 3, true, {1, 2, 0x7E}},
      {"escape as the last input byte", {1, 2, 0x7D}, 5, false, {1, 2}},
      {"no room", {1}, 0, false, {}},
  };
  constexpr uint8_t kUntouched = 0xEE;
  using Unescape = bool (*)(const uint8_t*, size_t, uint8_t*, size_t, size_t*);
  for (const auto& [name, unescape] : {std::pair<const char*, Unescape>{"native", UnescapeBody},
                                       {"bytewise", UnescapeBodyBytewise}}) {
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(name) + ": " + r.why);
      Bytes out(r.room + 8, kUntouched);
      size_t written = 99;
      EXPECT_EQ(unescape(r.in.data(), r.in.size(), out.data(), r.room, &written), r.ok);
      ASSERT_EQ(written, r.out.size());
      EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(written)), r.out);
      EXPECT_EQ(Bytes(out.begin() + static_cast<long>(r.room), out.end()), Bytes(8, kUntouched))
          << "written past the room";
    }
  }
}

TEST(FrameScan, FeedBytesDelimitsAsFeed) {
  // Frames, leading flags, a frame without an opening flag and a run past the capacity.
  Bytes stream{0x7E, 0x7E, 0x7E, 0x01, 0x7D, 0x5E, 0x7E, 0x02, 0x7E, 0x7E};
  const Bytes junk(FrameAssembler::kCapacity + 37, 0x41);
  stream.insert(stream.end(), junk.begin(), junk.end());
  stream.insert(stream.end(), {0x7E, 0x7E, 0x03, 0x04, 0x7E});
  const Bytes full(FrameAssembler::kCapacity - 1, 0x42);
  stream.insert(stream.end(), full.begin(), full.end());
  stream.insert(stream.end(), {0x7E, 0x05});
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{16}, size_t{4096}, stream.size()}) {
    SCOPED_TRACE("chunk " + std::to_string(chunk));
    auto ref = std::make_unique<FrameAssembler>();
    auto fast = std::make_unique<FrameAssembler>();
    std::vector<Bytes> refFrames, fastFrames;
    for (uint8_t b : stream)
      if (ref->Feed(b)) refFrames.emplace_back(ref->Raw(), ref->Raw() + ref->RawLength());
    for (size_t i = 0; i < stream.size();) {
      const size_t end = std::min(stream.size(), i + chunk);
      const size_t took = fast->FeedBytes(stream.data() + i, end - i);
      ASSERT_GT(took, 0u);
      i += took;
      if (fast->FrameReady()) {
        ASSERT_EQ(fast->FrameLength() + 1, fast->RawLength());
        fastFrames.emplace_back(fast->Raw(), fast->Raw() + fast->RawLength());
      }
    }
    EXPECT_EQ(fastFrames, refFrames);
    EXPECT_EQ(refFrames.size(), 5u);
    EXPECT_EQ(fast->DroppedOversize(), ref->DroppedOversize());
    EXPECT_EQ(fast->DroppedOversize(), 1u);
    EXPECT_EQ(fast->HasPartial(), ref->HasPartial());
  }
}

}  // namespace
}  // namespace tr52
