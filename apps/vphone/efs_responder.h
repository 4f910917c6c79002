// Normal mode: the EFS2 subsystem commands (DIAG 0x4B, subsystem 0x13) answered from the
// handset's EfsTree: open, close, write, unlink, mkdir, rmdir, opendir, readdir, closedir,
// stat, remove-files and the write-chunk query.
#pragma once

#include "vphone/efs_tree.h"
#include "vphone/responder.h"

namespace vphone {

class EfsResponder : public Responder {
 public:
  explicit EfsResponder(EfsTree& tree) : tree_(tree) {}

  bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) override;
  void ApplyScenario(const Scenario& s) override { tree_.ApplyScenario(s); }
  void OnBoot(Mode) override { tree_.DropHandles(); }
  void DumpState(std::ostream& out) const override { tree_.DumpState(out); }

  // Requests handled, by EFS2 command.
  long Count(uint16_t command) const;

 private:
  EfsTree& tree_;
  std::map<uint16_t, long> counts_;
};

}  // namespace vphone
