// dztool: lists, verifies, extracts and builds .dz firmware packages.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/printable_text.h"
#include "dz_writer.h"
#include "package/dz_archive.h"
#include "package/image_store.h"
#include "platform/atomic_file.h"
#include "progress_bar.h"

namespace tr52 {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage:\n"
               "  dztool list PACKAGE\n"
               "  dztool verify PACKAGE\n"
               "  dztool extract PACKAGE TYPE OUT\n"
               "  dztool build OUT [--version 1|2|3] [--model NAME] [--level 0-9]\n"
               "               TYPE=FILE[,enc][,name=NAME] ...\n"
               "TYPE is an image type number (0-29) or name (AMSS, \"PARTITION TBL\", "
               "PARTITION_TBL, ...).\n");
  return 2;
}

// An image type from its number or its name (blanks and underscores alike, any case).
bool ParseType(const std::string& text, uint32_t& type) {
  char* end = nullptr;
  errno = 0;
  const unsigned long n = std::strtoul(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && errno == 0) {
    if (n > 0xFFFFFFFFul) return false;
    type = static_cast<uint32_t>(n);
    return true;
  }
  auto norm = [](std::string s) {
    for (char& c : s)
      c = c == '_' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  for (int t = 0; t < kImageTypeCount; ++t) {
    if (norm(ImageTypeName(t)) == norm(text)) {
      type = static_cast<uint32_t>(t);
      return true;
    }
  }
  return false;
}

// Text from a package (model and sub-file names) or a path, as printed: controls and bytes that
// are not UTF-8 escaped, so that none can act on the terminal.
std::string Shown(const std::string& text) {
  return PrintableText(text);
}

// Opens a package, telling apart the failures that leave no message.
bool OpenPackage(DzArchive& archive, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "dztool: %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  if (!archive.Open(path)) {
    std::fprintf(stderr, "dztool: %s: %s\n", path.c_str(), archive.LastError().c_str());
    return false;
  }
  return true;
}

void AttachProgress(DzArchive& archive, ProgressBar& bar, const std::string& what) {
  archive.SetProgress([&bar, what](const char* phase, uint64_t done, uint64_t total) {
    bar.Update(what + " (" + phase + ")", done, total);
  });
}

int List(const std::string& path) {
  DzArchive archive;
  if (!OpenPackage(archive, path)) return 1;
  std::printf("package: %s\nversion: %u\nmodel:   %s\nentries: %zu\n", Shown(path).c_str(),
              archive.Version(), Shown(archive.ModelName()).c_str(), archive.Entries().size());
  std::printf("%4s  %-18s %-32s %10s %10s %4s %4s\n", "key", "image", "sub file", "stored", "total",
              "enc", "part");
  int rc = 0;
  for (const DzEntry& e : archive.Entries()) {
    DzSubHeader h;
    if (!archive.ReadSubHeaderAt(e.offset, h)) {
      std::printf("%4u  %-18s (sub header at %u: %s)\n", e.key,
                  ImageTypeName(static_cast<int>(e.key)), e.offset, archive.LastError().c_str());
      rc = 1;
      continue;
    }
    std::printf("%4u  %-18s %-32s %10u %10u %4s %4u\n", e.key,
                ImageTypeName(static_cast<int>(e.key)), Shown(h.name).c_str(), h.storedSize,
                h.totalSize, h.enciphered ? "yes" : "no", h.partIndex);
  }
  return rc;
}

int Verify(const std::string& path) {
  DzArchive archive;
  if (!OpenPackage(archive, path)) return 1;
  std::printf("main header and offset table: ok (version %u, model %s)\n", archive.Version(),
              Shown(archive.ModelName()).c_str());
  int bad = 0;
  // Every sub header, then every image as the loader reads it (all parts joined).
  for (const DzEntry& e : archive.Entries()) {
    DzSubHeader h;
    if (!archive.ReadSubHeaderAt(e.offset, h)) {
      std::printf("sub header of key %u at %u: FAILED: Fail to read Sub Header : %s\n", e.key,
                  e.offset, archive.LastError().c_str());
      ++bad;
    }
  }
  std::map<uint32_t, bool> seen;
  ProgressBar bar;
  for (const DzEntry& e : archive.Entries()) {
    if (seen[e.key]) continue;
    seen[e.key] = true;
    const std::string what = ImageTypeName(static_cast<int>(e.key));
    AttachProgress(archive, bar, what);
    std::string name;
    ImageBuffer data;
    uint32_t size = 0;
    const bool ok = archive.ReadImage(e.key, name, data, size);
    bar.Done();
    DzSubHeader first;
    const bool haveTotal = archive.ReadSubHeaderAt(e.offset, first);
    if (ok && haveTotal && first.totalSize != size) {
      std::printf("image %u %s: FAILED: %u bytes read, but its sub header announces %u\n", e.key,
                  what.c_str(), size, first.totalSize);
      ++bad;
    } else if (ok) {
      std::printf("image %u %s (%s): ok, %u bytes, md5 %s\n", e.key, what.c_str(),
                  Shown(name).c_str(), size, Md5Hex(Md5::Of(data.data(), size)).c_str());
    } else {
      std::printf("image %u %s: FAILED: %s\n", e.key, what.c_str(), archive.LastError().c_str());
      ++bad;
    }
  }
  std::printf(bad ? "package is damaged (%d problems)\n" : "package is sound\n", bad);
  return bad ? 1 : 0;
}

