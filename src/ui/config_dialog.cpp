#include "ui/config_dialog.h"

#include "base/settings_file.h"
#include "ui/dialog_templates.h"
#include "win/controls.h"
#include "win/dialog.h"

namespace tr52 {

win::LRESULT ConfigDialog::DoModal() {
  return win::DialogBoxFromTemplate(
      parent_ ? parent_->m_hWnd : nullptr, kConfigDialogTemplate,
      [this](win::HWND h, win::UINT msg, win::WPARAM wp, win::LPARAM lp) {
        return HandleMessage(h, msg, wp, lp);
      });
}

void ConfigDialog::OnBrowse(win::HWND hwnd) {
  win::HWND edit = win::GetDlgItem(hwnd, IDC_PATH_EDIT);
  // The chooser offers only packages; cancelling it empties the field, so that an OK then
  // saves an empty path rather than a stale one.
  const auto chosen = win::GetOpenFileName(
      hwnd, win::OpenFileRequest{kPackageFileFilter, kPackageDefaultExtension});
  path_ = chosen.value_or(std::string());
  win::SetWindowText(edit, path_);
}

win::LRESULT ConfigDialog::HandleMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                         win::LPARAM) {
  switch (msg) {
    case win::WM_INITDIALOG:
      path_ = settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault);
      win::SetWindowText(win::GetDlgItem(hwnd, IDC_PATH_EDIT), path_);
      return 1;
    case win::WM_COMMAND:
      switch (win::LOWORD(wParam)) {
        case win::IDOK:
          // A path typed by hand is saved like a chosen one; the package reader checks it.
          path_ = win::GetWindowText(win::GetDlgItem(hwnd, IDC_PATH_EDIT));
          if (std::string error; !settings_.Write(kSettingsSection, kPathBinKey, path_, error)) {
            // Said, and the dialog stays open with the path as typed, to be mended or
            // cancelled.
            win::MessageBox(hwnd, "The package path was not saved: " + error, kConfigDialogCaption,
                            win::MB_OK);
            return 1;
          }
          win::EndDialog(hwnd, win::IDOK);
          return 1;
        case win::IDCANCEL:
          win::EndDialog(hwnd, win::IDCANCEL);
          return 1;
        case IDC_BROWSE:
          OnBrowse(hwnd);
          return 1;
        default:
          return 0;
      }
    default:
      return 0;
  }
}

}  // namespace tr52
