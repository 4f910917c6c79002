// What the station's main program needs of a front end beyond the window layer's interface,
// and the choice between the plain-text and the full-screen one.
#pragma once

#include <memory>

#include "frame/plugin_ops.h"
#include "options.h"
#include "win/window.h"

namespace station {

class StopControl;

class StationFrontEnd : public win::FrontEnd {
 public:
  // How many configuration dialogs (those with the package path edit) were shown.
  virtual int ConfigDialogsSeen() const = 0;
  // The plug-in, for front ends that open its configuration dialog on a key.
  virtual void UsePlugin(const PluginOps& /*ops*/) {}
  // The run's stop (it outlives the front end's use of it): once it is stopping, boxes are
  // answered at once and nothing new is opened for the user.
  virtual void UseStop(StopControl& /*stop*/) {}
  // Gives the terminal back (before the program leaves without unwinding); idempotent.
  virtual void Close() {}
};

// The full-screen front end when standard input is a terminal, and so is standard output
// when ports are served, the run is not a batch run, --plain was not given and curses can
// drive the terminal; else plain text.
std::unique_ptr<StationFrontEnd> MakeFrontEnd(const Options& options);

}  // namespace station
