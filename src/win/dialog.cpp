#include "win/dialog.h"

#include <cstdio>

#include "win/controls.h"
#include "win/window_registry.h"

namespace win {
namespace {

int MulDiv(int value, int mul, int div) {
  const long long p = static_cast<long long>(value) * mul;
  return static_cast<int>(p >= 0 ? (p + div / 2) / div : -((-p + div / 2) / div));
}

// True once EndDialog was called; `result` then holds its value.
bool IsEnded(const detail::WindowData& w, LRESULT& result) {
  std::lock_guard<std::mutex> g(detail::RegistryMutex());
  if (w.dialogEnded) result = w.dialogResult;
  return w.dialogEnded;
}

}  // namespace

Rect MapDialogRect(const Rect& du, BaseUnits units) {
  return Rect{MulDiv(du.left, units.x, 4), MulDiv(du.top, units.y, 8), MulDiv(du.right, units.x, 4),
              MulDiv(du.bottom, units.y, 8)};
}

Rect MapDialogRect(HWND dialog, const Rect& du) {
  auto w = detail::FindWindow(dialog);
  return MapDialogRect(du, w ? w->baseUnits : BaseUnits{});
}

HWND CreateDialogFromTemplate(HWND parent, const DialogTemplate& templ, WndProc handler,
                              LPARAM initParam) {
  // The dialog takes the base units of the front end in charge when it is created.
  const BaseUnits units = detail::CurrentBaseUnits();

  const Rect size = MapDialogRect(RectXYWH(0, 0, templ.width, templ.height), units);
  HWND dlg = CreateWindowEx(parent, kDialogClass, templ.caption ? templ.caption : "",
                            templ.resourceId, size, std::move(handler), templ.style);
  if (!dlg) return nullptr;
  if ((templ.style & DS_SETFONT) && templ.fontName)
    SetWindowFont(dlg, Font{templ.fontName, templ.fontSize});
  HWND first = nullptr;
  for (const DialogItem& item : templ.items) {
    HWND c =
        CreateWindowEx(dlg, item.className, item.text ? item.text : "", item.id,
                       MapDialogRect(item.rect, units), {}, item.style | WS_CHILD | WS_VISIBLE);
    if (!c) {
      DestroyWindow(dlg);
      return nullptr;
    }
    if (!first) first = c;
  }
  SendMessage(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam);
  if (!IsWindow(dlg)) return nullptr;  // the handler gave up during initialisation
  return dlg;
}

bool EndDialog(HWND dialog, LRESULT result) {
  {
    std::lock_guard<std::mutex> g(detail::RegistryMutex());
    auto w = detail::FindWindowLocked(dialog);
    if (!w || w->kind != detail::Kind::kDialog) return false;
    w->dialogEnded = true;
    w->dialogResult = result;
  }
  PostMessage(dialog, WM_NULL, 0, 0);  // wakes the modal loop
  return true;
}

bool IsDialogEnded(HWND dialog) {
  std::lock_guard<std::mutex> g(detail::RegistryMutex());
  auto w = detail::FindWindowLocked(dialog);
  return !w || w->dialogEnded;
}

LRESULT DialogBoxFromTemplate(HWND owner, const DialogTemplate& templ, WndProc handler,
                              LPARAM initParam) {
  HWND dlg = CreateDialogFromTemplate(owner, templ, std::move(handler), initParam);
  auto w = detail::FindWindow(dlg);
  if (!w) return -1;
  ShowWindow(dlg, SW_SHOW);

  const bool headless = !detail::NotifyModalStarted(dlg);
  if (headless) {
    std::fprintf(stderr, "[%s] no front end to show the dialog: cancelled\n",
                 templ.caption ? templ.caption : "");
    PostMessage(dlg, WM_COMMAND, IDCANCEL, 0);
  }

  LRESULT result = -1;
  while (!IsEnded(*w, result) && IsWindow(dlg)) {
    if (!PumpMessages(headless ? 0 : -1)) {
      EndDialog(dlg, IDCANCEL);
      int code;
      {
        auto q = detail::CurrentQueue();
        std::lock_guard<std::mutex> g(q->mu);
        code = q->lastExitCode;
      }
      PostQuitMessage(code);
      break;
    }
    // The handler did not end the dialog on the cancel: end it here.
    if (headless && !IsEnded(*w, result)) EndDialog(dlg, IDCANCEL);
  }
  IsEnded(*w, result);
  DestroyWindow(dlg);
  return result;
}

}  // namespace win
