#include "win/dialog.h"

#include <gtest/gtest.h>

#include <thread>

#include "pump_util.h"
#include "ui/dialog_templates.h"
#include "win/controls.h"

using namespace win;

namespace {

// A front end with the base units of the "System" font (8 x 16) that answers modal dialogs
// by clicking a chosen button (after typing into the path edit, when asked).
class ClickingFrontEnd : public FrontEnd {
 public:
  int ShowMessageBox(HWND, const std::string&, const std::string&, UINT) override { return IDOK; }
  BaseUnits DialogBaseUnits() override { return {8, 16}; }
  void ModalDialogStarted(HWND dialog) override {
    started = dialog;
    if (!typed.empty()) SetWindowText(GetDlgItem(dialog, tr52::IDC_PATH_EDIT), typed);
    if (button) PostMessage(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
  }
  int button = 0;
  std::string typed;
  HWND started = nullptr;
};

struct ScopedFrontEnd {
  explicit ScopedFrontEnd(FrontEnd* f) { SetFrontEnd(f); }
  ~ScopedFrontEnd() { SetFrontEnd(nullptr); }
};

}  // namespace

TEST(DialogUnits, MapDialogRectScalesByQuarterAndEighthWithRounding) {
  const Rect r = MapDialogRect(RectXYWH(1, 15, 60, 11), BaseUnits{8, 16});
  EXPECT_EQ(r.left, 2);
  EXPECT_EQ(r.top, 30);
  EXPECT_EQ(r.Width(), 120);
  EXPECT_EQ(r.Height(), 22);
  const Rect same = MapDialogRect(RectXYWH(1, 2, 29, 11), BaseUnits{});
  EXPECT_EQ(same.left, 1);
  EXPECT_EQ(same.right, 30);
  const Rect odd = MapDialogRect(Rect{3, 3, 5, 5}, BaseUnits{6, 12});
  EXPECT_EQ(odd.left, 5);  // 4.5 rounds up
  EXPECT_EQ(odd.top, 5);
}

TEST(DialogTemplate, ProgressPaneHasItsControlsWhereTheTemplatePutsThem) {
  HWND host = CreateWindowEx(nullptr, "Host", "", 0, Rect{}, {});
  std::thread::id initOn;
  HWND firstControl = nullptr;
  HWND dlg = CreateDialogFromTemplate(host, tr52::kProgressDialogTemplate,
                                      [&](HWND, UINT msg, WPARAM wp, LPARAM) {
                                        if (msg == WM_INITDIALOG) {
                                          initOn = std::this_thread::get_id();
                                          firstControl = reinterpret_cast<HWND>(wp);
                                        }
                                        return LRESULT{0};
                                      });
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(initOn, std::this_thread::get_id());
  EXPECT_EQ(GetClassName(dlg), "#dialog");
  EXPECT_EQ(GetParent(dlg), host);
  EXPECT_FALSE(IsWindowVisible(dlg));  // shown by whoever created it
  EXPECT_EQ(GetWindowRect(dlg).Width(), 63);
  EXPECT_EQ(GetWindowRect(dlg).Height(), 80);

  struct Expect {
    int id;
    const char* cls;
    const char* text;
    Rect rect;
  } const expected[] = {
      {7002, "Static", "COM XX", RectXYWH(1, 2, 29, 11)},
      {7003, "Static", "0 s", RectXYWH(32, 2, 29, 11)},
      {7004, "msctls_progress32", "", RectXYWH(1, 15, 60, 11)},
      {7005, "ListBox", "", RectXYWH(1, 28, 60, 45)},
  };
  const auto children = GetChildren(dlg);
  ASSERT_EQ(children.size(), 4u);
  EXPECT_EQ(firstControl, children[0]);
  for (const auto& e : expected) {
    HWND c = GetDlgItem(dlg, e.id);
    ASSERT_NE(c, nullptr) << e.id;
    EXPECT_EQ(GetClassName(c), e.cls);
    EXPECT_EQ(GetWindowText(c), e.text);
    const Rect r = GetWindowRect(c);
    EXPECT_EQ(r.left, e.rect.left) << e.id;
    EXPECT_EQ(r.top, e.rect.top) << e.id;
    EXPECT_EQ(r.right, e.rect.right) << e.id;
    EXPECT_EQ(r.bottom, e.rect.bottom) << e.id;
  }
  EXPECT_NE(GetWindowStyle(GetDlgItem(dlg, 7002)) & SS_CENTER, 0u);
  EXPECT_NE(GetWindowStyle(GetDlgItem(dlg, 7004)) & PBS_SMOOTH, 0u);
  EXPECT_NE(GetWindowStyle(GetDlgItem(dlg, 7005)) & LBS_NOINTEGRALHEIGHT, 0u);
  ShowWindow(dlg, SW_SHOW);
  ShowWindow(host, SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(dlg, 7005)));
  DestroyWindow(host);
  EXPECT_FALSE(IsWindow(dlg));
}

