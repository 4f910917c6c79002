// tr52-history: the downloads a station (or a line of stations) has on record.
#include <cstdio>
#include <string>

#include "history/history_command.h"

int main(int argc, char** argv) {
  std::string text;
  int status = history::kHistoryOk;
  const auto command = history::ParseHistoryCommand(argc, argv, text, status);
  if (!command) {
    std::fputs(text.c_str(), status == history::kHistoryOk ? stdout : stderr);
    return status;
  }
  std::string out, error;
  status = history::RunHistoryCommand(*command, out, error);
  if (status != history::kHistoryOk) {
    std::fprintf(stderr, "tr52-history: error: %s\n", error.c_str());
    return status;
  }
  std::fputs(out.c_str(), stdout);
  return status;
}
