#include "desktop_front_end.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <filesystem>

#include "core/box_requests.h"
#include "core/console.h"
#include "core/file_filter.h"
#include "core/pane_painter.h"
#include "core/stop_control.h"
#include "core/text_fit.h"
#include "dialog_window.h"
#include "message_source.h"
#include "pane_words.h"
#include "raster_canvas.h"
#include "renderer_choice.h"
#include "ui/dialog_templates.h"
#include "win/controls.h"
#include "win/dialog.h"

namespace station {
namespace {

// The class of the station's port windows, the panes' parents.
constexpr char kPortWindowClass[] = "StationPort";
// A change is drawn this long after it, together with whatever else changed meanwhile.
constexpr unsigned kUpdateDelayMs = 50;
// The icon bits of a message box's type.
constexpr win::UINT kIconMask = 0xF0, kIconError = 0x10, kIconQuestion = 0x20, kIconWarning = 0x30;

// The screen's text resolution, which the desktop's text-size setting changes.
double ScreenDpi() {
  int xftDpi = -1;
  if (GtkSettings* settings = gtk_settings_get_default())
    g_object_get(settings, "gtk-xft-dpi", &xftDpi, nullptr);
  return xftDpi > 0 ? xftDpi / 1024.0 : 96.0;
}

void SetMargins(GtkWidget* w, int margin) {
  gtk_widget_set_margin_top(w, margin);
  gtk_widget_set_margin_bottom(w, margin);
  gtk_widget_set_margin_start(w, margin);
  gtk_widget_set_margin_end(w, margin);
}

// A shortcut on `widget` that calls `action(widget, arguments, self)`.
void AddShortcut(GtkWidget* widget, guint key, GdkModifierType mods, void* self,
                 gboolean (*action)(GtkWidget*, GVariant*, gpointer),
                 GVariant* arguments = nullptr) {
  GtkEventController* keys = gtk_shortcut_controller_new();
  GtkShortcut* shortcut = gtk_shortcut_new(gtk_keyval_trigger_new(key, mods),
                                           gtk_callback_action_new(action, self, nullptr));
  if (arguments) gtk_shortcut_set_arguments(shortcut, arguments);
  gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(keys), shortcut);
  gtk_widget_add_controller(widget, keys);
}

}  // namespace

