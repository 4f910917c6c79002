// The desktop station in a real window on a real (virtual) X server, run in this process as the
// station program runs it: virtual phones downloading in panes, the window's picture checked
// pixel by pixel, what a screen reader is told, closing while downloads run, the configuration
// dialog with GTK's file chooser, and the panes at a HiDPI scale. The program runs from a copy
// of its own in a temporary folder (run_under_x.sh), where the settings file and the plug-in's
// log land; it exits 77 (skipped) when it has no display.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/process_log.h"
#include "base/settings_file.h"
#include "core/package_setting.h"
#include "core/plugin_module.h"
#include "core/station.h"
#include "core/stop_control.h"
#include "desktop/desktop_front_end.h"
#include "desktop/pane_widget.h"
#include "platform/process_info.h"
#include "support/download_package.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/dialog_templates.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"
#include "win/controls.h"

namespace station {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr win::COLORREF kGreen = win::RGB(0, 160, 0);
constexpr win::COLORREF kRed = win::RGB(200, 0, 0);
const win::COLORREF kGrey = win::GetSysColor(win::COLOR_BTNSHADOW);  // a download running
// A phone whose download fails at its very end: its final reset is refused.
constexpr char kResetRefused[] =
    "phone.refuse_cmd = 0x29\nphone.refuse_sub = 2\nphone.refuse_bytes = 14 29 02 00\n"
    "phone.refuse_count = -1\n";

// ---- Pictures ----

// A window's picture as GTK draws it (its whole surface, decorations included), rendered to a
// texture and read back; `scale` renders it at that many device pixels per unit.
class Picture {
 public:
  explicit Picture(GtkWindow* window, int scale = 1) : window_(GTK_WIDGET(window)), scale_(scale) {
    GtkNative* native = GTK_NATIVE(window);
    // The window draws itself this far into its surface (the decorations' margin); its
    // paintable is the surface's size.
    gtk_native_get_surface_transform(native, &dx_, &dy_);
    const int w = gtk_widget_get_width(window_) + int(2 * dx_);
    const int h = gtk_widget_get_height(window_) + int(2 * dy_);
    GdkPaintable* paintable = gtk_widget_paintable_new(window_);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gtk_snapshot_scale(snapshot, scale, scale);
    gdk_paintable_snapshot(paintable, snapshot, w, h);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    // Cairo's renderer takes any viewport (GL's gives nothing for one past the node's bounds).
    GskRenderer* renderer = gsk_cairo_renderer_new();
    const graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, float(w * scale), float(h * scale));
    if (node && gsk_renderer_realize(renderer, nullptr, nullptr))
      texture_ = gsk_renderer_render_texture(renderer, node, &viewport);
    gsk_renderer_unrealize(renderer);
    g_object_unref(renderer);
    if (node) gsk_render_node_unref(node);
    g_object_unref(paintable);
    if (!texture_) return;
    width_ = gdk_texture_get_width(texture_);
    height_ = gdk_texture_get_height(texture_);
    pixels_.resize(size_t(width_) * height_ * 4);
    gdk_texture_download(texture_, pixels_.data(), size_t(width_) * 4);
  }
  ~Picture() {
    if (texture_) g_object_unref(texture_);
  }
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The colour at (x, y) in device pixels; black outside.
  win::COLORREF At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const uint8_t* p = &pixels_[(size_t(y) * width_ + x) * 4];  // B G R A
    return win::RGB(p[2], p[1], p[0]);
  }
  // The top left corner of `widget` (inside the window) in device pixels.
  struct Spot {
    int x = -1, y = -1;
  };
  Spot Corner(GtkWidget* widget) const {
    graphene_rect_t r;
    if (!gtk_widget_compute_bounds(widget, window_, &r)) return Spot{};
    return Spot{int(std::lround((r.origin.x + dx_) * scale_)),
                int(std::lround((r.origin.y + dy_) * scale_))};
  }
  bool WritePng(const std::string& path) const {
    return texture_ && gdk_texture_save_to_png(texture_, path.c_str());
  }

 private:
  GtkWidget* window_;
  int scale_;
  double dx_ = 0, dy_ = 0;
  GdkTexture* texture_ = nullptr;
  int width_ = 0, height_ = 0;
  std::vector<uint8_t> pixels_;
};

