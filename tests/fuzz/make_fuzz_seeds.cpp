// Writes seed inputs for every fuzz target with the project's own writers, in the shapes real
// data has: whole packages of the download's images (plain, enciphered, stored, reversed table,
// every container version; split images stay with the small hand-made seeds, as a real split
// inflates 80 MiB per input and slows fuzzing a hundredfold), EFS images with many objects, NV
// backup files of thousands of records, frames of the commands a download sends, port table
// entries, COM maps. scripts/fuzz-seeds merges them into the committed corpora, keeping only those
// that reach new code.
//
//   make_fuzz_seeds OUTDIR   writes OUTDIR/<target>/<seed>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dz_writer.h"
#include "link/com_map.h"
#include "link/frame_codec.h"
#include "package/image_type.h"
#include "phonedata/efs2_image.h"
#include "phonedata/efs2_image_writer.h"
#include "phonedata/nv_backup_set.h"
#include "phonedata/nv_record.h"
#include "platform/port_table.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Deterministic bytes: `runs` makes them compressible the way firmware is (repeated stretches).
Bytes Filler(size_t size, uint32_t seed, bool runs = true) {
  Bytes out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    if (!runs || (i / 64) % 3 == 0) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
    }
    out[i] = static_cast<uint8_t>(x >> ((i % 4) * 8));
  }
  return out;
}

class SeedDir {
 public:
  SeedDir(const fs::path& root, const std::string& target) : dir_(root / target) {
    fs::create_directories(dir_);
  }
  bool Put(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
  }
  const fs::path& Path() const { return dir_; }

 private:
  fs::path dir_;
};

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The fuzz target reads its first byte as a mode: 0 opens the rest as it is, 1 rewrites the
// header and table digests first (so that mutations reach the sub files).
bool PutPackage(const SeedDir& dir, const std::string& name, tr52::DzWriter& writer) {
  const fs::path tmp = dir.Path() / (name + ".tmp");
  if (!writer.Write(tmp.string())) {
    std::fprintf(stderr, "make_fuzz_seeds: %s: %s\n", name.c_str(), writer.Error().c_str());
    return false;
  }
  Bytes package = ReadFile(tmp);
  fs::remove(tmp);
  Bytes asIs{0};
  asIs.insert(asIs.end(), package.begin(), package.end());
  Bytes fixed{1};
  fixed.insert(fixed.end(), package.begin(), package.end());
  return dir.Put(name, asIs) && dir.Put("fixdigests_" + name, fixed);
}

bool WritePackages(const fs::path& root) {
  const SeedDir dir(root, "dz");
  // The images of a download, small: boot loaders, logo, AMSS enciphered as packages carry it.
  const std::vector<std::pair<int, size_t>> download = {
      {tr52::IMAGE_PARTITION_TBL, 300}, {tr52::IMAGE_DBL, 3000},  {tr52::IMAGE_FSBL, 2000},
      {tr52::IMAGE_OSBL, 5000},         {tr52::IMAGE_AMSS, 9000}, {tr52::IMAGE_EFS_GANG, 4000},
      {tr52::IMAGE_FLEXIBLE_LOGO, 1500}};
  std::vector<Bytes> data;
  for (const auto& [type, size] : download) data.push_back(Filler(size, type));

  struct Shape {
    const char* name;
    uint32_t version;
    int level;
    bool enciphered;
    bool reversed;
  };
  const Shape shapes[] = {
      {"download_v3_enciphered.dz", 3, 6, true, false},
      {"download_v3_plain_reversed.dz", 3, 9, false, true},
      {"download_v2_stored.dz", 2, -1, false, false},
      {"download_v1_enciphered.dz", 1, 1, true, false},
  };
  bool ok = true;
  for (const Shape& shape : shapes) {
    tr52::DzWriterOptions options;
    options.version = shape.version;
    options.compressionLevel = shape.level;
    options.reverseTable = shape.reversed;
    tr52::DzWriter writer(options);
    for (size_t i = 0; i < download.size(); ++i) {
      const int type = download[i].first;
      writer.Add({static_cast<uint32_t>(type), tr52::ImageTypeName(type),
                  shape.enciphered && type == tr52::IMAGE_AMSS, data[i]});
    }
    ok = PutPackage(dir, shape.name, writer) && ok;
  }

  // Another model's package: the model check reads past the images.
  tr52::DzWriterOptions other;
  other.model = "TR53";
  tr52::DzWriter foreign(other);
  foreign.Add({tr52::IMAGE_DBL, "DBL", false, data[1]});
  ok = PutPackage(dir, "other_model_v3.dz", foreign) && ok;
  return ok;
}

bool WriteEfsImages(const fs::path& root) {
  const SeedDir dir(root, "efs_image");
  bool ok = true;
  struct Shape {
    const char* name;
    uint32_t kind;
    uint32_t version;
    int folders;
    int filesPerFolder;
  };
  const Shape shapes[] = {
      {"media_many_objects_v3", tr52::kEfs2KindMedia, 3, 24, 12},
      {"module_many_objects_v3", tr52::kEfs2KindModule, 3, 8, 30},
      {"media_nested_v2", tr52::kEfs2KindMedia, 2, 6, 4},
  };
  for (const Shape& shape : shapes) {
    tr52::Efs2ImageWriter writer(shape.kind, shape.version);
    writer.SetDescription("TR52 media set");
    std::string parent = "/brew";
    for (int f = 0; f < shape.folders; ++f) {
      // Every third folder goes one level deeper, as media sets nest.
      const std::string folder =
          (f % 3 == 2 ? parent : std::string("/brew")) + "/mod" + std::to_string(f);
      writer.AddDirectory(folder);
      if (f % 3 == 1) parent = folder;
      for (int i = 0; i < shape.filesPerFolder; ++i) {
        const size_t size = static_cast<size_t>((i * 37 + f * 11) % 300);
        writer.AddFile(folder + "/file" + std::to_string(i) + ".bin",
                       Filler(size, static_cast<uint32_t>(f * 100 + i)));
      }
    }
    ok = dir.Put(shape.name, writer.Build()) && ok;
  }
  return ok;
}

