// The two dialog templates of the plug-in: the per-port progress pane (7001) and the
// configuration dialog (7006), with their control ids and dialog-unit rectangles.
#pragma once

#include "win/dialog.h"

namespace tr52 {

constexpr int IDC_STATIC = -1;

// Progress pane.
constexpr int IDD_PROGRESS = 7001;
constexpr int IDC_PORT_LABEL = 7002;    // static "COM XX"
constexpr int IDC_TIME_LABEL = 7003;    // static "0 s"
constexpr int IDC_PROGRESS_BAR = 7004;  // progress bar drawn with its own text
constexpr int IDC_STEP_LIST = 7005;     // numbered list of the steps done

// Configuration dialog.
constexpr int IDD_CONFIG = 7006;
constexpr int IDC_PATH_EDIT = 8000;  // the package path
constexpr int IDC_BROWSE = 8001;     // "..." opens the file chooser

inline constexpr char kConfigDialogCaption[] = "Download Configuration";
inline constexpr char kPackageFileFilter[] = "Binary Image (*.dz)|*.dz||";
inline constexpr char kPackageDefaultExtension[] = "bin";

extern const win::DialogTemplate kProgressDialogTemplate;
extern const win::DialogTemplate kConfigDialogTemplate;

}  // namespace tr52
