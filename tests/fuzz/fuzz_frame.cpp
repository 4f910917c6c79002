// Frame delimiting and checking over an arbitrary received byte stream: no read or write
// outside the buffers, and every frame that passes the check carries exactly the payload that
// re-framing it would carry.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/frame_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto assembler = std::make_unique<tr52::FrameAssembler>();
  static auto codec = std::make_unique<tr52::FrameCodec>();
  static auto again = std::make_unique<tr52::FrameCodec>();
  assembler->Reset();
  size_t offset = 0;
  for (size_t i = 0; i < size; ++i) {
    if (!assembler->Feed(data[i])) continue;
    if (assembler->FrameLength() >= tr52::FrameAssembler::kCapacity) abort();
    // Alternate between keeping frames at the start and one after another.
    const bool ok = codec->CheckRxFrameAt(assembler->Frame(), assembler->FrameLength(), offset);
    if (!ok) continue;
    const int n = codec->RxLength();
    if (n < 2 || static_cast<size_t>(n) > assembler->FrameLength()) abort();
    const uint8_t* payload = codec->RxBuffer() + offset;
    if (again->ComputeTxCRC(payload, static_cast<size_t>(n - 2))) {
      const uint8_t* tx = again->TxBuffer();
      const int txLen = again->TxLength();
      if (txLen < 4 || tx[0] != 0x7E || tx[txLen - 1] != 0x7E) abort();
      if (!again->CheckRxFrame(tx + 1, static_cast<size_t>(txLen - 2))) abort();
      if (again->RxLength() != n || std::memcmp(again->RxBuffer(), payload, n) != 0) abort();
    }
    offset = (offset + static_cast<size_t>(n)) % 64;
  }
  codec->ClearRxFrom(0);
  return 0;
}