bool WriteNvBackups(const fs::path& root) {
  const SeedDir dir(root, "nvbackup_file");
  bool ok = true;
  for (const size_t count : {size_t{2000}, size_t{40}}) {
    const fs::path path = dir.Path() / ("backup_" + std::to_string(count) + "_records");
    tr52::NvBackupSet set;
    if (!set.Open(path.string(), tr52::NvBackupSet::kWrite)) return false;
    for (size_t i = 0; i < count; ++i) {
      tr52::NvRecord record;
      record.item = static_cast<uint16_t>(i * 3 % 7000);
      // Most items read back; some are inactive or denied, as on a phone.
      record.flag = i % 17 == 0 ? 0 : 1;
      record.status = i % 17 == 0 ? tr52::NV_NOTACTIVE_S : i % 29 == 0 ? tr52::NV_BADTG_S : 0;
      const Bytes bytes = Filler(tr52::NvRecord::kDataSize, static_cast<uint32_t>(i));
      std::copy(bytes.begin(), bytes.end(), record.data.begin());
      ok = set.Append(record) && ok;
    }
    ok = set.Flush() && ok;
    set.Close();
  }
  return ok;
}

bool WriteFrames(const fs::path& root) {
  const SeedDir dir(root, "frame");
  tr52::FrameCodec codec;
  auto stream = [&codec](const std::vector<Bytes>& payloads) {
    Bytes out;
    for (const Bytes& p : payloads) {
      if (!codec.ComputeTxCRC(p.data(), p.size())) continue;
      out.insert(out.end(), codec.TxBuffer(), codec.TxBuffer() + codec.TxLength());
    }
    return out;
  };
  // An NV read answer (133 bytes with flags and escapes in its data), a flash write of a block
  // full of flag and escape bytes, and a run of pipelined acknowledgements.
  Bytes nv(tr52::NvRecord::kSize, 0);
  nv[0] = tr52::kNvReadCommand;
  for (size_t i = 3; i < 131; ++i) nv[i] = static_cast<uint8_t>(i % 5 == 0 ? 0x7E : i);
  Bytes write(1 + 4 + 1024);
  write[0] = 0x0F;
  for (size_t i = 5; i < write.size(); ++i) write[i] = i % 3 == 0 ? 0x7D : 0x7E;
  std::vector<Bytes> acks;
  for (uint32_t n = 0; n < 16; ++n)
    acks.push_back({0x31, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0, 0});
  bool ok = dir.Put("nv_read_answer", stream({nv}));
  ok = dir.Put("flash_write_escapes", stream({write})) && ok;
  ok = dir.Put("pipelined_acks", stream(acks)) && ok;
  const SeedDir paths(root, "frame_paths");
  ok = paths.Put("flash_write_escapes", stream({write})) && ok;
  ok = paths.Put("mixed_stream", stream({nv, write, acks[0], acks[1]})) && ok;
  return ok;
}

bool WritePortEntries(const fs::path& root) {
  const SeedDir dir(root, "port_table");
  bool ok = true;
  const char* names[] = {"ZUM Mobile USB Serial Port (COM17)", "ZUM CDMA USB Serial Port (COM255)"};
  int com = 17;
  for (const char* name : names) {
    tr52::DeclaredPort port;
    port.devicePath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2.4:1.0";
    port.friendlyName = name;
    const std::string text = "COM" + std::to_string(com) + ".port\n" + tr52::FormatPortEntry(port);
    ok = dir.Put("entry_com" + std::to_string(com), Bytes(text.begin(), text.end())) && ok;
    com = 255;
  }
  return ok;
}

// COM maps as stations write them: a few hub positions, a full map (the first line a time stamp,
// which the target also reads), and one in the older format without times.
bool WriteComMaps(const fs::path& root) {
  const SeedDir dir(root, "com_map");
  auto put = [&dir](const std::string& name, const std::string& text) {
    return dir.Put(name, Bytes(text.begin(), text.end()));
  };
  const int64_t day = 86400, start = 1700000000;
  tr52::ComMap few, full;
  std::string older;
  for (int i = 0; i < 4; ++i) {
    const std::string hub = "pci-0000:00:14.0-usb-0:" + std::to_string(i + 1);
    (void)few.Assign(hub, {}, {}, start + i * day);
    (void)few.Assign(hub + ".1:1.2", {}, {}, start + i * day);
    older += "COM" + std::to_string(101 + i) + " " + hub + "\n";
  }
  for (int n = tr52::kFirstMappedCom; n <= tr52::kLastMappedCom; ++n)
    (void)full.Assign("usb-1:" + std::to_string(n), {}, {}, start + n * 60);
  bool ok = put("few_positions", few.Format());
  ok = put("full", tr52::FormatUtcStamp(start) + "\n" + full.Format()) && ok;
  ok = put("older_format", older) && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds OUTDIR\n");
    return 2;
  }
  const fs::path root = argv[1];
  bool ok = WritePackages(root);
  ok = WriteEfsImages(root) && ok;
  ok = WriteNvBackups(root) && ok;
  ok = WriteFrames(root) && ok;
  ok = WritePortEntries(root) && ok;
  ok = WriteComMaps(root) && ok;
  if (!ok) {
    std::fprintf(stderr, "make_fuzz_seeds: some seeds were not written\n");
    return 1;
  }
  return 0;
}