int Extract(const std::string& path, const std::string& typeText, const std::string& out) {
  uint32_t type = 0;
  if (!ParseType(typeText, type)) {
    std::fprintf(stderr, "dztool: unknown image type '%s'\n", typeText.c_str());
    return 2;
  }
  DzArchive archive;
  if (!OpenPackage(archive, path)) return 1;
  ProgressBar bar;
  AttachProgress(archive, bar, ImageTypeName(static_cast<int>(type)));
  std::string name;
  ImageBuffer data;
  uint32_t size = 0;
  const bool ok = archive.ReadImage(type, name, data, size);
  bar.Done();
  if (!ok) {
    std::fprintf(stderr, "dztool: %s\n", archive.LastError().c_str());
    return 1;
  }
  if (size == 0) {
    std::fprintf(stderr, "dztool: the package holds no image of type %u (%s)\n", type,
                 ImageTypeName(static_cast<int>(type)));
    return 1;
  }
  // Replaced whole: a failed or interrupted extraction leaves an older file as it was.
  std::string error;
  if (!ReplaceFileAtomically(
          out, std::string_view(reinterpret_cast<const char*>(data.data()), size), error)) {
    std::fprintf(stderr, "dztool: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s (%s): %u bytes written to %s\n", ImageTypeName(static_cast<int>(type)),
              Shown(name).c_str(), size, Shown(out).c_str());
  return 0;
}

int Build(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string out = args[0];
  DzWriterOptions options;
  std::vector<std::vector<uint8_t>> contents;
  struct Spec {
    uint32_t key;
    std::string name;
    bool enc;
  };
  std::vector<Spec> specs;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* opt) -> const std::string* {
      if (a != opt || i + 1 >= args.size()) return nullptr;
      return &args[++i];
    };
    if (const std::string* v = value("--version")) {
      options.version = static_cast<uint32_t>(std::atoi(v->c_str()));
      if (options.version < 1 || options.version > 3) {
        std::fprintf(stderr, "dztool: version must be 1, 2 or 3\n");
        return 2;
      }
    } else if (const std::string* v = value("--model")) {
      options.model = *v;
    } else if (const std::string* v = value("--level")) {
      options.compressionLevel = std::atoi(v->c_str());
      if (options.compressionLevel < 0 || options.compressionLevel > 9) return Usage();
    } else {
      const size_t eq = a.find('=');
      if (eq == std::string::npos) return Usage();
      Spec s{0, "", false};
      if (!ParseType(a.substr(0, eq), s.key)) {
        std::fprintf(stderr, "dztool: unknown image type '%s'\n", a.substr(0, eq).c_str());
        return 2;
      }
      std::string rest = a.substr(eq + 1);
      std::string file = rest.substr(0, rest.find(','));
      for (size_t c = rest.find(','); c != std::string::npos;) {
        const size_t next = rest.find(',', c + 1);
        const std::string flag =
            rest.substr(c + 1, next == std::string::npos ? next : next - c - 1);
        if (flag == "enc")
          s.enc = true;
        else if (flag.rfind("name=", 0) == 0)
          s.name = flag.substr(5);
        else
          return Usage();
        c = next;
      }
      if (s.name.empty()) s.name = file.substr(file.rfind('/') + 1);
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "dztool: cannot read %s: %s\n", file.c_str(), std::strerror(errno));
        return 1;
      }
      contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (contents.back().empty()) {
        std::fprintf(stderr, "dztool: %s is empty; an image needs at least one byte\n",
                     file.c_str());
        return 1;
      }
      specs.push_back(s);
    }
  }
  if (specs.empty()) return Usage();
  DzWriter writer(options);
  for (size_t i = 0; i < specs.size(); ++i)
    writer.Add({specs[i].key, specs[i].name, specs[i].enc, contents[i]});
  ProgressBar bar;
  writer.SetProgress(
      [&bar](uint64_t done, uint64_t total) { bar.Update("compressing", done, total); });
  const bool ok = writer.Write(out);
  bar.Done();
  if (!ok) {
    std::fprintf(stderr, "dztool: %s\n", writer.Error().c_str());
    return 1;
  }
  std::printf("%s: version %u, model %s, %zu sub files\n", out.c_str(), options.version,
              Shown(options.model).c_str(), writer.Written().size());
  return 0;
}

}  // namespace
}  // namespace tr52

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return tr52::Usage();
  const std::string cmd = args[0];
  if (cmd == "list" && args.size() == 2) return tr52::List(args[1]);
  if (cmd == "verify" && args.size() == 2) return tr52::Verify(args[1]);
  if (cmd == "extract" && args.size() == 4) return tr52::Extract(args[1], args[2], args[3]);
  if (cmd == "build") return tr52::Build({args.begin() + 1, args.end()});
  return tr52::Usage();
}
