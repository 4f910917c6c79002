#include "curses_front_end.h"

#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "core/box_requests.h"
#include "core/console.h"
#include "core/pane_painter.h"
#include "core/stop_control.h"
#include "ui/dialog_templates.h"
#include "win/controls.h"

namespace station {
namespace {

// The class of the station's port windows, the panes' parents.
constexpr char kPortWindowClass[] = "StationPort";
// Keys are read and the picture renewed this often.
constexpr win::UINT kTickMs = 50;
constexpr win::UINT_PTR kTickTimer = 1;
// Boxes asked for from any thread are shown on the owner thread of the front end's window.

const win::Font kFont{};

}  // namespace

CursesFrontEnd::CursesFrontEnd(std::unique_ptr<CursesScreen> screen)
    : screen_(std::move(screen)),
      layout_(LayoutPane(tr52::kProgressDialogTemplate, kCellBaseUnits)) {
  window_ = win::CreateWindowEx(nullptr, "StationScreen", "station screen", 0, win::Rect{},
                                [this](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
                                  return OnMessage(h, m, w, l);
                                });
  if (win::HWND w = window_.load()) win::SetTimer(w, kTickTimer, kTickMs);
  Draw();
}

CursesFrontEnd::~CursesFrontEnd() {
  if (stop_) stop_->OnChange(nullptr);
  Close();
}

void CursesFrontEnd::UseStop(StopControl& stop) {
  stop_ = &stop;
  stop.OnChange([this] { OnStopChanged(); });
}

bool CursesFrontEnd::Stopping() const {
  return stop_ && stop_->Stopping();
}

void CursesFrontEnd::OnStopChanged() {
  // Boxes of the front end's own loops end here; dialogs of the window layer end with their
  // loop, which the stop ends.
  for (Overlay* o : overlays_) o->Cancel();
  DropFinishedOverlays();
  // A hang-up means the terminal is gone (or about to be): give it back now; what follows goes
  // out as plain lines.
  if (stop_ && stop_->Signal() == SIGHUP && screen_) screen_->Close();
  Draw();
}

void CursesFrontEnd::Quit() {
  if (stop_)
    stop_->Leave();
  else
    win::PostQuitMessage(0);
}

void CursesFrontEnd::Close() {
  // A worker waiting in a message box is released (its send returns) when the window goes.
  if (win::HWND w = window_.exchange(nullptr)) win::DestroyWindow(w);
  overlays_.clear();
  owned_.clear();
  if (screen_) screen_->Close();
}

win::LRESULT CursesFrontEnd::OnMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                       win::LPARAM lParam) {
  switch (msg) {
    case win::WM_TIMER:
      if (wParam == kTickTimer) Tick();
      return 0;
    case kShowMessageBox: {
      const auto* r = reinterpret_cast<const MessageBoxRequest*>(lParam);
      MessageOverlay box(r->caption, r->text);
      RunOverlay(box);
      return win::IDOK;
    }
    case kChooseFile: {
      auto* r = reinterpret_cast<ChooseFileRequest*>(lParam);
      std::error_code ec;
      const auto filters = ParseFileFilter(r->request.filter);
      BrowserOverlay box(
          "Open: " + (filters.empty() ? std::string("any file") : filters.front().description),
          FileBrowser(std::filesystem::current_path(ec), filters, r->request.defaultExtension));
      RunOverlay(box);
      r->result = box.Result();
      return 1;
    }
    default:
      return win::DefWindowProc(hwnd, msg, wParam, lParam);
  }
}

void CursesFrontEnd::ModalDialogStarted(win::HWND dialog) {
  if (Stopping()) {
    // Nobody is there to answer it any more.
    win::PostMessage(dialog, win::WM_COMMAND, win::IDCANCEL, 0);
    return;
  }
  if (win::GetDlgItem(dialog, tr52::IDC_PATH_EDIT)) ++configDialogs_;
  owned_.push_back(std::make_unique<DialogOverlay>(dialog));
  overlays_.push_back(owned_.back().get());
  Draw();
}

int CursesFrontEnd::ShowMessageBox(win::HWND, const std::string& text, const std::string& caption,
                                   win::UINT type) {
  return SendMessageBox(window_.load(), Stopping(), text, caption, type);
}

