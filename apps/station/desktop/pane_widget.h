// One port's pane in the desktop window: a drawing area painted by the pane painter through the
// raster canvas on the toolkit's own cairo context (so the screen's scale factor is honoured and
// text is drawn at the screen's resolution), framed grey while the download runs, green for a
// success and red for a failure. It sits in a grid cell that the keyboard reaches, and tells
// screen readers the port, the step and the percentage.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "core/pane_layout.h"
#include "core/pane_snapshot.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkDrawingArea GtkDrawingArea;
typedef struct _cairo cairo_t;

namespace station {

// The pane's look on the desktop: the template laid out in units of `dpi`, and the frame.
struct DesktopPaneLook {
  PaneLayout layout;
  double dpi = 96;
  int frame = 4;  // pixels of the outcome frame round the pane
};

// The desktop's units for the pane template at `dpi`: twice the width and one and a half
// times the height of the pane font's average character per dialog character, so that the
// steps' names fit whole and the list shows eight of them.
DesktopPaneLook MakeDesktopPaneLook(double dpi);

// True when the two snapshots paint the same picture.
bool SameLook(const PaneSnapshot& a, const PaneSnapshot& b);

class PaneWidget {
 public:
  PaneWidget(std::string portName, const DesktopPaneLook& look);
  ~PaneWidget();
  PaneWidget(const PaneWidget&) = delete;
  PaneWidget& operator=(const PaneWidget&) = delete;

  // The grid cell (what a container holds and the keyboard focuses) and the drawing area in it.
  GtkWidget* Cell() const { return cell_; }
  GtkWidget* Area() const { return area_; }
  // Shows `snap`, the pane as last read (nullopt: no phone yet); a closed pane keeps the
  // snapshot of its last look. Redraws only what changed.
  void Show(const std::optional<PaneSnapshot>& snap);
  const std::optional<PaneSnapshot>& Shown() const { return shown_; }
  const std::string& PortName() const { return portName_; }
  // Steps back through the list (mouse wheel, Page Up/Down).
  void Scroll(int lines);

 private:
  static void Draw(GtkDrawingArea* area, cairo_t* cr, int width, int height, void* self);
  void TellScreenReaders();

  std::string portName_;
  DesktopPaneLook look_;
  GtkWidget* cell_ = nullptr;
  GtkWidget* area_ = nullptr;
  std::optional<PaneSnapshot> shown_;
  int scrollBack_ = 0;
  int visibleLines_ = 1;
  std::optional<std::pair<std::string, double>> told_;  // the label and percentage last told
};

}  // namespace station
