// The process-wide list of progress panes and the dialog lock.
//
// OpenProgress appends a pane, CloseProgress finds it by the parent window it was opened with
// and removes it. The registry does not own the panes: whoever removes one deletes it.
#pragma once

#include <mutex>
#include <vector>

#include "win/window.h"

namespace tr52 {

template <typename>
class ModuleSingleton;

class ProgressDialog;

class DialogRegistry {
 public:
  static DialogRegistry& Instance();
  // Frees the registry (its array, not the objects in it) when the module unloads.
  static void ReleaseInstance();

  // The dialog lock (re-entrant). Hold it around every call below.
  std::recursive_mutex& Lock() { return lock_; }

  void Add(ProgressDialog* dialog);
  // First pane opened with this parent window object, or null.
  ProgressDialog* FindByParent(const win::CWnd* parent) const;
  // First pane of this port, or null.
  ProgressDialog* FindByPort(int port) const;
  bool Remove(ProgressDialog* dialog);
  // Removes every entry and hands them over, in registration order.
  std::vector<ProgressDialog*> TakeAll();
  size_t Count() const { return dialogs_.size(); }

  DialogRegistry(const DialogRegistry&) = delete;
  DialogRegistry& operator=(const DialogRegistry&) = delete;

 private:
  template <typename>
  friend class ModuleSingleton;
  DialogRegistry() = default;

  std::recursive_mutex lock_;
  std::vector<ProgressDialog*> dialogs_;
};

}  // namespace tr52