// The bar's filled width in pixels: how far the bar's colour runs along the top row inside its
// edge (no text is drawn there), and the width the bar's position asks for.
struct BarFill {
  int drawn = 0;
  int expected = 0;
};
BarFill MeasureBar(const Picture& picture, int left, int top, const DesktopPaneLook& look,
                   const win::ProgressState& bar, int scale) {
  const win::Rect& r = look.layout.bar;
  const int innerLeft = left + (look.frame + r.left + 2) * scale;
  const int innerWidth = (r.Width() - 4) * scale;
  const int row = top + (look.frame + r.top + 2) * scale;
  BarFill fill;
  while (fill.drawn < innerWidth &&
         picture.At(innerLeft + fill.drawn, row) == win::GetSysColor(win::COLOR_HIGHLIGHT))
    ++fill.drawn;
  const double f = double(bar.position - bar.lower) / double(bar.upper - bar.lower);
  fill.expected = int(std::floor((r.Width() - 4) * f)) * scale;
  return fill;
}

std::string AccessibleMismatch(GtkWidget* widget, GtkAccessibleProperty property,
                               const char* label) {
  char* actual = gtk_test_accessible_check_property(GTK_ACCESSIBLE(widget), property, label);
  const std::string text = actual ? actual : "";
  g_free(actual);
  return text;  // empty: as expected
}

// ---- Driving the window ----

// Steps that the test takes inside GTK's loop while the station runs: each waits until `ready`
// holds, then `act`s. A step's action may open a dialog whose loop runs the next steps.
class Script {
 public:
  struct Step {
    std::string name;
    std::function<bool()> ready;
    std::function<void()> act;
  };
  Script(std::vector<Step> steps, std::chrono::seconds limit, std::function<void()> giveUp)
      : steps_(std::move(steps)), deadline_(Clock::now() + limit), giveUp_(std::move(giveUp)) {
    Schedule();
  }
  ~Script() { g_source_remove_by_user_data(this); }
  bool Done() const { return at_ >= steps_.size(); }

 private:
  void Schedule() {
    g_timeout_add(
        20,
        +[](gpointer self) -> gboolean {
          static_cast<Script*>(self)->Tick();
          return G_SOURCE_REMOVE;
        },
        this);
  }
  void Tick() {
    if (Done() || failed_) return;
    Schedule();  // before acting: an action may run a nested loop
    Step& step = steps_[at_];
    if (!step.ready()) {
      if (Clock::now() > deadline_) {
        failed_ = true;
        ADD_FAILURE() << "the window never came to: " << step.name;
        giveUp_();
      }
      return;
    }
    ++at_;
    if (step.act) step.act();
  }

  std::vector<Step> steps_;
  size_t at_ = 0;
  bool failed_ = false;
  Clock::time_point deadline_;
  std::function<void()> giveUp_;
};

// The toplevel window titled `title`, or null.
GtkWindow* Toplevel(const std::string& title) {
  GListModel* list = gtk_window_get_toplevels();
  GtkWindow* found = nullptr;
  for (guint i = 0; i < g_list_model_get_n_items(list) && !found; ++i) {
    auto* w = GTK_WINDOW(g_list_model_get_item(list, i));
    const char* t = gtk_window_get_title(w);
    if (t && title == t && gtk_widget_get_visible(GTK_WIDGET(w))) found = w;
    g_object_unref(w);
  }
  return found;
}

// The first widget under `root` of `type` that `match` accepts.
GtkWidget* Find(GtkWidget* root, GType type, const std::function<bool(GtkWidget*)>& match = {}) {
  if (!root) return nullptr;
  if (G_TYPE_CHECK_INSTANCE_TYPE(root, type) && (!match || match(root))) return root;
  for (GtkWidget* c = gtk_widget_get_first_child(root); c; c = gtk_widget_get_next_sibling(c))
    if (GtkWidget* hit = Find(c, type, match)) return hit;
  return nullptr;
}

GtkWidget* Button(GtkWidget* root, const std::string& label) {
  return Find(root, GTK_TYPE_BUTTON, [&](GtkWidget* b) {
    const char* l = gtk_button_get_label(GTK_BUTTON(b));
    return l && label == l;
  });
}