std::unique_ptr<DesktopFrontEnd> DesktopFrontEnd::Open(std::string& why) {
  // The cairo renderer without OpenGL (renderer_choice.h): about 40 MB in all instead of 170
  // to 220 with GL rendered in software. The variables stay set: the toolkit reads
  // GSK_RENDERER again for every window it shows.
  const auto variable = [](const char* name) -> std::optional<std::string> {
    const char* value = g_getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  const RendererEnvironment user{variable("GSK_RENDERER"), variable("GDK_DEBUG")};
  const RendererEnvironment chosen = ChooseRenderer(user);
  if (chosen.renderer != user.renderer) g_setenv("GSK_RENDERER", chosen.renderer->c_str(), TRUE);
  if (chosen.debug != user.debug) g_setenv("GDK_DEBUG", chosen.debug->c_str(), TRUE);
  if (!gtk_init_check()) {
    const char* display = g_getenv("WAYLAND_DISPLAY");
    if (!display || !*display) display = g_getenv("DISPLAY");
    why = std::string("GTK cannot open the display") +
          (display && *display ? std::string(" ") + display : std::string(" (none is set)"));
    return nullptr;
  }
  // The name the desktop shows for the program (and files it opened are recorded under).
  static const bool named = [] {
    g_set_application_name("TR52 station");
    return true;
  }();
  (void)named;
  return std::unique_ptr<DesktopFrontEnd>(new DesktopFrontEnd());
}

DesktopFrontEnd::DesktopFrontEnd() : look_(MakeDesktopPaneLook(ScreenDpi())) {
  {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(surface);
    canvas::RasterCanvas measure(cr, 1, 1, 0, look_.dpi);
    fontUnits_ = MeasureBaseUnits(measure, kPaneFont);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  window_ = win::CreateWindowEx(nullptr, "StationDesktop", "station desktop", 0, win::Rect{},
                                [this](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
                                  return OnMessage(h, m, w, l);
                                });
  messages_ = std::make_unique<MessageSource>([this](bool) { AfterMessages(); });
}

DesktopFrontEnd::~DesktopFrontEnd() {
  if (stop_) stop_->OnChange(nullptr);
  Close();
  if (pollTimer_) g_source_remove(pollTimer_);
  // Updates queued by other threads before the front end was taken away.
  while (g_source_remove_by_user_data(this)) {
  }
  panes_.clear();
  if (main_) gtk_window_destroy(main_);
  messages_.reset();
}

void DesktopFrontEnd::UseStop(StopControl& stop) {
  stop_ = &stop;
  // Boxes and dialogs see the stop in their loops; the summary says it.
  stop.OnChange([this] { QueueUpdate(); });
}

bool DesktopFrontEnd::Stopping() const {
  return stop_ && stop_->Stopping();
}

void DesktopFrontEnd::Close() {
  // A worker waiting in a message box is released (its send returns) when the window goes.
  if (win::HWND w = window_.exchange(nullptr)) win::DestroyWindow(w);
}

std::vector<const PaneWidget*> DesktopFrontEnd::Panes() const {
  std::vector<const PaneWidget*> panes;
  for (win::HWND port : ports_)
    if (auto it = panes_.find(port); it != panes_.end()) panes.push_back(it->second.get());
  return panes;
}

void DesktopFrontEnd::RunLoopUntil(const std::function<bool()>& done) {
  while (!done()) g_main_context_iteration(nullptr, TRUE);
}

void DesktopFrontEnd::RunModal(const std::function<bool()>& done) {
  ++modal_;
  RunLoopUntil(done);
  if (--modal_ > 0) return;
  // The run's steps waited while the box was up.
  AfterMessages();
  if (running_ && !pollTimer_) SchedulePoll(0);
}

// ---- The run ----

int DesktopFrontEnd::Serve(Station& station, StopControl& stop) {
  station_ = &station;
  stop_ = &stop;
  BuildMainWindow();
  station.Begin();
  running_ = true;
  SchedulePoll(0);
  UpdateView();
  RunLoopUntil([this] { return !running_; });
  if (pollTimer_) g_source_remove(pollTimer_);
  pollTimer_ = 0;
  // The panes as they end, before the run's end closes them.
  UpdateView();
  const int status = station.End(stop);
  station_ = nullptr;
  // The panes' last look: the run's end closed the finished ones.
  UpdateView();
  return status;
}

void DesktopFrontEnd::AfterMessages() {
  if (!station_ || !running_ || modal_ > 0) return;
  // A pane about to close is read first: its last look stays on the screen.
  if (station_->ClosesDue()) UpdateView();
  station_->AfterMessages();
  StepRun();
}

void DesktopFrontEnd::StepRun() {
  if (station_ && running_ && modal_ == 0 && !station_->Continues(*stop_)) running_ = false;
}

void DesktopFrontEnd::SchedulePoll(int ms) {
  pollTimer_ = g_timeout_add(
      static_cast<guint>(std::max(ms, 0)),
      +[](gpointer data) -> gboolean {
        auto* self = static_cast<DesktopFrontEnd*>(data);
        self->pollTimer_ = 0;
        if (!self->station_ || !self->running_) return G_SOURCE_REMOVE;
        // While a box is up the run waits; the box's end takes it up again.
        if (self->modal_ > 0) return G_SOURCE_REMOVE;
        self->StepRun();
        if (!self->running_) return G_SOURCE_REMOVE;
        const int next = self->station_->PollIfDue(*self->stop_);
        self->StepRun();
        self->SchedulePoll(std::max(1, next));
        return G_SOURCE_REMOVE;
      },
      this);
}

// ---- Boxes and dialogs ----

win::LRESULT DesktopFrontEnd::OnMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                        win::LPARAM lParam) {
  switch (msg) {
    case kShowMessageBox: {
      const auto* r = reinterpret_cast<const MessageBoxRequest*>(lParam);
      return RunMessageBox(r->caption, r->text, r->type);
    }
    case kChooseFile: {
      auto* r = reinterpret_cast<ChooseFileRequest*>(lParam);
      r->result = RunFileChooser(r->request);
      return 1;
    }
    default:
      return win::DefWindowProc(hwnd, msg, wParam, lParam);
  }
}

int DesktopFrontEnd::RunMessageDialog(int kind, const std::string& title, const std::string& text,
                                      const std::vector<std::pair<std::string, int>>& buttons,
                                      int cancel) {
  GtkWidget* box = gtk_message_dialog_new(main_, GTK_DIALOG_MODAL, GtkMessageType(kind),
                                          GTK_BUTTONS_NONE, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  for (const auto& [label, id] : buttons) gtk_dialog_add_button(GTK_DIALOG(box), label.c_str(), id);
  gtk_dialog_set_default_response(GTK_DIALOG(box), cancel);
  const std::optional<int> answer = RunDialog(box);
  gtk_window_destroy(GTK_WINDOW(box));
  return answer.value_or(cancel);
}

std::optional<int> DesktopFrontEnd::RunDialog(GtkWidget* dialog) {
  std::optional<int> answer;
  g_signal_connect(dialog, "response",
                   G_CALLBACK(+[](GtkDialog*, int id, std::optional<int>* a) { *a = id; }),
                   &answer);
  gtk_window_present(GTK_WINDOW(dialog));
  RunModal([&] { return answer.has_value() || Stopping(); });
  g_signal_handlers_disconnect_by_data(dialog, &answer);
  if (Stopping()) return std::nullopt;
  return answer;
}

int DesktopFrontEnd::RunMessageBox(const std::string& caption, const std::string& text,
                                   win::UINT type) {
  GtkMessageType kind = GTK_MESSAGE_INFO;
  switch (type & kIconMask) {
    case kIconError:
      kind = GTK_MESSAGE_ERROR;
      break;
    case kIconQuestion:
      kind = GTK_MESSAGE_QUESTION;
      break;
    case kIconWarning:
      kind = GTK_MESSAGE_WARNING;
      break;
    default:
      break;
  }
  (void)RunMessageDialog(kind, caption, text, {{"_OK", GTK_RESPONSE_OK}}, GTK_RESPONSE_OK);
  return win::IDOK;
}

int DesktopFrontEnd::ShowMessageBox(win::HWND, const std::string& text, const std::string& caption,
                                    win::UINT type) {
  return SendMessageBox(window_.load(), Stopping(), text, caption, type);
}

std::optional<std::string> DesktopFrontEnd::ChooseFileToOpen(win::HWND,
                                                             const win::OpenFileRequest& request) {
  return SendChooseFile(window_.load(), Stopping(), request);
}

std::optional<std::string> DesktopFrontEnd::RunFileChooser(const win::OpenFileRequest& request) {
  GtkWindow* parent = dialogs_.empty() ? main_ : dialogs_.back()->Window();
  GtkWidget* chooser =
      gtk_file_chooser_dialog_new("Open", parent, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                  GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  for (const FileFilter& f : ParseFileFilter(request.filter)) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, f.description.c_str());
    for (const std::string& pattern : f.patterns) {
      // "*.dz" matches ".DZ" too, as the other front ends' choosers do.
      if (pattern == "*.*")
        gtk_file_filter_add_pattern(filter, "*");
      else if (pattern.rfind("*.", 0) == 0 && pattern.find_first_of("*?[", 2) == std::string::npos)
        gtk_file_filter_add_suffix(filter, pattern.substr(2).c_str());
      else
        gtk_file_filter_add_pattern(filter, pattern.c_str());
    }
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    g_object_unref(filter);
  }
  // It opens where the process works, as the terminal's chooser does.
  std::error_code ec;
  const std::string here = std::filesystem::current_path(ec).string();
  if (!ec) {
    GFile* folder = g_file_new_for_path(here.c_str());
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), folder, nullptr);
    g_object_unref(folder);
  }

  std::optional<std::string> chosen;
  if (RunDialog(chooser) == GTK_RESPONSE_ACCEPT) {
    if (GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(chooser))) {
      if (char* path = g_file_get_path(file)) {
        chosen = path;
        g_free(path);
      }
      g_object_unref(file);
    }
  }
  gtk_window_destroy(GTK_WINDOW(chooser));
  return chosen;
}

