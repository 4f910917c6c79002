// The folder and the file name of a path, as plain text (no file system access).
#pragma once

#include <string>

namespace tr52 {

// "/a/b/file" -> "/a/b"; "/file" -> "/"; "file" -> ".".
std::string FolderOf(const std::string& path);
// "/a/b/file" -> "file"; "file" -> "file".
std::string FileNameOf(const std::string& path);

}  // namespace tr52
