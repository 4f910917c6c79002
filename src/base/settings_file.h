// The plug-in's one persistent setting, kept in "ZUDP2.ini" beside the host executable (or in
// the user's settings folder when the host's folder is not its own: platform/program_files.h).
// The module root owns the settings; whoever reads or writes them is handed them.
//
// Nothing is cached: every Read goes to the file, so a path saved by the configuration dialog
// is what the next download reads.
#pragma once

#include <mutex>
#include <string>
#include <utility>

namespace tr52 {

inline constexpr char kSettingsFileName[] = "ZUDP2.ini";
inline constexpr char kSettingsSection[] = "TR52";
inline constexpr char kPathBinKey[] = "PATH_BIN";
inline constexpr char kSettingsDefault[] = "NULL";  // what a missing file or key reads as
// Values are read into a buffer of this size, so at most 259 characters come back.
inline constexpr int kSettingsValueBuffer = 260;
inline constexpr char kSettingsTooLongWarning[] =
    "WARNING:Too long data may cut in default size(260 byte or system dependent).";

class SettingsFile {
 public:
  // Settings kept in the file at `path` (an empty path reads every key as its default).
  explicit SettingsFile(std::string path = {}) : path_(std::move(path)) {}
  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

  void SetPath(const std::string& path);
  std::string Path() const;

  // The value, cut at 259 characters; `defaultValue` when the file or the key is missing.
  std::string Read(const std::string& section, const std::string& key,
                   const std::string& defaultValue) const;
  // Writes the value as given; a value of 260 characters or more first shows a warning box
  // (it is written anyway and reads back cut). The file is replaced whole, never in part. False,
  // with the reason in `error`, when the value is refused (a control character, a line break
  // among them, would write another entry), the file exists but cannot be read, or it cannot be
  // written; the file is then as it was.
  [[nodiscard]] bool Write(const std::string& section, const std::string& key,
                           const std::string& value, std::string& error);

  // The settings path for the running host: its executable's folder + "ZUDP2.ini", placed by
  // the rule of platform/program_files.h.
  static std::string PathBesideHost();

 private:
  mutable std::mutex mutex_;
  std::string path_;
};

}  // namespace tr52
