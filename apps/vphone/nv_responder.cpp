#include "vphone/nv_responder.h"

#include "vphone/diag_responder.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"

namespace vphone {

namespace {

constexpr uint8_t kNvRead = 0x26;
constexpr uint8_t kNvWrite = 0x27;
constexpr uint8_t kSpc = 0x41;
constexpr size_t kNvPacket = 133;
constexpr uint16_t kNotActive = 5;

}  // namespace

bool NvResponder::Handle(Mode mode, std::span<const uint8_t> req, Reply& reply) {
  if (mode != Mode::Normal || req.empty()) return false;
  const uint8_t cmd = req[0];
  if (cmd == kSpc) {
    if (req.size() < 7) {
      reply.frames.push_back(DiagError(0x15, req));
      return true;
    }
    spcAccepted_ = std::memcmp(req.data() + 1, store_.Spc().data(),
                               std::min<size_t>(6, store_.Spc().size())) == 0 &&
                   store_.Spc().size() == 6;
    reply.frames.push_back({kSpc, static_cast<uint8_t>(spcAccepted_ ? 1 : 0)});
    return true;
  }
  if (cmd != kNvRead && cmd != kNvWrite) return false;
  if (req.size() < kNvPacket) {
    reply.frames.push_back(DiagError(0x15, req));
    return true;
  }
  const uint16_t item = tr52::LoadU16le(req.data() + 1);
  Bytes answer(req.begin(), req.begin() + kNvPacket);
  if (cmd == kNvRead) {
    ++reads_;
    if (store_.NextReadSilent()) {
      reply.silent = true;
      return true;
    }
    if (store_.IsBadParm(item)) {
      reply.frames.push_back(DiagError(0x14, req));
      return true;
    }
    std::fill(answer.begin() + 3, answer.begin() + 131, 0);
    auto data = store_.Get(item);
    uint16_t status = data ? 0 : kNotActive;
    if (auto forced = store_.ReadStatusFor(item)) status = *forced;
    if (status == 0 && data) std::copy(data->begin(), data->end(), answer.begin() + 3);
    tr52::StoreU16le(answer.data() + 131, status);
  } else {
    ++writes_;
    uint16_t status = 0;
    if (auto forced = store_.WriteStatusFor(item)) status = *forced;
    if (status == 0) {
      NvData d{};
      std::copy(req.begin() + 3, req.begin() + 131, d.begin());
      store_.Set(item, d);
    }
    tr52::StoreU16le(answer.data() + 131, status);
  }
  reply.frames.push_back(std::move(answer));
  return true;
}

}  // namespace vphone
