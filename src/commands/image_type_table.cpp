#include "commands/image_type_table.h"

namespace tr52 {

namespace {

constexpr int kNone = -1;

// clang-format off
constexpr ImageTypeRow kRows[ImageTypeTable::kCount] = {
  // type name                 nandStart    without-file request            len  code   file  write
  { 0, "BOOTLOADER",        0xFFFF0000u, {},                              0, kNone, 0,    true},
  { 1, "BOOTCODE",          0x00000000u, {},                              0, kNone, 0,    false},
  { 2, "BOOTSHELL",         0x00000000u, {},                              0, kNone, 0,    true},
  { 3, "AMSS",              0x00030000u, {},                              0, 5,     0,    true},
  { 4, "MEDIA",             1,           {},                              0, kNone, 0,    false},
  { 5, "MODULE",            1,           {},                              0, kNone, 0,    false},
  { 6, "EFS GANG",          0x01400000u, {0x31, 0x09, 0x00, 0x00, 0x00},  5, 9,     0,    true},
  { 7, "FACTORY",           0xFFFFFFFFu, {},                              0, kNone, 0,    false},
  { 8, "PARTITION TBL",     1,           {},                              0, kNone, 0x40, false},
  { 9, "PBL",               1,           {0x41},                          1, kNone, 0,    true},
  {10, "QCSBL HEADER",      1,           {0x42},                          1, kNone, 0,    true},
  {11, "QCSBL",             1,           {0x43},                          1, kNone, 0,    true},
  {12, "OEMSBL HEADER",     1,           {},                              0, kNone, 0x44, true},
  {13, "OEMSBL",            1,           {},                              0, kNone, 0,    true},
  {14, "AMSS MODEM HEADER", 1,           {},                              0, kNone, 0x45, true},
  {15, "H3G FLEX",          0x56696E63u, {0x50, 0x06},                    2, kNone, 0,    true},
  {16, "FLEXIBLE LOGO",     0x00010000u, {0x31, 0x15, 0x00, 0x00, 0x00},  5, 21,    0,    true},
  {17, "MASTER ROM",        0xFFFFFFFEu, {},                              0, kNone, 0x49, true},
  {18, "MASTER ROM MAP",    0xFFFFFFFDu, {},                              0, kNone, 0,    false},
  {19, "APPSBLHD",          1,           {},                              0, kNone, 0,    false},
  {20, "APPSBL",            1,           {},                              0, 10,    0,    false},
  {21, "WINCE",             1,           {},                              0, 12,    0,    false},
  // The three bytes after 0x50 0x0E carry no field; they are sent as zeros.
  {22, "APPS",              1,           {0x50, 0x0E, 0x00, 0x00, 0x00},  5, 6,     0,    false},
  {23, "EFS GANG APPS",     1,           {0x31, 0x0B, 0x00, 0x00, 0x00},  5, kNone, 0,    false},
  {24, "DBL",               1,           {},                              0, 15,    0,    true},
  {25, "FSBL",              1,           {},                              0, 16,    0,    true},
  {26, "OSBL",              1,           {},                              0, 17,    0,    true},
  {27, "DSP1",              1,           {},                              0, kNone, 0,    false},
  {28, "ZIMAGE_RAMDISK",    1,           {},                              0, kNone, 0,    false},
  {29, "SYSTEM",            1,           {},                              0, kNone, 0,    false},
};
// clang-format on

constexpr ImageTypeRow kUnknown{-1, "UNKNOWN", 0, {}, 0, kNone, 0, false};

}  // namespace

const ImageTypeRow& ImageTypeTable::Row(int type) {
  return type >= 0 && type < kCount ? kRows[type] : kUnknown;
}

const ImageTypeRow& ImageTypeTable::Row(ImageType type) {
  return Row(static_cast<int>(type));
}

}  // namespace tr52