void Click(GtkWidget* button) {
  ASSERT_NE(button, nullptr);
  g_signal_emit_by_name(button, "clicked");
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- The station in this process ----

// What the station program sets up before it serves ports: the plug-in (loaded once, with the
// waits shortened), the stop, the desktop front end in charge of the window layer.
class DesktopStation {
 public:
  explicit DesktopStation(std::chrono::seconds limit)
      : stop_(StopControl::Clock::now() + limit), frontEnd_(Open()) {
    if (!frontEnd_) return;
    win::SetFrontEnd(frontEnd_.get());
    frontEnd_->UseStop(stop_);
    frontEnd_->UsePlugin(Plugin().Ops());
  }
  ~DesktopStation() { win::SetFrontEnd(nullptr); }

  DesktopFrontEnd* FrontEnd() const { return frontEnd_.get(); }
  StopControl& Stop() { return stop_; }
  // Serves `ports` until the run ends; its exit status.
  int Serve(const std::vector<int>& ports) {
    Options options;
    options.ports = ports;
    options.pollMs = 50;
    options.timeScale = kTimeScale;
    Station station(options, Plugin().Ops(), tr52::ProcessLog::LogPathFor(tr52::ExecutablePath()));
    if (!station.Init()) return -1;
    return frontEnd_->Serve(station, stop_);
  }

  static constexpr double kTimeScale = 20;
  static PluginModule& Plugin() {
    static PluginModule* module = [] {
      setenv("TR52_TIME_SCALE", "20", 1);
      auto* m = new PluginModule();
      std::string error;
      const std::string path = std::string(TR52_BIN_DIR) + "/TR52_091117_MP.so";
      EXPECT_TRUE(m->Load(path, error)) << error;
      return m;
    }();
    return *module;
  }

 private:
  static std::unique_ptr<DesktopFrontEnd> Open() {
    std::string why;
    auto fe = DesktopFrontEnd::Open(why);
    EXPECT_TRUE(fe) << why;
    return fe;
  }

  StopControl stop_;
  std::unique_ptr<DesktopFrontEnd> frontEnd_;
};

// A test package at `path`, saved as the package the station downloads.
bool SaveTestPackage(const std::string& path) {
  const auto package = tr52test::WriteDownloadPackage(path);
  std::string saved, error;
  const bool ok = SavePackagePath(tr52::SettingsFile::PathBesideHost(), package.path, saved, error);
  EXPECT_TRUE(ok) << error;
  return ok;
}

std::unique_ptr<vphone::VirtualPhone> StartPhone(int com, const std::string& scenario) {
  vphone::PhoneOptions options;
  options.com = com;
  options.rebootDelayMs = 500;
  options.scenario =
      vphone::ParseScenario("dload.comm_mode = 1\ndload.param_flags = 0\n" + scenario);
  auto phone = std::make_unique<vphone::VirtualPhone>(options);
  std::string error;
  EXPECT_TRUE(phone->Start(&error)) << com << ": " << error;
  return phone;
}

// Runs `check` in the main loop right after the window's next frame is drawn, so that the
// picture it takes shows what the panes hold at that moment.
void AfterNextFrame(GtkWindow* window, std::function<void()> check) {
  struct Once {
    std::function<void()> check;
    gulong id = 0;
  };
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window));
  auto* once = new Once{std::move(check)};
  once->id = g_signal_connect_data(
      clock, "after-paint", G_CALLBACK(+[](GdkFrameClock* c, Once* o) {
        g_signal_handler_disconnect(c, o->id);
        o->check();
      }),
      once, [](gpointer o, GClosure*) { delete static_cast<Once*>(o); }, GConnectFlags(0));
  gtk_widget_queue_draw(GTK_WIDGET(window));
}

