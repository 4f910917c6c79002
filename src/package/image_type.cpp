#include "package/image_type.h"

namespace tr52 {

namespace {

const char* const kImageTypeNames[kImageTypeCount] = {
    "BOOTLOADER",   "BOOTCODE",      "BOOTSHELL",     "AMSS",           "MEDIA",
    "MODULE",       "EFS GANG",      "FACTORY",       "PARTITION TBL",  "PBL",
    "QCSBL HEADER", "QCSBL",         "OEMSBL HEADER", "OEMSBL",         "AMSS MODEM HEADER",
    "H3G FLEX",     "FLEXIBLE LOGO", "MASTER ROM",    "MASTER ROM MAP", "APPSBLHD",
    "APPSBL",       "WINCE",         "APPS",          "EFS GANG APPS",  "DBL",
    "FSBL",         "OSBL",          "DSP1",          "ZIMAGE_RAMDISK", "SYSTEM",
};

}  // namespace

const char* ImageTypeName(int type) {
  return type >= 0 && type < kImageTypeCount ? kImageTypeNames[type] : "UNKNOWN";
}

}  // namespace tr52
