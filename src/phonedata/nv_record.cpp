#include "phonedata/nv_record.h"

#include <cstring>

#include "base/byte_reader.h"

namespace tr52 {

namespace {

// Row n holds code n; the row before the last names every code without a row of its own; the
// last row holds 32767.
constexpr const char* kStatusNames[] = {
    "NV_DONE_S",      "NV_BUSY_S",    "NV_BADCMD_S",      "NV_FULL_S",  "NV_FAIL_S",
    "NV_NOTACTIVE_S", "NV_BADPARM_S", "NV_READONLY_S",    "NV_BADTG_S", "NV_NOMEM_S",
    "NV_NOTALLOC_S",  "NV_UNKNOWN_S", "NV_STAT_ENUM_PAD",
};
constexpr size_t kUnknownRow = 11;
constexpr size_t kPadRow = 12;

}  // namespace

const char* NvStatusName(unsigned status) {
  if (status <= NV_NOTALLOC_S) return kStatusNames[status];
  if (status == NV_STAT_ENUM_PAD) return kStatusNames[kPadRow];
  return kStatusNames[kUnknownRow];
}

void NvRecord::EncodeTo(uint8_t* out) const {
  out[0] = flag;
  StoreU16le(out + 1, item);
  std::memcpy(out + 3, data.data(), kDataSize);
  StoreU16le(out + 131, status);
}

NvRecord NvRecord::DecodeFrom(const uint8_t* in) {
  NvRecord r;
  r.flag = in[0];
  r.item = LoadU16le(in + 1);
  std::memcpy(r.data.data(), in + 3, kDataSize);
  r.status = LoadU16le(in + 131);
  return r;
}

}  // namespace tr52
