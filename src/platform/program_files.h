// Where a program keeps the files it writes for itself: the settings file, the log, and what is
// written beside the log.
//
// A program copied into a folder of its own (a bin folder moved anywhere) keeps them beside
// itself, in that folder. A program whose folder it cannot write (an installed program in
// /usr/bin run by a user), or that lies in a system program folder (/usr/bin and the like, even
// for root), keeps them in the user's folders instead: settings in $XDG_CONFIG_HOME/tr52
// (else ~/.config/tr52), logs and records in $XDG_STATE_HOME/tr52 (else ~/.local/state/tr52).
// The plug-in and the station both ask here, so they always agree on the files.
#pragma once

#include <string>

namespace tr52 {

enum class ProgramFileKind { kSettings, kState };

// What the rule needs to know of the machine and the user (tests make their own).
struct ProgramFileFacts {
  bool ownFolder = false;  // the program's folder is writable and not a system program folder
  std::string configHome;  // absolute $XDG_CONFIG_HOME, else $HOME/.config; empty: neither
  std::string stateHome;   // absolute $XDG_STATE_HOME, else $HOME/.local/state; empty: neither
};

// The rule itself: where the file that would lie at `besideProgram` goes. Beside the program in
// its own folder, else in the user's folder of that kind ("<home>/tr52/<file name>"); beside
// the program also when the user's folder cannot be named.
std::string PlaceProgramFile(const std::string& besideProgram, ProgramFileKind kind,
                             const ProgramFileFacts& facts);

// Whether `folder` is one the system's programs are installed into (/usr/bin, /usr/local/bin,
// /bin, the sbin folders, /usr/games, and the folder this build installs its programs into).
bool IsSystemProgramFolder(const std::string& folder);

// This machine's facts for `folder` (the program's folder) and the current environment.
ProgramFileFacts ProgramFileFactsFor(const std::string& folder);

// PlaceProgramFile with this machine's facts for the folder of `besideProgram`; when the user's
// folder is chosen it is created (private to the user) if missing.
std::string ProgramFilePath(const std::string& besideProgram, ProgramFileKind kind);

}  // namespace tr52
