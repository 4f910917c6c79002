#include "progress_snapshot.h"

#include "win/controls.h"
#include "win/progress_paint.h"

namespace canvas {
namespace {

// Destroys the window (and its children) at the end of the scope.
struct WindowGuard {
  win::HWND hwnd;
  ~WindowGuard() {
    if (hwnd) win::DestroyWindow(hwnd);
  }
};

}  // namespace

std::unique_ptr<RasterCanvas> RenderProgressBar(const win::DialogTemplate& dialog, int barId,
                                                int position) {
  const win::DialogItem* bar = nullptr;
  for (const win::DialogItem& item : dialog.items)
    if (item.id == barId && std::string(item.className) == win::kProgressClass) bar = &item;
  if (!bar) return nullptr;

  const win::Rect pane =
      win::MapDialogRect(win::RectXYWH(0, 0, dialog.width, dialog.height), kRasterBaseUnits);
  WindowGuard parent{win::CreateWindowEx(nullptr, win::kDialogClass, "", dialog.resourceId, pane,
                                         {}, dialog.style)};
  if (!parent.hwnd) return nullptr;
  if ((dialog.style & win::DS_SETFONT) && dialog.fontName)
    win::SetWindowFont(parent.hwnd, win::Font{dialog.fontName, dialog.fontSize});
  const win::Rect rect = win::MapDialogRect(bar->rect, kRasterBaseUnits);
  win::HWND control = win::CreateWindowEx(parent.hwnd, win::kProgressClass, bar->text, bar->id,
                                          rect, {}, bar->style | win::WS_CHILD | win::WS_VISIBLE);
  if (!control) return nullptr;
  win::SendMessage(control, win::PBM_SETRANGE, 0, static_cast<win::LPARAM>(win::MAKELONG(0, 100)));
  win::SendMessage(control, win::PBM_SETPOS, static_cast<win::WPARAM>(position), 0);

  auto canvas = std::make_unique<RasterCanvas>(rect.Width(), rect.Height(),
                                               win::GetSysColor(win::COLOR_BTNFACE));
  if (!win::PaintProgress(control, *canvas, win::Rect{0, 0, rect.Width(), rect.Height()}))
    return nullptr;
  return canvas;
}

bool WriteProgressBarPng(const win::DialogTemplate& dialog, int barId, int position,
                         const std::string& path) {
  auto canvas = RenderProgressBar(dialog, barId, position);
  return canvas && canvas->WritePng(path);
}

}  // namespace canvas
