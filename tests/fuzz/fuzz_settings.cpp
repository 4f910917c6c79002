// The settings file's parser over arbitrary bytes: the profile text in memory (parse, ask,
// write back) and the settings read through a real file, as the plug-in reads "ZUDP2.ini".
// Input: the file's bytes, optionally followed by a NUL and "section NUL key NUL value" of one
// entry to write.
//
// What must hold: every entry parsed reads back the same after the text is written out and
// parsed again; an entry that is set either is refused for a reason or reads back as given
// (without blanks at its ends), every other entry unchanged; the settings read gives the
// parsed value cut at 259 characters, or the default.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings_file.h"
#include "win/profile.h"
#include "win/profile_text.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;  // "section\nkey", value

// A private folder for the settings file, removed when the fuzzer ends.
class Folder {
 public:
  Folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_settings-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    path_ = tmpl;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Every entry, sorted (a section without a name is written first, whatever its place).
Entries AllEntries(const win::ProfileText& text) {
  Entries out;
  for (const auto& section : text.SectionNames()) {
    for (const auto& key : text.KeyNames(section)) {
      const auto value = text.Value(section, key);
      if (!value) std::abort();  // a listed key must have a value
      out.emplace_back(section + "\n" + key, *value);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The section and key of an entry of Entries.
std::pair<std::string, std::string> Split(const std::string& name) {
  const size_t nl = name.find('\n');
  return {name.substr(0, nl), name.substr(nl + 1)};
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Folder folder;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view file = input.substr(0, input.find('\0'));

  // Parsed, written out and parsed again: the same entries.
  win::ProfileText text;
  if (!text.Parse(file)) return 0;
  const Entries entries = AllEntries(text);
  win::ProfileText again;
  if (!again.Parse(text.Text())) return 0;
  if (AllEntries(again) != entries) std::abort();

  // One entry set: refused, or read back with every other entry kept.
  if (file.size() < input.size()) {
    std::vector<std::string> parts;
    std::string_view rest = input.substr(file.size() + 1);
    for (int i = 0; i < 2; ++i) {
      const size_t nul = rest.find('\0');
      parts.emplace_back(rest.substr(0, nul));
      rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }
    const std::string value(rest.substr(0, rest.find('\0')));
    std::string why;
    if (text.Set(parts[0], parts[1], value, why)) {
      win::ProfileText written;
      if (!written.Parse(text.Text())) return 0;
      const auto back = written.Value(parts[0], parts[1]);
      if (!back || *back != Trimmed(value)) std::abort();
      for (const auto& [name, old] : entries) {
        const auto [section, key] = Split(name);
        if (SameName(section, parts[0]) && SameName(key, parts[1])) continue;
        const auto now = written.Value(section, key);
        if (!now || *now != old) std::abort();
      }
    } else if (why.empty()) {
      std::abort();  // a refusal always says why
    }
  }

  // Through a real file, as the plug-in reads it: the parsed value cut at 259 characters.
  const std::string path = folder.File("ZUDP2.ini");
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  tr52::SettingsFile settings;
  settings.SetPath(path);
  const std::string read =
      settings.Read(tr52::kSettingsSection, tr52::kPathBinKey, tr52::kSettingsDefault);
  win::ProfileText asFiled;  // `text` may hold the entry set above
  if (!asFiled.Parse(file)) return 0;
  const std::string expected = asFiled.Value(tr52::kSettingsSection, tr52::kPathBinKey)
                                   .value_or(tr52::kSettingsDefault)
                                   .substr(0, tr52::kSettingsValueBuffer - 1);
  if (read != expected) std::abort();

  // The name lists in small buffers: always terminated twice, never past the buffer.
  const win::DWORD listSize = static_cast<win::DWORD>(size % 64);
  std::vector<char> names(listSize + 1, 'Z');
  const win::DWORD n =
      win::GetPrivateProfileStringA(nullptr, nullptr, "", names.data(), listSize, path.c_str());
  if (listSize >= 2 && (n > listSize - 2 || names[n] != '\0' || names[n + 1] != '\0')) std::abort();
  if (names[listSize] != 'Z') std::abort();
  return 0;
}
