// The configuration dialog worked as a user works it: what the edit shows when it opens, the
// "..." chooser (answered by a front end of the test), typing, OK and Cancel, and what lands in
// the settings file.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/settings_file.h"
#include "support/temp_dir.h"
#include "ui/config_dialog.h"
#include "ui/dialog_templates.h"
#include "win/controls.h"
#include "win/dialog.h"

namespace tr52 {
namespace {

// Answers the file-open dialog with a prepared choice and keeps the requests it saw.
class ChooserFrontEnd : public win::FrontEnd {
 public:
  int ShowMessageBox(win::HWND, const std::string&, const std::string&, win::UINT) override {
    return win::IDOK;
  }
  std::optional<std::string> ChooseFileToOpen(win::HWND,
                                              const win::OpenFileRequest& request) override {
    requests.push_back(request);
    return answer;
  }
  std::optional<std::string> answer;
  std::vector<win::OpenFileRequest> requests;
};

// One step of a user: type into the edit, browse, or press a button.
struct Action {
  enum Kind { kType, kBrowse, kPress } kind;
  std::string text;                   // kType: the new edit text
  std::optional<std::string> chosen;  // kBrowse: the chooser's answer (nullopt: cancelled)
  int button = 0;                     // kPress
};
Action Type(std::string text) {
  return {Action::kType, std::move(text), std::nullopt, 0};
}
Action Browse(std::optional<std::string> chosen) {
  return {Action::kBrowse, "", std::move(chosen), 0};
}
Action Press(int button) {
  return {Action::kPress, "", std::nullopt, button};
}

struct Case {
  const char* name;
  std::optional<std::string> saved;  // the settings' value before opening (nullopt: none)
  std::string shownAtOpen;
  std::vector<Action> actions;
  std::string editAtEnd;  // what the edit showed before the last button
  std::optional<std::string> savedAtEnd;
};

TEST(ConfigDialogUse, EditChooserAndButtonsDecideWhatIsSaved) {
  const std::vector<Case> cases = {
      {"fresh installation shows NULL", std::nullopt, "NULL", {}, "NULL", std::nullopt},
      {"fresh installation, OK saves what the edit shows",
       std::nullopt,
       "NULL",
       {Press(win::IDOK)},
       "NULL",
       "NULL"},
      {"chooser cancelled then OK saves an empty path",
       "/old/TR52.dz",
       "/old/TR52.dz",
       {Browse(std::nullopt), Press(win::IDOK)},
       "",
       ""},
      {"chosen file then OK saves its path",
       "/old/TR52.dz",
       "/old/TR52.dz",
       {Browse("/fw/TR52_V20.dz"), Press(win::IDOK)},
       "/fw/TR52_V20.dz",
       "/fw/TR52_V20.dz"},
      {"typed path is saved",
       std::nullopt,
       "NULL",
       {Type("/typed/TR52.dz"), Press(win::IDOK)},
       "/typed/TR52.dz",
       "/typed/TR52.dz"},
      {"typed after a cancelled chooser is saved",
       std::nullopt,
       "NULL",
       {Browse(std::nullopt), Type("/again/TR52.dz"), Press(win::IDOK)},
       "/again/TR52.dz",
       "/again/TR52.dz"},
      {"chosen file then Cancel writes nothing",
       "/old/TR52.dz",
       "/old/TR52.dz",
       {Browse("/fw/new.dz"), Press(win::IDCANCEL)},
       "/fw/new.dz",
       "/old/TR52.dz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tr52test::TempDir dir;
    SettingsFile settings(dir.File("ZUDP2.ini"));
    std::string error;
    if (c.saved) {
      ASSERT_TRUE(settings.Write(kSettingsSection, kPathBinKey, *c.saved, error)) << error;
    }

    ChooserFrontEnd frontEnd;
    win::SetFrontEnd(&frontEnd);
    ConfigDialog dialog(nullptr, settings);
    win::HWND hwnd = win::CreateDialogFromTemplate(
        nullptr, kConfigDialogTemplate,
        [&dialog](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
          return dialog.HandleMessage(h, m, w, l);
        });
    ASSERT_NE(hwnd, nullptr);
    win::HWND edit = win::GetDlgItem(hwnd, IDC_PATH_EDIT);
    EXPECT_EQ(win::GetWindowText(edit), c.shownAtOpen);

    int browses = 0;
    for (const Action& a : c.actions) {
      switch (a.kind) {
        case Action::kType:
          win::SetWindowText(edit, a.text);
          break;
        case Action::kBrowse:
          frontEnd.answer = a.chosen;
          ++browses;
          win::SendMessage(win::GetDlgItem(hwnd, IDC_BROWSE), win::BM_CLICK, 0, 0);
          break;
        case Action::kPress:
          EXPECT_EQ(win::GetWindowText(edit), c.editAtEnd);
          win::SendMessage(win::GetDlgItem(hwnd, a.button), win::BM_CLICK, 0, 0);
          break;
      }
    }
    if (c.actions.empty() || c.actions.back().kind != Action::kPress) {
      EXPECT_EQ(win::GetWindowText(edit), c.editAtEnd);
    }
    const std::string saved = settings.Read(kSettingsSection, kPathBinKey, "<none>");
    EXPECT_EQ(saved, c.savedAtEnd.value_or("<none>"));

    // Every browse asked for packages only, with the default extension of the dialog.
    ASSERT_EQ(static_cast<int>(frontEnd.requests.size()), browses);
    for (const auto& r : frontEnd.requests) {
      EXPECT_EQ(r.filter, "Binary Image (*.dz)|*.dz||");
      EXPECT_EQ(r.defaultExtension, "bin");
    }
    win::DestroyWindow(hwnd);
    win::SetFrontEnd(nullptr);
  }
}

TEST(ConfigDialogUse, WithoutAFrontEndTheChooserCancels) {
  tr52test::TempDir dir;
  SettingsFile settings(dir.File("ZUDP2.ini"));
  std::string error;
  ASSERT_TRUE(settings.Write(kSettingsSection, kPathBinKey, "/old/TR52.dz", error)) << error;
  ConfigDialog dialog(nullptr, settings);
  win::HWND hwnd = win::CreateDialogFromTemplate(
      nullptr, kConfigDialogTemplate,
      [&dialog](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
        return dialog.HandleMessage(h, m, w, l);
      });
  ASSERT_NE(hwnd, nullptr);
  win::SendMessage(win::GetDlgItem(hwnd, IDC_BROWSE), win::BM_CLICK, 0, 0);
  EXPECT_EQ(win::GetWindowText(win::GetDlgItem(hwnd, IDC_PATH_EDIT)), "");
  EXPECT_EQ(dialog.Path(), "");
  win::DestroyWindow(hwnd);
}

}  // namespace
}  // namespace tr52
