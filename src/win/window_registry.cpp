#include "win/window_registry.h"

#include "win/dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <shared_mutex>
#include <unordered_map>

namespace win {
namespace detail {
namespace {

struct Registry {
  std::unordered_map<uintptr_t, std::shared_ptr<WindowData>> windows;
  std::vector<HWND> topLevel;
  uintptr_t nextHandle = 0x10010;  // never reused, so a stale handle stays invalid
};

// Never destroyed: windows may be touched by threads still running at process exit.
Registry& TheRegistry() {
  static Registry* r = new Registry();
  return *r;
}

std::shared_mutex& FrontEndMutex() {
  static std::shared_mutex* m = new std::shared_mutex();
  return *m;
}
FrontEnd* g_frontEnd = nullptr;

Kind KindOf(const std::string& className) {
  if (className == kDialogClass) return Kind::kDialog;
  if (className == kStaticClass) return Kind::kStatic;
  if (className == kButtonClass) return Kind::kButton;
  if (className == kEditClass) return Kind::kEdit;
  if (className == kListBoxClass) return Kind::kListBox;
  if (className == kProgressClass) return Kind::kProgress;
  return Kind::kPlain;
}

void EraseHandle(std::vector<HWND>& v, HWND h) {
  v.erase(std::remove(v.begin(), v.end(), h), v.end());
}

// Takes the window out of the registry and its parent's list; the caller holds the mutex.
void UnlinkLocked(WindowData& w) {
  Registry& r = TheRegistry();
  if (w.parent) {
    if (auto p = FindWindowLocked(w.parent)) EraseHandle(p->children, w.hwnd);
  } else {
    EraseHandle(r.topLevel, w.hwnd);
  }
  r.windows.erase(reinterpret_cast<uintptr_t>(w.hwnd));
}

}  // namespace

std::mutex& RegistryMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}

std::shared_ptr<WindowData> FindWindowLocked(HWND hwnd) {
  auto& map = TheRegistry().windows;
  auto it = map.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == map.end() ? nullptr : it->second;
}

std::shared_ptr<WindowData> FindWindow(HWND hwnd) {
  if (!hwnd) return nullptr;
  std::lock_guard<std::mutex> g(RegistryMutex());
  return FindWindowLocked(hwnd);
}

LRESULT CallProc(const std::shared_ptr<WindowData>& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (w->handler) return w->handler(w->hwnd, msg, wParam, lParam);
  return DefWindowProc(w->hwnd, msg, wParam, lParam);
}

void NotifyInvalidate(HWND hwnd) {
  std::shared_lock<std::shared_mutex> g(FrontEndMutex());
  if (g_frontEnd) g_frontEnd->Invalidate(hwnd);
}

BaseUnits CurrentBaseUnits() {
  std::shared_lock<std::shared_mutex> g(FrontEndMutex());
  return g_frontEnd ? g_frontEnd->DialogBaseUnits() : BaseUnits{};
}

bool NotifyModalStarted(HWND dialog) {
  std::shared_lock<std::shared_mutex> g(FrontEndMutex());
  if (!g_frontEnd) return false;
  g_frontEnd->ModalDialogStarted(dialog);
  return true;
}

void DestroyWindowsOf(const std::shared_ptr<ThreadQueue>& q) {
  std::vector<std::shared_ptr<WindowData>> owned;
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    for (auto& [h, w] : TheRegistry().windows)
      if (w->owner == q) owned.push_back(w);
    for (auto& w : owned) {
      w->closing = true;
      UnlinkLocked(*w);
    }
  }
  for (auto& w : owned) PurgeWindow(*q, w->hwnd);
}

LRESULT DialogProc(WindowData& w, UINT msg, WPARAM wParam, LPARAM /*lParam*/) {
  if (msg == WM_CLOSE) return SendMessage(w.hwnd, WM_COMMAND, IDCANCEL, 0);
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    // A dialog without its own handling ends with the button pressed.
    EndDialog(w.hwnd, static_cast<LRESULT>(LOWORD(wParam)));
    return 0;
  }
  return 0;
}

