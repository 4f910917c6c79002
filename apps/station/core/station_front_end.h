// What the station's main program needs of a front end beyond the window layer's interface.
// Each front end (plain/, terminal/, ...) implements it; make_front_end.h picks one.
#pragma once

#include "frame/plugin_ops.h"
#include "options.h"
#include "port_history_board.h"
#include "station.h"
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
  // What the history says of each port, for front ends that show it beside the port's pane;
  // nullptr before the board goes.
  virtual void UseHistory(const PortHistoryBoard* /*board*/) {}
  // Runs `station` (initialised) to the end of its run and returns its exit status. The
  // window layer's loop waits between the run's steps, unless the front end has a loop of its
  // own that takes the steps.
  virtual int Serve(Station& station, StopControl& stop) { return station.Run(stop); }
};

}  // namespace station
