// Phone data over a pseudo-terminal against the virtual phone: a full NV backup of the usual
// ranges (4573 items, one transaction each) and the replay of a 4 MiB media image of a few
// hundred files into the phone's EFS2 tree. Prints the time and the transactions per second.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/process_log.h"
#include "link/phone_link.h"
#include "phonedata/efs2_client.h"
#include "phonedata/efs2_image_writer.h"
#include "phonedata/nv_client.h"
#include "support/temp_dir.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

constexpr int kCom = 73;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::vector<uint8_t> MediaImage(size_t targetBytes, size_t* files) {
  tr52::Efs2ImageWriter w(tr52::kEfs2KindMedia);
  w.AddDirectory("/VIZED/Media/");
  size_t total = 0;
  size_t n = 0;
  uint32_t x = 12345;
  for (int folder = 0; total < targetBytes; ++folder) {
    const std::string dir = "/VIZED/Media/F" + std::to_string(folder) + "/";
    w.AddDirectory(dir);
    for (int i = 0; i < 30 && total < targetBytes; ++i) {
      x = x * 1103515245u + 12345u;
      size_t size = 2000 + (x >> 8) % 24000;  // 2 KB .. 26 KB, some 14 KB on average
      size = std::min(size, targetBytes - total);
      std::vector<uint8_t> data(size);
      for (auto& b : data) b = static_cast<uint8_t>(x = x * 1664525u + 1013904223u);
      w.AddFile(dir + "file" + std::to_string(i) + ".bin", data);
      total += size;
      ++n;
    }
  }
  *files = n;
  return w.Build();
}

}  // namespace

int main() {
  tr52test::TempDir dir;
  setenv("TR52_PORT_TABLE", dir.Path().c_str(), 1);
  tr52::ProcessLog log;
  const tr52::LogTarget route(log);
  log.Open(dir.File("bench_log.txt"));

  vphone::PhoneOptions options;
  options.com = kCom;
  vphone::VirtualPhone phone(options);
  std::string error;
  if (!phone.Start(&error)) {
    std::fprintf(stderr, "virtual phone: %s\n", error.c_str());
    return 1;
  }
  tr52::PhoneLink link;
  if (!link.Open(kCom)) {
    std::fprintf(stderr, "cannot open COM%d\n", kCom);
    return 1;
  }
  tr52::NvClient nv;
  tr52::Efs2Client efs;
  nv.AttachLink(&link, nullptr);
  efs.AttachLink(&link, nullptr);

  // Full NV backup.
  uint64_t before = phone.RequestsSeen();
  auto start = std::chrono::steady_clock::now();
  const int rc = nv.BackupNvToFile(dir.File("nv_backup_73.nv2"), tr52::kDefaultNvRanges);
  double secs = Seconds(start);
  uint64_t tx = phone.RequestsSeen() - before;
  std::printf(
      "NV backup (4573 items): result %d, %zu records, %.3f s, %llu transactions, "
      "%.0f transactions/s\n",
      rc, nv.BackupSet() ? nv.BackupSet()->Count() : 0, secs, static_cast<unsigned long long>(tx),
      tx / secs);

  // Media image replay.
  size_t files = 0;
  const auto image = MediaImage(4u << 20, &files);
  before = phone.RequestsSeen();
  start = std::chrono::steady_clock::now();
  const bool ok = efs.PutMergeFile(image.data(), image.size(), false);
  secs = Seconds(start);
  tx = phone.RequestsSeen() - before;
  std::printf(
      "Media image (%.2f MiB, %zu files): %s, %.3f s, %llu transactions, "
      "%.0f transactions/s, %.2f MB/s\n",
      image.size() / 1048576.0, files, ok ? "ok" : "FAILED", secs,
      static_cast<unsigned long long>(tx), tx / secs, image.size() / secs / 1e6);
  link.Close();
  phone.Stop();
  return rc == 0 && ok ? 0 : 1;
}
