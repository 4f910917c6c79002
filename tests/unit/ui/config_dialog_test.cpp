// The configuration dialog's handling of the package path (driven without a screen: the dialog
// is created modelessly and its buttons are pressed by messages).
#include "ui/config_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/settings_file.h"
#include "support/temp_dir.h"
#include "ui/dialog_templates.h"
#include "win/dialog.h"

namespace tr52 {
namespace {

class ConfigDialogTest : public ::testing::Test {
 protected:
  ConfigDialogTest() : settings_(dir_.File("ZUDP2.ini")), dialog_(nullptr, settings_) {}
  ~ConfigDialogTest() override {
    if (hwnd_) win::DestroyWindow(hwnd_);
  }
  void Open() {
    hwnd_ = win::CreateDialogFromTemplate(
        nullptr, kConfigDialogTemplate,
        [this](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
          return dialog_.HandleMessage(h, m, w, l);
        });
    ASSERT_NE(hwnd_, nullptr);
  }
  win::HWND Edit() { return win::GetDlgItem(hwnd_, IDC_PATH_EDIT); }
  void Press(int id) { win::SendMessage(hwnd_, win::WM_COMMAND, win::MAKELONG(id, 0), 0); }
  std::string Saved() { return settings_.Read(kSettingsSection, kPathBinKey, "<none>"); }

  tr52test::TempDir dir_;
  SettingsFile settings_;
  ConfigDialog dialog_;
  win::HWND hwnd_ = nullptr;
};

TEST_F(ConfigDialogTest, FreshInstallationShowsNull) {
  Open();
  EXPECT_EQ(win::GetWindowText(Edit()), "NULL");
  EXPECT_EQ(dialog_.Path(), "NULL");
}

TEST_F(ConfigDialogTest, OkSavesATypedPath) {
  std::string error;
  ASSERT_TRUE(settings_.Write(kSettingsSection, kPathBinKey, "/old/TR52.dz", error)) << error;
  Open();
  EXPECT_EQ(win::GetWindowText(Edit()), "/old/TR52.dz");
  win::SetWindowText(Edit(), "/new/TR52_V20.dz");
  Press(win::IDOK);
  EXPECT_EQ(Saved(), "/new/TR52_V20.dz");
  EXPECT_EQ(dialog_.Path(), "/new/TR52_V20.dz");
}

TEST_F(ConfigDialogTest, OkWithAnEmptyEditSavesAnEmptyPath) {
  Open();
  win::SetWindowText(Edit(), "");
  Press(win::IDOK);
  EXPECT_EQ(Saved(), "");
}

TEST_F(ConfigDialogTest, CancelWritesNothing) {
  Open();
  win::SetWindowText(Edit(), "/typed/but/cancelled.dz");
  Press(win::IDCANCEL);
  EXPECT_EQ(Saved(), "<none>");
}

// A path the settings refuse (a line break would write another entry) is not saved: a box says
// why and the dialog stays open with the path as typed, so the user can mend it and press OK
// again.
class MendingUser : public win::FrontEnd {
 public:
  void ModalDialogStarted(win::HWND dialog) override {
    dialog_ = dialog;
    Submit("/new/TR52.dz\nPATH_BIN=/tmp/evil.dz");
  }
  int ShowMessageBox(win::HWND, const std::string& text, const std::string& caption,
                     win::UINT) override {
    boxes.push_back(caption + ": " + text);
    editWhenRefused = win::GetWindowText(win::GetDlgItem(dialog_, IDC_PATH_EDIT));
    Submit("/new/TR52.dz");
    return win::IDOK;
  }
  std::vector<std::string> boxes;
  std::string editWhenRefused;

 private:
  void Submit(const std::string& path) {
    win::SetWindowText(win::GetDlgItem(dialog_, IDC_PATH_EDIT), path);
    win::PostMessage(dialog_, win::WM_COMMAND, win::MAKELONG(win::IDOK, 0), 0);
  }
  win::HWND dialog_ = nullptr;
};

TEST_F(ConfigDialogTest, ARefusedPathIsSaidAndTheDialogStaysOpen) {
  std::string error;
  ASSERT_TRUE(settings_.Write(kSettingsSection, kPathBinKey, "/old/TR52.dz", error)) << error;
  MendingUser user;
  win::SetFrontEnd(&user);
  EXPECT_EQ(dialog_.DoModal(), win::IDOK);
  win::SetFrontEnd(nullptr);
  ASSERT_EQ(user.boxes.size(), 1u);
  EXPECT_EQ(user.boxes[0],
            "Download Configuration: The package path was not saved: the value holds the control "
            "character \\x0a (a line break)");
  EXPECT_EQ(user.editWhenRefused, "/new/TR52.dz\nPATH_BIN=/tmp/evil.dz");
  EXPECT_EQ(Saved(), "/new/TR52.dz");
}

}  // namespace
}  // namespace tr52
