#include "package/dz_archive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/byte_reader.h"
#include "package/dz_format.h"

namespace tr52 {

void DzArchive::Wrap(const char* format) {
  // The formats are fixed texts with one "%s"; the message can be of any length.
  std::string f(format);
  size_t at = f.find("%s");
  lastError_ = f.substr(0, at) + lastError_ + f.substr(at + 2);
}

bool DzArchive::ReadAt(uint64_t offset, void* buffer, size_t size) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool DzArchive::Open(const std::string& path) {
  if (path.size() < 2 || path.compare(path.size() - 2, 2, "dz") != 0) {
    Fail("Error Invalid root path while try to open Archive File ");
    return false;
  }
  if (open_ || fd_ >= 0) Close();
  haveMainHeader_ = false;
  version_ = 0;

  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;  // no message, as a missing file has none

  // Read-only: the reader never writes, so a read-only package must open. Non-blocking, and
  // only a regular file is taken: a FIFO or a device named as the package would otherwise hold
  // the download (and the image lock) until someone writes to it. The exclusive lock makes a
  // second reader's open of the same package fail while this one reads it.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0 &&
      (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
       ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) {
    Fail("Error4 Open Failed");
    return false;
  }
  fd_ = fd;
  open_ = true;
  length_ = static_cast<uint64_t>(st.st_size);
  position_ = 0;

  if (!ReadOffsetTable()) {
    Wrap("Error5 Invalid Reading Offset Table : %s");
    Close();
    return false;
  }
  if (!ReadMainHeader()) {
    Wrap("Error6 Invalid Main Header : %s");
    Close();
    return false;
  }
  return true;
}

bool DzArchive::ReadOffsetTable() {
  uint8_t word[4];
  if (length_ < 4 || !ReadAt(length_ - 4, word, 4) || LoadU32le(word) != dz::kOffsetMagic2) {
    Fail("Error Invalid OFFSET_MAGIC2 of OffsetTable");
    return false;
  }
  int32_t tableSize = -1;
  if (length_ >= 8 && ReadAt(length_ - 8, word, 4))
    tableSize = static_cast<int32_t>(LoadU32le(word));
  if (tableSize < 0 || tableSize > dz::kMaxTableSize) {
    Fail("Error Invalid total offset size...more than need");
    return false;
  }
  const uint64_t s = static_cast<uint64_t>(tableSize);
  std::vector<uint8_t> table(s);
  if (length_ < dz::kTrailerOverhead + s || !ReadAt(length_ - dz::kTrailerOverhead - s, word, 4) ||
      LoadU32le(word) != dz::kOffsetMagic1) {
    Fail("Error Invalid OFFSET_MAGIC1 of OffsetTable");
    return false;
  }
  Md5Digest stored{};
  if (!ReadAt(length_ - 20 - s, stored.data(), stored.size()) ||
      !ReadAt(length_ - 4 - s, table.data(), table.size()) ||
      Md5::Of(table.data(), table.size()) != stored) {
    Fail("Error in HashCode(Offset Table)");
    return false;
  }

  // The count, then 8-byte entries; the table's last word is its own size. Only entries that
  // lie wholly before that word are taken, whatever the count claims.
  entries_.clear();
  ByteReader r(table.data(), table.size());
  auto count = r.U32le();
  if (!count) return true;
  const int32_t n = static_cast<int32_t>(*count);
  const size_t fit = table.size() >= 8 ? (table.size() - 8) / 8 : 0;
  for (int32_t i = 0; i < n && static_cast<size_t>(i) < fit; ++i) {
    DzEntry e;
    e.key = *r.U32le();
    e.offset = *r.U32le();
    entries_.push_back(e);
  }
  return true;
}

bool DzArchive::ReadMainHeader() {
  std::array<uint8_t, dz::kMainHeaderSize> h{};
  position_ = 0;
  if (length_ < h.size() || !ReadAt(0, h.data(), h.size()) || LoadU32le(&h[0]) != dz::kMainMagic1 ||
      LoadU32le(&h[4]) != dz::kMainMagic2) {
    Fail("Error Invalid Magic Code of Main Header.");
    return false;
  }
  const uint32_t version = LoadU32le(&h[dz::kMainVersion]);
  if (version < 1 || version > 3) {
    Fail("Error Invalid Version of Main Header.");
    return false;
  }
  Md5Digest stored{};
  std::memcpy(stored.data(), &h[dz::kMainDigest], stored.size());
  if (Md5::Of(h.data(), dz::kMainDigest) != stored) {
    Fail("Error in hash value(main header.");
    return false;
  }
  version_ = version;
  mainHeader_ = h;
  haveMainHeader_ = true;
  position_ = h.size();
  return true;
}

void DzArchive::Close() {
  if (fd_ >= 0) ::close(fd_);  // also drops the lock
  fd_ = -1;
  open_ = false;
  length_ = 0;
  position_ = 0;
  entries_.clear();
}

std::string DzArchive::ModelName() const {
  if (!haveMainHeader_) return std::string();
  ByteReader r(mainHeader_.data(), mainHeader_.size());
  if (!r.Seek(dz::kMainModel)) return std::string();
  return r.FixedText(dz::kMainModelWidth).value_or(std::string());
}

bool DzArchive::SeekSubHeader(uint32_t offset) {
  if (!open_) return false;
  if (offset == 0) {
    Fail("Invalid Parameter... currentOffSet = 0 || pObjSubFileList =NULL");
    return false;
  }
  if (offset > length_) {
    Fail("It reached invalid position instead of the current offset value.");
    return false;
  }
  position_ = offset;
  return position_ != length_;
}

bool DzArchive::ReadSubHeaderAt(uint32_t offset, DzSubHeader& header) {
  return SeekSubHeader(offset) && ReadSubHeader(header);
}

bool DzArchive::ReadSubHeader(DzSubHeader& header) {
  if (!open_) return false;
  std::array<uint8_t, dz::kSubHeaderSize> h{};
  const bool whole = position_ + h.size() <= length_ && ReadAt(position_, h.data(), h.size());
  if (!whole || LoadU32le(&h[0]) != dz::kSubMagic || LoadU32le(&h[dz::kSubStoredSize]) == 0) {
    Fail("Error Invalid Sub Header(Invalid SubHeader Magic Code|Size|Index).");
    return false;
  }
  Md5Digest stored{};
  std::memcpy(stored.data(), &h[dz::kSubDigest], stored.size());
  if (Md5::Of(h.data(), dz::kSubDigest) != stored) {
    Fail("Error Invalid Hash Code of Sub Header.");
    return false;
  }
  ByteReader r(h.data(), h.size());
  // Inside the fixed-size header whose fields are read below: fails only with a wrong layout.
  if (!r.Seek(dz::kSubEnciphered)) return false;
  header.enciphered = *r.U32le();
  header.storedSize = *r.U32le();
  header.name = *r.FixedText(dz::kSubNameWidth);
  header.totalSize = *r.U32le();
  header.partIndex = *r.U32le();
  std::memcpy(header.imageDigest.data(), &h[dz::kSubImageDigest], 16);
  imageDigest_ = header.imageDigest;
  position_ += h.size();
  return true;
}

}  // namespace tr52
