// The download record reader over arbitrary lines: never throws, and whatever it accepts is
// written again as a valid record line that reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "session/download_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto record = tr52::ParseDownloadRecord(line);
  if (!record) return 0;
  const std::string written = tr52::DownloadRecordLine(*record);
  if (written.empty() || written.find('\n') != written.size() - 1) abort();
  const auto back = tr52::ParseDownloadRecord(written);
  if (!back || tr52::DownloadRecordLine(*back) != written) abort();
  return 0;
}
