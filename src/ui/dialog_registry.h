// The open progress panes, one list for the module, owning what it holds.
//
// OpenProgress adds a pane, CloseProgress takes it out by the parent window it was opened with.
// Every call locks inside. A function given to WithPane runs under that lock: it must not call
// back into the registry.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "base/owned_list.h"
#include "win/window.h"

namespace tr52 {

class ProgressDialog;

class DialogRegistry {
 public:
  DialogRegistry();
  // Frees the panes still listed (the module ends every port before that).
  ~DialogRegistry();

  DialogRegistry(const DialogRegistry&) = delete;
  DialogRegistry& operator=(const DialogRegistry&) = delete;

  // Appends the pane. Should the list fail to grow, `dialog` is left with the caller.
  void Add(std::unique_ptr<ProgressDialog>&& dialog);
  // Runs `fn(pane)` on the first pane opened with this parent window object, under the lock;
  // false, without running it, when there is none.
  template <typename Fn>
  bool WithPane(const win::CWnd* parent, Fn&& fn) {
    return dialogs_.With(OfParent{parent}, std::forward<Fn>(fn));
  }
  bool HasPort(int port) const;
  // Takes the first pane opened with this parent out of the list; null when there is none.
  [[nodiscard]] std::unique_ptr<ProgressDialog> TakeByParent(const win::CWnd* parent);
  // Takes every pane out, in registration order.
  [[nodiscard]] std::vector<std::unique_ptr<ProgressDialog>> TakeAll();
  size_t Count() const;

 private:
  struct OfParent {
    const win::CWnd* parent;
    bool operator()(const ProgressDialog& dialog) const;
  };

  OwnedList<ProgressDialog> dialogs_;
};

}  // namespace tr52
