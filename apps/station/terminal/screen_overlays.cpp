#include "screen_overlays.h"

#include <algorithm>

#include "utf8_text.h"
#include "win/controls.h"

namespace station {
namespace {

const win::Font kFont{};

win::COLORREF Ink() {
  return win::GetSysColor(win::COLOR_WINDOWTEXT);
}
win::COLORREF Face() {
  return win::GetSysColor(win::COLOR_BTNFACE);
}
win::COLORREF Paper() {
  return win::GetSysColor(win::COLOR_WINDOW);
}
win::COLORREF Highlight() {
  return win::GetSysColor(win::COLOR_HIGHLIGHT);
}

int Width(const std::string& text) {
  return static_cast<int>(canvas::DecodeUtf8(text).size());
}

// The last `cells` characters of `text` (an edit scrolled to its end).
std::string Tail(const std::string& text, int cells) {
  const std::u32string chars = canvas::DecodeUtf8(text);
  if (cells <= 0) return "";
  if (static_cast<int>(chars.size()) <= cells) return text;
  return canvas::EncodeUtf8(chars.substr(chars.size() - static_cast<size_t>(cells)));
}

win::Rect Offset(const win::Rect& r, int x, int y) {
  return win::Rect{r.left + x, r.top + y, r.right + x, r.bottom + y};
}

// A box of `width` x `height` cells centred on the canvas, with its title in the top line;
// returns the area inside the frame.
win::Rect DrawBox(canvas::CellCanvas& c, int width, int height, const std::string& title) {
  width = std::min(width, c.Columns());
  height = std::min(height, c.Rows());
  const int left = std::max(0, (c.Columns() - width) / 2);
  const int top = std::max(0, (c.Rows() - height) / 2);
  const win::Rect box{left, top, left + width, top + height};
  c.FillRect(box, Face());
  const win::Rect inner = c.DrawSunkenEdge(box);
  if (!title.empty()) {
    const std::string t = " " + title + " ";
    c.DrawText(left + std::max(1, (width - Width(t)) / 2), top, t, kFont, Ink(), box);
  }
  return inner;
}

// Words of `text` in lines of at most `width` characters (longer words are cut).
std::vector<std::string> Wrap(const std::string& text, int width) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::u32string para = canvas::DecodeUtf8(text.substr(start, end - start));
    std::erase(para, U'\r');
    while (static_cast<int>(para.size()) > width) {
      size_t cut = para.rfind(U' ', static_cast<size_t>(width));
      if (cut == std::u32string::npos || cut == 0) cut = static_cast<size_t>(width);
      lines.push_back(canvas::EncodeUtf8(para.substr(0, cut)));
      para.erase(0, para[cut] == U' ' ? cut + 1 : cut);
    }
    lines.push_back(canvas::EncodeUtf8(para));
    start = end + 1;
  }
  return lines;
}

}  // namespace

void AppendChar(std::string& text, char32_t ch) {
  text += canvas::EncodeUtf8(std::u32string(1, ch));
}

void DropLastChar(std::string& text) {
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    text.pop_back();
    if ((last & 0xC0) != 0x80) break;
  }
}

DialogOverlay::DialogOverlay(win::HWND dialog) : dialog_(dialog) {
  for (win::HWND child : win::GetChildren(dialog))
    if (win::GetClassName(child) == win::kEditClass) {
      focus_ = child;
      break;
    }
  if (!focus_) {
    const auto stops = TabStops();
    if (!stops.empty()) focus_ = stops.front();
  }
}

std::vector<win::HWND> DialogOverlay::TabStops() const {
  std::vector<win::HWND> stops;
  for (win::HWND child : win::GetChildren(dialog_))
    if (win::GetWindowStyle(child) & win::WS_TABSTOP) stops.push_back(child);
  return stops;
}

void DialogOverlay::MoveFocus(int step) {
  const auto stops = TabStops();
  if (stops.empty()) return;
  auto at = std::find(stops.begin(), stops.end(), focus_);
  const int n = static_cast<int>(stops.size());
  const int i = at == stops.end() ? 0 : static_cast<int>(at - stops.begin());
  focus_ = stops[static_cast<size_t>(((i + step) % n + n) % n)];
}

void DialogOverlay::Press(win::HWND button) {
  // The dialog's handler runs now, on this thread; it may open further boxes or end itself.
  win::SendMessage(button, win::BM_CLICK, 0, 0);
}

