#include "ui/dialog_registry.h"

#include <utility>

#include "ui/progress_dialog.h"

namespace tr52 {

DialogRegistry::DialogRegistry() = default;
DialogRegistry::~DialogRegistry() = default;

void DialogRegistry::Add(std::unique_ptr<ProgressDialog>&& dialog) {
  std::lock_guard<std::mutex> hold(lock_);
  dialogs_.push_back(std::move(dialog));
}

ProgressDialog* DialogRegistry::FindByParentLocked(const win::CWnd* parent) const {
  for (const auto& d : dialogs_)
    if (d->Parent() == parent) return d.get();
  return nullptr;
}

bool DialogRegistry::HasPort(int port) const {
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& d : dialogs_)
    if (d->Port() == port) return true;
  return false;
}

std::unique_ptr<ProgressDialog> DialogRegistry::TakeByParent(const win::CWnd* parent) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto it = dialogs_.begin(); it != dialogs_.end(); ++it) {
    if ((*it)->Parent() != parent) continue;
    std::unique_ptr<ProgressDialog> dialog = std::move(*it);
    dialogs_.erase(it);
    return dialog;
  }
  return nullptr;
}

std::vector<std::unique_ptr<ProgressDialog>> DialogRegistry::TakeAll() {
  std::lock_guard<std::mutex> hold(lock_);
  return std::exchange(dialogs_, {});
}

size_t DialogRegistry::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dialogs_.size();
}

}  // namespace tr52
