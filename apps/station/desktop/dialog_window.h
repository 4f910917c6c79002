// A modal dialog of the window layer (the plug-in's configuration dialog) as a desktop window:
// its labels, edits and buttons as the toolkit's widgets in the rows of its template. A button
// clicks the layer's button (the dialog's handler runs as it would for any front end), typing
// in an edit sets the edit's text, Enter presses the default button and Escape or closing the
// window cancels. Texts the handler changes (the path after "...") come back through Sync.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "win/window.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace station {

class DialogWindow {
 public:
  // Builds and shows the window for `dialog`, over `parent` when there is one.
  DialogWindow(win::HWND dialog, GtkWindow* parent);
  ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  win::HWND Dialog() const { return dialog_; }
  GtkWindow* Window() const { return window_; }
  // Takes the edits' texts from the window layer into the widgets.
  void Sync();

 private:
  struct Control {
    DialogWindow* owner;
    win::HWND hwnd;
    std::string className;
    GtkWidget* widget;
  };

  void Cancel();

  win::HWND dialog_;
  GtkWindow* window_ = nullptr;
  std::vector<std::unique_ptr<Control>> controls_;  // stable: the widgets' signals point here
  bool syncing_ = false;
};

}  // namespace station