void DialogOverlay::OnKey(const Key& key) {
  if (Done()) return;
  const bool inEdit = focus_ && win::GetClassName(focus_) == win::kEditClass;
  switch (key.kind) {
    case KeyKind::kTab:
    case KeyKind::kDown:
      MoveFocus(1);
      return;
    case KeyKind::kBackTab:
    case KeyKind::kUp:
      MoveFocus(-1);
      return;
    case KeyKind::kEscape:
      win::SendMessage(dialog_, win::WM_COMMAND, win::MAKELONG(win::IDCANCEL, win::BN_CLICKED), 0);
      return;
    case KeyKind::kEnter: {
      if (focus_ && win::GetClassName(focus_) == win::kButtonClass) {
        Press(focus_);
        return;
      }
      for (win::HWND child : win::GetChildren(dialog_))
        if (win::GetClassName(child) == win::kButtonClass &&
            (win::GetWindowStyle(child) & win::BS_DEFPUSHBUTTON)) {
          Press(child);
          return;
        }
      return;
    }
    case KeyKind::kBackspace:
      if (inEdit) {
        std::string text = win::GetWindowText(focus_);
        DropLastChar(text);
        win::SetWindowText(focus_, text);
      }
      return;
    case KeyKind::kClearLine:
      if (inEdit) win::SetWindowText(focus_, "");
      return;
    case KeyKind::kChar:
      if (inEdit) {
        std::string text = win::GetWindowText(focus_);
        AppendChar(text, key.ch);
        win::SetWindowText(focus_, text);
      }
      return;
    default:
      return;
  }
}

void DialogOverlay::Paint(canvas::CellCanvas& c, int& cursorX, int& cursorY) {
  if (Done()) return;
  const win::Rect size = win::GetWindowRect(dialog_);
  const win::Rect inner =
      DrawBox(c, size.Width() + 2, size.Height() + 2, win::GetWindowText(dialog_));
  for (win::HWND child : win::GetChildren(dialog_)) {
    const win::Rect r = Offset(win::GetWindowRect(child), inner.left, inner.top);
    const std::string cls = win::GetClassName(child);
    const std::string text = win::GetWindowText(child);
    const bool focused = child == focus_;
    if (cls == win::kStaticClass) {
      // A label is a row or two high in cells: its text goes on the lower middle row, level
      // with the text of an edit beside it.
      const int y = r.top + std::max(0, r.Height()) / 2;
      c.DrawText(r.left, y, text, kFont, Ink(), r);
    } else if (cls == win::kEditClass) {
      c.FillRect(r, Paper());
      const win::Rect in = c.DrawSunkenEdge(r);
      const int y = in.top + std::max(0, in.Height() - 1) / 2;
      // Auto horizontal scroll: the end of the text stays in view, with room for the cursor.
      const std::string shown = Tail(text, in.Width() - 1);
      c.DrawText(in.left, y, shown, kFont, Ink(), in);
      if (focused) {
        cursorX = in.left + Width(shown);
        cursorY = y;
      }
    } else if (cls == win::kButtonClass) {
      const win::Rect in = c.DrawSunkenEdge(r);
      if (focused) c.FillRect(in, Highlight());
      const int y = in.top + std::max(0, in.Height() - 1) / 2;
      const int x = in.left + std::max(0, (in.Width() - Width(text)) / 2);
      c.DrawText(x, y, text, kFont, focused ? Paper() : Ink(), in);
    }
  }
}

MessageOverlay::MessageOverlay(std::string caption, std::string text)
    : caption_(std::move(caption)), text_(std::move(text)) {}

void MessageOverlay::Paint(canvas::CellCanvas& c, int& cursorX, int&) {
  cursorX = -1;
  const int width = std::clamp(c.Columns() - 4, 20, 64);
  const auto lines = Wrap(text_, width - 4);
  const win::Rect in = DrawBox(c, width, static_cast<int>(lines.size()) + 4, caption_);
  for (size_t i = 0; i < lines.size(); ++i)
    c.DrawText(in.left + 1, in.top + static_cast<int>(i), lines[i], kFont, Ink(), in);
  const std::string ok = "[ OK ]";
  const win::Rect button{in.left + (in.Width() - Width(ok)) / 2, in.bottom - 1,
                         in.left + (in.Width() + Width(ok)) / 2, in.bottom};
  c.FillRect(button, Highlight());
  c.DrawText(button.left, button.top, ok, kFont, Paper(), in);
}

void MessageOverlay::OnKey(const Key& key) {
  if (key.kind == KeyKind::kEnter || key.kind == KeyKind::kEscape ||
      (key.kind == KeyKind::kChar && key.ch == U' '))
    done_ = true;
}

BrowserOverlay::BrowserOverlay(const std::string& title, FileBrowser browser)
    : title_(title), browser_(std::move(browser)) {}

