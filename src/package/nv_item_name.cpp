// NV item names for log lines, from "NvItemTable.txt" beside the host executable.
#include <cstdio>

#include "package/nv_item_name.h"
#include "platform/process_info.h"
#include "win/profile.h"

namespace tr52 {

std::string NvItemName(int item) {
  const std::string file = ExecutableDir() + "NvItemTable.txt";
  char key[16];
  std::snprintf(key, sizeof key, "%d", item);
  char value[260] = {};
  win::GetPrivateProfileStringA("NV_ITEM", key, "", value, sizeof value, file.c_str());
  if (value[0] != '\0') return value;
  char fallback[32];
  std::snprintf(fallback, sizeof fallback, "NV ITEM %d", item);
  return fallback;
}

}  // namespace tr52