// Each pane of the picture: the bar filled to its percentage, the frame telling the outcome,
// and a screen reader told "COM 61, flashing AMSS, 45 percent".
void CheckPanes(const Picture& picture, const DesktopFrontEnd& fe, const DesktopPaneLook& look,
                int scale) {
  for (const PaneWidget* p : fe.Panes()) {
    SCOPED_TRACE(p->PortName());
    ASSERT_TRUE(p->Shown());
    const PaneSnapshot& s = *p->Shown();
    const Picture::Spot at = picture.Corner(p->Area());
    const BarFill fill = MeasureBar(picture, at.x, at.y, look, s.bar.state, scale);
    EXPECT_NEAR(fill.drawn, fill.expected, 1);
    const win::COLORREF frame = s.outcome == PaneOutcome::kSucceeded ? kGreen
                                : s.outcome == PaneOutcome::kFailed  ? kRed
                                                                     : kGrey;
    EXPECT_EQ(picture.At(at.x + scale, at.y + scale), frame);

    const std::string said = AccessibleMismatch(p->Area(), GTK_ACCESSIBLE_PROPERTY_LABEL, "?");
    EXPECT_EQ(said.rfind("COM " + p->PortName().substr(3) + ", ", 0), 0u) << said;
    const int percent = int(std::floor(100.0 * s.bar.state.position / s.bar.state.upper + 0.5));
    if (s.outcome != PaneOutcome::kSucceeded) {
      EXPECT_EQ(said.substr(said.rfind(", ") + 2), std::to_string(percent) + " percent") << said;
    }
    if (s.outcome == PaneOutcome::kRunning) {
      // The step without its number ("flashing AMSS", "TR52"); how its first word is spoken
      // is the pane words' own test: here letter case does not count.
      const std::string& line = s.lines.back();
      std::string step = line.substr(line.find('.') + 1);
      while (!step.empty() && step.back() == ' ') step.pop_back();
      const auto lower = [](const std::string& text) {
        gchar* l = g_ascii_strdown(text.c_str(), -1);
        std::string out(l);
        g_free(l);
        return out;
      };
      EXPECT_NE(lower(said).find(", " + lower(step) + ", "), std::string::npos) << said;
    } else {
      const std::string ok = "COM " + p->PortName().substr(3) + ", finished OK";
      if (s.outcome == PaneOutcome::kSucceeded)
        EXPECT_EQ(said, ok);
      else
        EXPECT_NE(said.find(", failed, ERROR "), std::string::npos) << said;
    }
    // The grid cell that takes the focus says the same.
    EXPECT_EQ(AccessibleMismatch(p->Cell(), GTK_ACCESSIBLE_PROPERTY_LABEL, said.c_str()), "");
    EXPECT_TRUE(gtk_widget_get_focusable(p->Cell()));
  }
}

// The window's dialog over the main one that has a button labelled `label`.
GtkWidget* ButtonOnTop(GtkWindow* main, const std::string& label) {
  GListModel* list = gtk_window_get_toplevels();
  GtkWidget* found = nullptr;
  for (guint i = 0; i < g_list_model_get_n_items(list) && !found; ++i) {
    auto* w = GTK_WINDOW(g_list_model_get_item(list, i));
    if (w != main && gtk_widget_get_visible(GTK_WIDGET(w))) found = Button(GTK_WIDGET(w), label);
    g_object_unref(w);
  }
  return found;
}

