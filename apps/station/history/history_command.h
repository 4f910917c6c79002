// The tr52-history program's command line and run: which history (a station's file or the line
// database), which downloads, and in which form.
#pragma once

#include <optional>
#include <string>

#include "history_output.h"
#include "history_query.h"

namespace history {

// Exit statuses of tr52-history.
constexpr int kHistoryOk = 0;
constexpr int kHistoryFailed = 1;  // the history could not be opened or read
constexpr int kHistoryUsage = 2;

struct HistoryCommand {
  std::string historyPath;  // the station's file
  std::string url;          // non-empty: the line database instead
  HistoryFilter filter;
  bool summary = false;
  Format format = Format::kTable;
};

// Parses the command line. Nullopt when the program ends here: `text` is then the help (status
// kHistoryOk) or the error (kHistoryUsage), given in `status`.
std::optional<HistoryCommand> ParseHistoryCommand(int argc, const char* const* argv,
                                                  std::string& text, int& status);

// Runs the query: the output in `out`, a failure in `error`. Returns the exit status.
int RunHistoryCommand(const HistoryCommand& command, std::string& out, std::string& error);

}  // namespace history
