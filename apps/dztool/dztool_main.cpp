// dztool: lists, verifies, extracts and builds .dz firmware packages.
#include <sys/stat.h>

#include <CLI/CLI.hpp>

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
#include "package/image_type.h"
#include "platform/atomic_file.h"
#include "progress_bar.h"

namespace tr52 {
namespace {

// The help of every subcommand at once: the tool's help is its one page of usage.
class ExpandedHelp : public CLI::Formatter {
 public:
  ExpandedHelp() {
    column_width(22);
    label("REQUIRED", "");
  }
  std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override {
    return CLI::Formatter::make_subcommands(
        app, mode == CLI::AppFormatMode::Normal ? CLI::AppFormatMode::All : mode);
  }
};

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

// What `dztool build` was asked for.
struct BuildRequest {
  std::string out;
  DzWriterOptions options;
  std::vector<std::string> images;  // TYPE=FILE[,enc][,name=NAME]
};

int Build(const BuildRequest& request) {
  const DzWriterOptions& options = request.options;
  std::vector<std::vector<uint8_t>> contents;
  struct Spec {
    uint32_t key;
    std::string name;
    bool enc;
  };
  std::vector<Spec> specs;
  for (const std::string& a : request.images) {
    const size_t eq = a.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "dztool: error: expected TYPE=FILE, got '%s'\n", a.c_str());
      return 2;
    }
    Spec s{0, "", false};
    if (!ParseType(a.substr(0, eq), s.key)) {
      std::fprintf(stderr, "dztool: unknown image type '%s'\n", a.substr(0, eq).c_str());
      return 2;
    }
    std::string rest = a.substr(eq + 1);
    std::string file = rest.substr(0, rest.find(','));
    for (size_t c = rest.find(','); c != std::string::npos;) {
      const size_t next = rest.find(',', c + 1);
      const std::string flag = rest.substr(c + 1, next == std::string::npos ? next : next - c - 1);
      if (flag == "enc")
        s.enc = true;
      else if (flag.rfind("name=", 0) == 0)
        s.name = flag.substr(5);
      else {
        std::fprintf(stderr, "dztool: error: unknown image flag '%s' (enc or name=NAME)\n",
                     flag.c_str());
        return 2;
      }
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
      std::fprintf(stderr, "dztool: %s is empty; an image needs at least one byte\n", file.c_str());
      return 1;
    }
    specs.push_back(s);
  }
  DzWriter writer(options);
  for (size_t i = 0; i < specs.size(); ++i)
    writer.Add({specs[i].key, specs[i].name, specs[i].enc, contents[i]});
  ProgressBar bar;
  writer.SetProgress(
      [&bar](uint64_t done, uint64_t total) { bar.Update("compressing", done, total); });
  const bool ok = writer.Write(request.out);
  bar.Done();
  if (!ok) {
    std::fprintf(stderr, "dztool: %s\n", writer.Error().c_str());
    return 1;
  }
  std::printf("%s: version %u, model %s, %zu sub files\n", request.out.c_str(), options.version,
              Shown(options.model).c_str(), writer.Written().size());
  return 0;
}

}  // namespace
}  // namespace tr52

int main(int argc, char** argv) {
  CLI::App app(
      "Lists, verifies, extracts and builds .dz firmware packages.\n"
      "TYPE is an image type number (0-29) or name (AMSS, \"PARTITION TBL\", "
      "PARTITION_TBL, ...).",
      "dztool");
  app.formatter(std::make_shared<tr52::ExpandedHelp>());
  app.require_subcommand(1);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  // An argument in its place; its name says what it is.
  auto argument = [](CLI::App* command, const char* name, auto& target, const char* help) {
    command->add_option(name, target, help)->required()->type_name("");
  };
  std::string package, type, out;
  auto* list = app.add_subcommand("list", "list the package's header and every entry");
  argument(list, "PACKAGE", package, "the .dz package");
  auto* verify = app.add_subcommand(
      "verify",
      "check every header and read every image as the plug-in does (exit status 1: "
      "damaged)");
  argument(verify, "PACKAGE", package, "the .dz package");
  auto* extract = app.add_subcommand("extract", "write the image of one type to a file");
  argument(extract, "PACKAGE", package, "the .dz package");
  argument(extract, "TYPE", type, "the image type");
  argument(extract, "OUT", out, "the file to write");
  tr52::BuildRequest build;
  auto* builder = app.add_subcommand("build", "build a package from image files");
  argument(builder, "OUT", build.out, "the package to write");
  argument(builder, "IMAGES", build.images,
           "TYPE=FILE[,enc][,name=NAME]: an image, enciphered with enc, stored\n"
           "under NAME (default: the file's name)");
  builder->add_option("--version", build.options.version, "package format version (default 3)")
      ->type_name("1|2|3")
      ->check(CLI::Range(1, 3).description(""));
  builder->add_option("--model", build.options.model, "the model name in the header")
      ->type_name("NAME");
  builder
      ->add_option("--level", build.options.compressionLevel, "zlib compression level (default 6)")
      ->type_name("0-9")
      ->check(CLI::Range(0, 9).description(""));
  try {
    // A word that names no command would otherwise only be told as a missing command.
    if (argc > 1 && argv[1][0] != '-' &&
        app.get_subcommands([&](CLI::App* c) { return c->get_name() == argv[1]; }).empty())
      throw CLI::ExtrasError({argv[1]});
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "dztool: error: %s (see dztool --help)\n", e.what());
    return 2;
  }
  if (list->parsed()) return tr52::List(package);
  if (verify->parsed()) return tr52::Verify(package);
  if (extract->parsed()) return tr52::Extract(package, type, out);
  return tr52::Build(build);
}