TEST(DialogTemplate, ConfigDialogControlsAndFrontEndUnits) {
  ClickingFrontEnd fe;
  ScopedFrontEnd scope(&fe);
  HWND dlg = CreateDialogFromTemplate(nullptr, tr52::kConfigDialogTemplate, {});
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(GetWindowText(dlg), "Download Configuration");
  EXPECT_EQ(GetWindowRect(dlg).Width(), 526);  // 263 units at 8 per 4
  EXPECT_EQ(GetWindowRect(dlg).Height(), 100);
  EXPECT_EQ(GetWindowText(GetDlgItem(dlg, IDOK)), "OK");
  EXPECT_EQ(GetWindowText(GetDlgItem(dlg, IDCANCEL)), "Cancel");
  EXPECT_EQ(GetWindowText(GetDlgItem(dlg, tr52::IDC_BROWSE)), "...");
  EXPECT_EQ(GetClassName(GetDlgItem(dlg, tr52::IDC_PATH_EDIT)), "Edit");
  EXPECT_EQ(GetWindowText(GetDlgItem(dlg, tr52::IDC_STATIC)), "BIN(dz) :");
  const Rect edit = GetWindowRect(GetDlgItem(dlg, tr52::IDC_PATH_EDIT));
  EXPECT_EQ(edit.left, 76);
  EXPECT_EQ(edit.top, 14);
  EXPECT_EQ(edit.Width(), 406);
  EXPECT_EQ(MapDialogRect(dlg, RectXYWH(244, 8, 12, 12)).left, 488);
  DestroyWindow(dlg);
}

TEST(DialogModal, RunsUntilEndDialogAndReturnsItsResult) {
  ClickingFrontEnd fe;
  fe.button = IDOK;
  fe.typed = "/pkg/new.dz";
  ScopedFrontEnd scope(&fe);
  std::string saved;
  const LRESULT r = DialogBoxFromTemplate(
      nullptr, tr52::kConfigDialogTemplate, [&](HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_INITDIALOG) SetWindowText(GetDlgItem(dlg, tr52::IDC_PATH_EDIT), "NULL");
        if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
          saved = GetWindowText(GetDlgItem(dlg, tr52::IDC_PATH_EDIT));
          EndDialog(dlg, IDOK);
          return LRESULT{1};
        }
        return DefWindowProc(dlg, msg, wp, lp);
      });
  EXPECT_EQ(r, IDOK);
  EXPECT_EQ(saved, "/pkg/new.dz");
  EXPECT_FALSE(IsWindow(fe.started));  // destroyed after the loop
}

TEST(DialogModal, EndDialogFromAnotherThreadWakesTheLoop) {
  ClickingFrontEnd fe;
  ScopedFrontEnd scope(&fe);
  std::thread ender;
  const LRESULT r = DialogBoxFromTemplate(nullptr, tr52::kConfigDialogTemplate,
                                          [&](HWND dlg, UINT msg, WPARAM, LPARAM) {
                                            if (msg == WM_INITDIALOG)
                                              ender = std::thread([dlg] { EndDialog(dlg, 42); });
                                            return LRESULT{0};
                                          });
  ender.join();
  EXPECT_EQ(r, 42);
}

TEST(DialogModal, DialogDestroyedFromAnotherThreadEndsTheLoopWithMinusOne) {
  ClickingFrontEnd fe;
  ScopedFrontEnd scope(&fe);
  std::thread killer;
  const LRESULT r = DialogBoxFromTemplate(nullptr, tr52::kConfigDialogTemplate,
                                          [&](HWND dlg, UINT msg, WPARAM, LPARAM) {
                                            if (msg == WM_INITDIALOG) {
                                              killer = std::thread([dlg] {
                                                DestroyWindow(dlg);
                                                PostQuitMessage(0);  // (own thread: no effect)
                                              });
                                            }
                                            return LRESULT{0};
                                          });
  killer.join();
  EXPECT_EQ(r, -1);
}

TEST(DialogModal, HeadlessDialogIsCancelledNotHung) {
  bool cancelled = false;
  const LRESULT r = DialogBoxFromTemplate(nullptr, tr52::kConfigDialogTemplate,
                                          [&](HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
                                            if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL)
                                              cancelled = true;
                                            return DefWindowProc(dlg, msg, wp, lp);
                                          });
  EXPECT_EQ(r, IDCANCEL);
  EXPECT_TRUE(cancelled);
}

TEST(DialogModal, QuitEndsTheDialogAndReachesTheOuterLoop) {
  ClickingFrontEnd fe;
  ScopedFrontEnd scope(&fe);
  const LRESULT r = DialogBoxFromTemplate(nullptr, tr52::kConfigDialogTemplate,
                                          [](HWND, UINT msg, WPARAM, LPARAM) {
                                            if (msg == WM_INITDIALOG) PostQuitMessage(3);
                                            return LRESULT{0};
                                          });
  EXPECT_EQ(r, IDCANCEL);
  EXPECT_FALSE(PumpMessages(0));  // the quit was posted again
}

TEST(DialogModal, ButtonClickReachesTheDialogAsWmCommand) {
  std::vector<std::pair<WPARAM, LPARAM>> commands;
  HWND dlg = CreateDialogFromTemplate(nullptr, tr52::kConfigDialogTemplate,
                                      [&](HWND, UINT msg, WPARAM wp, LPARAM lp) {
                                        if (msg == WM_COMMAND) commands.emplace_back(wp, lp);
                                        return LRESULT{0};
                                      });
  HWND browse = GetDlgItem(dlg, tr52::IDC_BROWSE);
  SendMessage(browse, BM_CLICK, 0, 0);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(LOWORD(commands[0].first), static_cast<unsigned>(tr52::IDC_BROWSE));
  EXPECT_EQ(HIWORD(commands[0].first), BN_CLICKED);
  EXPECT_EQ(commands[0].second, reinterpret_cast<LPARAM>(browse));
  DestroyWindow(dlg);
}
