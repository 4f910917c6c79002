// The window layer: a small window system shared by the host (the station) and the plug-in,
// as a host and an extension library share one GUI run-time.
//
// A window has an owner thread (the thread that created it) and a handler. PostMessage queues
// and returns at once from any thread. SendMessage calls the handler directly on the owner
// thread; from another thread it queues, blocks until the owner thread has handled it and
// returns the handler's result. Timers arrive as WM_TIMER through the owner thread's loop.
// Destroying a window drops the messages still queued for it and releases every thread blocked
// in SendMessage to it (the send returns 0), so a teardown never deadlocks with a worker.
//
// Message numbers keep their Windows values so that recorded traces read the same.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace win {

using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT_PTR = uintptr_t;
using DWORD = uint32_t;

// Opaque handle; never dereferenced. Handles are checked against the live windows, so a stale
// handle is simply "not a window".
struct WindowTag;
using HWND = WindowTag*;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_COPYDATA = 0x004A;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr UINT MB_OK = 0x0000;

// WM_COPYDATA record (lParam points at it for the duration of the send).
struct COPYDATASTRUCT {
  uintptr_t dwData;
  DWORD cbData;
  void* lpData;
};

constexpr WPARAM MAKELONG(unsigned lo, unsigned hi) {
  return static_cast<WPARAM>((lo & 0xFFFFu) | ((hi & 0xFFFFu) << 16));
}
constexpr unsigned LOWORD(WPARAM v) {
  return static_cast<unsigned>(v & 0xFFFFu);
}
constexpr unsigned HIWORD(WPARAM v) {
  return static_cast<unsigned>((v >> 16) & 0xFFFFu);
}

using WndProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// A rectangle in the units of whoever uses it (dialog units in templates, cells or pixels in
// front ends).
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// Window style bits (the subset the layer and the templates use).
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_TABSTOP = 0x00010000;

// Creates a window owned by the calling thread. `className` names the kind ("#dialog",
// "Static", "ListBox", "msctls_progress32", "Button", "Edit", a class of a front end...), `id`
// is the control id inside a dialog (0 otherwise). The handler receives every message; an
// empty handler means DefWindowProc, which carries the built-in behaviour of the known classes
// (a handler may pass messages on to DefWindowProc, as a subclass does). The window is visible
// when `style` holds WS_VISIBLE. Returns nullptr on failure.
HWND CreateWindowEx(HWND parent, const std::string& className, const std::string& text, int id,
                    const Rect& rect, WndProc handler, DWORD style = 0);
// The built-in behaviour: window text (WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH), the messages
// of the control classes, WM_CLOSE (dialogs: IDCANCEL; other windows: destroyed); else 0.
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// On the owner thread the handler gets WM_DESTROY, then the children are destroyed. From
// another thread (or after the owner thread ended) the window is taken down without calling
// its handler. Either way its queued messages are dropped, its timers killed and threads
// blocked in SendMessage to it are released with 0.
bool DestroyWindow(HWND hwnd);
bool IsWindow(HWND hwnd);
HWND GetParent(HWND hwnd);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND hwnd);
std::string GetClassName(HWND hwnd);
bool ShowWindow(HWND hwnd, int cmd);
bool IsWindowVisible(HWND hwnd);
// Window text is stored by the layer: SetWindowText sets it at once from any thread (a handler
// that intercepts WM_SETTEXT only sees sent WM_SETTEXT messages) and invalidates the window.
bool SetWindowText(HWND hwnd, const std::string& text);
std::string GetWindowText(HWND hwnd);
Rect GetWindowRect(HWND hwnd);
bool MoveWindow(HWND hwnd, const Rect& rect);
DWORD GetWindowStyle(HWND hwnd);
bool SetWindowStyle(HWND hwnd, DWORD style);
// Child windows of `parent`, in creation order; nullptr gives the top-level windows.
std::vector<HWND> GetChildren(HWND parent);
// Tells the front end that the window's visible state changed.
bool InvalidateRect(HWND hwnd, const Rect* rect = nullptr, bool erase = true);

