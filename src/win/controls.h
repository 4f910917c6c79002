// Messages, styles and readable state of the built-in controls: static, button, edit, list box
// and the progress bar (which also carries the fields of the drawn progress bar: colours,
// text alignment, percentage display and a moving-block mode).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "win/window.h"

namespace win {

using COLORREF = uint32_t;
constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b) {
  return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// Class names.
inline constexpr char kDialogClass[] = "#dialog";
inline constexpr char kStaticClass[] = "Static";
inline constexpr char kButtonClass[] = "Button";
inline constexpr char kEditClass[] = "Edit";
inline constexpr char kListBoxClass[] = "ListBox";
inline constexpr char kProgressClass[] = "msctls_progress32";

// Static styles.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_CENTERIMAGE = 0x0200;

// Buttons.
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr UINT BM_CLICK = 0x00F5;  // sends WM_COMMAND (id, BN_CLICKED) to the parent
constexpr unsigned BN_CLICKED = 0;

// Edit.
constexpr DWORD ES_AUTOHSCROLL = 0x0080;

// List box.
constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x0100;
constexpr LRESULT LB_ERR = -1;
constexpr UINT LB_ADDSTRING = 0x0180;     // lParam = const char*; index of the new item
constexpr UINT LB_INSERTSTRING = 0x0181;  // wParam = index (-1: end), lParam = const char*
constexpr UINT LB_DELETESTRING = 0x0182;  // wParam = index; count left
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;   // wParam = index (-1: none); index or LB_ERR
constexpr UINT LB_GETCURSEL = 0x0188;   // index or LB_ERR
constexpr UINT LB_GETTEXT = 0x0189;     // wParam = index, lParam = char* (LB_GETTEXTLEN + 1)
constexpr UINT LB_GETTEXTLEN = 0x018A;  // wParam = index
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_GETTOPINDEX = 0x018E;
constexpr UINT LB_SETTOPINDEX = 0x0197;
constexpr UINT LB_SETITEMHEIGHT = 0x01A0;  // lParam = height in the window's units
constexpr UINT LB_GETITEMHEIGHT = 0x01A1;

// Progress bar.
constexpr DWORD PBS_SMOOTH = 0x0001;
constexpr DWORD PBS_VERTICAL = 0x0004;
constexpr DWORD PBS_MARQUEE = 0x0008;
constexpr UINT PBM_SETRANGE = WM_USER + 1;    // lParam = MAKELONG(lower, upper)
constexpr UINT PBM_SETPOS = WM_USER + 2;      // previous position
constexpr UINT PBM_DELTAPOS = WM_USER + 3;    // previous position
constexpr UINT PBM_SETSTEP = WM_USER + 4;     // previous step
constexpr UINT PBM_STEPIT = WM_USER + 5;      // previous position
constexpr UINT PBM_SETRANGE32 = WM_USER + 6;  // wParam = lower, lParam = upper
constexpr UINT PBM_GETRANGE = WM_USER + 7;    // wParam != 0: lower, else upper; lParam PBRANGE*
constexpr UINT PBM_GETPOS = WM_USER + 8;
constexpr UINT PBM_SETBARCOLOR = WM_USER + 9;  // previous bar colour
constexpr UINT PBM_SETMARQUEE = WM_USER + 10;  // wParam on/off, lParam = period in ms
constexpr UINT PBM_SETBKCOLOR = 0x2001;        // previous background colour
// Messages of the drawn progress bar.
constexpr UINT TPM_GETBARCOLOR = 0x0464;
constexpr UINT TPM_GETBKCOLOR = 0x0465;
constexpr UINT TPM_SETTEXTBKCOLOR = 0x0466;  // text colour over the empty part
constexpr UINT TPM_GETTEXTBKCOLOR = 0x0467;
constexpr UINT TPM_SETTEXTBARCOLOR = 0x0468;  // text colour over the bar
constexpr UINT TPM_GETTEXTBARCOLOR = 0x0469;
constexpr UINT TPM_SETSHOWPERCENT = 0x046A;
constexpr UINT TPM_SETTEXTALIGN = 0x046B;  // 0 left, 1 centre, 2 right
constexpr UINT TPM_SETMARQUEESIZE = 0x046C;
constexpr UINT_PTR kMarqueeTimerId = 1;

struct PBRANGE {
  int iLow;
  int iHigh;
};

// Colours: the default mark stands for the system colour of each field.
constexpr COLORREF CLR_DEFAULT = 0xFF000000;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
// The fixed system colours of this layer.
COLORREF GetSysColor(int index);

struct ListBoxState {
  std::vector<std::string> items;
  int curSel = -1;
  int topIndex = 0;
  int visibleRows = 1;
};

struct ProgressState {
  int showPercent = 1;
  COLORREF barColour = CLR_DEFAULT;
  COLORREF bkColour = CLR_DEFAULT;
  COLORREF textBkColour = CLR_DEFAULT;   // text over the empty part
  COLORREF textBarColour = CLR_DEFAULT;  // text over the bar
  int textAlign = 1;
  int position = 0;
  int step = 10;
  int lower = 0;
  int upper = 100;
  int marqueeSize = 20;
  bool marquee = false;
  // The highest position: upper, or in moving-block mode upper stretched by the block size.
  int UpperLimit() const;
  // The colours with the default mark replaced by the system colours.
  COLORREF ResolvedBarColour() const;
  COLORREF ResolvedBkColour() const;
  COLORREF ResolvedTextBkColour() const;
  COLORREF ResolvedTextBarColour() const;
};

// Copies of a control's state for front ends; nullopt when `hwnd` is not a control of that
// class. Safe from any thread.
std::optional<ListBoxState> GetListBoxState(HWND hwnd);
std::optional<ProgressState> GetProgressState(HWND hwnd);

}  // namespace win
