#include "ui/progress_reporter.h"

#include "base/process_log.h"

namespace tr52 {

namespace {

constexpr const char* kStepNames[] = {
    "NULL",         "BATTERY_LEVEL_CHECK", "NV_BACKUP",
    "ERASE_MODULE", "CHANGE_DLOAD",        "WRITE_AMSS_TO_RAM",
    "ERASE_FLASH",  "WRITE_TO_FLASH",      "RESET_THE_PHONE_1ST",
    "NV_RESTORE",   "WRITE_MODULE",        "RESET_THE_PHONE_2ND",
    "UPGRADE_OK",   "ERASE_MEDIA",         "WRITE_MEDIA",
};

}  // namespace

const char* StepName(int code) {
  constexpr int count = static_cast<int>(sizeof(kStepNames) / sizeof(kStepNames[0]));
  return code >= 0 && code < count ? kStepNames[code] : kStepNames[0];
}

void ProgressReporter::ShowText(int kind, const char* text, int length) {
  if (textTarget_ == nullptr) return;
  // The window layer takes a writable buffer; the pane only reads it.
  win::COPYDATASTRUCT record{static_cast<uintptr_t>(kind), static_cast<win::DWORD>(length + 1),
                             const_cast<char*>(text)};
  win::SendMessage(textTarget_, win::WM_COPYDATA, 0, reinterpret_cast<win::LPARAM>(&record));
  Log("[COM%d] WM_COPYDATA 메시지 보냄 %d - %s", port_, kind, text);
}

ProgressReporter::ProgressReporter(win::HWND pane, unsigned message, uint8_t port)
    : textTarget_(pane), pane_(pane), paneMessage_(message), port_(port) {}

void ProgressReporter::FollowStep(unsigned stepCode) {
  Attach(pane_, paneMessage_, static_cast<int>(stepCode));
}

void ProgressReporter::Attach(win::HWND window, unsigned message, int stepCode) {
  textTarget_ = window;
  progressTarget_ = window;
  progressMessage_ = message;
  stepCode_ = stepCode;
}

void ProgressReporter::Attach(win::HWND window, unsigned message, int stepCode, uint8_t port) {
  Attach(window, message, stepCode);
  port_ = port;
}

void ProgressReporter::InitProgress(unsigned code, int maximum) {
  maximum_ = maximum;
  total_ = 0;
  position_ = 0;
  if (progressTarget_ == nullptr || progressMessage_ == 0) return;
  win::PostMessage(progressTarget_, progressMessage_, code, 0);
  Log("[COM%d] ProgreassiveBar Init wParam lParam(pos)=%d - Max%d", port_, 0, maximum);
}

void ProgressReporter::StepProgress(unsigned code, int amount) {
  if (progressTarget_ == nullptr || progressMessage_ == 0) return;
  total_ += amount;
  // Without a positive maximum there is no percentage to show (and nothing to divide by).
  if (maximum_ <= 0) return;
  const int64_t percent = total_ * 100 / maximum_;
  // The bar moves one point per call towards the percentage and never past its end.
  if (percent == position_ || position_ >= 100) return;
  ++position_;
  win::PostMessage(progressTarget_, progressMessage_, code, position_);
  Log("[COM%d] %s Pos(%d)", port_, StepName(stepCode_), position_);
}

}  // namespace tr52
