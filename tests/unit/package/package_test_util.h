// Building and patching test packages.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dz_writer.h"

namespace tr52test {

// Compressible bytes that still differ from image to image (a short pattern with a counter).
inline std::vector<uint8_t> PatternData(size_t size, uint32_t seed) {
  std::vector<uint8_t> d(size);
  for (size_t i = 0; i < size; ++i)
    d[i] = static_cast<uint8_t>((i % 251) ^ (seed * 37) ^ ((i >> 16) & 0xFF));
  return d;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct TestImage {
  uint32_t key;
  std::string name;
  std::vector<uint8_t> data;
  bool enciphered = false;
};

// Writes a package; returns the sub files as written.
inline std::vector<tr52::DzWrittenEntry> BuildPackage(const std::string& path,
                                                      const std::vector<TestImage>& images,
                                                      tr52::DzWriterOptions options = {}) {
  if (options.compressionLevel == 6) options.compressionLevel = 1;  // fast in tests
  tr52::DzWriter w(options);
  for (const auto& img : images) w.Add({img.key, img.name, img.enciphered, img.data});
  if (!w.Write(path)) return {};
  return w.Written();
}

// Names of the entries of a folder (without "." and "..").
inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  return names;
}

}  // namespace tr52test
