#include "pane_widget.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "core/pane_painter.h"
#include "core/text_fit.h"
#include "pane_words.h"
#include "raster_canvas.h"
#include "ui/dialog_templates.h"
#include "win/controls.h"

namespace station {
namespace {

bool SameBar(const win::ProgressLook& a, const win::ProgressLook& b) {
  const win::ProgressState &x = a.state, &y = b.state;
  return a.text == b.text && a.vertical == b.vertical && a.font == b.font &&
         x.showPercent == y.showPercent && x.barColour == y.barColour && x.bkColour == y.bkColour &&
         x.textBkColour == y.textBkColour && x.textBarColour == y.textBarColour &&
         x.textAlign == y.textAlign && x.position == y.position && x.lower == y.lower &&
         x.upper == y.upper && x.marqueeSize == y.marqueeSize && x.marquee == y.marquee;
}

// What a port shows before its first phone.
PaneSnapshot Placeholder(const std::string& portName) {
  PaneSnapshot snap;
  snap.caption = portName;
  snap.clock = "waiting";
  snap.bar.state.showPercent = 0;
  return snap;
}

}  // namespace

DesktopPaneLook MakeDesktopPaneLook(double dpi) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(surface);
  win::BaseUnits font;
  {
    canvas::RasterCanvas measure(cr, 1, 1, 0, dpi);
    font = MeasureBaseUnits(measure, kPaneFont);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  DesktopPaneLook look;
  look.dpi = dpi;
  look.frame = std::max(2, static_cast<int>(dpi / 24));
  look.layout =
      LayoutPane(tr52::kProgressDialogTemplate, win::BaseUnits{font.x * 2, font.y * 3 / 2})
          .value_or(PaneLayout{});
  return look;
}

bool SameLook(const PaneSnapshot& a, const PaneSnapshot& b) {
  return a.caption == b.caption && a.clock == b.clock && a.lines == b.lines &&
         a.selected == b.selected && a.outcome == b.outcome && SameBar(a.bar, b.bar);
}

PaneWidget::PaneWidget(std::string portName, const DesktopPaneLook& look)
    : portName_(std::move(portName)), look_(look) {
  // A progress bar to screen readers: its label says the port and the step, its value the
  // percentage.
  area_ = GTK_WIDGET(g_object_new(GTK_TYPE_DRAWING_AREA, "accessible-role",
                                  GTK_ACCESSIBLE_ROLE_PROGRESS_BAR, nullptr));
  gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(area_), look_.layout.width + 2 * look_.frame);
  gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(area_),
                                      look_.layout.height + 2 * look_.frame);
  gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(area_), &PaneWidget::Draw, this, nullptr);
  // The mouse wheel steps through the list.
  GtkEventController* wheel = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_VERTICAL);
  g_signal_connect(
      wheel, "scroll",
      G_CALLBACK(+[](GtkEventControllerScroll*, double, double dy, PaneWidget* self) -> gboolean {
        self->Scroll(dy < 0 ? 1 : dy > 0 ? -1 : 0);
        return TRUE;
      }),
      this);
  gtk_widget_add_controller(area_, wheel);
  cell_ = gtk_flow_box_child_new();
  gtk_flow_box_child_set_child(GTK_FLOW_BOX_CHILD(cell_), area_);
  g_object_ref_sink(cell_);
  TellScreenReaders();
}

PaneWidget::~PaneWidget() {
  // The widgets go with this object: nothing of theirs may call it any more.
  if (GtkWidget* parent = gtk_widget_get_parent(cell_))
    gtk_flow_box_remove(GTK_FLOW_BOX(parent), cell_);
  g_object_unref(cell_);
}

void PaneWidget::Show(const std::optional<PaneSnapshot>& snap) {
  if (!snap) return;  // a closed pane keeps its last look
  if (shown_ && SameLook(*shown_, *snap)) return;
  // A new phone's pane starts at its newest line again.
  if (shown_ && snap->lines.size() < shown_->lines.size()) scrollBack_ = 0;
  shown_ = snap;
  TellScreenReaders();
  gtk_widget_queue_draw(area_);
}

void PaneWidget::Scroll(int lines) {
  const int count = shown_ ? static_cast<int>(shown_->lines.size()) : 0;
  const int back = std::clamp(scrollBack_ + lines, 0, MaxScrollBack(count, visibleLines_));
  if (back == scrollBack_) return;
  scrollBack_ = back;
  gtk_widget_queue_draw(area_);
}

void PaneWidget::TellScreenReaders() {
  const std::string label = SpokenPane(portName_, shown_);
  const double percent = shown_ ? PanePercent(shown_->bar.state) : 0.0;
  // The clock changes the pane every second without changing what is said: an assistive
  // technology listening on the bus is told only what changed.
  if (told_ && label == told_->first && percent == told_->second) return;
  told_ = std::make_pair(label, percent);
  const std::string value = std::to_string(static_cast<int>(percent)) + " percent";
  gtk_accessible_update_property(GTK_ACCESSIBLE(area_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 label.c_str(), GTK_ACCESSIBLE_PROPERTY_VALUE_MIN, 0.0,
                                 GTK_ACCESSIBLE_PROPERTY_VALUE_MAX, 100.0,
                                 GTK_ACCESSIBLE_PROPERTY_VALUE_NOW, percent,
                                 GTK_ACCESSIBLE_PROPERTY_VALUE_TEXT, value.c_str(), -1);
  // The cell takes the focus: it says the same.
  gtk_accessible_update_property(GTK_ACCESSIBLE(cell_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 label.c_str(), -1);
}

void PaneWidget::Draw(GtkDrawingArea*, cairo_t* cr, int width, int height, void* data) {
  auto* self = static_cast<PaneWidget*>(data);
  const DesktopPaneLook& look = self->look_;
  const PaneSnapshot snap = self->shown_ ? *self->shown_ : Placeholder(self->portName_);
  canvas::RasterCanvas canvas(cr, width, height, win::GetSysColor(win::COLOR_BTNFACE), look.dpi);
  canvas.FillRect(win::Rect{0, 0, width, height}, win::GetSysColor(win::COLOR_BTNFACE));
  PaintFrame(look.layout, look.frame, look.frame, look.frame, snap.outcome, false, canvas);
  self->visibleLines_ =
      PaintPane(snap, look.layout, look.frame, look.frame, self->scrollBack_, canvas);
}

}  // namespace station