std::optional<std::string> CursesFrontEnd::ChooseFileToOpen(win::HWND,
                                                            const win::OpenFileRequest& request) {
  return SendChooseFile(window_.load(), Stopping(), request);
}

void CursesFrontEnd::RunOverlay(Overlay& overlay) {
  overlays_.push_back(&overlay);
  Draw();
  while (!overlay.Done()) {
    if (!win::PumpMessages(static_cast<int>(kTickMs))) {
      // The program is leaving: the box goes, the request to leave stays for the outer loop.
      win::PostQuitMessage(0);
      break;
    }
  }
  std::erase(overlays_, &overlay);
  Draw();
}

void CursesFrontEnd::DropFinishedOverlays() {
  std::erase_if(overlays_, [](Overlay* o) { return o->Done(); });
  // Dialogs whose window is gone are freed; their loops have ended by then.
  std::erase_if(owned_, [this](const std::unique_ptr<Overlay>& o) {
    return o->Done() && std::find(overlays_.begin(), overlays_.end(), o.get()) == overlays_.end();
  });
}

void CursesFrontEnd::Tick() {
  if (!screen_) return;
  while (auto key = screen_->ReadKey()) {
    OnKey(*key);
    if (!window_) return;  // closed meanwhile
  }
  Draw();
}

void CursesFrontEnd::OnKey(const Key& key) {
  DropFinishedOverlays();
  if (!overlays_.empty()) {
    overlays_.back()->OnKey(key);
    DropFinishedOverlays();
    Draw();
    return;
  }
  OnPaneKey(key);
  Draw();
}

void CursesFrontEnd::OnPaneKey(const Key& key) {
  const int count = static_cast<int>(ports_.size());
  PortView* view = nullptr;
  if (count > 0) {
    focus_ = std::clamp(focus_, 0, count - 1);
    view = &views_[ports_[static_cast<size_t>(focus_)]];
  }
  const int lines = view && view->last ? static_cast<int>(view->last->lines.size()) : 0;
  const int maxBack = view ? MaxScrollBack(lines, view->visibleLines) : 0;
  auto scroll = [&](int by) {
    if (view) view->scrollBack = std::clamp(view->scrollBack + by, 0, maxBack);
  };
  switch (key.kind) {
    case KeyKind::kTab:
      if (count > 0) focus_ = (focus_ + 1) % count;
      return;
    case KeyKind::kBackTab:
      if (count > 0) focus_ = (focus_ + count - 1) % count;
      return;
    case KeyKind::kUp:
      scroll(1);
      return;
    case KeyKind::kDown:
      scroll(-1);
      return;
    case KeyKind::kPageUp:
      scroll(view ? view->visibleLines : 0);
      return;
    case KeyKind::kPageDown:
      scroll(view ? -view->visibleLines : 0);
      return;
    case KeyKind::kHome:
      scroll(maxBack);
      return;
    case KeyKind::kEnd:
      scroll(-maxBack);
      return;
    case KeyKind::kChar:
      if ((key.ch == U'c' || key.ch == U'C') && !Stopping()) {
        OpenConfiguration();
      } else if (key.ch == U'q' || key.ch == U'Q') {
        if (!AnyDownloadRunning()) {
          Quit();
        } else {
          owned_.push_back(std::make_unique<ConfirmOverlay>(
              "Downloads are still running and cannot be stopped: quitting leaves them "
              "unfinished, and those phones need downloading again. Quit anyway?",
              [this] { Quit(); }));
          overlays_.push_back(owned_.back().get());
        }
      }
      return;
    default:
      return;
  }
}

void CursesFrontEnd::OpenConfiguration() {
  if (!ops_ || !ops_->ShowConfiguration || !window_) return;
  win::CWnd owner;
  owner.m_hWnd = window_.load();
  ops_->ShowConfiguration(&owner);
  DropFinishedOverlays();
}

