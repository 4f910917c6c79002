// The terminal front end's file-open dialog, without the screen: the filter of the request,
// the entries of a folder that the dialog offers (folders and the files the filter lets
// through), walking folders, and a typed name or path taken as the choice.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/file_filter.h"

namespace station {

struct BrowserEntry {
  std::string name;
  bool folder = false;
  bool operator==(const BrowserEntry&) const = default;
};

// What the dialog lists for `folder`: ".." (except at the root), the folders, then the regular
// files the filters let through, each group sorted by name; hidden entries (a leading dot) and
// everything else are left out. An unreadable folder lists ".." only and sets `error`.
std::vector<BrowserEntry> ListFolder(const std::filesystem::path& folder,
                                     const std::vector<FileFilter>& filters, std::string& error);

class FileBrowser {
 public:
  // Starts in `start` (made absolute); `defaultExtension` (without the dot) is added to a typed
  // file name that has no extension.
  FileBrowser(const std::filesystem::path& start, std::vector<FileFilter> filters,
              std::string defaultExtension);

  const std::filesystem::path& Folder() const { return folder_; }
  const std::vector<BrowserEntry>& Entries() const { return entries_; }
  // Why the folder could not be listed; empty when it was.
  const std::string& Error() const { return error_; }

  // Opens entry `index`: a folder becomes the current one (nullopt), a file is the choice (its
  // full path). An index out of range does nothing.
  std::optional<std::string> Open(size_t index);
  // A typed name or path, relative to the current folder unless absolute: a folder becomes the
  // current one (nullopt); anything else is the choice, whether it exists or not, with the
  // default extension added when its name has none. Blank text does nothing.
  std::optional<std::string> Accept(const std::string& typed);

 private:
  void Enter(const std::filesystem::path& folder);

  std::vector<FileFilter> filters_;
  std::string defaultExtension_;
  std::filesystem::path folder_;
  std::vector<BrowserEntry> entries_;
  std::string error_;
};

}  // namespace station