void DesktopFrontEnd::ModalDialogStarted(win::HWND dialog) {
  if (Stopping()) {
    // Nobody is there to answer it any more.
    win::PostMessage(dialog, win::WM_COMMAND, win::IDCANCEL, 0);
    return;
  }
  if (win::GetDlgItem(dialog, tr52::IDC_PATH_EDIT)) ++configDialogs_;
  DialogWindow window(dialog, main_);
  dialogs_.push_back(&window);
  RunModal([&] {
    // A stop ends the dialog as its own loop would: cancelled.
    if (Stopping() && !win::IsDialogEnded(dialog)) win::EndDialog(dialog, win::IDCANCEL);
    return win::IsDialogEnded(dialog);
  });
  dialogs_.pop_back();
}

// ---- The window ----

void DesktopFrontEnd::BuildMainWindow() {
  if (main_) return;
  main_ = GTK_WINDOW(gtk_window_new());
  gtk_window_set_title(main_, "TR52 station");
  gtk_window_set_default_size(main_, 1280, 800);

  GtkWidget* header = gtk_header_bar_new();
  GtkWidget* titles = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_valign(titles, GTK_ALIGN_CENTER);
  GtkWidget* title = gtk_label_new("TR52 station");
  gtk_widget_add_css_class(title, "title");
  package_ = gtk_label_new("");
  gtk_widget_add_css_class(package_, "subtitle");
  gtk_label_set_ellipsize(GTK_LABEL(package_), PANGO_ELLIPSIZE_MIDDLE);
  gtk_label_set_selectable(GTK_LABEL(package_), FALSE);
  gtk_box_append(GTK_BOX(titles), title);
  gtk_box_append(GTK_BOX(titles), package_);
  gtk_header_bar_set_title_widget(GTK_HEADER_BAR(header), titles);

  GtkWidget* configure = gtk_button_new_with_mnemonic("_Configure…");
  gtk_widget_set_tooltip_text(configure, "The package to download (Alt+C)");
  g_signal_connect_swapped(configure, "clicked",
                           G_CALLBACK(+[](DesktopFrontEnd* self) { self->OpenConfiguration(); }),
                           this);
  gtk_header_bar_pack_start(GTK_HEADER_BAR(header), configure);
  summary_ = gtk_label_new("");
  gtk_header_bar_pack_end(GTK_HEADER_BAR(header), summary_);
  gtk_window_set_titlebar(main_, header);

  flow_ = gtk_flow_box_new();
  gtk_flow_box_set_selection_mode(GTK_FLOW_BOX(flow_), GTK_SELECTION_NONE);
  gtk_flow_box_set_homogeneous(GTK_FLOW_BOX(flow_), TRUE);
  gtk_flow_box_set_max_children_per_line(GTK_FLOW_BOX(flow_), 64);
  gtk_flow_box_set_row_spacing(GTK_FLOW_BOX(flow_), 12);
  gtk_flow_box_set_column_spacing(GTK_FLOW_BOX(flow_), 12);
  gtk_widget_set_valign(flow_, GTK_ALIGN_START);
  gtk_widget_set_halign(flow_, GTK_ALIGN_START);
  SetMargins(flow_, 12);
  GtkWidget* scroller = gtk_scrolled_window_new();
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), flow_);
  gtk_window_set_child(main_, scroller);

  // Closing never cuts a download: it asks, and the window goes when the run has ended.
  g_signal_connect_swapped(main_, "close-request",
                           G_CALLBACK(+[](DesktopFrontEnd* self) -> gboolean {
                             self->AskToClose();
                             return TRUE;
                           }),
                           this);
  auto close = +[](GtkWidget*, GVariant*, gpointer self) -> gboolean {
    static_cast<DesktopFrontEnd*>(self)->AskToClose();
    return TRUE;
  };
  AddShortcut(GTK_WIDGET(main_), GDK_KEY_q, GDK_CONTROL_MASK, this, close);
  AddShortcut(GTK_WIDGET(main_), GDK_KEY_w, GDK_CONTROL_MASK, this, close);
  // Page Up and Page Down step through the focused pane's list, Home and End to its ends.
  auto scroll = +[](GtkWidget*, GVariant* lines, gpointer self) -> gboolean {
    for (auto& [port, pane] : static_cast<DesktopFrontEnd*>(self)->panes_)
      if (gtk_widget_has_focus(pane->Cell())) pane->Scroll(g_variant_get_int32(lines));
    return TRUE;
  };
  const std::pair<guint, int> steps[] = {{GDK_KEY_Page_Up, 4},
                                         {GDK_KEY_Page_Down, -4},
                                         {GDK_KEY_Home, 1 << 20},
                                         {GDK_KEY_End, -(1 << 20)}};
  for (const auto& [key, lines] : steps)
    AddShortcut(flow_, key, GdkModifierType(0), this, scroll, g_variant_new_int32(lines));
  ShowPackage();
  gtk_window_present(main_);
}