void CursesFrontEnd::UpdatePorts() {
  ports_.clear();
  for (win::HWND w : win::GetChildren(nullptr))
    if (win::GetClassName(w) == kPortWindowClass) ports_.push_back(w);
  std::erase_if(views_, [this](const auto& entry) {
    return std::find(ports_.begin(), ports_.end(), entry.first) == ports_.end();
  });
  for (win::HWND port : ports_) {
    PortView& view = views_[port];
    view.name = win::GetWindowText(port);
    auto snap = ReadPane(port);
    view.open = snap.has_value();
    if (snap) {
      // A new pane (a new phone) starts at its newest line again.
      if (view.last && snap->lines.size() < view.last->lines.size()) view.scrollBack = 0;
      view.last = std::move(snap);
    }
  }
}

bool CursesFrontEnd::AnyDownloadRunning() const {
  return std::any_of(views_.begin(), views_.end(), [](const auto& entry) {
    const PortView& v = entry.second;
    return v.open && v.last && v.last->outcome == PaneOutcome::kRunning;
  });
}

void CursesFrontEnd::Draw() {
  if (!screen_ || screen_->Columns() <= 0) return;
  UpdatePorts();
  const int cols = screen_->Columns(), rows = screen_->Rows();
  canvas::CellCanvas c(cols, rows, win::RGB(255, 255, 255), win::RGB(0, 0, 0));
  const win::COLORREF bar = win::GetSysColor(win::COLOR_HIGHLIGHT);
  const win::COLORREF paper = win::GetSysColor(win::COLOR_WINDOW);

  const int count = static_cast<int>(ports_.size());
  focus_ = count > 0 ? std::clamp(focus_, 0, count - 1) : 0;
  std::string gridNote;
  if (layout_ && count > 0) {
    const win::Rect area{0, 1, cols, std::max(2, rows - 1)};
    const PaneGrid grid =
        LayoutGrid(count, layout_->width + 2, layout_->height + 2, area, focus_, firstRow_);
    firstRow_ = grid.firstRow;
    for (const PanePlacement& p : grid.shown) {
      PortView& view = views_[ports_[static_cast<size_t>(p.index)]];
      PaneSnapshot placeholder;
      placeholder.caption = view.name;
      placeholder.clock = "waiting";
      const PaneSnapshot& snap = view.last ? *view.last : placeholder;
      PaintFrame(*layout_, p.x + 1, p.y + 1, 1, snap.outcome, p.index == focus_, c);
      view.visibleLines = PaintPane(snap, *layout_, p.x + 1, p.y + 1, view.scrollBack, c);
      // The port's last download on record, on the lower edge of its frame.
      const std::string label = history_ ? history_->Label(view.name) : "";
      if (!label.empty()) {
        const int edge = p.y + 1 + layout_->height;
        c.DrawText(p.x + 2, edge, " " + label + " ", kFont, paper,
                   win::Rect{p.x + 1, edge, p.x + 1 + layout_->width, edge + 1});
      }
    }
    if (static_cast<int>(grid.shown.size()) < count)
      gridNote = " | panes " + std::to_string(grid.shown.front().index + 1) + "-" +
                 std::to_string(grid.shown.back().index + 1) + " of " + std::to_string(count);
  }

  const win::Rect header{0, 0, cols, 1};
  c.FillRect(header, bar);
  std::string status =
      " | c: configuration  q: quit  Tab: next pane  Up/Down PgUp/PgDn: scroll steps";
  if (stop_ && stop_->TimedOut())
    status = " | time limit reached";
  else if (stop_ && !stop_->Announcement().empty())
    status = " | " + stop_->Announcement() + "  q: quit";
  else if (Stopping())
    status = " | stopping  q: quit";
  c.DrawText(0, 0, " TR52 station" + gridNote + status, kFont, paper, header);
  if (rows > 2) {
    const win::Rect footer{0, rows - 1, cols, rows};
    c.DrawText(0, rows - 1, screen_->LastOutputLine(), kFont, win::RGB(255, 255, 255), footer);
  }

  int cursorX = -1, cursorY = -1;
  for (Overlay* o : overlays_) {
    if (o->Done()) continue;
    cursorX = -1;
    o->Paint(c, cursorX, cursorY);
  }
  screen_->Show(c, cursorX, cursorY);
}

}  // namespace station
