// Normal mode: NV item read (0x26) and write (0x27) and the service programming code (0x41),
// answered from the handset's NvStore.
#pragma once

#include "vphone/nv_store.h"
#include "vphone/responder.h"

namespace vphone {

class NvResponder : public Responder {
 public:
  explicit NvResponder(NvStore& store) : store_(store) {}

  bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) override;
  void ApplyScenario(const Scenario& s) override { store_.ApplyScenario(s); }
  void DumpState(std::ostream& out) const override { store_.DumpState(out); }

  bool SpcAccepted() const { return spcAccepted_; }
  long Reads() const { return reads_; }
  long Writes() const { return writes_; }

 private:
  NvStore& store_;
  bool spcAccepted_ = false;
  long reads_ = 0;
  long writes_ = 0;
};

}  // namespace vphone
