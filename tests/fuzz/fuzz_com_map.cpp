// The COM map parser over arbitrary file contents: never reads outside the input, keeps only
// sound entries, and what it writes reads back without a problem and unchanged, also after a
// new position was numbered into it (the full map's recycling included).
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/com_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The first line doubles as a time stamp.
  const std::string_view first = text.substr(0, text.find('\n'));
  if (const auto seconds = tr52::ParseUtcStamp(first))
    if (tr52::FormatUtcStamp(*seconds) != first) abort();

  std::vector<std::string> problems;
  tr52::ComMap map = tr52::ComMap::Parse(text, problems);
  if (map.Size() > static_cast<size_t>(tr52::kLastMappedCom - tr52::kFirstMappedCom + 1)) abort();
  const std::string written = map.Format();
  std::vector<std::string> again;
  const tr52::ComMap back = tr52::ComMap::Parse(written, again);
  if (!again.empty() || back.Size() != map.Size() || back.Format() != written) abort();

  // A new position numbered at a time after every stamp the input can hold, one number reserved.
  constexpr int kReserved = 100;
  constexpr int64_t kNow = 253402300799;  // 9999-12-31T23:59:59Z
  // (A position the input already holds keeps its number, reserved or not.)
  const std::optional<int> known = map.Find("usb-fuzz:1");
  const auto given = map.Assign("usb-fuzz:1", {kReserved}, {}, kNow);
  if (known && given.com != known) abort();
  if (given.com && (*given.com < tr52::kFirstMappedCom || *given.com > tr52::kLastMappedCom ||
                    (!known && *given.com == kReserved) || map.Find("usb-fuzz:1") != given.com))
    abort();
  if (!given.recycledFrom.empty() && map.Find(given.recycledFrom)) abort();
  std::vector<std::string> third;
  if (tr52::ComMap::Parse(map.Format(), third).Size() != map.Size() || !third.empty()) abort();
  return 0;
}
