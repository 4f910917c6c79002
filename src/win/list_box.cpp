// The list box control: a list of texts with a selection and a first visible row.
#include <algorithm>
#include <cstring>

#include "win/window_registry.h"

namespace win {
namespace detail {
namespace {

int VisibleRows(const WindowData& w) {
  return std::max(1, w.rect.Height() / std::max(1, w.list.itemHeight));
}

int MaxTop(const WindowData& w) {
  return std::max(0, static_cast<int>(w.list.items.size()) - VisibleRows(w));
}

// Scrolls so that the selected row is visible.
void ShowSelection(WindowData& w) {
  ListBoxData& l = w.list;
  if (l.curSel < 0) return;
  if (l.curSel < l.topIndex) l.topIndex = l.curSel;
  if (l.curSel >= l.topIndex + VisibleRows(w)) l.topIndex = l.curSel - VisibleRows(w) + 1;
}

// Handles a message under the registry lock; `changed` tells whether to repaint.
LRESULT Handle(WindowData& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& changed) {
  ListBoxData& l = w.list;
  const int count = static_cast<int>(l.items.size());
  const int index = static_cast<int>(static_cast<intptr_t>(wParam));
  const char* text = reinterpret_cast<const char*>(lParam);
  switch (msg) {
    case LB_ADDSTRING:
      if (!text) return LB_ERR;
      l.items.emplace_back(text);
      changed = true;
      return count;
    case LB_INSERTSTRING: {
      if (!text || index > count) return LB_ERR;
      const int at = index < 0 ? count : index;
      l.items.insert(l.items.begin() + at, text);
      if (l.curSel >= at) ++l.curSel;
      changed = true;
      return at;
    }
    case LB_DELETESTRING:
      if (index < 0 || index >= count) return LB_ERR;
      l.items.erase(l.items.begin() + index);
      if (l.curSel == index)
        l.curSel = -1;
      else if (l.curSel > index)
        --l.curSel;
      l.topIndex = std::min(l.topIndex, MaxTop(w));
      changed = true;
      return count - 1;
    case LB_RESETCONTENT:
      l.items.clear();
      l.curSel = -1;
      l.topIndex = 0;
      changed = true;
      return 0;
    case LB_SETCURSEL:
      if (index < 0) {
        // Clearing the selection answers LB_ERR although it is no error.
        changed = l.curSel != -1;
        l.curSel = -1;
        return LB_ERR;
      }
      if (index >= count) return LB_ERR;
      l.curSel = index;
      ShowSelection(w);
      changed = true;
      return index;
    case LB_GETCURSEL:
      return l.curSel < 0 ? LB_ERR : l.curSel;
    case LB_GETTEXT:
      if (index < 0 || index >= count || !lParam) return LB_ERR;
      std::memcpy(reinterpret_cast<char*>(lParam), l.items[index].c_str(),
                  l.items[index].size() + 1);
      return static_cast<LRESULT>(l.items[index].size());
    case LB_GETTEXTLEN:
      if (index < 0 || index >= count) return LB_ERR;
      return static_cast<LRESULT>(l.items[index].size());
    case LB_GETCOUNT:
      return count;
    case LB_GETTOPINDEX:
      return l.topIndex;
    case LB_SETTOPINDEX:
      if (index < 0 || (index >= count && count > 0) || (count == 0 && index > 0)) return LB_ERR;
      l.topIndex = std::min(index, MaxTop(w));
      changed = true;
      return 0;
    case LB_SETITEMHEIGHT:
      if (lParam <= 0 || lParam > 255) return LB_ERR;
      l.itemHeight = static_cast<int>(lParam);
      l.topIndex = std::min(l.topIndex, MaxTop(w));
      ShowSelection(w);
      changed = true;
      return 0;
    case LB_GETITEMHEIGHT:
      return l.itemHeight;
    default:
      return 0;
  }
}

}  // namespace

LRESULT ListBoxProc(WindowData& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  bool changed = false;
  LRESULT result;
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    result = Handle(w, msg, wParam, lParam, changed);
  }
  if (changed) NotifyInvalidate(w.hwnd);
  return result;
}

}  // namespace detail

std::optional<ListBoxState> GetListBoxState(HWND hwnd) {
  std::lock_guard<std::mutex> g(detail::RegistryMutex());
  auto w = detail::FindWindowLocked(hwnd);
  if (!w || w->kind != detail::Kind::kListBox) return std::nullopt;
  ListBoxState s;
  s.items = w->list.items;
  s.curSel = w->list.curSel;
  s.topIndex = w->list.topIndex;
  s.visibleRows = detail::VisibleRows(*w);
  return s;
}

}  // namespace win
