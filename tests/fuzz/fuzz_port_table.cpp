// The port table entry parser over arbitrary file contents and names: never reads outside
// the input, and whatever it accepts survives a write and a re-read unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/port_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The first line doubles as a file name.
  const std::string_view name = text.substr(0, text.find('\n'));
  if (const auto com = tr52::ComFromEntryName(name)) {
    if (*com < 0 || *com > tr52::kMaxDeclaredCom) abort();
    if ("COM" + std::to_string(*com) + ".port" != name) abort();
  }
  const auto port = tr52::ParsePortEntry(1, text);
  if (!port) return 0;
  if (port->devicePath.empty() || port->devicePath.size() > tr52::kMaxPortTablePath) abort();
  if (port->friendlyName.empty() || port->friendlyName.size() > tr52::kMaxPortTableName) abort();
  const auto back = tr52::ParsePortEntry(1, tr52::FormatPortEntry(*port));
  if (!back || back->devicePath != port->devicePath || back->friendlyName != port->friendlyName)
    abort();
  return 0;
}
