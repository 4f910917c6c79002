// Folders of the user's own state (port table, COM map): created private to the user.
#pragma once

#include <string>

namespace tr52 {

// Creates `dir` and its missing parents, each private to the user (0700); an existing folder is
// left as it is. False for an empty path or when a part cannot be made.
bool MakePrivateDirs(const std::string& dir);

}  // namespace tr52
