// The port table: serial ports declared by programs (the virtual phone, test peers, a user),
// each with a COM number, the device node to open and the friendly name the system shows.
//
// Location: the folder named by the environment variable TR52_PORT_TABLE, else
// /tmp/tr52-ports. Each declared port is one file "COM<n>.port" in that folder holding
// "device=<path>" and "name=<friendly name>" lines. Files are replaced atomically (temporary
// file + rename), so a reader never sees a torn entry; withdrawing removes the file. A
// declared port counts as present only while its device node exists.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tr52 {

struct DeclaredPort {
  int com = 0;
  std::string devicePath;
  std::string friendlyName;
};

// Longest device path and friendly name an entry may hold (the friendly name as the system
// shows it fits 255 characters).
constexpr size_t kMaxPortTablePath = 4095;
constexpr size_t kMaxPortTableName = 255;
constexpr int kMaxDeclaredCom = 9999;

// The folder of the table (TR52_PORT_TABLE or the default).
std::string PortTableDir();

// Declares (or re-declares) COM `com`. False (errno set) when the entry is invalid or cannot be
// written.
bool DeclarePort(int com, const std::string& devicePath, const std::string& friendlyName);
// Removes the declaration of COM `com`; true when it is gone afterwards.
bool WithdrawPort(int com);
// Declared ports whose device node exists, by ascending COM number.
std::vector<DeclaredPort> ListDeclaredPorts();

// Text of one entry, and its parser (bounds-checked; nullopt on anything malformed).
std::string FormatPortEntry(const DeclaredPort& port);
std::optional<DeclaredPort> ParsePortEntry(int com, std::string_view text);
// "COM<n>.port" → n, for 0 <= n <= kMaxDeclaredCom; nullopt otherwise.
std::optional<int> ComFromEntryName(std::string_view fileName);

}  // namespace tr52
