// Taking images out of an opened package: the entry walk with split images, and the extraction
// of one sub file through two temporary files (stored data deciphered into the first, inflated
// into the second, checked, then read back).
#include <fcntl.h>
#include <unistd.h>

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

constexpr unsigned kInflateBlock = 256 * 1024;

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

bool PreadAll(int fd, uint8_t* out, size_t size, uint64_t offset) {
  while (size > 0) {
    ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    offset += static_cast<uint64_t>(n);
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

  TempFile stored = TempFile::CreateUnique("DZ");
  if (!stored.Valid()) return false;

  // Copy loop: the key stream restarts with every chunk.
  {
    DzDecryptor decryptor;
    std::vector<uint8_t> chunk(dz::kChunkSize);
    uint64_t from = position_;
    uint64_t remaining = h.storedSize;
    while (remaining > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, chunk.size()));
      if (!ReadAt(from, chunk.data(), n)) {
        Fail("Error Unexpected End of Sub File Data");
        return false;
      }
      if (h.enciphered) decryptor.DecryptChunk(chunk.data(), n);
      if (!WriteAll(stored.Fd(), chunk.data(), n)) {
        Fail("Fail to write local temp file to save decrypted data");
        return false;
      }
      from += n;
      remaining -= n;
      Report("copy", h.storedSize - remaining, h.storedSize);
    }
  }
  if (!stored.CloseFd()) {
    Fail("Fail to write local temp file to save decrypted data");
    return false;
  }

  // The inflated data may not pass the total size their sub header announces, nor, for a part
  // of a split image, the room its earlier parts left in the image.
  const uint64_t room = limit - std::min<uint64_t>(limit, at);
  const uint64_t bound = std::min<uint64_t>(h.totalSize, room);
  TempFile inflated;
  bool overBound = false;
  const uint64_t total = InflateFileTo(stored.Path(), stored.Path() + SafeNameSuffix(h.name), bound,
                                       inflated, overBound);
  if (overBound) {
    Fail(room < h.totalSize ? "Error Split Image Larger Than Its Total Size"
                            : "Error Image Larger Than Its Total Size");
    return false;
  }
  if (total == 0) {
    Wrap("Fail to decompressed Header. %s");
    return false;
  }
  if (!data.Resize(at + total)) {
    Fail("Error Not Enough Memory");
    return false;
  }
  // Read-back in chunks straight into the result.
  for (uint64_t done = 0; done < total;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(total - done, dz::kChunkSize));
    if (!PreadAll(inflated.Fd(), data.data() + at + done, n, done)) {
      data.Resize(at);
      Fail("Failed to read back decompressed data");
      return false;
    }
    done += n;
  }
  produced = total;
  return true;
}

uint64_t DzArchive::InflateFile(const std::string& source, const std::string& destination) {
  TempFile output;
  bool overTotal = false;
  const uint64_t total =
      InflateFileTo(source, destination, std::numeric_limits<uint64_t>::max(), output, overTotal);
  if (total) output.Release();
  return total;
}

uint64_t DzArchive::InflateFileTo(const std::string& source, const std::string& destination,
                                  uint64_t bound, TempFile& output, bool& overBound) {
  overBound = false;
  GzipFile gz;
  if (::access(source.c_str(), W_OK) != 0 || !gz.Open(source, GzipFile::kRead)) {
    Fail("Failed to open local temp file to be decompress");
    return 0;
  }
  // Exclusive creation: an existing file of that name is never overwritten.
  output = TempFile::CreateExclusive(destination);
  if (!output.Valid()) {
    Fail("Failed to open file to write decompressed data");
    return 0;
  }
  std::vector<uint8_t> block(kInflateBlock);
  Md5 md5;
  uint64_t total = 0;
  int n = 0;
  while ((n = gz.Read(block.data(), kInflateBlock)) > 0) {
    // Data that inflate past the announced size stop here, before the excess is written.
    if (static_cast<uint64_t>(n) > bound - total) {
      overBound = true;
      Fail("Error Image Larger Than Its Total Size");
      return 0;
    }
    md5.Update(block.data(), static_cast<size_t>(n));
    if (!WriteAll(output.Fd(), block.data(), static_cast<size_t>(n))) {
      Fail("Failed to write decompressed data");
      return 0;
    }
    total += static_cast<uint64_t>(n);
    if (total > std::numeric_limits<uint32_t>::max()) {
      Fail("Error Image Too Large");
      return 0;
    }
    Report("inflate", total, bound == std::numeric_limits<uint64_t>::max() ? total : bound);
  }
  if (n < 0 || total == 0) {
    Fail("Error Invalid Image Hash Code");
    return 0;
  }
  if (md5.Final() != imageDigest_) {
    Fail("Error Invalid Hash Code");
    return 0;
  }
  return total;
}

}  // namespace tr52