void DesktopFrontEnd::AskToClose() {
  if (!station_ || !running_ || !stop_) return;
  if (Stopping()) return;  // already closing once the downloads have finished
  if (!station_->AnyDownloadRunning()) {
    stop_->Leave();
    return;
  }
  const int answer = RunMessageDialog(
      GTK_MESSAGE_QUESTION, "TR52 station",
      "Downloads are still running. A download cannot be stopped: the window closes once "
      "they have finished, and no new phone is taken meanwhile.",
      {{"_Keep serving", GTK_RESPONSE_CANCEL}, {"_Close when they finish", GTK_RESPONSE_ACCEPT}},
      GTK_RESPONSE_CANCEL);
  if (answer == GTK_RESPONSE_ACCEPT) stop_->Drain();
}

void DesktopFrontEnd::OpenConfiguration() {
  if (!ops_ || !ops_->ShowConfiguration || Stopping()) return;
  win::CWnd owner;
  owner.m_hWnd = window_.load();
  if (!owner.m_hWnd) return;
  ops_->ShowConfiguration(&owner);
  ShowPackage();
}

void DesktopFrontEnd::ShowPackage() {
  if (!package_) return;
  std::string path;
  if (ops_ && ops_->GetConfigInfo) {
    char buffer[1024] = {};
    ops_->GetConfigInfo(buffer, sizeof buffer - 1);
    path = buffer;
    if (const auto at = path.find(" : "); at != std::string::npos) path = path.substr(at + 3);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
  }
  const std::string text = path.empty() || path == "NULL" ? "no package chosen" : "package " + path;
  gtk_label_set_text(GTK_LABEL(package_), text.c_str());
  gtk_widget_set_tooltip_text(package_, text.c_str());
}

