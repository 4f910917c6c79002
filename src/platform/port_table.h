// The port table: serial ports declared by programs (the virtual phone, test peers, a user),
// each with a COM number, the device node to open and the friendly name the system shows.
//
// Location: the folder named by the environment variable TR52_PORT_TABLE, else
// $XDG_RUNTIME_DIR/tr52-ports, else ${TMPDIR:-/tmp}/tr52-ports-<uid>; created private (0700)
// on the first declaration. The table decides which device the link opens for a COM number,
// so only the user's own folder is used: one that is a symbolic link, belongs to someone else
// or is writable by group or others is refused. Each declared port is one regular file
// "COM<n>.port" in that folder holding "device=<path>" and "name=<friendly name>" lines;
// anything else under such a name (a link, a FIFO, a file over 8 KiB) is skipped without
// blocking. Files are replaced atomically (temporary file, flushed, renamed, folder flushed), so a
// reader never sees a torn entry, nor a crash an empty one; withdrawing removes the file. A
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

// What a listing found: the present ports, and one line for each thing it refused or skipped
// (the folder, or an entry) for the caller's log.
struct PortTableListing {
  std::vector<DeclaredPort> ports;
  std::vector<std::string> notes;
};

// The folder of the table (TR52_PORT_TABLE or the default).
std::string PortTableDir();

// Declares (or re-declares) COM `com`. False (errno set) when the entry is invalid, the folder
// is refused (EPERM) or the entry cannot be written.
bool DeclarePort(int com, const std::string& devicePath, const std::string& friendlyName);
// Removes the declaration of COM `com`; true when it is gone afterwards (false, and nothing
// touched, in a refused folder).
bool WithdrawPort(int com);
// Declared ports whose device node exists, by ascending COM number, with the notes.
PortTableListing ReadPortTable();
// Every sound entry by ascending COM number, whether or not its device node exists now (for a
// caller that keeps the entries and looks at the nodes when it needs to), with the notes.
PortTableListing ReadPortTableEntries();
// Whether the port's device node exists (the condition for a declared port to be present).
bool DeviceNodeExists(const DeclaredPort& port);
// ReadPortTable().ports.
std::vector<DeclaredPort> ListDeclaredPorts();

// Text of one entry, and its parser (bounds-checked; nullopt on anything malformed).
std::string FormatPortEntry(const DeclaredPort& port);
std::optional<DeclaredPort> ParsePortEntry(int com, std::string_view text);
// "COM<n>.port" → n, for 0 <= n <= kMaxDeclaredCom; nullopt otherwise.
std::optional<int> ComFromEntryName(std::string_view fileName);

}  // namespace tr52
