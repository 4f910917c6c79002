#include "base/settings_file.h"

#include <cstdio>

#include "platform/process_info.h"
#include "platform/program_files.h"
#include "win/profile.h"
#include "win/profile_text.h"

namespace tr52 {
namespace {

// The message box caption: the host program's name, as the host's own boxes show it.
std::string HostName() {
  const std::string path = ExecutablePath();
  const auto slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

}  // namespace

void SettingsFile::SetPath(const std::string& path) {
  std::lock_guard<std::mutex> g(mutex_);
  path_ = path;
}

std::string SettingsFile::Path() const {
  std::lock_guard<std::mutex> g(mutex_);
  return path_;
}

std::string SettingsFile::Read(const std::string& section, const std::string& key,
                               const std::string& defaultValue) const {
  char buffer[kSettingsValueBuffer] = {};
  const std::string path = Path();
  win::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                                sizeof buffer, path.c_str());
  char text[kSettingsValueBuffer];
  std::snprintf(text, sizeof text, "%s", buffer);
  return text;
}

bool SettingsFile::Write(const std::string& section, const std::string& key,
                         const std::string& value, std::string& error) {
  // A refused value shows no warning about its length: it is not written at all.
  const std::string problem = win::ProblemWithProfileValue(value);
  if (!problem.empty()) {
    error = "the value " + problem;
    return false;
  }
  if (value.size() >= static_cast<size_t>(kSettingsValueBuffer))
    win::MessageBox(nullptr, kSettingsTooLongWarning, HostName(), win::MB_OK);
  const std::string path = Path();
  return win::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str(),
                                         &error);
}

std::string SettingsFile::PathBesideHost() {
  return ProgramFilePath(ExecutableDir() + kSettingsFileName, ProgramFileKind::kSettings);
}

}  // namespace tr52
