#include "ui/dialog_templates.h"

#include "win/controls.h"

namespace tr52 {
namespace {

using namespace win;

constexpr DialogItem kProgressItems[] = {
    {IDC_PORT_LABEL, kStaticClass, "COM XX", RectXYWH(1, 2, 29, 11), SS_CENTER | SS_CENTERIMAGE},
    {IDC_TIME_LABEL, kStaticClass, "0 s", RectXYWH(32, 2, 29, 11), SS_CENTER | SS_CENTERIMAGE},
    {IDC_PROGRESS_BAR, kProgressClass, "", RectXYWH(1, 15, 60, 11), PBS_SMOOTH},
    {IDC_STEP_LIST, kListBoxClass, "", RectXYWH(1, 28, 60, 45),
     WS_BORDER | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT},
};

constexpr DialogItem kConfigItems[] = {
    {IDOK, kButtonClass, "OK", RectXYWH(79, 29, 50, 14), BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDCANCEL, kButtonClass, "Cancel", RectXYWH(134, 29, 50, 14), BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_STATIC, kStaticClass, "BIN(dz) :", RectXYWH(7, 9, 29, 8), SS_LEFT},
    {IDC_PATH_EDIT, kEditClass, "", RectXYWH(38, 7, 203, 14),
     WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP},
    {IDC_BROWSE, kButtonClass, "...", RectXYWH(244, 8, 12, 12), BS_PUSHBUTTON | WS_TABSTOP},
};

}  // namespace

constinit const win::DialogTemplate kProgressDialogTemplate{
    IDD_PROGRESS, "", 63, 80, WS_CHILD | DS_SETFONT, "System", 10, kProgressItems};

constinit const win::DialogTemplate kConfigDialogTemplate{
    IDD_CONFIG,
    kConfigDialogCaption,
    263,
    50,
    DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT,
    "System",
    10,
    kConfigItems};

}  // namespace tr52