LRESULT ButtonProc(WindowData& w, UINT msg, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  if (msg != BM_CLICK) return 0;
  HWND parent;
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    parent = w.parent;
  }
  if (parent)
    SendMessage(parent, WM_COMMAND, MAKELONG(static_cast<unsigned>(w.id), BN_CLICKED),
                reinterpret_cast<LPARAM>(w.hwnd));
  return 0;
}

}  // namespace detail

using namespace detail;

HWND CreateWindowEx(HWND parent, const std::string& className, const std::string& text, int id,
                    const Rect& rect, WndProc handler, DWORD style) {
  auto w = std::make_shared<WindowData>();
  w->owner = CurrentQueue();
  w->className = className;
  w->kind = KindOf(className);
  w->id = id;
  w->handler = std::move(handler);
  w->text = text;
  w->rect = rect;
  w->style = style;
  w->visible = (style & WS_VISIBLE) != 0;
  w->parent = parent;
  w->baseUnits = CurrentBaseUnits();
  w->list.itemHeight = std::max(1, w->baseUnits.y);
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    Registry& r = TheRegistry();
    std::shared_ptr<WindowData> p;
    if (parent) {
      p = FindWindowLocked(parent);
      if (!p || p->closing) return nullptr;
    }
    w->hwnd = reinterpret_cast<HWND>(r.nextHandle);
    r.nextHandle += 0x10;
    r.windows.emplace(reinterpret_cast<uintptr_t>(w->hwnd), w);
    if (p)
      p->children.push_back(w->hwnd);
    else
      r.topLevel.push_back(w->hwnd);
  }
  CallProc(w, WM_CREATE, 0, 0);
  if (parent) NotifyInvalidate(parent);
  return w->hwnd;
}

bool DestroyWindow(HWND hwnd) {
  std::shared_ptr<WindowData> w;
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    w = FindWindowLocked(hwnd);
    if (!w || w->closing) return false;
    w->closing = true;
  }
  if (IsOwnerThread(*w)) CallProc(w, WM_DESTROY, 0, 0);
  for (HWND child : GetChildren(hwnd)) DestroyWindow(child);
  HWND parent;
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    parent = w->parent;
    UnlinkLocked(*w);
  }
  PurgeWindow(*w->owner, hwnd);
  if (parent) NotifyInvalidate(parent);
  return true;
}

bool IsWindow(HWND hwnd) {
  return FindWindow(hwnd) != nullptr;
}

HWND GetParent(HWND hwnd) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto w = FindWindowLocked(hwnd);
  return w ? w->parent : nullptr;
}

HWND GetDlgItem(HWND dialog, int id) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto d = FindWindowLocked(dialog);
  if (!d) return nullptr;
  for (HWND c : d->children) {
    auto w = FindWindowLocked(c);
    if (w && w->id == id) return c;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  auto w = FindWindow(hwnd);
  return w ? w->id : 0;
}

std::string GetClassName(HWND hwnd) {
  auto w = FindWindow(hwnd);
  return w ? w->className : std::string();
}

bool ShowWindow(HWND hwnd, int cmd) {
  bool was;
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    auto w = FindWindowLocked(hwnd);
    if (!w) return false;
    was = w->visible;
    w->visible = cmd != SW_HIDE;
    if (w->visible)
      w->style |= WS_VISIBLE;
    else
      w->style &= ~WS_VISIBLE;
  }
  NotifyInvalidate(hwnd);
  return was;
}

bool IsWindowVisible(HWND hwnd) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  for (auto w = FindWindowLocked(hwnd); w; w = FindWindowLocked(w->parent)) {
    if (!w->visible) return false;
    if (!w->parent) return true;
  }
  return false;
}

