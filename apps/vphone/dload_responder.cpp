#include "vphone/dload_responder.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "vphone/diag_responder.h"
#include "vphone/scenario.h"

namespace vphone {

namespace {

constexpr uint8_t kReset = 0x0A;
constexpr uint8_t kUnlock = 0x0B;
constexpr uint8_t kVerReq = 0x0C;
constexpr uint8_t kVerRsp = 0x0D;
constexpr uint8_t kMaker = 0x50;

constexpr uint8_t kSubParams = 0x00;
constexpr uint8_t kSubRamInit = 0x01;
constexpr uint8_t kSubRamWrite = 0x02;
constexpr uint8_t kSubRamProgram = 0x04;
constexpr uint8_t kSubBcplStatus = 0x07;
constexpr uint8_t kSubRamInit2nd = 0x0C;
constexpr uint8_t kSubBcplUnlock = 0x0F;
constexpr uint8_t kSubCommMode = 0x12;

// Where the handset keeps the partitions that a RAM download programs.
constexpr uint32_t kAmssStart = 0x00030000;
constexpr uint32_t kWinceStart = 1;

// Error numbers of the maker's RAM commands (a handset's own choice of values).
constexpr uint32_t kErrNotPrepared = 1;
constexpr uint32_t kErrOutOfRegion = 2;
constexpr uint32_t kErrBadLength = 3;
constexpr uint32_t kErrIncomplete = 4;
constexpr uint32_t kErrWrite = 5;

Bytes Answer(uint8_t sub, size_t size) {
  Bytes out(size, 0);
  out[0] = kMaker;
  out[1] = sub;
  return out;
}

}  // namespace

void DloadResponder::ApplyScenario(const Scenario& s) {
  model_ = ScenarioString(s, "dload.model", model_);
  unlockMode_ = ScenarioString(s, "dload.unlock", unlockMode_);
  commMode_ = static_cast<uint32_t>(ScenarioInt(s, "dload.comm_mode", commMode_));
  paramFlags_ = static_cast<uint8_t>(ScenarioInt(s, "dload.param_flags", paramFlags_));
  paramByte_ = static_cast<uint8_t>(ScenarioInt(s, "dload.param_byte", paramByte_));
  paramWord_ = static_cast<uint32_t>(ScenarioInt(s, "dload.param_word", paramWord_));
  ramRegion_ = static_cast<uint32_t>(ScenarioInt(s, "dload.ram_region", ramRegion_));
  initError_ = static_cast<uint32_t>(ScenarioInt(s, "dload.init_error", initError_));
  writeErrorAt_ = ScenarioInt(s, "dload.write_error_at", writeErrorAt_);
  programError_ = static_cast<uint8_t>(ScenarioInt(s, "dload.program_error", programError_));
  bcplMode_ = ScenarioString(s, "dload.bcpl", bcplMode_);
  bcplOn_ = bcplMode_ != "off";
}

void DloadResponder::OnBoot(Mode) {
  ramImage_.clear();
  ram_.clear();
  ramExpected_ = ramFilled_ = 0;
}

bool DloadResponder::Handle(Mode mode, std::span<const uint8_t> req, Reply& reply) {
  if (mode != Mode::Download || req.empty()) return false;
  switch (req[0]) {
    case kVerReq: {
      size_t n = std::min<size_t>(model_.size(), 255);
      Bytes out{kVerRsp, static_cast<uint8_t>(n)};
      out.insert(out.end(), model_.begin(), model_.begin() + n);
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kUnlock: {
      if (unlockMode_ == "silent") {
        reply.silent = true;
        return true;
      }
      bool ok = req.size() == 1 + kSecurityCode.size() &&
                std::equal(kSecurityCode.begin(), kSecurityCode.end(), req.begin() + 1);
      if (ok && unlockMode_ != "refuse") {
        ctx_.unlocked = true;
        reply.frames.push_back(DloadAck());
      } else {
        reply.frames.push_back(DloadNak(0, kNakBadSecCode));
      }
      return true;
    }
    case kReset:
      reply.frames.push_back(DloadAck());
      reply.next = Reply::Switch::ToNormal;
      return true;
    case kMaker:
      return HandleMaker(req, reply);
    default:
      return false;
  }
}

bool DloadResponder::HandleMaker(std::span<const uint8_t> req, Reply& reply) {
  if (req.size() < 2) {
    reply.frames.push_back(DloadNak(0, kNakInvalidLen));
    return true;
  }
  switch (req[1]) {
    case kSubParams: {
      Bytes out = Answer(kSubParams, 40);
      out[2] = paramByte_;
      tr52::StoreU32le(out.data() + 35, paramWord_);
      out[39] = paramFlags_;
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kSubCommMode: {
      Bytes out = Answer(kSubCommMode, 6);
      tr52::StoreU32le(out.data() + 2, commMode_);
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kSubRamInit:
      reply.frames.push_back(RamInit(req, false));
      return true;
    case kSubRamInit2nd:
      reply.frames.push_back(RamInit(req, true));
      return true;
    case kSubRamWrite:
      reply.frames.push_back(RamWrite(req));
      return true;
    case kSubRamProgram:
      reply.frames.push_back(RamProgram());
      return true;
    case kSubBcplStatus: {
      Bytes out = Answer(kSubBcplStatus, 3);
      out[2] = bcplOn_ ? 1 : 0;
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kSubBcplUnlock: {
      if (req.size() != 130) {
        reply.frames.push_back(DloadNak(0, kNakInvalidLen));
        return true;
      }
      ++bcplUnlocks_;
      bool accepted = bcplMode_ != "on_refuse";
      if (accepted && bcplMode_ != "on_stuck") bcplOn_ = false;
      Bytes out = Answer(kSubBcplUnlock, 3);
      out[2] = accepted ? 1 : 0;
      reply.frames.push_back(std::move(out));
      return true;
    }
    default:
      return false;
  }
}

// Answer of both RAM preparations: region size at 2..5, error number at 7..10.
Bytes DloadResponder::RamInit(std::span<const uint8_t> req, bool second) {
  Bytes out = Answer(second ? kSubRamInit2nd : kSubRamInit, 11);
  tr52::StoreU32le(out.data() + 2, ramRegion_);
  uint32_t error = initError_;
  ramImage_.clear();
  ram_.clear();
  ramFilled_ = 0;
  tr52::ByteReader r(req);
  (void)r.Skip(2);  // a shorter request fails the reads below and is refused there
  std::optional<uint32_t> kind = second ? r.U32le() : std::optional<uint32_t>(0);
  std::optional<uint32_t> size = r.U32le();
  if (!kind || !size || (*kind != 0 && *kind != 2)) {
    error = kErrBadLength;
  } else if (error == 0) {
    ramImage_ = *kind == 2 ? "WINCE" : "AMSS";
    ramStart_ = *kind == 2 ? kWinceStart : kAmssStart;
    ramExpected_ = *size;
  }
  tr52::StoreU32le(out.data() + 7, error);
  return out;
}

// RAM write chunk: offset at 2..5, length at 6..7, data from 8; answer error number at 2..5.
Bytes DloadResponder::RamWrite(std::span<const uint8_t> req) {
  Bytes out = Answer(kSubRamWrite, 6);
  uint32_t error = 0;
  tr52::ByteReader r(req);
  (void)r.Skip(2);  // a shorter request fails the reads below and is refused there
  auto offset = r.U32le();
  auto length = r.U16le();
  if (ramImage_.empty()) {
    error = kErrNotPrepared;
  } else if (!offset || !length || r.Remaining() < *length) {
    error = kErrBadLength;
  } else if (static_cast<uint64_t>(*offset) + *length > std::min(ramRegion_, ramExpected_)) {
    error = kErrOutOfRegion;
  } else if (writeErrorAt_ >= 0 && static_cast<int64_t>(*offset) == writeErrorAt_) {
    error = kErrWrite;
  } else {
    if (ram_.size() < *offset + *length) ram_.resize(*offset + *length, 0);
    std::copy_n(req.begin() + 8, *length, ram_.begin() + *offset);
    ramFilled_ = std::max<uint32_t>(ramFilled_, *offset + *length);
  }
  tr52::StoreU32le(out.data() + 2, error);
  return out;
}

// Program from RAM: NAND error code at byte 2, error number at 3..6.
Bytes DloadResponder::RamProgram() {
  Bytes out = Answer(kSubRamProgram, 7);
  uint32_t error = 0;
  uint8_t nand = 0;
  if (ramImage_.empty()) {
    error = kErrNotPrepared;
  } else if (ramFilled_ < ramExpected_) {
    // A handset refuses to program an image that did not arrive whole.
    error = kErrIncomplete;
  } else if (programError_ != 0) {
    error = kErrWrite;
    nand = programError_;
  } else {
    ram_.resize(ramExpected_);
    ctx_.flash.Put(ramImage_, ramStart_, FlashMethod::RamDownload, ram_);
    ++programs_;
  }
  out[2] = nand;
  tr52::StoreU32le(out.data() + 3, error);
  return out;
}

void DloadResponder::DumpState(std::ostream& out) const {
  out << "dload model " << model_ << "\n"
      << "dload unlocked " << (ctx_.unlocked ? 1 : 0) << "\n"
      << "dload comm_mode " << commMode_ << "\n"
      << "dload bcpl " << (bcplOn_ ? "on" : "off") << "\n"
      << "dload bcpl_unlocks " << bcplUnlocks_ << "\n"
      << "dload ram_programs " << programs_ << "\n";
}

}  // namespace vphone
