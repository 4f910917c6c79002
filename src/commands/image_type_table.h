// Per image type: the name used in log lines and progress texts, the NAND start address of
// the classic write, and the open commands the NAND programmer takes for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/image_type.h"

namespace tr52 {

struct ImageTypeRow {
  int type;
  const char* name;
  uint32_t nandStart;
  // NandFlashInitWithoutFile request (withoutFileLength 0 = none).
  uint8_t withoutFile[5];
  uint8_t withoutFileLength;
  // NandFlashImageInit code (-1 = none).
  int imageInitCode;
  // NandFlashInitWithFile command byte: 0x40, 0x44, 0x45, 0x49 (0 = none).
  uint8_t withFileCommand;
  // NandFlashWrite accepts the type.
  bool nandWrite;
};

class ImageTypeTable {
 public:
  static constexpr int kCount = 30;

  // The row of `type`; a type outside 0..29 gets a row named "UNKNOWN" that allows nothing.
  static const ImageTypeRow& Row(ImageType type);
  static const ImageTypeRow& Row(int type);
  static const char* Name(ImageType type) { return Row(type).name; }
};

}  // namespace tr52
