// Private-profile (".ini") files with the contract of the Windows calls of the same names:
// section and key names are case-insensitive, a missing file, section or key gives the
// default, results are cut at size - 1 characters and always terminated, writing keeps every
// other entry and section. Safe from several threads at once.
#pragma once

#include <string>

#include "win/window.h"

namespace win {

// Copies the value of `key` in `section` (or `defaultValue`, "" when null) into `buffer`, at
// most size - 1 characters and a terminating NUL; returns the number of characters copied.
// A null key gives the section's key names, a null section the file's section names, each
// NUL-terminated with a second NUL at the end (cut at size - 2 characters).
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName);

// Sets `key` in `section` to `value` as given (creating the file or section as needed); a null
// value removes the key, a null key the whole section. The file is replaced whole and at once
// (see platform/atomic_file.h). False, with the reason in `why`, when the file exists but
// cannot be read, the entry is refused (a control character such as a line break in the value
// would write another entry; see ProfileText::Set) or the file cannot be written; the file is
// then as it was.
[[nodiscard]] bool WritePrivateProfileStringA(const char* section, const char* key,
                                              const char* value, const char* fileName,
                                              std::string* why = nullptr);

}  // namespace win
