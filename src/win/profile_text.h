// The text of one private-profile (".ini") file in memory: parsed from bytes, asked, changed and
// written back to bytes. Section and key names are case-insensitive; the file's bytes are taken
// as they are (no character set conversion). Leading and trailing blanks of names and values are
// not part of them (as in any such file). Holds no file: the profile calls read and replace the
// file around it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win {

class ProfileText {
 public:
  ProfileText();
  ~ProfileText();
  ProfileText(const ProfileText&) = delete;
  ProfileText& operator=(const ProfileText&) = delete;

  // Replaces the content with the entries of `bytes` (lines that are no entry are skipped, as
  // a reader of such files does). False only when memory ran out.
  [[nodiscard]] bool Parse(std::string_view bytes);

  // The value of `key` in `section`; nullopt when either is missing.
  std::optional<std::string> Value(const std::string& section, const std::string& key) const;
  // Names in the order of the file.
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(const std::string& section) const;

  // Sets `key` in `section` (created as needed). Refused, with the reason in `error`, when the
  // entry would not read back as itself or would change another one: a control character
  // anywhere (a line break would start a new entry), a key that is empty, holds '=' or starts
  // a comment or a section, a section name holding ']', or a name with blanks at either end.
  [[nodiscard]] bool Set(const std::string& section, const std::string& key,
                         const std::string& value, std::string& error);
  // Removes `key` from `section`, or the whole section when `key` is null.
  void Remove(const std::string& section, const char* key);

  // The file's new bytes: every entry and comment kept, in the file's order.
  std::string Text() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Why `text` cannot be stored as a setting value (it holds a control character: a byte below
// 0x20, or DEL); empty when it can.
std::string ProblemWithProfileValue(std::string_view text);

}  // namespace win
