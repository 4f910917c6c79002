// What one port's download left in the plug-in's log and progress pane: the phone's model, the
// flow the first detection chose, and the images written with their method. The station sees
// only the pane's lines and the result through the plug-in's operations; the rest comes from the
// fixed log lines the download steps write.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace station {

struct ImageWrite {
  std::string type;    // image type name as logged ("AMSS", "EFS GANG", ...)
  std::string method;  // "nand", "ram", "pipelined" or "partition table"
  // A later image write or the reset of the same download came after it: the write is over.
  bool followed = false;
};

struct PortLogFacts {
  std::optional<std::string> model;
  std::optional<int> flow;  // 1 normal-mode flow, 0 emergency (download-mode) flow
  std::vector<ImageWrite> images;
};

// Reads the log text of one download of `port`: `logText` starts where the log stood when that
// download's pane was opened. Only whole lines ("[hh:mm:ss:mmm]  : message" ending in a line
// feed) are read; the port's own lines start with "[COM<port>]".
PortLogFacts ReadPortLogFacts(std::string_view logText, int port);

// The phone's model from the pane's first lines: the download lists the model name first and
// "Load Bin" right after it; anything else (an error, "No Phone") gives nullopt. Lines carry the
// pane's "<n>." numbering.
std::optional<std::string> ModelFromPaneLines(const std::vector<std::string>& firstLines);

}  // namespace station
