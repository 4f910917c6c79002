// A fresh temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tr52test {

class TempDir {
 public:
  TempDir() : TempDir(std::string()) {}
  // A folder in `base` (TMPDIR, else /tmp, when empty).
  explicit TempDir(std::string base) {
    if (base.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      base = tmp && *tmp ? tmp : "/tmp";
    }
    std::string tmpl = base + "/tr52test-XXXXXX";
    if (char* p = mkdtemp(tmpl.data())) path_ = p;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace tr52test
