// Differential check of the frame codec's block-wise paths against their byte-wise references
// on arbitrary input: CRC at any length and alignment (sliced and carry-less multiply), escaping
// and unescaping (round trip and raw input with any room) and flag search with the native and
// the portable blocks, and delimiting of the input as a byte stream fed in chunks. Any
// difference aborts.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "link/crc16.h"
#include "link/frame_codec.h"
#include "link/frame_scan.h"
#include "link/frame_scan_blocks.h"

namespace {

void Check(bool condition) {
  if (!condition) abort();
}

void CheckCrc(const uint8_t* data, size_t size) {
  // Every alignment and a spread of lengths, including the whole input.
  for (size_t align = 0; align < 16 && align <= size; ++align) {
    const size_t rest = size - align;
    for (size_t len : {rest, rest / 2, rest % 67, std::min<size_t>(rest, 16)}) {
      const uint16_t start = static_cast<uint16_t>(0xFFFF - align * 0x1111);
      const uint16_t want = tr52::Crc16UpdateBytewise(start, data + align, len);
      Check(tr52::Crc16UpdateSliced(start, data + align, len) == want);
      Check(tr52::Crc16UpdateClmul(start, data + align, len) == want);
      Check(tr52::Crc16Update(start, data + align, len) == want);
    }
  }
}

// One set of block kernels against the byte-wise references.
template <class B>
void CheckScans(const uint8_t* data, size_t size) {
  namespace fb = tr52::frame_blocks;
  for (uint8_t v : {tr52::kFrameFlag, tr52::kFrameEscape, size ? data[0] : uint8_t{0}}) {
    Check(fb::FindByte<B>(data, size, v) == tr52::FindByteBytewise(data, size, v));
    Check(fb::SkipByte<B>(data, size, v) == tr52::SkipByteBytewise(data, size, v));
  }
  const size_t count = fb::CountEscapable<B>(data, size);
  Check(count == tr52::CountEscapableBytewise(data, size));

  std::vector<uint8_t> fast(2 * size + 1), ref(2 * size + 1);
  const size_t n = fb::EscapeBody<B>(data, size, fast.data());
  Check(n == size + count);
  Check(n == tr52::EscapeBodyBytewise(data, size, ref.data()));
  Check(fast == ref);

  std::vector<uint8_t> back(size + 1);
  size_t written = 0;
  Check(fb::UnescapeBody<B>(fast.data(), n, back.data(), size, &written));
  Check(written == size && std::memcmp(back.data(), data, size) == 0);

  // Raw input as a received frame body, with room for all of it and with less.
  for (size_t room : {size, size / 3}) {
    std::vector<uint8_t> of(size + 1, 0), orf(size + 1, 0);
    size_t wf = 0, wr = 0;
    const bool okf = fb::UnescapeBody<B>(data, size, of.data(), room, &wf);
    const bool okr = tr52::UnescapeBodyBytewise(data, size, orf.data(), room, &wr);
    Check(okf == okr && wf == wr && of == orf);
  }
}

void CheckDelimiting(const uint8_t* data, size_t size) {
  static auto ref = std::make_unique<tr52::FrameAssembler>();
  static auto fast = std::make_unique<tr52::FrameAssembler>();
  ref->Reset();
  fast->Reset();
  if (size == 0) return;
  // The first byte picks the chunk size of the fast feed; with its top bit set the input is
  // repeated past the assembler capacity, so the oversize drop is compared too.
  const size_t chunk = (data[0] & 0x3F) + 1;
  const size_t repeats = (data[0] & 0x80) ? tr52::FrameAssembler::kCapacity / size + 2 : size_t{1};
  std::vector<uint8_t> refFrame;
  for (size_t r = 0; r < repeats; ++r) {
    for (size_t i = 0; i < size;) {
      const size_t end = std::min(size, i + chunk);
      const size_t took = fast->FeedBytes(data + i, end - i);
      Check(took > 0 && took <= end - i);
      // The reference takes the same bytes one at a time and must complete a frame exactly
      // where the fast feed stopped.
      bool refDone = false;
      for (size_t j = i; j < i + took; ++j) {
        Check(!refDone);
        refDone = ref->Feed(data[j]);
      }
      i += took;
      Check(refDone == fast->FrameReady());
      if (refDone) {
        Check(fast->FrameLength() == ref->FrameLength());
        Check(std::memcmp(fast->Frame(), ref->Frame(), ref->FrameLength()) == 0);
      } else {
        Check(i == end);
      }
      Check(fast->HasPartial() == ref->HasPartial());
      Check(fast->DroppedOversize() == ref->DroppedOversize());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly sized copy, so a read past the input is caught by the sanitizers.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  CheckCrc(copy.get(), size);
  CheckScans<tr52::frame_blocks::NativeBlocks>(copy.get(), size);
  CheckScans<tr52::frame_blocks::WordBlocks>(copy.get(), size);
  CheckDelimiting(copy.get(), size);
  return 0;
}
