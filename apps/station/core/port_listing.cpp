#include "port_listing.h"

#include <algorithm>
#include <array>

#include "base/printable_text.h"
#include "console.h"
#include "link/udev_ports.h"

namespace station {
namespace {

constexpr size_t kColumns = 7;
using Row = std::array<std::string, kColumns>;

// One display cell: a USB device's strings are its maker's bytes, shown escaped (controls and
// bytes that are not UTF-8 as "\xHH", so none can move the cursor or talk to the terminal);
// an empty value is "-".
std::string Cell(const std::string& value) {
  const std::string s = tr52::PrintableText(value);
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "-";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Columns on the screen a cell takes: one per character (escaped text is UTF-8 throughout).
size_t Width(const std::string& cell) {
  size_t n = 0;
  for (const char c : cell) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

Row RowOf(const tr52::ListedPort& p) {
  const std::string ids =
      p.VendorId().empty() && p.ProductId().empty() ? "" : p.VendorId() + ":" + p.ProductId();
  return {Cell(p.Name()),
          Cell(p.Com() ? "COM" + std::to_string(*p.Com()) : ""),
          Cell(ids),
          Cell(p.Product()),
          Cell(p.Position()),
          Cell(p.Driver()),
          p.IsPhonePort() ? "yes" : "no (" + Cell(p.WhyNot()) + ")"};
}

}  // namespace

std::string PortListingText(const std::vector<tr52::ListedPort>& ports) {
  std::vector<Row> rows = {
      Row{"PORT", "COM", "VENDOR:PRODUCT", "PRODUCT", "POSITION", "DRIVER", "PHONE"}};
  for (const auto& p : ports) rows.push_back(RowOf(p));
  std::array<size_t, kColumns> width{};
  for (const Row& r : rows)
    for (size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], Width(r[c]));
  std::string text;
  for (const Row& r : rows) {
    std::string line;
    for (size_t c = 0; c < kColumns; ++c) {
      line += r[c];
      if (c + 1 < kColumns) line += std::string(width[c] - Width(r[c]) + 2, ' ');
    }
    text += line + "\n";
  }
  if (ports.empty()) text += "(no serial ports)\n";
  return text;
}

int ListPorts() {
  std::vector<std::string> notes;
  std::vector<tr52::ListedPort> ports;
  try {
    ports = tr52::ListSerialPorts(/*probeInUse=*/true, notes);
  } catch (const tr52::UdevError& e) {
    for (const auto& note : notes) Out().Error(note);
    Out().Error(std::string("cannot list the serial ports: ") + e.what());
    return 1;
  }
  for (const auto& note : notes) Out().Error(note);
  Out().Raw(PortListingText(ports));
  return 0;
}

}  // namespace station