// Four phones download in four panes; the last one's final reset is refused. Mid-download the
// picture (the README's, when TR52_DESKTOP_PNG names a file) shows each bar filled to its
// percentage and a screen reader hears each pane's port, step and percentage. Closing the
// window then asks, and the downloads finish before the run ends: green frames for the
// successes, red for the failure.
TEST(DesktopStation, PhonesDownloadInPanesAndTheWindowClosesOnlyAfterThem) {
  tr52test::TempDir dir;
  ASSERT_TRUE(SaveTestPackage(dir.File("TR52_TEST.dz")));

  const std::vector<int> coms = {61, 62, 63, 64};
  std::vector<std::unique_ptr<vphone::VirtualPhone>> phones;
  for (int com : coms) phones.push_back(StartPhone(com, com == 64 ? kResetRefused : ""));

  DesktopStation station(std::chrono::seconds(150));
  DesktopFrontEnd* fe = station.FrontEnd();
  ASSERT_NE(fe, nullptr);
  const DesktopPaneLook look = MakeDesktopPaneLook(96);

  auto midDownload = [&] {
    const auto panes = fe->Panes();
    if (panes.size() != coms.size()) return false;
    for (const PaneWidget* p : panes) {
      const auto& s = p->Shown();
      if (!s || s->outcome != PaneOutcome::kRunning || s->lines.size() < 11) return false;
      if (s->bar.state.position < 5 || s->bar.state.position > 95) return false;
    }
    return true;
  };
  bool checkedMid = false;
  auto checkMidDownload = [&] {
    AfterNextFrame(fe->MainWindow(), [&] {
      checkedMid = true;
      Picture picture(fe->MainWindow());
      EXPECT_GE(picture.Width(), 1280);
      EXPECT_GE(picture.Height(), 800);
      if (const char* png = std::getenv("TR52_DESKTOP_PNG"); png && *png) {
        EXPECT_TRUE(picture.WritePng(png)) << png;
      }
      CheckPanes(picture, *fe, look, 1);
      gtk_window_close(fe->MainWindow());
    });
  };
  const std::string finish = "_Close when they finish";
  Script script({{"four panes mid-download", midDownload, checkMidDownload},
                 // Closing asks first, in a window of its own over the main one.
                 {"the question on closing", [&] { return ButtonOnTop(fe->MainWindow(), finish); },
                  [&] { Click(ButtonOnTop(fe->MainWindow(), finish)); }}},
                std::chrono::seconds(120), [&] { station.Stop().Leave(); });

  const int status = station.Serve(coms);
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(checkedMid);
  // One download failed: status 1; nothing was cut short by the close.
  EXPECT_EQ(status, kExitPortFailed);
  ASSERT_EQ(fe->Panes().size(), coms.size());
  for (const PaneWidget* p : fe->Panes())
    EXPECT_EQ(p->Shown()->outcome,
              p->PortName() == "COM64" ? PaneOutcome::kFailed : PaneOutcome::kSucceeded)
        << p->PortName();

  bool drawn = false;
  AfterNextFrame(fe->MainWindow(), [&] {
    drawn = true;
    CheckPanes(Picture(fe->MainWindow()), *fe, look, 1);
  });
  while (!drawn) g_main_context_iteration(nullptr, TRUE);
}

// The Configure button opens the plug-in's dialog as a GTK window; its "..." opens GTK's file
// chooser filtered to packages, where a package is picked and opened as a user would (its
// file chosen in the chooser, the Open button pressed); OK then saves it in ZUDP2.ini and the
// header shows it. The port served has no phone.
TEST(DesktopStation, ConfigureButtonPicksAPackageInGtksFileChooser) {
  tr52test::TempDir dir;
  const auto package = tr52test::WriteDownloadPackage(dir.File("PICKED.dz"));
  const std::string settings = tr52::SettingsFile::PathBesideHost();
  std::filesystem::remove(settings);
  // The chooser opens in the folder the station works in: the package's.
  const fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  struct Back {
    fs::path to;
    ~Back() { fs::current_path(to); }
  } back{before};

  DesktopStation station(std::chrono::seconds(60));
  DesktopFrontEnd* fe = station.FrontEnd();
  ASSERT_NE(fe, nullptr);
  auto dialog = [] { return Toplevel(tr52::kConfigDialogCaption); };
  auto chooser = [&]() -> GtkFileChooser* {
    GListModel* list = gtk_window_get_toplevels();
    GtkFileChooser* found = nullptr;
    for (guint i = 0; i < g_list_model_get_n_items(list) && !found; ++i) {
      auto* w = GTK_WIDGET(g_list_model_get_item(list, i));
      if (GTK_IS_FILE_CHOOSER(w) && gtk_widget_get_visible(w)) found = GTK_FILE_CHOOSER(w);
      g_object_unref(w);
    }
    return found;
  };
  auto entry = [&] { return dialog() ? Find(GTK_WIDGET(dialog()), GTK_TYPE_ENTRY) : nullptr; };
  auto header = [&] {
    return Find(GTK_WIDGET(fe->MainWindow()), GTK_TYPE_LABEL, [](GtkWidget* l) {
      return std::string(gtk_label_get_text(GTK_LABEL(l))).rfind("package ", 0) == 0 ||
             std::string(gtk_label_get_text(GTK_LABEL(l))) == "no package chosen";
    });
  };
  std::string filterName;
  Script script(
      {{"the main window", [&] { return fe->MainWindow() && header(); },
        [&] {
          EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(header())), "no package chosen");
          Click(Button(GTK_WIDGET(fe->MainWindow()), "_Configure…"));
        }},
       {"the configuration dialog", [&] { return entry() && Button(GTK_WIDGET(dialog()), "..."); },
        [&] {
          // "..." is read out by its purpose.
          EXPECT_EQ(AccessibleMismatch(Button(GTK_WIDGET(dialog()), "..."),
                                       GTK_ACCESSIBLE_PROPERTY_LABEL, "Choose a file"),
                    "");
          Click(Button(GTK_WIDGET(dialog()), "..."));
        }},
       {"the file chooser", [&] { return chooser() != nullptr; },
        [&] {
          GtkFileChooser* c = chooser();
          if (GtkFileFilter* f = gtk_file_chooser_get_filter(c)) {
            filterName = gtk_file_filter_get_name(f);
          }
          // As a user types a path: the location entry opens with it.
          g_signal_emit_by_name(Find(GTK_WIDGET(c), GTK_TYPE_FILE_CHOOSER_WIDGET), "location-popup",
                                package.path.c_str());
        }},
       // The chooser shows the file once it has read its folder.
       {"the package chosen",
        [&] {
          GFile* file = chooser() ? gtk_file_chooser_get_file(chooser()) : nullptr;
          char* path = file ? g_file_get_path(file) : nullptr;
          const bool chosen = path && package.path == path;
          g_free(path);
          if (file) g_object_unref(file);
          return chosen;
        },
        [&] { Click(Button(GTK_WIDGET(chooser()), "_Open")); }},
       {"the path in the dialog",
        [&] {
          return !chooser() && entry() &&
                 package.path == gtk_editable_get_text(GTK_EDITABLE(entry()));
        },
        [&] { Click(Button(GTK_WIDGET(dialog()), "OK")); }},
       {"the package in the header",
        [&] {
          return !dialog() && header() &&
                 std::string(gtk_label_get_text(GTK_LABEL(header()))) == "package " + package.path;
        },
        [&] { station.Stop().Leave(); }}},
      std::chrono::seconds(30), [&] { station.Stop().Leave(); });

  (void)station.Serve({79});
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(filterName, "Binary Image (*.dz)");
  EXPECT_EQ(fe->ConfigDialogsSeen(), 1);
  EXPECT_NE(ReadText(settings).find(package.path), std::string::npos) << ReadText(settings);
}

