// Dialogs built from templates in dialog units: modeless (CreateDialogFromTemplate) and modal
// (DialogBoxFromTemplate, a nested message loop until EndDialog).
#pragma once

#include <span>

#include "win/window.h"

namespace win {

// Dialog styles.
constexpr DWORD DS_SETFONT = 0x0040;
constexpr DWORD DS_MODALFRAME = 0x0080;

// x, y, width, height as templates write them.
constexpr Rect RectXYWH(int x, int y, int width, int height) {
  return Rect{x, y, x + width, y + height};
}

struct DialogItem {
  int id;  // -1 for a control without id
  const char* className;
  const char* text;
  Rect rect;  // dialog units
  DWORD style;
};

struct DialogTemplate {
  int resourceId;
  const char* caption;
  int width;  // dialog units
  int height;
  DWORD style;
  const char* fontName;
  int fontSize;
  std::span<const DialogItem> items;
};

// Dialog units to a front end's units: x by base x / 4, y by base y / 8, rounded.
Rect MapDialogRect(const Rect& dialogUnits, BaseUnits units);
// The same with the base units the dialog was created with.
Rect MapDialogRect(HWND dialog, const Rect& dialogUnits);

// Creates the dialog window ("#dialog", owned by the calling thread, hidden unless the template
// style holds WS_VISIBLE) and its controls (visible) as children, with rectangles converted by
// the front end's base units, then sends WM_INITDIALOG (wParam = first control, lParam =
// initParam) on the calling thread. Returns nullptr on failure.
HWND CreateDialogFromTemplate(HWND parent, const DialogTemplate& templ, WndProc handler,
                              LPARAM initParam = 0);

// Creates the dialog, shows it and runs a nested loop on the calling thread until EndDialog;
// then destroys it and returns the EndDialog result (-1 when it could not be created or was
// destroyed without EndDialog). Without a front end the dialog is cancelled at once (as if
// IDCANCEL were pressed), so a headless program never hangs in it. A WM_QUIT seen by the loop
// ends the dialog (IDCANCEL) and is posted again for the outer loop.
LRESULT DialogBoxFromTemplate(HWND owner, const DialogTemplate& templ, WndProc handler,
                              LPARAM initParam = 0);

// Ends a modal dialog's loop with `result`; callable from any thread.
bool EndDialog(HWND dialog, LRESULT result);
// True once EndDialog was called for `dialog` or it is no window any more: its loop is over
// (for a front end that runs a loop of its own while a modal dialog is up).
bool IsDialogEnded(HWND dialog);

}  // namespace win
