#include "file_filter.h"

#include <fnmatch.h>

namespace station {
namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<FileFilter> ParseFileFilter(const std::string& filter) {
  const std::vector<std::string> fields = Split(filter, '|');
  std::vector<FileFilter> filters;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    if (fields[i].empty() && fields[i + 1].empty()) break;  // the closing "||"
    FileFilter f{fields[i], {}};
    for (const std::string& p : Split(fields[i + 1], ';'))
      if (!Trim(p).empty()) f.patterns.push_back(Trim(p));
    if (!f.patterns.empty()) filters.push_back(std::move(f));
  }
  return filters;
}

bool MatchesFilter(const std::string& name, const std::vector<FileFilter>& filters) {
  if (filters.empty()) return true;
  for (const FileFilter& f : filters)
    for (const std::string& p : f.patterns)
      if (p == "*.*" || fnmatch(p.c_str(), name.c_str(), FNM_CASEFOLD | FNM_PERIOD) == 0)
        return true;
  return false;
}

}  // namespace station
