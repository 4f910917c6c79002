// Window messages between a download's worker thread, its progress pane and the host, and the
// step codes they carry.
#pragma once

#include "win/window.h"

namespace tr52 {

constexpr win::UINT WM_DOWNLOAD_STEP = 0x8001;    // WM_APP + 1: worker -> pane, wParam = step code
constexpr win::UINT WM_DOWNLOAD_RESULT = 0x1400;  // WM_USER + 0x1000: pane -> host

// Step codes (wParam of WM_DOWNLOAD_STEP).
enum StepCode : unsigned {
  TYPE_WPARAM_NULL = 0,
  TYPE_WPARAM_BATTERY_LEVEL_CHECK = 1,
  TYPE_WPARAM_NV_BACKUP = 2,
  TYPE_WPARAM_ERASE_MODULE = 3,
  TYPE_WPARAM_CHANGE_DLOAD = 4,
  TYPE_WPARAM_WRITE_AMSS_TO_RAM = 5,
  TYPE_WPARAM_ERASE_FLASH = 6,
  TYPE_WPARAM_WRITE_TO_FLASH = 7,
  TYPE_WPARAM_RESET_THE_PHONE_1ST = 8,
  TYPE_WPARAM_NV_RESTORE = 9,
  TYPE_WPARAM_WRITE_MODULE = 10,
  TYPE_WPARAM_RESET_THE_PHONE_2ND = 11,
  TYPE_WPARAM_UPGRADE_OK = 12,
  TYPE_WPARAM_ERASE_MEDIA = 13,
  TYPE_WPARAM_WRITE_MEDIA = 14,
  TYPE_WPARAM_UPGRADE_ERROR = 100,
  TYPE_WPARAM_PROGRESS_POS = 205,
  TYPE_WPARAM_LOAD_BIN = 206,
};

}  // namespace tr52