// A window's font as a face name and a size in points; a canvas maps it to what it can draw.
struct Font {
  std::string face;       // empty: the canvas's default face
  int pointSize = 0;      // 0 or less: the canvas's default size
  bool vertical = false;  // turned by 90 degrees: the text runs upward
  bool operator==(const Font&) const = default;
};
// A dialog created from a template with DS_SETFONT has the template's font; other windows have
// none until one is set.
bool SetWindowFont(HWND hwnd, const Font& font);
// The window's own font, if it has one.
std::optional<Font> GetWindowFont(HWND hwnd);

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Timers: WM_TIMER with wParam = id every `elapseMs` milliseconds of real time, delivered by the
// owner thread's loop. Setting an existing id restarts it. Any thread may set or kill a timer;
// periods under 10 ms are raised to 10 ms.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs);
bool KillTimer(HWND hwnd, UINT_PTR id);

// The calling thread's message loop. PumpMessages handles everything queued for the thread's
// windows and every due timer, waiting up to `maxWaitMs` for the first message; it returns
// false once WM_QUIT was posted to the thread (PostQuitMessage), consuming it. A negative
// `maxWaitMs` waits without limit. A thread blocked in a cross-thread SendMessage keeps
// answering messages sent to its own windows meanwhile.
bool PumpMessages(int maxWaitMs);
void PostQuitMessage(int exitCode);
// Runs the loop until WM_QUIT; returns its exit code.
int RunMessageLoop();

// For a thread whose loop is a toolkit's rather than RunMessageLoop: the toolkit's loop calls
// PumpMessages(0) when MillisecondsUntilMessages says there is work, and sleeps otherwise.
// `wake` is called whenever a message, a request to quit or a timer change arrives for the
// calling thread's windows (from whichever thread caused it, never under the layer's locks), so
// that the sleeping loop looks again. An empty function removes it.
void SetMessageWaker(std::function<void()> wake);
// For the calling thread: 0 when PumpMessages has work now (a message, a request to quit, a due
// timer), else the milliseconds until the next timer is due (rounded up), -1 when none is set.
int MillisecondsUntilMessages();

// The host's window object as passed to the plug-in's operations ("CWnd*").
struct CWnd {
  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
};
// The handle of a possibly null window object.
inline HWND SafeHwnd(const CWnd* wnd) {
  return wnd ? wnd->m_hWnd : nullptr;
}

// Average character size of a dialog's font in a front end's units. Dialog units are a quarter
// of x and an eighth of y; the default (4, 8) makes one front-end unit one dialog unit.
struct BaseUnits {
  int x = 4;
  int y = 8;
};

// What a file-open dialog offers: `filter` in the "Description (*.ext)|*.ext||" form (pairs of
// description and ';'-separated patterns, each ended by '|'), and the extension added to a
// typed name that has none (without the dot; empty: none).
struct OpenFileRequest {
  std::string filter;
  std::string defaultExtension;
};

// What draws the windows: told when a window's content changed, and shows message boxes.
// Installed by the program (the station); the plug-in never installs one.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Called on the thread that changed the window (normally its owner thread; SetWindowText,
  // ShowWindow and MoveWindow may come from any thread). Also called for the parent when a
  // child window is created or destroyed.
  virtual void Invalidate(HWND /*hwnd*/) {}
  // Units into which dialog templates are converted when dialogs are created.
  virtual BaseUnits DialogBaseUnits() { return {}; }
  // A modal dialog starts its loop on the calling thread; the front end lets the user work it
  // (or a test drives it). Without a front end a modal dialog is cancelled at once.
  virtual void ModalDialogStarted(HWND /*dialog*/) {}
  virtual int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                             UINT type) = 0;
  // The file-open dialog: the full path of the file the user chose, nullopt when cancelled. A
  // front end without one cancels.
  virtual std::optional<std::string> ChooseFileToOpen(HWND /*owner*/,
                                                      const OpenFileRequest& /*request*/) {
    return std::nullopt;
  }
};
void SetFrontEnd(FrontEnd* frontEnd);  // nullptr: headless

// Modal file-open dialog. The front end in charge shows it; without one (or when the front end
// has none) it is cancelled: nullopt.
std::optional<std::string> GetOpenFileName(HWND owner, const OpenFileRequest& request);

// Modal message box. The front end in charge shows it; without one it goes to standard error
// and answers IDOK.
int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);

}  // namespace win
