#include "dialog_window.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "dialog_rows.h"
#include "win/controls.h"

namespace station {
namespace {

// A button whose text is only dots ("...") is read out as a name.
std::string SpokenButton(const std::string& text) {
  const bool dots =
      !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c == '.'; });
  return dots ? "Choose a file" : text;
}

GtkAlign AlignOf(RowAlign align) {
  switch (align) {
    case RowAlign::kCentre:
      return GTK_ALIGN_CENTER;
    case RowAlign::kEnd:
      return GTK_ALIGN_END;
    case RowAlign::kFill:
      return GTK_ALIGN_FILL;
    case RowAlign::kStart:
      break;
  }
  return GTK_ALIGN_START;
}

}  // namespace

DialogWindow::DialogWindow(win::HWND dialog, GtkWindow* parent) : dialog_(dialog) {
  window_ = GTK_WINDOW(gtk_window_new());
  g_object_ref_sink(window_);
  gtk_window_set_title(window_, win::GetWindowText(dialog).c_str());
  gtk_window_set_modal(window_, TRUE);
  gtk_window_set_resizable(window_, FALSE);
  if (parent) gtk_window_set_transient_for(window_, parent);
  g_signal_connect_swapped(window_, "close-request",
                           G_CALLBACK(+[](DialogWindow* self) -> gboolean {
                             self->Cancel();
                             return TRUE;  // the dialog's handler ends it; the window goes then
                           }),
                           this);

  // The controls, in the rows of the template.
  std::vector<win::Rect> rects;
  std::vector<bool> stretches;
  for (win::HWND child : win::GetChildren(dialog)) {
    const std::string cls = win::GetClassName(child);
    const std::string text = win::GetWindowText(child);
    GtkWidget* widget = nullptr;
    if (cls == win::kStaticClass) {
      widget = gtk_label_new(text.c_str());
    } else if (cls == win::kEditClass) {
      widget = gtk_entry_new();
      gtk_editable_set_text(GTK_EDITABLE(widget), text.c_str());
      gtk_entry_set_activates_default(GTK_ENTRY(widget), TRUE);
      gtk_widget_set_hexpand(widget, TRUE);
      gtk_editable_set_width_chars(GTK_EDITABLE(widget), 48);
    } else if (cls == win::kButtonClass) {
      widget = gtk_button_new_with_label(text.c_str());
      if (SpokenButton(text) != text) {
        gtk_widget_set_tooltip_text(widget, SpokenButton(text).c_str());
        gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       SpokenButton(text).c_str(), -1);
      }
    } else {
      continue;  // nothing of the kind in the plug-in's dialogs
    }
    controls_.push_back(std::make_unique<Control>(Control{this, child, cls, widget}));
    rects.push_back(win::GetWindowRect(child));
    stretches.push_back(cls == win::kEditClass);
  }

  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_top(column, 12);
  gtk_widget_set_margin_bottom(column, 12);
  gtk_widget_set_margin_start(column, 12);
  gtk_widget_set_margin_end(column, 12);
  GtkWidget* label = nullptr;
  for (const DialogRow& row : ArrangeInRows(rects, stretches, win::GetWindowRect(dialog).Width())) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_halign(box, AlignOf(row.align));
    for (size_t i : row.controls) {
      Control& c = *controls_[i];
      gtk_box_append(GTK_BOX(box), c.widget);
      if (c.className == win::kStaticClass) label = c.widget;
      if (c.className == win::kEditClass) {
        // The label before an edit names it.
        if (label)
          gtk_accessible_update_relation(GTK_ACCESSIBLE(c.widget),
                                         GTK_ACCESSIBLE_RELATION_LABELLED_BY, label, nullptr, -1);
        g_signal_connect(c.widget, "changed", G_CALLBACK(+[](GtkEditable* e, Control* control) {
                           if (control->owner->syncing_) return;
                           win::SetWindowText(control->hwnd, gtk_editable_get_text(e));
                         }),
                         &c);
      }
      if (c.className == win::kButtonClass) {
        if (win::GetWindowStyle(c.hwnd) & win::BS_DEFPUSHBUTTON)
          gtk_window_set_default_widget(window_, c.widget);
        g_signal_connect(c.widget, "clicked", G_CALLBACK(+[](GtkButton*, Control* control) {
                           // The dialog's handler runs now, on this thread; it may open
                           // further windows or end the dialog.
                           win::SendMessage(control->hwnd, win::BM_CLICK, 0, 0);
                         }),
                         &c);
      }
    }
    gtk_box_append(GTK_BOX(column), box);
  }
  gtk_window_set_child(window_, column);

  // Escape cancels, as in any dialog.
  GtkEventController* keys = gtk_shortcut_controller_new();
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(keys),
      gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                       gtk_callback_action_new(
                           +[](GtkWidget*, GVariant*, gpointer self) -> gboolean {
                             static_cast<DialogWindow*>(self)->Cancel();
                             return TRUE;
                           },
                           this, nullptr)));
  gtk_widget_add_controller(GTK_WIDGET(window_), keys);
  gtk_window_present(window_);
}

DialogWindow::~DialogWindow() {
  // No signal may reach this object any more.
  for (const auto& c : controls_) g_signal_handlers_disconnect_by_data(c->widget, c.get());
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_window_destroy(window_);
  g_object_unref(window_);
}

void DialogWindow::Cancel() {
  win::SendMessage(dialog_, win::WM_COMMAND, win::MAKELONG(win::IDCANCEL, win::BN_CLICKED), 0);
}

void DialogWindow::Sync() {
  syncing_ = true;
  for (const auto& c : controls_) {
    if (c->className != win::kEditClass) continue;
    const std::string text = win::GetWindowText(c->hwnd);
    if (text != gtk_editable_get_text(GTK_EDITABLE(c->widget)))
      gtk_editable_set_text(GTK_EDITABLE(c->widget), text.c_str());
  }
  syncing_ = false;
}

}  // namespace station
