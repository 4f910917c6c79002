#include "platform/program_files.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/path_parts.h"
#include "platform/private_dirs.h"

#ifndef TR52_INSTALL_BINDIR
#define TR52_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace tr52 {
namespace {

std::string WithoutTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// An absolute $name, else $HOME + fallback; empty when neither is there. A relative value is
// ignored, as the base directory convention asks.
std::string UserFolder(const char* name, const char* fallback) {
  if (const char* value = std::getenv(name); value && *value == '/')
    return WithoutTrailingSlashes(value);
  if (const char* home = std::getenv("HOME"); home && *home == '/')
    return WithoutTrailingSlashes(home) + fallback;
  return "";
}

}  // namespace

std::string PlaceProgramFile(const std::string& besideProgram, ProgramFileKind kind,
                             const ProgramFileFacts& facts) {
  if (facts.ownFolder) return besideProgram;
  const std::string& home = kind == ProgramFileKind::kSettings ? facts.configHome : facts.stateHome;
  if (home.empty()) return besideProgram;
  return home + "/tr52/" + FileNameOf(besideProgram);
}

bool IsSystemProgramFolder(const std::string& folder) {
  const std::string f = WithoutTrailingSlashes(folder);
  for (const char* system : {"/usr/bin", "/usr/local/bin", "/bin", "/usr/sbin", "/usr/local/sbin",
                             "/sbin", "/usr/games", "/usr/local/games", TR52_INSTALL_BINDIR})
    if (f == system) return true;
  return false;
}

ProgramFileFacts ProgramFileFactsFor(const std::string& folder) {
  ProgramFileFacts facts;
  facts.ownFolder = !IsSystemProgramFolder(folder) && access(folder.c_str(), W_OK) == 0;
  facts.configHome = UserFolder("XDG_CONFIG_HOME", "/.config");
  facts.stateHome = UserFolder("XDG_STATE_HOME", "/.local/state");
  return facts;
}

std::string ProgramFilePath(const std::string& besideProgram, ProgramFileKind kind) {
  const std::string path =
      PlaceProgramFile(besideProgram, kind, ProgramFileFactsFor(FolderOf(besideProgram)));
  // A folder that cannot be made shows when the file is written, where its writer reports it.
  if (path != besideProgram) (void)MakePrivateDirs(FolderOf(path));
  return path;
}

}  // namespace tr52
