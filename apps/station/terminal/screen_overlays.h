// The boxes the full-screen front end puts over the panes: a dialog of the window layer
// (edits, buttons and labels placed by its template), a message box, the file-open dialog
// (a folder browser) and a yes/no question. Each paints itself on the screen's cell canvas and
// takes the keys while it is on top.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cell_canvas.h"
#include "file_browser.h"
#include "screen_key.h"
#include "win/window.h"

namespace station {

class Overlay {
 public:
  virtual ~Overlay() = default;
  // Paints the box over `canvas`; sets the cursor (x < 0: hidden).
  virtual void Paint(canvas::CellCanvas& canvas, int& cursorX, int& cursorY) = 0;
  virtual void OnKey(const Key& key) = 0;
  // True once the box has its answer (or its window is gone).
  virtual bool Done() const = 0;
  // The program is stopping: the box ends as Escape ends it (a dialog of the window layer ends
  // with its loop instead).
  virtual void Cancel() {}
};

// A modal dialog of the window layer. Tab and Shift-Tab (or the up and down arrows) move the
// focus over the controls with a tab stop, starting in the first edit; typing edits the
// focused edit (Backspace, Ctrl-U clears); Enter presses the focused button, or the default
// one from an edit; Escape cancels.
class DialogOverlay : public Overlay {
 public:
  explicit DialogOverlay(win::HWND dialog);
  void Paint(canvas::CellCanvas& canvas, int& cursorX, int& cursorY) override;
  void OnKey(const Key& key) override;
  bool Done() const override { return !win::IsWindow(dialog_); }
  win::HWND Dialog() const { return dialog_; }
  win::HWND Focus() const { return focus_; }

 private:
  std::vector<win::HWND> TabStops() const;
  void MoveFocus(int step);
  void Press(win::HWND button);

  win::HWND dialog_;
  win::HWND focus_ = nullptr;
};

class MessageOverlay : public Overlay {
 public:
  MessageOverlay(std::string caption, std::string text);
  void Paint(canvas::CellCanvas& canvas, int& cursorX, int& cursorY) override;
  void OnKey(const Key& key) override;
  bool Done() const override { return done_; }
  void Cancel() override { done_ = true; }

 private:
  std::string caption_;
  std::string text_;
  bool done_ = false;
};

// The file-open dialog: the current folder's folders and matching files; arrows choose, Enter
// opens a folder or takes a file, a typed name or path (Enter) is taken as it is (or entered
// when it is a folder), Backspace on an empty name goes up, Escape cancels.
class BrowserOverlay : public Overlay {
 public:
  BrowserOverlay(const std::string& title, FileBrowser browser);
  void Paint(canvas::CellCanvas& canvas, int& cursorX, int& cursorY) override;
  void OnKey(const Key& key) override;
  bool Done() const override { return done_; }
  void Cancel() override { OnKey(Key{KeyKind::kEscape, 0}); }
  // The chosen file's path; nullopt when cancelled.
  const std::optional<std::string>& Result() const { return result_; }

 private:
  std::string title_;
  FileBrowser browser_;
  std::string typed_;
  size_t selected_ = 0;
  int listRows_ = 1;
  bool done_ = false;
  std::optional<std::string> result_;
};

class ConfirmOverlay : public Overlay {
 public:
  // `onYes` runs when the answer is yes ('y'); 'n', Escape or Enter answer no.
  ConfirmOverlay(std::string question, std::function<void()> onYes);
  void Paint(canvas::CellCanvas& canvas, int& cursorX, int& cursorY) override;
  void OnKey(const Key& key) override;
  bool Done() const override { return done_; }
  void Cancel() override { OnKey(Key{KeyKind::kEscape, 0}); }

 private:
  std::string question_;
  std::function<void()> onYes_;
  bool done_ = false;
};

// UTF-8 helpers for typed text.
void AppendChar(std::string& text, char32_t ch);
void DropLastChar(std::string& text);

}  // namespace station