bool SetWindowText(HWND hwnd, const std::string& text) {
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    auto w = FindWindowLocked(hwnd);
    if (!w) return false;
    w->text = text;
  }
  NotifyInvalidate(hwnd);
  return true;
}

std::string GetWindowText(HWND hwnd) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto w = FindWindowLocked(hwnd);
  return w ? w->text : std::string();
}

Rect GetWindowRect(HWND hwnd) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto w = FindWindowLocked(hwnd);
  return w ? w->rect : Rect{};
}

bool MoveWindow(HWND hwnd, const Rect& rect) {
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    auto w = FindWindowLocked(hwnd);
    if (!w) return false;
    w->rect = rect;
  }
  NotifyInvalidate(hwnd);
  return true;
}

DWORD GetWindowStyle(HWND hwnd) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto w = FindWindowLocked(hwnd);
  return w ? w->style : 0;
}

bool SetWindowStyle(HWND hwnd, DWORD style) {
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    auto w = FindWindowLocked(hwnd);
    if (!w) return false;
    w->style = style;
    w->visible = (style & WS_VISIBLE) != 0;
  }
  NotifyInvalidate(hwnd);
  return true;
}

std::vector<HWND> GetChildren(HWND parent) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  if (!parent) return TheRegistry().topLevel;
  auto w = FindWindowLocked(parent);
  return w ? w->children : std::vector<HWND>{};
}

bool SetWindowFont(HWND hwnd, const Font& font) {
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    auto w = FindWindowLocked(hwnd);
    if (!w) return false;
    w->font = font;
  }
  NotifyInvalidate(hwnd);
  return true;
}

std::optional<Font> GetWindowFont(HWND hwnd) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto w = FindWindowLocked(hwnd);
  return w ? w->font : std::nullopt;
}

bool InvalidateRect(HWND hwnd, const Rect* /*rect*/, bool /*erase*/) {
  if (!IsWindow(hwnd)) return false;
  NotifyInvalidate(hwnd);
  return true;
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = FindWindow(hwnd);
  if (!w) return 0;
  switch (msg) {
    case WM_SETTEXT:
      SetWindowText(hwnd, lParam ? reinterpret_cast<const char*>(lParam) : "");
      return 1;
    case WM_GETTEXT: {
      char* out = reinterpret_cast<char*>(lParam);
      if (!out || wParam == 0) return 0;
      const std::string text = GetWindowText(hwnd);
      const size_t n = std::min(text.size(), static_cast<size_t>(wParam) - 1);
      std::memcpy(out, text.data(), n);
      out[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(GetWindowText(hwnd).size());
    default:
      break;
  }
  switch (w->kind) {
    case Kind::kListBox:
      return ListBoxProc(*w, msg, wParam, lParam);
    case Kind::kProgress:
      return ProgressProc(*w, msg, wParam, lParam);
    case Kind::kButton:
      return ButtonProc(*w, msg, wParam, lParam);
    case Kind::kDialog:
      return DialogProc(*w, msg, wParam, lParam);
    default:
      break;
  }
  if (msg == WM_CLOSE) DestroyWindow(hwnd);
  return 0;
}

void SetFrontEnd(FrontEnd* frontEnd) {
  std::lock_guard<std::shared_mutex> g(FrontEndMutex());
  g_frontEnd = frontEnd;
}

int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  {
    std::shared_lock<std::shared_mutex> g(FrontEndMutex());
    if (g_frontEnd) return g_frontEnd->ShowMessageBox(owner, text, caption, type);
  }
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  return IDOK;
}

std::optional<std::string> GetOpenFileName(HWND owner, const OpenFileRequest& request) {
  std::shared_lock<std::shared_mutex> g(FrontEndMutex());
  if (!g_frontEnd) return std::nullopt;
  return g_frontEnd->ChooseFileToOpen(owner, request);
}

}  // namespace win