void BrowserOverlay::Paint(canvas::CellCanvas& c, int& cursorX, int& cursorY) {
  const int width = std::clamp(c.Columns() - 4, 30, 80);
  const int height = std::clamp(c.Rows() - 2, 8, 24);
  const win::Rect in = DrawBox(c, width, height, title_);
  const int w = in.Width();
  c.DrawText(in.left + 1, in.top, Tail("Folder: " + browser_.Folder().string(), w - 2), kFont,
             Ink(), in);
  // The entries, scrolled so that the selected one is in view.
  const win::Rect list{in.left + 1, in.top + 1, in.right - 1, in.bottom - 3};
  c.FillRect(list, Paper());
  listRows_ = std::max(1, list.Height());
  const auto& entries = browser_.Entries();
  selected_ = std::min(selected_, entries.empty() ? 0 : entries.size() - 1);
  const int first = std::max(0, static_cast<int>(selected_) - listRows_ + 1);
  if (!browser_.Error().empty())
    c.DrawText(list.left, list.top, "(" + browser_.Error() + ")", kFont, Ink(), list);
  for (int row = 0; row < listRows_; ++row) {
    const size_t i = static_cast<size_t>(first + row);
    if (i >= entries.size()) break;
    const int y = list.top + row + (browser_.Error().empty() ? 0 : 1);
    if (y >= list.bottom) break;
    const win::Rect line{list.left, y, list.right, y + 1};
    const bool sel = i == selected_;
    if (sel) c.FillRect(line, Highlight());
    const std::string name = entries[i].name + (entries[i].folder ? "/" : "");
    c.DrawText(list.left + 1, y, name, kFont, sel ? Paper() : Ink(), line);
  }
  const std::string label = "File name: ";
  const int nameY = in.bottom - 2;
  const std::string shown = Tail(typed_, w - 3 - Width(label));
  c.DrawText(in.left + 1, nameY, label + shown, kFont, Ink(), in);
  c.DrawText(in.left + 1, in.bottom - 1, "Enter: open/choose  Esc: cancel  Backspace: up", kFont,
             Ink(), in);
  cursorX = in.left + 1 + Width(label) + Width(shown);
  cursorY = nameY;
}

void BrowserOverlay::OnKey(const Key& key) {
  const size_t count = browser_.Entries().size();
  const size_t page = static_cast<size_t>(std::max(1, listRows_ - 1));
  switch (key.kind) {
    case KeyKind::kUp:
      if (selected_ > 0) --selected_;
      return;
    case KeyKind::kDown:
      if (selected_ + 1 < count) ++selected_;
      return;
    case KeyKind::kPageUp:
      selected_ = selected_ > page ? selected_ - page : 0;
      return;
    case KeyKind::kPageDown:
      selected_ = count == 0 ? 0 : std::min(count - 1, selected_ + page);
      return;
    case KeyKind::kHome:
      selected_ = 0;
      return;
    case KeyKind::kEnd:
      selected_ = count == 0 ? 0 : count - 1;
      return;
    case KeyKind::kEscape:
      result_.reset();
      done_ = true;
      return;
    case KeyKind::kEnter: {
      std::optional<std::string> chosen;
      if (!typed_.empty()) {
        chosen = browser_.Accept(typed_);
        typed_.clear();
      } else {
        chosen = browser_.Open(selected_);
      }
      if (chosen) {
        result_ = chosen;
        done_ = true;
      } else {
        selected_ = 0;  // a new folder
      }
      return;
    }
    case KeyKind::kBackspace:
      if (!typed_.empty()) {
        DropLastChar(typed_);
      } else if (count > 0 && browser_.Entries().front().name == "..") {
        browser_.Open(0);
        selected_ = 0;
      }
      return;
    case KeyKind::kClearLine:
      typed_.clear();
      return;
    case KeyKind::kChar:
      AppendChar(typed_, key.ch);
      return;
    default:
      return;
  }
}

ConfirmOverlay::ConfirmOverlay(std::string question, std::function<void()> onYes)
    : question_(std::move(question)), onYes_(std::move(onYes)) {}

void ConfirmOverlay::Paint(canvas::CellCanvas& c, int& cursorX, int&) {
  cursorX = -1;
  const int width = std::clamp(c.Columns() - 4, 20, 64);
  const auto lines = Wrap(question_, width - 4);
  const win::Rect in = DrawBox(c, width, static_cast<int>(lines.size()) + 4, "Station");
  for (size_t i = 0; i < lines.size(); ++i)
    c.DrawText(in.left + 1, in.top + static_cast<int>(i), lines[i], kFont, Ink(), in);
  c.DrawText(in.left + 1, in.bottom - 1, "y: yes   n: no", kFont, Ink(), in);
}

void ConfirmOverlay::OnKey(const Key& key) {
  if (key.kind == KeyKind::kChar && (key.ch == U'y' || key.ch == U'Y')) {
    done_ = true;
    if (onYes_) onYes_();
  } else if ((key.kind == KeyKind::kChar && (key.ch == U'n' || key.ch == U'N')) ||
             key.kind == KeyKind::kEscape || key.kind == KeyKind::kEnter) {
    done_ = true;
  }
}

}  // namespace station
