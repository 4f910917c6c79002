// Taking images out of an opened package: the entry walk with split images, and the extraction
// of one sub file: its stored data deciphered into a temporary file without a name (nothing is
// left behind, whatever ends the process), inflated from there straight into the result and
// checked against the image digest on the way.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <vector>

#include "package/dz_archive.h"
#include "package/dz_decryptor.h"
#include "package/dz_format.h"
#include "package/gzip_file.h"

namespace tr52 {

namespace {

// Inflated a block at a time straight into the result, each block's digest taken while it is
// still in the cache; the gzip reader inflates blocks this large without its own buffer.
constexpr unsigned kInflateBlock = 256 * 1024;
// Stored data are copied (and deciphered) in blocks of this many bytes, a multiple of the
// cipher's chunk.
constexpr size_t kCopyBlock = 64 * dz::kChunkSize;
// The most reserved for an image before a byte of it is inflated.
constexpr uint64_t kFirstReserve = uint64_t{512} << 20;

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string DzArchive::SafeNameSuffix(const std::string& subFileName) {
  std::string safe(subFileName);
  for (char& ch : safe) {
    const auto c = static_cast<unsigned char>(ch);
    const bool keep = c < 0x80 && (std::isalnum(c) != 0 || c == '.' || c == '-' || c == '_');
    if (!keep) ch = '_';
  }
  if (safe.empty()) safe.push_back('_');
  return safe;
}

std::string DzArchive::MakeTempPath() {
  return TempFile::CreateUnique("DZ").Release();
}

bool DzArchive::ReadImage(uint32_t type, std::string& name, ImageBuffer& data, uint32_t& size) {
  if (!open_) {
    Fail("File Not Opened");
    return false;
  }
  const uint32_t partSize = dz::PartSize(version_);
  const std::vector<DzEntry> entries = entries_;
  uint32_t appended = 0;    // parts of a split image joined so far
  uint32_t needed = 0;      // parts the split image has
  uint32_t splitTotal = 0;  // its total size, from part 0
  bool splitSeen = false;

  for (;;) {
    bool progressed = false;
    for (const DzEntry& e : entries) {
      DzSubHeader h;
      if (!ReadSubHeaderAt(e.offset, h)) h = DzSubHeader{};  // unreadable: taken as all zeros
      const bool split = partSize != 0 && h.totalSize >= partSize;
      if (e.key != type) continue;
      if (e.offset == 0) {
        Fail("Error Invalid File Index in dz file");
        return false;
      }
      if (!split) {
        data.Clear();
        size = 0;
        uint64_t produced = 0;
        if (!ExtractInto(e.offset, name, data, 0, std::numeric_limits<uint32_t>::max(), produced)) {
          Wrap("Error Reading Sub File : %s");
          return false;
        }
        size = static_cast<uint32_t>(produced);
        return true;
      }
      splitSeen = true;
      if (h.partIndex != appended) continue;
      if (appended == 0) {
        splitTotal = h.totalSize;
        needed = splitTotal / partSize + 1;
        data.Clear();
        size = 0;
      }
      std::string partName;
      uint64_t produced = 0;
      if (!ExtractInto(e.offset, partName, data, size, splitTotal, produced)) {
        Wrap("Error Reading Sub File : %s");
        return false;
      }
      if (appended == 0) {
        partName.resize(partName.size() >= 2 ? partName.size() - 2 : 0);
        name = partName;
      }
      size += static_cast<uint32_t>(produced);
      ++appended;
      progressed = true;
      if (appended == needed) return true;
    }
    if (!splitSeen) return true;  // no entry carries the key
    if (!progressed) {
      char msg[96];
      std::snprintf(msg, sizeof msg,
                    "Error Reading Sub File : Error Missing Part %u of Split Image", appended);
      Fail(msg);
      return false;
    }
  }
}

bool DzArchive::ExtractSubFile(uint32_t offset, std::string& name, ImageBuffer& data,
                               uint32_t& size) {
  ImageBuffer out;
  uint64_t produced = 0;
  if (!ExtractInto(offset, name, out, 0, std::numeric_limits<uint32_t>::max(), produced))
    return false;
  data = std::move(out);
  size = static_cast<uint32_t>(produced);
  return true;
}

bool DzArchive::ExtractInto(uint32_t offset, std::string& name, ImageBuffer& data, size_t at,
                            uint64_t limit, uint64_t& produced) {
  produced = 0;
  if (!SeekSubHeader(offset)) return false;
  DzSubHeader h;
  if (!ReadSubHeader(h)) {
    Wrap("Fail to read Sub Header : %s");
    return false;
  }
  name = h.name;

  TempFile stored = TempFile::CreateAnonymous("DZ");
  if (!stored.Valid()) {
    Fail("Fail to open local temp file to save decrypted data");
    return false;
  }

  // Copy loop: the stored data read and written in large blocks, each 16,384-byte chunk of a
  // block deciphered from the start of the key stream.
  {
    DzDecryptor decryptor;
    std::vector<uint8_t> block(kCopyBlock);
    uint64_t from = position_;
    uint64_t remaining = h.storedSize;
    while (remaining > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, block.size()));
      if (!ReadAt(from, block.data(), n)) {
        Fail("Error Unexpected End of Sub File Data");
        return false;
      }
      for (size_t k = 0; k < n; k += dz::kChunkSize) {
        const size_t chunk = std::min(dz::kChunkSize, n - k);
        if (h.enciphered) decryptor.DecryptChunk(block.data() + k, chunk);
        Report("copy", h.storedSize - remaining + k + chunk, h.storedSize);
      }
      if (!WriteAll(stored.Fd(), block.data(), n)) {
        Fail("Fail to write local temp file to save decrypted data");
        return false;
      }
      from += n;
      remaining -= n;
    }
  }

