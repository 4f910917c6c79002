// The progress bar control with the fields of the drawn progress bar: range, position, step,
// colours, text alignment, percentage display and the moving-block (marquee) mode.
#include <algorithm>
#include <atomic>
#include <climits>

#include "win/window_registry.h"

namespace win {
namespace detail {
namespace {

// The moving block's direction, shared by every progress bar of the process.
std::atomic<int> g_marqueeDirection{1};

LRESULT PackRange(const ProgressState& p) {
  return static_cast<LRESULT>((static_cast<uint32_t>(p.upper) << 16) |
                              (static_cast<uint32_t>(p.lower) & 0xFFFFu));
}

void SetPos(ProgressState& p, long long pos) {
  const int upper = p.UpperLimit();
  if (pos > upper) pos = upper;
  if (pos < p.lower) pos = p.lower;
  p.position = static_cast<int>(pos);
}

COLORREF Resolve(COLORREF c, int sysColour) {
  return c == CLR_DEFAULT ? GetSysColor(sysColour) : c;
}

enum class After { kNothing, kRepaint, kStartTimer, kStopTimer };

LRESULT Handle(WindowData& w, UINT msg, WPARAM wParam, LPARAM lParam, After& after) {
  ProgressState& p = w.progress;
  const int prevPos = p.position;
  auto swap = [&](auto& field, auto value) {
    const auto prev = field;
    field = static_cast<std::remove_reference_t<decltype(field)>>(value);
    after = After::kRepaint;
    return static_cast<LRESULT>(prev);
  };
  switch (msg) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
      const LRESULT prev = PackRange(p);
      if (msg == PBM_SETRANGE) {
        p.lower = static_cast<int>(LOWORD(static_cast<WPARAM>(lParam)));
        p.upper = static_cast<int>(HIWORD(static_cast<WPARAM>(lParam)));
      } else {
        p.lower = static_cast<int>(static_cast<intptr_t>(wParam));
        p.upper = static_cast<int>(lParam);
      }
      if (p.lower < p.upper) SetPos(p, p.position);  // keep the position inside the range
      after = After::kRepaint;
      return prev;
    }
    case PBM_SETPOS:
      SetPos(p, static_cast<int>(static_cast<intptr_t>(wParam)));
      after = After::kRepaint;
      return prevPos;
    case PBM_DELTAPOS:
      SetPos(p,
             static_cast<long long>(p.position) + static_cast<int>(static_cast<intptr_t>(wParam)));
      after = After::kRepaint;
      return prevPos;
    case PBM_SETSTEP:
      return swap(p.step, static_cast<int>(static_cast<intptr_t>(wParam)));
    case PBM_STEPIT: {
      long long pos = static_cast<long long>(p.position) + p.step;
      if (pos < p.lower) pos = p.upper - (p.lower - pos);
      if (pos > p.upper) pos = p.lower + (pos - p.upper);
      SetPos(p, pos);
      after = After::kRepaint;
      return prevPos;
    }
    case PBM_GETRANGE:
      if (lParam) {
        auto* range = reinterpret_cast<PBRANGE*>(lParam);
        range->iLow = p.lower;
        range->iHigh = p.upper;
      }
      return wParam ? p.lower : p.upper;
    case PBM_GETPOS:
      return p.position;
    case PBM_SETBARCOLOR:
      return swap(p.barColour, static_cast<COLORREF>(lParam));
    case PBM_SETBKCOLOR:
      return swap(p.bkColour, static_cast<COLORREF>(lParam));
    case PBM_SETMARQUEE:
      p.showPercent = 0;
      p.marquee = wParam != 0;
      if (p.marquee)
        w.style |= PBS_MARQUEE;
      else
        w.style &= ~PBS_MARQUEE;
      after = p.marquee ? After::kStartTimer : After::kStopTimer;
      return static_cast<LRESULT>(wParam);
    case TPM_GETBARCOLOR:
      return p.ResolvedBarColour();
    case TPM_GETBKCOLOR:
      return p.ResolvedBkColour();
    case TPM_SETTEXTBKCOLOR:
      return swap(p.textBkColour, static_cast<COLORREF>(lParam));
    case TPM_GETTEXTBKCOLOR:
      return p.ResolvedTextBkColour();
    case TPM_SETTEXTBARCOLOR:
      return swap(p.textBarColour, static_cast<COLORREF>(lParam));
    case TPM_GETTEXTBARCOLOR:
      return p.ResolvedTextBarColour();
    case TPM_SETSHOWPERCENT:
      return swap(p.showPercent, wParam != 0 ? 1 : 0);
    case TPM_SETTEXTALIGN:
      return swap(p.textAlign, static_cast<int>(wParam));
    case TPM_SETMARQUEESIZE:
      swap(p.marqueeSize, static_cast<int>(wParam));
      return 0;
    case WM_TIMER: {
      if (wParam != kMarqueeTimerId) return 0;
      int dir = g_marqueeDirection.load();
      if (dir == 1 && p.position >= p.UpperLimit()) dir = -1;
      if (dir == -1 && p.position <= p.lower) dir = 1;
      g_marqueeDirection.store(dir);
      SetPos(p, static_cast<long long>(p.position) + dir);
      after = After::kRepaint;
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace

LRESULT ProgressProc(WindowData& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  After after = After::kNothing;
  LRESULT result;
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    result = Handle(w, msg, wParam, lParam, after);
  }
  if (after == After::kStartTimer) SetTimer(w.hwnd, kMarqueeTimerId, static_cast<UINT>(lParam));
  if (after == After::kStopTimer) KillTimer(w.hwnd, kMarqueeTimerId);
  if (after != After::kNothing) NotifyInvalidate(w.hwnd);
  return result;
}

}  // namespace detail

COLORREF GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW:
      return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
      return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT:
      return RGB(0, 120, 215);
    case COLOR_BTNFACE:
      return RGB(240, 240, 240);
    case COLOR_BTNSHADOW:
      return RGB(160, 160, 160);
    default:
      return 0;
  }
}

int ProgressState::UpperLimit() const {
  if (!marquee) return upper;
  // In real numbers and held inside the int range: any block size set by a message is safe.
  const double limit = ((static_cast<double>(marqueeSize) + 100) * upper + 0.5) * 0.01;
  return static_cast<int>(
      std::clamp(limit, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

COLORREF ProgressState::ResolvedBarColour() const {
  return detail::Resolve(barColour, COLOR_HIGHLIGHT);
}
COLORREF ProgressState::ResolvedBkColour() const {
  return detail::Resolve(bkColour, COLOR_BTNFACE);
}
COLORREF ProgressState::ResolvedTextBkColour() const {
  return detail::Resolve(textBkColour, COLOR_WINDOWTEXT);
}
COLORREF ProgressState::ResolvedTextBarColour() const {
  return detail::Resolve(textBarColour, COLOR_WINDOW);
}

std::optional<ProgressState> GetProgressState(HWND hwnd) {
  std::lock_guard<std::mutex> g(detail::RegistryMutex());
  auto w = detail::FindWindowLocked(hwnd);
  if (!w || w->kind != detail::Kind::kProgress) return std::nullopt;
  return w->progress;
}

}  // namespace win
