// Opens arbitrary bytes as a package and reads every key of its table (plus one absent key).
// Extraction must never leave a temporary file behind: the target aborts if one remains.
//
// The first input byte picks a mode: odd = the header and table digests of the rest are made
// right before it is opened, so that mutations reach past the digest checks into the sub
// files, split images and the inflation; even = the rest is opened as it is.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "package/dz_archive.h"
#include "package/dz_format.h"
#include "platform/crypto.h"

namespace {

struct Scratch {
  std::string dir;
  std::string package;
  std::string tmp;
  std::optional<std::string> oldTmp;  // TMPDIR as it was, put back at the end
  Scratch() {
    // Under TMPDIR when set: a long run writes a package per input, better kept on tmpfs.
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/fuzz_dz-XXXXXX";
    if (!mkdtemp(tmpl.data())) std::abort();
    dir = tmpl;
    package = dir + "/input.dz";
    tmp = dir + "/tmp";
    if (mkdir(tmp.c_str(), 0700) != 0) std::abort();
    if (const char* old = getenv("TMPDIR")) oldTmp = old;
    setenv("TMPDIR", tmp.c_str(), 1);
  }
  ~Scratch() {
    oldTmp ? setenv("TMPDIR", oldTmp->c_str(), 1) : unsetenv("TMPDIR");
    unlink(package.c_str());
    rmdir(tmp.c_str());
    rmdir(dir.c_str());
  }
};

Scratch& TheScratch() {
  static Scratch s;
  return s;
}

bool TmpIsEmpty(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  bool empty = true;
  while (dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") empty = false;
  }
  closedir(d);
  return empty;
}

// Rewrites every digest that guards a header or the table (not the image digests).
void FixDigests(std::vector<uint8_t>& b) {
  const size_t n = b.size();
  if (n >= tr52::dz::kMainHeaderSize) {
    const auto d = tr52::Md5::Of(b.data(), tr52::dz::kMainDigest);
    std::memcpy(&b[tr52::dz::kMainDigest], d.data(), d.size());
  }
  if (n < 8) return;
  const auto s = static_cast<int32_t>(tr52::LoadU32le(&b[n - 8]));
  if (s < 0 || s > tr52::dz::kMaxTableSize || n < tr52::dz::kTrailerOverhead + s) return;
  const size_t table = n - 4 - static_cast<size_t>(s);
  if (s >= 8) {
    const int32_t count = static_cast<int32_t>(tr52::LoadU32le(&b[table]));
    for (int32_t i = 0; i < count && static_cast<size_t>(i) < (static_cast<size_t>(s) - 8) / 8;
         ++i) {
      const uint32_t at = tr52::LoadU32le(&b[table + 8 + 8 * static_cast<size_t>(i)]);
      if (at == 0 || at + tr52::dz::kSubHeaderSize > n) continue;
      const auto d = tr52::Md5::Of(&b[at], tr52::dz::kSubDigest);
      std::memcpy(&b[at + tr52::dz::kSubDigest], d.data(), d.size());
    }
  }
  const auto d = tr52::Md5::Of(&b[table], static_cast<size_t>(s));
  std::memcpy(&b[n - 20 - static_cast<size_t>(s)], d.data(), d.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scratch& s = TheScratch();
  if (size == 0) return 0;
  std::vector<uint8_t> bytes(data + 1, data + size);
  if (data[0] & 1) FixDigests(bytes);
  {
    const int fd = open(s.package.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    if (!bytes.empty() &&
        write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      std::abort();
    close(fd);
  }
  tr52::DzArchive archive;
  if (archive.Open(s.package)) {
    (void)archive.ModelName();
    const auto entries = archive.Entries();
    for (const auto& e : entries) {
      tr52::DzSubHeader h;
      (void)archive.ReadSubHeaderAt(e.offset, h);
      std::string name;
      tr52::ImageBuffer out;
      uint32_t got = 0;
      if (archive.ReadImage(e.key, name, out, got) && got > out.size()) std::abort();
    }
    std::string name;
    tr52::ImageBuffer out;
    uint32_t got = 0;
    (void)archive.ReadImage(1000, name, out, got);
    archive.Close();
  }
  if (!TmpIsEmpty(s.tmp)) {
    std::fprintf(stderr, "temporary file left behind\n");
    std::abort();
  }
  return 0;
}
