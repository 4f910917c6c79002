// The desktop station: a window with one pane per served port in a grid that scrolls and
// reflows with the window's width, a header bar with the package in use, a Configure button and
// a summary, and the plug-in's dialogs, file chooser and message boxes as desktop windows.
//
// GTK's main loop runs the station on the thread that owns its windows: the window layer's
// messages come in through a source the layer wakes (message_source.h), the ports are polled on
// a timer at the run's poll period, and a change on a pane is drawn at most 50 ms after it (no
// polling at a fixed rate anywhere). While a dialog or message box of this front end is up the
// run's steps wait, as the other front ends' loops do. Closing the window while downloads run
// asks first, then lets them finish before the run ends: a flash is never cut.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/station_front_end.h"
#include "pane_widget.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace station {

class DialogWindow;
class MessageSource;

class DesktopFrontEnd : public StationFrontEnd {
 public:
  // Opens the display; nullptr and `why` when GTK cannot. Call on the thread that owns the
  // station's windows.
  static std::unique_ptr<DesktopFrontEnd> Open(std::string& why);
  ~DesktopFrontEnd() override;
  DesktopFrontEnd(const DesktopFrontEnd&) = delete;
  DesktopFrontEnd& operator=(const DesktopFrontEnd&) = delete;

  int ConfigDialogsSeen() const override { return configDialogs_.load(); }
  void UsePlugin(const PluginOps& ops) override { ops_ = ops; }
  void UseStop(StopControl& stop) override;
  void Close() override;
  int Serve(Station& station, StopControl& stop) override;

  void Invalidate(win::HWND hwnd) override;
  win::BaseUnits DialogBaseUnits() override { return fontUnits_; }
  void ModalDialogStarted(win::HWND dialog) override;
  int ShowMessageBox(win::HWND owner, const std::string& text, const std::string& caption,
                     win::UINT type) override;
  std::optional<std::string> ChooseFileToOpen(win::HWND owner,
                                              const win::OpenFileRequest& request) override;

  // The main window (null until a run is served) and the panes in it, port by port.
  GtkWindow* MainWindow() const { return main_; }
  std::vector<const PaneWidget*> Panes() const;

 private:
  DesktopFrontEnd();

  win::LRESULT OnMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);
  bool Stopping() const;
  // Runs GLib's loop until `done` (also inside a callback of that loop).
  void RunLoopUntil(const std::function<bool()>& done);
  // The same for a box on top: the run's steps wait until it is answered.
  void RunModal(const std::function<bool()>& done);
  // The run's steps: after a batch of messages, on the poll timer.
  void AfterMessages();
  void StepRun();
  void SchedulePoll(int ms);
  // Shows `dialog` and waits for its answer; nullopt when the station stops meanwhile (nobody
  // is there to answer).
  std::optional<int> RunDialog(GtkWidget* dialog);
  int RunMessageDialog(int kind, const std::string& title, const std::string& text,
                       const std::vector<std::pair<std::string, int>>& buttons, int cancel);
  int RunMessageBox(const std::string& caption, const std::string& text, win::UINT type);
  std::optional<std::string> RunFileChooser(const win::OpenFileRequest& request);

  void BuildMainWindow();
  void AskToClose();
  void OpenConfiguration();
  void ShowPackage();
  void QueueUpdate();
  void UpdateView();

  std::atomic<win::HWND> window_{nullptr};  // boxes asked for by other threads are shown here
  std::unique_ptr<MessageSource> messages_;
  std::optional<PluginOps> ops_;
  StopControl* stop_ = nullptr;
  Station* station_ = nullptr;  // while a run is served
  bool running_ = false;
  unsigned pollTimer_ = 0;
  int modal_ = 0;  // dialogs and boxes of this front end now up
  std::atomic<bool> updateQueued_{false};
  std::atomic<int> configDialogs_{0};

  DesktopPaneLook look_;
  win::BaseUnits fontUnits_;
  GtkWindow* main_ = nullptr;
  GtkWidget* flow_ = nullptr;
  GtkWidget* summary_ = nullptr;
  GtkWidget* package_ = nullptr;
  std::vector<win::HWND> ports_;  // the station's port windows, in order
  std::map<win::HWND, std::unique_ptr<PaneWidget>> panes_;
  std::vector<DialogWindow*> dialogs_;  // the modal dialogs up now, innermost last
};

}  // namespace station