  // The inflated data may not pass the total size their sub header announces, nor, for a part
  // of a split image, the room its earlier parts left in the image. They are inflated straight
  // into the result behind its first `at` bytes.
  const uint64_t room = limit - std::min<uint64_t>(limit, at);
  const uint64_t bound = std::min<uint64_t>(h.totalSize, room);
  bool overBound = false;
  GzipFile gz;
  if (!gz.OpenFd(stored.Fd())) {
    Fail("Failed to open local temp file to be decompress");
    return false;
  }
  const uint64_t total = InflateInto(gz, bound, data, at, overBound);
  if (overBound) {
    Fail(room < h.totalSize ? "Error Split Image Larger Than Its Total Size"
                            : "Error Image Larger Than Its Total Size");
    return false;
  }
  if (total == 0) {
    Wrap("Fail to decompressed Header. %s");
    return false;
  }
  produced = total;
  return true;
}

uint64_t DzArchive::InflateFile(const std::string& source, const std::string& destination) {
  GzipFile gz;
  if (::access(source.c_str(), W_OK) != 0 || !gz.Open(source, GzipFile::kRead)) {
    Fail("Failed to open local temp file to be decompress");
    return 0;
  }
  // Exclusive creation: an existing file of that name is never overwritten.
  TempFile output = TempFile::CreateExclusive(destination);
  if (!output.Valid()) {
    Fail("Failed to open file to write decompressed data");
    return 0;
  }
  ImageBuffer inflated;
  bool overBound = false;
  const uint64_t total =
      InflateInto(gz, std::numeric_limits<uint64_t>::max(), inflated, 0, overBound);
  if (total == 0) return 0;
  if (!WriteAll(output.Fd(), inflated.data(), inflated.size())) {
    Fail("Failed to write decompressed data");
    return 0;
  }
  output.Release();
  return total;
}

uint64_t DzArchive::InflateInto(GzipFile& gz, uint64_t bound, ImageBuffer& data, size_t at,
                                bool& overBound) {
  overBound = false;
  // Whatever happens below, the result keeps only its first `at` bytes unless the whole image
  // came out right.
  auto failed = [&](const char* message) -> uint64_t {
    data.Resize(at);
    Fail(message);
    return 0;
  };
  // Room for the announced size (and one byte more, to see data that pass it) up to a sane
  // limit; past that the buffer doubles. Pages not written to are never resident.
  const uint64_t bounded = bound == std::numeric_limits<uint64_t>::max() ? 0 : bound + 1;
  if (!data.Resize(at + static_cast<size_t>(std::min<uint64_t>(bounded, kFirstReserve))))
    return failed("Error Not Enough Memory");
  Md5 md5;
  uint64_t total = 0;
  int n = 0;
  for (;;) {
    // At most one byte past the bound is ever read: that byte alone shows the overrun.
    const uint64_t left = bound - total;
    const unsigned ask = left >= kInflateBlock ? kInflateBlock : static_cast<unsigned>(left + 1);
    const uint64_t need = at + total + ask;
    if (data.size() < need &&
        !data.Resize(static_cast<size_t>(std::max<uint64_t>(need, at + 2 * total))))
      return failed("Error Not Enough Memory");
    uint8_t* out = data.data() + at + total;
    n = gz.Read(out, ask);
    if (n <= 0) break;
    // Data that inflate past the announced size stop here.
    if (static_cast<uint64_t>(n) > bound - total) {
      overBound = true;
      return failed("Error Image Larger Than Its Total Size");
    }
    md5.Update(out, static_cast<size_t>(n));  // while the block is still in the cache
    total += static_cast<uint64_t>(n);
    if (total > std::numeric_limits<uint32_t>::max()) return failed("Error Image Too Large");
    Report("inflate", total, bound == std::numeric_limits<uint64_t>::max() ? total : bound);
  }
  if (n < 0 || total == 0) return failed("Error Invalid Image Hash Code");
  if (md5.Final() != imageDigest_) return failed("Error Invalid Hash Code");
  data.Resize(at + total);
  return total;
}

}  // namespace tr52
