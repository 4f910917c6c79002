// NV item names for log lines.
#pragma once

#include <string>

namespace tr52 {

// The name of NV item `item` from section "NV_ITEM" of "NvItemTable.txt" beside the host
// executable, or "NV ITEM <item>" when the file or the key is missing.
std::string NvItemName(int item);

}  // namespace tr52
