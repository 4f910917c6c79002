// The boxes of the full-screen station, painted on a cell canvas and worked by keys: the
// configuration dialog of the window layer as a box (its controls placed by its template), the
// file-open dialog, the message box and the quit question.
#include "terminal/screen_overlays.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/pane_layout.h"
#include "support/temp_dir.h"
#include "ui/dialog_templates.h"
#include "utf8_text.h"
#include "win/controls.h"
#include "win/dialog.h"

namespace station {
namespace {

// Gives dialogs the terminal's units, as the full-screen front end does.
class CellUnits : public win::FrontEnd {
 public:
  win::BaseUnits DialogBaseUnits() override { return kCellBaseUnits; }
  int ShowMessageBox(win::HWND, const std::string&, const std::string&, win::UINT) override {
    return win::IDOK;
  }
};

std::string Row(const canvas::CellCanvas& c, int y) {
  std::u32string row;
  for (int x = 0; x < c.Columns(); ++x) row.push_back(c.At(x, y).ch);
  return canvas::EncodeUtf8(row);
}

bool Shows(const canvas::CellCanvas& c, const std::string& text) {
  return c.Text().find(text) != std::string::npos;
}

TEST(ScreenOverlays, ConfigurationDialogBoxShowsAndTakesKeys) {
  CellUnits units;
  win::SetFrontEnd(&units);
  // A dialog whose OK and Cancel are answered by the window layer's default handling, and
  // whose "..." records the press.
  int browsePresses = 0;
  win::HWND dialog = win::CreateDialogFromTemplate(
      nullptr, tr52::kConfigDialogTemplate,
      [&](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM) -> win::LRESULT {
        if (m == win::WM_COMMAND && win::LOWORD(w) == tr52::IDC_BROWSE) ++browsePresses;
        if (m == win::WM_COMMAND && win::LOWORD(w) == win::IDOK) win::EndDialog(h, win::IDOK);
        return 0;
      });
  ASSERT_NE(dialog, nullptr);
  win::HWND edit = win::GetDlgItem(dialog, tr52::IDC_PATH_EDIT);
  win::SetWindowText(edit, "NULL");

  DialogOverlay box(dialog);
  EXPECT_EQ(box.Focus(), edit) << "typing goes to the path at once";
  canvas::CellCanvas c(160, 50, 0, 0);
  int cx = -1, cy = -1;
  box.Paint(c, cx, cy);
  for (const char* text : {"Download Configuration", "BIN(dz) :", "NULL", "OK", "Cancel", "..."})
    EXPECT_TRUE(Shows(c, text)) << text << "\n" << c.Text();
  // The label, the edit and "..." share the rows of the edit; OK and Cancel are below them.
  int labelRow = -1, okRow = -1;
  for (int y = 0; y < c.Rows(); ++y) {
    if (Row(c, y).find("BIN(dz) :") != std::string::npos) labelRow = y;
    if (Row(c, y).find(" OK ") != std::string::npos) okRow = y;
  }
  EXPECT_GE(labelRow, 0);
  EXPECT_GT(okRow, labelRow);
  EXPECT_EQ(cy, labelRow) << "the cursor stands in the edit";

  struct Step {
    const char* name;
    std::vector<Key> keys;
    std::string editAfter;
    int browsesAfter;
  };
  const std::vector<Step> steps = {
      {"Ctrl-U clears, typing appends",
       {Key{KeyKind::kClearLine, 0}, CharKey(U'/'), CharKey(U'f'), CharKey(U'w'), CharKey(U'é')},
       "/fwé",
       0},
      {"Backspace takes a whole character", {Key{KeyKind::kBackspace, 0}}, "/fw", 0},
      {"Tab to \"...\" and Enter presses it",
       {Key{KeyKind::kTab, 0}, Key{KeyKind::kEnter, 0}},
       "/fw",
       1},
      {"typing on a button changes nothing", {CharKey(U'x')}, "/fw", 1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    for (const Key& k : s.keys) box.OnKey(k);
    EXPECT_EQ(win::GetWindowText(edit), s.editAfter);
    EXPECT_EQ(browsePresses, s.browsesAfter);
  }
  // Back in the edit, Enter presses the default button (OK), which ends the dialog.
  box.OnKey(Key{KeyKind::kBackTab, 0});
  EXPECT_EQ(box.Focus(), edit);
  box.OnKey(Key{KeyKind::kEnter, 0});
  win::DestroyWindow(dialog);
  EXPECT_TRUE(box.Done());
  win::SetFrontEnd(nullptr);
}

TEST(ScreenOverlays, BrowserBoxListsChoosesAndCancels) {
  tr52test::TempDir dir;
  std::filesystem::create_directories(dir.File("sub"));
  for (const char* f : {"TR52.dz", "notes.txt", "sub/inner.dz"}) std::ofstream(dir.File(f)) << "x";
  const auto filters = ParseFileFilter("Binary Image (*.dz)|*.dz||");

  struct Case {
    const char* name;
    std::vector<Key> keys;
    bool done;
    std::optional<std::string> result;
  };
  const std::vector<Case> cases = {
      {"arrows and Enter take a listed package",
       {Key{KeyKind::kDown, 0}, Key{KeyKind::kDown, 0}, Key{KeyKind::kEnter, 0}},
       true,
       dir.File("TR52.dz")},
      {"into a folder and its package",
       {Key{KeyKind::kDown, 0}, Key{KeyKind::kEnter, 0}, Key{KeyKind::kDown, 0},
        Key{KeyKind::kEnter, 0}},
       true,
       dir.File("sub/inner.dz")},
      {"a typed name",
       {CharKey(U'n'), CharKey(U'e'), CharKey(U'w'), Key{KeyKind::kEnter, 0}},
       true,
       dir.File("new.bin")},
      {"Escape cancels", {Key{KeyKind::kDown, 0}, Key{KeyKind::kEscape, 0}}, true, std::nullopt},
      {"Enter on a folder is no choice",
       {Key{KeyKind::kDown, 0}, Key{KeyKind::kEnter, 0}},
       false,
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BrowserOverlay box("Open", FileBrowser(dir.Path(), filters, "bin"));
    canvas::CellCanvas canvas(100, 30, 0, 0);
    int cx = -1, cy = -1;
    box.Paint(canvas, cx, cy);
    EXPECT_TRUE(Shows(canvas, "sub/"));
    EXPECT_TRUE(Shows(canvas, "TR52.dz"));
    EXPECT_FALSE(Shows(canvas, "notes.txt"));
    for (const Key& k : c.keys) box.OnKey(k);
    EXPECT_EQ(box.Done(), c.done);
    EXPECT_EQ(box.Result(), c.result);
  }
}

TEST(ScreenOverlays, MessageAndQuestionBoxesAnswer) {
  MessageOverlay message("Download", "No package was chosen. Choose one with c.");
  canvas::CellCanvas c(80, 24, 0, 0);
  int cx = -1, cy = -1;
  message.Paint(c, cx, cy);
  EXPECT_TRUE(Shows(c, "Download"));
  EXPECT_TRUE(Shows(c, "No package was chosen."));
  EXPECT_TRUE(Shows(c, "[ OK ]"));
  message.OnKey(CharKey(U'x'));
  EXPECT_FALSE(message.Done());
  message.OnKey(Key{KeyKind::kEnter, 0});
  EXPECT_TRUE(message.Done());

  struct Case {
    Key key;
    bool done;
    bool yes;
  };
  for (const Case& k : std::vector<Case>{{CharKey(U'y'), true, true},
                                         {CharKey(U'Y'), true, true},
                                         {CharKey(U'n'), true, false},
                                         {Key{KeyKind::kEscape, 0}, true, false},
                                         {Key{KeyKind::kEnter, 0}, true, false},
                                         {CharKey(U'q'), false, false}}) {
    bool yes = false;
    ConfirmOverlay question("Quit?", [&] { yes = true; });
    question.OnKey(k.key);
    EXPECT_EQ(question.Done(), k.done) << static_cast<int>(k.key.ch);
    EXPECT_EQ(yes, k.yes) << static_cast<int>(k.key.ch);
  }
}

TEST(ScreenOverlays, AStopEndsEveryBoxWithoutItsAnswer) {
  tr52test::TempDir dir;
  bool yes = false;
  auto browser = std::make_unique<BrowserOverlay>("Open", FileBrowser(dir.Path(), {}, "dz"));
  BrowserOverlay* open = browser.get();
  std::vector<std::unique_ptr<Overlay>> boxes;
  boxes.push_back(std::make_unique<MessageOverlay>("Download", "text"));
  boxes.push_back(std::make_unique<ConfirmOverlay>("Quit?", [&] { yes = true; }));
  boxes.push_back(std::move(browser));
  open->OnKey(CharKey(U'x'));  // a name half typed
  for (auto& box : boxes) {
    EXPECT_FALSE(box->Done());
    box->Cancel();
    EXPECT_TRUE(box->Done());
  }
  EXPECT_FALSE(yes);
  EXPECT_EQ(open->Result(), std::nullopt);
}

}  // namespace
}  // namespace station
