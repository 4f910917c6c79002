#include "file_browser.h"

#include <algorithm>
#include <system_error>

namespace station {
namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<BrowserEntry> ListFolder(const fs::path& folder, const std::vector<FileFilter>& filters,
                                     std::string& error) {
  error.clear();
  std::vector<BrowserEntry> folders, files;
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) {
    error = ec.message();
  } else {
    for (const fs::directory_entry& e : it) {
      const std::string name = e.path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      std::error_code kind;
      // Links count as what they point at: a link to a package is offered like the package.
      if (e.is_directory(kind)) {
        folders.push_back({name, true});
      } else if (e.is_regular_file(kind) && MatchesFilter(name, filters)) {
        files.push_back({name, false});
      }
    }
  }
  auto byName = [](const BrowserEntry& a, const BrowserEntry& b) { return a.name < b.name; };
  std::sort(folders.begin(), folders.end(), byName);
  std::sort(files.begin(), files.end(), byName);
  std::vector<BrowserEntry> entries;
  if (folder.has_relative_path()) entries.push_back({"..", true});
  entries.insert(entries.end(), folders.begin(), folders.end());
  entries.insert(entries.end(), files.begin(), files.end());
  return entries;
}

FileBrowser::FileBrowser(const fs::path& start, std::vector<FileFilter> filters,
                         std::string defaultExtension)
    : filters_(std::move(filters)), defaultExtension_(std::move(defaultExtension)) {
  std::error_code ec;
  fs::path folder = fs::absolute(start, ec);
  if (ec) folder = "/";
  Enter(folder);
}

void FileBrowser::Enter(const fs::path& folder) {
  folder_ = folder.lexically_normal();
  // "/a/b/" and "/a/b" are one folder; only the root keeps its slash.
  if (folder_.has_relative_path() && !folder_.has_filename()) folder_ = folder_.parent_path();
  entries_ = ListFolder(folder_, filters_, error_);
}

std::optional<std::string> FileBrowser::Open(size_t index) {
  if (index >= entries_.size()) return std::nullopt;
  const BrowserEntry entry = entries_[index];
  if (entry.folder) {
    Enter(entry.name == ".." ? folder_.parent_path() : folder_ / entry.name);
    return std::nullopt;
  }
  return (folder_ / entry.name).string();
}

std::optional<std::string> FileBrowser::Accept(const std::string& typed) {
  const std::string text = Trim(typed);
  if (text.empty()) return std::nullopt;
  fs::path path = fs::path(text).is_absolute() ? fs::path(text) : folder_ / text;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    Enter(path);
    return std::nullopt;
  }
  path = path.lexically_normal();
  if (!defaultExtension_.empty() && path.has_filename() && !path.has_extension())
    path += "." + defaultExtension_;
  return path.string();
}

}  // namespace station
