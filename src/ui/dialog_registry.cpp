#include "ui/dialog_registry.h"

#include <algorithm>
#include <utility>

#include "base/module_singleton.h"
#include "ui/progress_dialog.h"

namespace tr52 {

DialogRegistry& DialogRegistry::Instance() {
  return ModuleSingleton<DialogRegistry>::Get();
}

void DialogRegistry::ReleaseInstance() {
  ModuleSingleton<DialogRegistry>::Release();
}

void DialogRegistry::Add(ProgressDialog* dialog) {
  dialogs_.push_back(dialog);
}

ProgressDialog* DialogRegistry::FindByParent(const win::CWnd* parent) const {
  for (ProgressDialog* d : dialogs_)
    if (d->Parent() == parent) return d;
  return nullptr;
}

ProgressDialog* DialogRegistry::FindByPort(int port) const {
  for (ProgressDialog* d : dialogs_)
    if (d->Port() == port) return d;
  return nullptr;
}

bool DialogRegistry::Remove(ProgressDialog* dialog) {
  auto it = std::find(dialogs_.begin(), dialogs_.end(), dialog);
  if (it == dialogs_.end()) return false;
  dialogs_.erase(it);
  return true;
}

std::vector<ProgressDialog*> DialogRegistry::TakeAll() {
  return std::exchange(dialogs_, {});
}

}  // namespace tr52
