#include "dz_writer.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/byte_reader.h"
#include "package/dz_decryptor.h"
#include "package/dz_format.h"
#include "platform/atomic_file.h"
#include "platform/crypto.h"

namespace tr52 {

namespace {

// The package under construction: a temporary file beside the target, written at any offset
// and put in the target's place whole by Finish.
class OutFile {
 public:
  explicit OutFile(const std::string& path) : file_(path) {}
  bool Ok() const { return file_.Fd() >= 0; }
  const std::string& Error() const { return file_.Error(); }
  uint64_t Position() const { return pos_; }
  bool Write(const void* data, size_t size) {
    if (!PWrite(data, size, pos_)) return false;
    pos_ += size;
    return true;
  }
  bool PWrite(const void* data, size_t size, uint64_t at) {
    auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
      ssize_t n = ::pwrite(file_.Fd(), p, size, static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      at += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  bool Finish() { return file_.Commit(); }

 private:
  AtomicFileWriter file_;
  uint64_t pos_ = 0;
};

// Collects stored bytes into 16,384-byte chunks, enciphers each from the start of the key
// stream when asked to, and writes them out.
class ChunkSink {
 public:
  ChunkSink(OutFile& out, bool encipher) : out_(out), encipher_(encipher) {
    chunk_.reserve(dz::kChunkSize);
  }
  bool Put(const uint8_t* data, size_t size) {
    while (size > 0) {
      size_t n = std::min(size, dz::kChunkSize - chunk_.size());
      chunk_.insert(chunk_.end(), data, data + n);
      data += n;
      size -= n;
      if (chunk_.size() == dz::kChunkSize && !Flush()) return false;
    }
    return true;
  }
  bool Flush() {
    if (chunk_.empty()) return true;
    if (encipher_) cipher_.EncryptChunk(chunk_.data(), chunk_.size());
    bool ok = out_.Write(chunk_.data(), chunk_.size());
    stored_ += chunk_.size();
    chunk_.clear();
    return ok;
  }
  uint64_t Stored() const { return stored_; }

 private:
  OutFile& out_;
  bool encipher_;
  DzDecryptor cipher_;
  std::vector<uint8_t> chunk_;
  uint64_t stored_ = 0;
};

void PutDigest(uint8_t* at, const Md5Digest& d) {
  std::memcpy(at, d.data(), d.size());
}

}  // namespace

bool DzWriter::Write(const std::string& path) {
  written_.clear();
  error_.clear();
  const uint32_t partSize = dz::PartSize(options_.version);
  uint64_t totalInput = 0;
  for (const auto& img : images_) totalInput += img.data.size();

  OutFile out(path);
  if (!out.Ok()) {
    error_ = out.Error();
    return false;
  }

  // Main header.
  uint8_t main[dz::kMainHeaderSize] = {};
  StoreU32le(main + 0, dz::kMainMagic1);
  StoreU32le(main + 4, dz::kMainMagic2);
  StoreU32le(main + dz::kMainVersion, options_.version);
  std::memcpy(main + dz::kMainModel, options_.model.data(),
              std::min(options_.model.size(), dz::kMainModelWidth));
  PutDigest(main + dz::kMainDigest, Md5::Of(main, dz::kMainDigest));
  if (!out.Write(main, sizeof main)) {
    error_ = "write failed";
    return false;
  }

  std::vector<std::pair<uint32_t, uint32_t>> table;
  uint64_t done = 0;
  std::vector<uint8_t> zbuf(1 << 16);
  for (const auto& img : images_) {
    if (img.data.size() > UINT32_MAX) {
      error_ = "image " + img.name + " is larger than 4 GiB";
      return false;
    }
    const uint32_t total = static_cast<uint32_t>(img.data.size());
    const bool split = partSize != 0 && total >= partSize;
    const uint32_t parts = split ? total / partSize + 1 : 1;
    uint64_t from = 0;
    for (uint32_t part = 0; part < parts; ++part) {
      const uint64_t len = total / parts + (part < total % parts ? 1 : 0);
      std::span<const uint8_t> piece = img.data.subspan(from, len);
      from += len;

      const uint64_t headerAt = out.Position();
      if (headerAt > UINT32_MAX) {
        error_ = "package larger than 4 GiB";
        return false;
      }
      uint8_t sub[dz::kSubHeaderSize] = {};
      if (!out.Write(sub, sizeof sub)) {  // placeholder, rewritten below
        error_ = "write failed";
        return false;
      }
      ChunkSink sink(out, img.enciphered);
      bool ok = true;
      if (options_.compressionLevel < 0) {
        ok = sink.Put(piece.data(), piece.size());
        done += piece.size();
      } else {
        z_stream z{};
        if (deflateInit2(&z, options_.compressionLevel, Z_DEFLATED, 15 + 16, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK) {
          error_ = "zlib initialisation failed";
          return false;
        }
        size_t offset = 0;
        int rc = Z_OK;
        do {
          const size_t step = std::min<size_t>(piece.size() - offset, 1 << 20);
          z.next_in = const_cast<Bytef*>(piece.data() + offset);
          z.avail_in = static_cast<uInt>(step);
          offset += step;
          const int flush = offset == piece.size() ? Z_FINISH : Z_NO_FLUSH;
          do {
            z.next_out = zbuf.data();
            z.avail_out = static_cast<uInt>(zbuf.size());
            rc = deflate(&z, flush);
            ok = ok && sink.Put(zbuf.data(), zbuf.size() - z.avail_out);
          } while (z.avail_out == 0);
          done += step;
          if (progress_) progress_(done, totalInput);
        } while (rc != Z_STREAM_END && ok);
        deflateEnd(&z);
      }
      ok = ok && sink.Flush();
      if (!ok) {
        error_ = "write failed";
        return false;
      }
      if (sink.Stored() == 0 || sink.Stored() > UINT32_MAX) {
        error_ = "image " + img.name + ": nothing to store (an empty image needs compression)";
        return false;
      }
      StoreU32le(sub + 0, dz::kSubMagic);
      StoreU32le(sub + dz::kSubEnciphered, img.enciphered ? 1 : 0);
      StoreU32le(sub + dz::kSubStoredSize, static_cast<uint32_t>(sink.Stored()));
      const std::string name = split ? img.name + "_" + std::to_string(part) : img.name;
      std::memcpy(sub + dz::kSubName, name.data(), std::min(name.size(), dz::kSubNameWidth - 1));
      StoreU32le(sub + dz::kSubTotalSize, total);
      StoreU32le(sub + dz::kSubPartIndex, part);
      PutDigest(sub + dz::kSubImageDigest, Md5::Of(piece.data(), piece.size()));
      PutDigest(sub + dz::kSubDigest, Md5::Of(sub, dz::kSubDigest));
      if (!out.PWrite(sub, sizeof sub, headerAt)) {
        error_ = "write failed";
        return false;
      }
      table.emplace_back(img.key, static_cast<uint32_t>(headerAt));
      written_.push_back({img.key, static_cast<uint32_t>(headerAt),
                          static_cast<uint32_t>(sink.Stored()), part, total});
    }
  }
  if (table.size() > 127) {
    error_ = "too many sub files (at most 127)";
    return false;
  }
  if (options_.reverseTable) std::reverse(table.begin(), table.end());
  const std::vector<uint8_t> t = DzMakeTable(table);
  uint8_t word[4];
  const Md5Digest td = Md5::Of(t.data(), t.size());
  StoreU32le(word, dz::kOffsetMagic1);
  bool ok = out.Write(word, 4) && out.Write(td.data(), td.size()) && out.Write(t.data(), t.size());
  StoreU32le(word, dz::kOffsetMagic2);
  ok = ok && out.Write(word, 4);
  if (!ok) {
    error_ = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!out.Finish()) {
    error_ = out.Error();
    return false;
  }
  return true;
}

std::vector<uint8_t> DzMakeTable(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
  std::vector<uint8_t> t(8 + 8 * entries.size());
  StoreU32le(t.data(), static_cast<uint32_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    StoreU32le(&t[4 + 8 * i], entries[i].first);
    StoreU32le(&t[8 + 8 * i], entries[i].second);
  }
  StoreU32le(&t[t.size() - 4], static_cast<uint32_t>(t.size()));
  return t;
}

void DzRehashMainHeader(std::vector<uint8_t>& package) {
  if (package.size() < dz::kMainHeaderSize) return;
  PutDigest(&package[dz::kMainDigest], Md5::Of(package.data(), dz::kMainDigest));
}

void DzRehashSubHeader(std::vector<uint8_t>& package, uint32_t offset) {
  if (package.size() < offset + dz::kSubHeaderSize) return;
  PutDigest(&package[offset + dz::kSubDigest], Md5::Of(&package[offset], dz::kSubDigest));
}

void DzRewriteTrailer(std::vector<uint8_t>& package, int32_t oldTableSize,
                      const std::vector<uint8_t>& table) {
  const size_t drop = dz::kTrailerOverhead + static_cast<size_t>(oldTableSize);
  package.resize(package.size() >= drop ? package.size() - drop : 0);
  uint8_t word[4];
  StoreU32le(word, dz::kOffsetMagic1);
  package.insert(package.end(), word, word + 4);
  const Md5Digest d = Md5::Of(table.data(), table.size());
  package.insert(package.end(), d.begin(), d.end());
  package.insert(package.end(), table.begin(), table.end());
  StoreU32le(word, dz::kOffsetMagic2);
  package.insert(package.end(), word, word + 4);
}

}  // namespace tr52
