#include "win/profile_text.h"

// Narrow strings only: the file's bytes are taken as they are.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // this header ships its template bodies on request
#include <SimpleIni.h>

#include <algorithm>
#include <cstdio>

namespace win {
namespace {

bool IsControl(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == 0x7F;
}

bool HasOuterBlank(const std::string& s) {
  return !s.empty() && (s.front() == ' ' || s.back() == ' ');
}

std::vector<std::string> InFileOrder(CSimpleIniA::TNamesDepend names) {
  names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> out;
  out.reserve(names.size());
  for (const auto& e : names) out.emplace_back(e.pItem);
  return out;
}

// What is wrong with a section or key name; empty when nothing.
std::string ProblemWithNames(const std::string& section, const std::string& key) {
  if (const std::string p = ProblemWithProfileValue(section); !p.empty())
    return "the section name " + p;
  if (const std::string p = ProblemWithProfileValue(key); !p.empty()) return "the key " + p;
  if (section.find(']') != std::string::npos) return "the section name holds ']'";
  if (key.empty()) return "the key is empty";
  if (key.find('=') != std::string::npos) return "the key holds '='";
  if (key.front() == '[' || key.front() == ';' || key.front() == '#')
    return "the key starts with '" + key.substr(0, 1) + "'";
  if (HasOuterBlank(section) || HasOuterBlank(key)) return "a name starts or ends with a blank";
  return "";
}

// `bytes` with every line that opens a section but never closes it ("[name" without "]") made a
// comment. Such a line means nothing, and the parser would otherwise take the section name on
// into the next line, making an entry of the lines after it that no write could give back.
std::string WithBrokenSectionLinesMuted(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 16);
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(at, end - at);
    const size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line[first] == '[' &&
        line.find(']', first) == std::string_view::npos) {
      out.append(line.substr(0, first));
      out += ';';
      out.append(line.substr(first));
    } else {
      out.append(line);
    }
    const size_t next = std::min(bytes.size(), end + 1);
    out.append(bytes.substr(end, next - end));
    at = next;
  }
  return out;
}

}  // namespace

std::string ProblemWithProfileValue(std::string_view text) {
  for (const char c : text) {
    if (!IsControl(c)) continue;
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(c));
    return std::string("holds the control character ") + code +
           (c == '\n' || c == '\r' ? " (a line break)" : "");
  }
  return "";
}

struct ProfileText::Impl {
  Impl() { ini.SetSpaces(false); }
  CSimpleIniA ini;
};

ProfileText::ProfileText() : impl_(std::make_unique<Impl>()) {}
ProfileText::~ProfileText() = default;

bool ProfileText::Parse(std::string_view bytes) {
  impl_->ini.Reset();
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.remove_prefix(3);  // a UTF-8 byte order mark
  const std::string text = WithBrokenSectionLinesMuted(bytes);
  return impl_->ini.LoadData(text.data(), text.size()) == SI_OK;
}

std::optional<std::string> ProfileText::Value(const std::string& section,
                                              const std::string& key) const {
  const char* value = impl_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::vector<std::string> ProfileText::SectionNames() const {
  CSimpleIniA::TNamesDepend names;
  impl_->ini.GetAllSections(names);
  return InFileOrder(std::move(names));
}

std::vector<std::string> ProfileText::KeyNames(const std::string& section) const {
  CSimpleIniA::TNamesDepend names;
  impl_->ini.GetAllKeys(section.c_str(), names);
  return InFileOrder(std::move(names));
}

bool ProfileText::Set(const std::string& section, const std::string& key, const std::string& value,
                      std::string& error) {
  error = ProblemWithNames(section, key);
  if (error.empty()) {
    if (const std::string p = ProblemWithProfileValue(value); !p.empty()) error = "the value " + p;
  }
  if (!error.empty()) return false;
  if (impl_->ini.SetValue(section.c_str(), key.c_str(), value.c_str()) < 0) {
    error = "out of memory";
    return false;
  }
  return true;
}

void ProfileText::Remove(const std::string& section, const char* key) {
  impl_->ini.Delete(section.c_str(), key);
}

std::string ProfileText::Text() const {
  std::string text;
  impl_->ini.Save(text);  // into a string: fails only when memory runs out, which throws
  // A key of the entries before any section may begin with the bytes of a UTF-8 byte order
  // mark; at the start of the file a reader would drop them as the mark. A blank line first
  // keeps them part of the key.
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) return std::string(1, '\n').append(text);
  return text;
}

}  // namespace win
