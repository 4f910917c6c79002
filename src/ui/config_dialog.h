// The configuration dialog (template 7006): the path of the firmware package that every
// download uses, kept as "PATH_BIN" in section "TR52" of the settings file.
#pragma once

#include <string>

#include "base/settings_file.h"
#include "win/window.h"

namespace tr52 {

class ConfigDialog {
 public:
  // The dialog shows and saves the package path of `settings`, which outlive it.
  ConfigDialog(win::CWnd* parent, SettingsFile& settings) : parent_(parent), settings_(settings) {}

  // Runs the dialog modally over the parent window; IDOK or IDCANCEL (-1 when it could not be
  // shown).
  win::LRESULT DoModal();

  // The path field (the settings' value when opened, the edit's text after OK). OK closes the
  // dialog once the path is saved; a path the settings refuse, or a settings file that cannot be
  // written, is said in a message box and the dialog stays open.
  const std::string& Path() const { return path_; }

  win::LRESULT HandleMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);

 private:
  // "...": the window layer's file-open dialog for packages; its choice (or nothing, when
  // cancelled) becomes the path field and the edit's text.
  void OnBrowse(win::HWND hwnd);

  win::CWnd* parent_;
  SettingsFile& settings_;
  std::string path_;
};

}  // namespace tr52
