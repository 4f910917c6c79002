// The station's command line parsed from words, as the program gets them after its name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/options.h"

namespace station {

inline std::optional<Options> ParseArgs(std::vector<std::string> args, std::string& error) {
  args.insert(args.begin(), "station");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), error);
}

}  // namespace station
