// soak: the station serving virtual phones through many downloads, a tenth of them faulted,
// and whether it stays healthy (same open fds, resident memory within 10 %); then a round
// stopped by a signal at a random moment.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "soak/soak_run.h"

namespace {

void Usage(const char* program) {
  std::printf(
      "Usage: %s [--phones N] [--downloads N] [--seed S] [--time-scale F] [--first-com N]\n"
      "          [--reboot-delay-ms N] [--timeout SECONDS] [--bin DIR] [--keep]\n"
      "          [--max-growth P] [--unfaulted-may-fail]\n"
      "\n"
      "Runs the station (a copy of it, in a temporary folder) against N virtual phones, each\n"
      "plugged in, downloaded and unplugged --downloads times, with a fault injected into a\n"
      "random tenth of the downloads (drawn from --seed; a seed from the clock is printed when\n"
      "none is given). Prints the downloads done, the result codes seen, the station's resident\n"
      "memory and open fds at the start (every port's first download done, all idle) and at the\n"
      "end, and the slowest download. Then a stop round: a fresh station serving the phones\n"
      "again gets a stop signal (SIGINT, SIGTERM or SIGHUP, drawn from the seed) at a drawn\n"
      "moment; every download that started must end with its code, the station must leave by\n"
      "itself with their status, and no descriptor it opened may be open at its exit (traced).\n"
      "\n"
      "  --phones N           phones, one COM port each (default 16)\n"
      "  --downloads N        downloads per phone (default 50)\n"
      "  --seed S             the draw of the faulted downloads\n"
      "  --time-scale F       the station's --time-scale (default 50)\n"
      "  --first-com N        COM number of the first phone (default 30)\n"
      "  --reboot-delay-ms N  the phones' reboot delay (default 300)\n"
      "  --timeout SECONDS    bound on the whole run (default 3600)\n"
      "  --bin DIR            where station and the plug-in are (default: beside this program)\n"
      "  --keep               keep the work folder (kept anyway when the soak fails)\n"
      "  --max-growth P       resident memory growth allowed, in %% (default 10)\n"
      "  --unfaulted-may-fail downloads without a fault may fail (they are still listed);\n"
      "                       with --max-growth, for sanitizer builds, which slow the phones\n"
      "                       down and keep memory of their own\n"
      "\n"
      "Exit status: 0 healthy (every download finished, every download without a fault\n"
      "succeeded, the same open fds at start and end, memory growth at most 10 %%, and the\n"
      "stop round as above); 1 not healthy; 2 bad command line or the soak could not run.\n",
      program);
}

bool ParseNumber(const char* text, long long lo, long long hi, long long& out) {
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress lines show as they come, also in a file
  soak::SoakOptions o;
  o.seed = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) %
           1000000007ull;
  o.binDir = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    long long v = 0;
    auto number = [&](long long lo, long long hi) {
      return hasValue && ParseNumber(argv[++i], lo, hi, v);
    };
    if (a == "-h" || a == "--help") {
      Usage(argv[0]);
      return 0;
    } else if (a == "--phones" && number(1, 200)) {
      o.phones = static_cast<int>(v);
    } else if (a == "--downloads" && number(1, 100000)) {
      o.downloads = static_cast<int>(v);
    } else if (a == "--seed" && number(0, INT64_MAX)) {
      o.seed = static_cast<uint64_t>(v);
    } else if (a == "--time-scale" && hasValue) {
      char* end = nullptr;
      o.timeScale = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(o.timeScale >= 1 && o.timeScale <= 1000)) {
        std::fprintf(stderr, "soak: --time-scale takes a number from 1 to 1000\n");
        return 2;
      }
    } else if (a == "--first-com" && number(0, 255)) {
      o.firstCom = static_cast<int>(v);
    } else if (a == "--reboot-delay-ms" && number(0, 60000)) {
      o.rebootDelayMs = static_cast<uint32_t>(v);
    } else if (a == "--timeout" && number(1, 86400)) {
      o.timeoutSeconds = static_cast<int>(v);
    } else if (a == "--bin" && hasValue) {
      o.binDir = argv[++i];
    } else if (a == "--max-growth" && number(0, 10000)) {
      o.maxGrowth = static_cast<double>(v) / 100.0;
    } else if (a == "--unfaulted-may-fail") {
      o.unfaultedMayFail = true;
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      std::fprintf(stderr, "soak: bad argument %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (o.firstCom + o.phones - 1 > 255) {
    std::fprintf(stderr, "soak: COM numbers end at 255: lower --first-com or --phones\n");
    return 2;
  }
  return soak::RunSoak(o);
}