void DesktopFrontEnd::Invalidate(win::HWND) {
  QueueUpdate();
}

void DesktopFrontEnd::QueueUpdate() {
  // Any thread: one update for every change until it runs.
  if (updateQueued_.exchange(true)) return;
  g_timeout_add(
      kUpdateDelayMs,
      +[](gpointer data) -> gboolean {
        auto* self = static_cast<DesktopFrontEnd*>(data);
        self->updateQueued_ = false;
        self->UpdateView();
        return G_SOURCE_REMOVE;
      },
      this);
}

void DesktopFrontEnd::UpdateView() {
  for (DialogWindow* d : dialogs_) d->Sync();
  if (!flow_) return;
  std::vector<win::HWND> ports;
  for (win::HWND w : win::GetChildren(nullptr))
    if (win::GetClassName(w) == kPortWindowClass) ports.push_back(w);
  if (ports != ports_) {
    for (auto& [port, pane] : panes_) gtk_flow_box_remove(GTK_FLOW_BOX(flow_), pane->Cell());
    std::map<win::HWND, std::unique_ptr<PaneWidget>> kept;
    for (win::HWND port : ports) {
      auto& pane = kept[port];
      if (auto it = panes_.find(port); it != panes_.end())
        pane = std::move(it->second);
      else
        pane = std::make_unique<PaneWidget>(win::GetWindowText(port), look_);
      gtk_flow_box_append(GTK_FLOW_BOX(flow_), pane->Cell());
    }
    panes_ = std::move(kept);
    ports_ = ports;
  }
  PaneCounts counts;
  for (win::HWND port : ports_) {
    PaneWidget& pane = *panes_[port];
    pane.Show(ReadPane(port));
    if (!pane.Shown()) continue;
    switch (pane.Shown()->outcome) {
      case PaneOutcome::kRunning:
        ++counts.running;
        break;
      case PaneOutcome::kSucceeded:
        ++counts.ok;
        break;
      case PaneOutcome::kFailed:
        ++counts.failed;
        break;
    }
  }
  std::string summary = SummaryText(counts);
  if (stop_ && stop_->TimedOut())
    summary += " · time limit reached";
  else if (Stopping())
    summary += " · closing once the running downloads have finished";
  gtk_label_set_text(GTK_LABEL(summary_), summary.c_str());
}

}  // namespace station