// At a scale factor of 2 (run with GDK_SCALE=2) the pane is drawn at the screen's pixels: the
// bar filled to its percentage in device pixels and the frame as sharp as at 1.
TEST(DesktopStationHiDpi, PaneIsDrawnAtTheScreensPixels) {
  tr52test::TempDir dir;
  ASSERT_TRUE(SaveTestPackage(dir.File("TR52_TEST.dz")));
  const auto phone = StartPhone(71, "");
  DesktopStation station(std::chrono::seconds(90));
  DesktopFrontEnd* fe = station.FrontEnd();
  ASSERT_NE(fe, nullptr);
  const DesktopPaneLook look = MakeDesktopPaneLook(96);
  bool checked = false;
  Script script({{"the pane mid-download",
                  [&] {
                    const auto panes = fe->Panes();
                    if (panes.size() != 1 || !panes[0]->Shown()) return false;
                    const PaneSnapshot& s = *panes[0]->Shown();
                    return s.lines.size() >= 11 && s.bar.state.position >= 5 &&
                           s.bar.state.position <= 95;
                  },
                  [&] {
                    AfterNextFrame(fe->MainWindow(), [&] {
                      checked = true;
                      const int scale = gtk_widget_get_scale_factor(GTK_WIDGET(fe->MainWindow()));
                      EXPECT_EQ(scale, 2);
                      const Picture picture(fe->MainWindow(), scale);
                      CheckPanes(picture, *fe, look, scale);
                      station.Stop().Drain();
                    });
                  }}},
                std::chrono::seconds(60), [&] { station.Stop().Drain(); });
  EXPECT_EQ(station.Serve({71}), kExitOk);
  EXPECT_TRUE(checked);
}

}  // namespace
}  // namespace station

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The file chooser keeps its settings in memory, never in the desktop's settings store.
  setenv("GSETTINGS_BACKEND", "memory", 1);
  if (!gtk_init_check()) {
    const char* display = std::getenv("DISPLAY");
    std::printf("skipped: GTK cannot open a display (DISPLAY=%s)\n", display ? display : "");
    return 77;
  }
  return RUN_ALL_TESTS();
}
