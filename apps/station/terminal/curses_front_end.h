// The full-screen station on a terminal: one pane per served port, each laid out from the
// pane's dialog template in cells and painted by the same code as every other canvas, in a
// grid that scrolls by rows; the window layer's dialogs, message boxes and file-open dialog as
// boxes over it. It reads the same windows the plain-text front end reads, on the thread that
// owns them, from a timer of its own window: keys, then a fresh picture.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/pane_layout.h"
#include "core/pane_snapshot.h"
#include "core/station_front_end.h"
#include "curses_screen.h"
#include "screen_overlays.h"

namespace station {

class CursesFrontEnd : public StationFrontEnd {
 public:
  // Takes the terminal over; call on the thread that owns the station's windows.
  explicit CursesFrontEnd(std::unique_ptr<CursesScreen> screen);
  ~CursesFrontEnd() override;
  CursesFrontEnd(const CursesFrontEnd&) = delete;
  CursesFrontEnd& operator=(const CursesFrontEnd&) = delete;

  int ConfigDialogsSeen() const override { return configDialogs_.load(); }
  void UsePlugin(const PluginOps& ops) override { ops_ = ops; }
  void UseStop(StopControl& stop) override;
  void Close() override;
  void UseHistory(const PortHistoryBoard* board) override { history_ = board; }

  win::BaseUnits DialogBaseUnits() override { return kCellBaseUnits; }
  void ModalDialogStarted(win::HWND dialog) override;
  int ShowMessageBox(win::HWND owner, const std::string& text, const std::string& caption,
                     win::UINT type) override;
  std::optional<std::string> ChooseFileToOpen(win::HWND owner,
                                              const win::OpenFileRequest& request) override;

 private:
  struct PortView {
    std::string name;
    std::optional<PaneSnapshot> last;  // the pane as last seen (kept after it closed)
    bool open = false;                 // a pane is open now
    int scrollBack = 0;
    int visibleLines = 1;
  };

  win::LRESULT OnMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);
  void Tick();
  void OnKey(const Key& key);
  void OnPaneKey(const Key& key);
  void UpdatePorts();
  void Draw();
  bool AnyDownloadRunning() const;
  void OpenConfiguration();
  // Any thread: the run is stopping (boxes are answered at once, nothing new is opened).
  bool Stopping() const;
  // The stop changed: the boxes end; after a hang-up the terminal is given back at once.
  void OnStopChanged();
  void Quit();
  // Shows `overlay` on top and keeps the windows' messages flowing until it is done.
  void RunOverlay(Overlay& overlay);
  void DropFinishedOverlays();

  std::unique_ptr<CursesScreen> screen_;
  // The timer's window; also where message boxes asked for by other threads are shown.
  std::atomic<win::HWND> window_{nullptr};
  std::optional<PluginOps> ops_;
  std::optional<PaneLayout> layout_;
  std::vector<win::HWND> ports_;  // the station's port windows, in order
  std::map<win::HWND, PortView> views_;
  std::vector<std::unique_ptr<Overlay>> owned_;  // dialogs of the window layer
  std::vector<Overlay*> overlays_;               // bottom to top
  int focus_ = 0;
  int firstRow_ = 0;
  std::atomic<int> configDialogs_{0};
  StopControl* stop_ = nullptr;
  const PortHistoryBoard* history_ = nullptr;
};

}  // namespace station
