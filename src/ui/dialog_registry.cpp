#include "ui/dialog_registry.h"

#include "ui/progress_dialog.h"

namespace tr52 {

DialogRegistry::DialogRegistry() = default;
DialogRegistry::~DialogRegistry() = default;

bool DialogRegistry::OfParent::operator()(const ProgressDialog& dialog) const {
  return dialog.Parent() == parent;
}

void DialogRegistry::Add(std::unique_ptr<ProgressDialog>&& dialog) {
  dialogs_.Add(std::move(dialog));
}

bool DialogRegistry::HasPort(int port) const {
  return dialogs_.Any([port](const ProgressDialog& dialog) { return dialog.Port() == port; });
}

std::unique_ptr<ProgressDialog> DialogRegistry::TakeByParent(const win::CWnd* parent) {
  return dialogs_.Take(OfParent{parent});
}

std::vector<std::unique_ptr<ProgressDialog>> DialogRegistry::TakeAll() {
  return dialogs_.TakeAll();
}

size_t DialogRegistry::Count() const {
  return dialogs_.Count();
}

}  // namespace tr52
