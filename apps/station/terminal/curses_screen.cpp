#include "curses_screen.h"

#include <fcntl.h>
#include <ncursesw/curses.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "core/terminal_rescue.h"

namespace station {
namespace {

// The eight colours of a terminal for a window-layer colour: a grey is white from 200 up, else
// black; any other colour has each channel of 128 or more on.
short TerminalColour(win::COLORREF c) {
  const unsigned r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  if (r == g && g == b) return r >= 200 ? COLOR_WHITE : COLOR_BLACK;
  return static_cast<short>((r >= 128 ? COLOR_RED : 0) | (g >= 128 ? COLOR_GREEN : 0) |
                            (b >= 128 ? COLOR_BLUE : 0));
}

// A terminal whose character set is not UTF-8 gets line drawing in plain ASCII.
wchar_t Narrow(char32_t ch) {
  if (ch < 0x80) return static_cast<wchar_t>(ch);
  switch (ch) {
    case U'─':
    case U'═':
      return L'-';
    case U'│':
    case U'║':
      return L'|';
    case U'┌':
    case U'┐':
    case U'└':
    case U'┘':
    case U'╔':
    case U'╗':
    case U'╚':
    case U'╝':
      return L'+';
    default:
      return L'?';
  }
}

// What leaves the screen's modes, from the terminal's description: attributes off, cursor
// shown, keypad in its normal mode, the normal screen back.
std::string RestoreSequence() {
  std::string sequence;
  for (const char* capability : {"sgr0", "cnorm", "rmkx", "rmcup"}) {
    const char* text = tigetstr(capability);
    if (text != nullptr && text != reinterpret_cast<char*>(-1)) sequence += text;
  }
  return sequence;
}

// A file of its own for the captured output, gone from the file system at once.
int CaptureFile() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp && *tmp ? tmp : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = dir + "/station-screen-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

}  // namespace

std::unique_ptr<CursesScreen> CursesScreen::Open(std::string& why) {
  if (!isatty(STDIN_FILENO)) {
    why = "standard input is not a terminal";
    return nullptr;
  }
  // Only the character type follows the environment: numbers keep their "C" form.
  std::setlocale(LC_CTYPE, "");
  std::unique_ptr<CursesScreen> s(new CursesScreen());
  // The screen goes to the terminal: standard output when it is one, else the process's
  // terminal (standard output then keeps its file or pipe).
  const int termFd = isatty(STDOUT_FILENO) ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                                           : ::open("/dev/tty", O_WRONLY | O_CLOEXEC);
  s->terminal_ = termFd >= 0 ? ::fdopen(termFd, "w") : nullptr;
  if (!s->terminal_) {
    if (termFd >= 0) ::close(termFd);
    why = "cannot open the terminal";
    return nullptr;
  }
  // The modes to give back should the program leave without closing the screen.
  TerminalRestore restore;
  restore.terminalFd = termFd;
  restore.haveModes = tcgetattr(termFd, &restore.modes) == 0;
  s->screen_ = newterm(nullptr, s->terminal_, stdin);
  if (!s->screen_) {
    why = "curses cannot drive this terminal (TERM=" +
          std::string(std::getenv("TERM") ? std::getenv("TERM") : "") + ")";
    return nullptr;
  }
  set_term(s->screen_);
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  if (has_colors() && start_color() == OK && COLORS >= 8 && COLOR_PAIRS >= 64) {
    s->colours_ = true;
    for (short fg = 0; fg < 8; ++fg)
      for (short bg = 0; bg < 8; ++bg)
        if (fg * 8 + bg != 0) init_pair(static_cast<short>(fg * 8 + bg), fg, bg);
  }
  s->unicode_ = MB_CUR_MAX > 1;

  // From now on the screen is the terminal's only writer: whichever of standard output and
  // error went to the terminal goes to the capture file meanwhile.
  std::fflush(stdout);
  std::fflush(stderr);
  s->capture_ = CaptureFile();
  if (s->capture_ >= 0) {
    if (isatty(STDOUT_FILENO)) {
      s->savedOut_ = ::dup(STDOUT_FILENO);
      ::dup2(s->capture_, STDOUT_FILENO);
    }
    if (isatty(STDERR_FILENO)) {
      s->savedErr_ = ::dup(STDERR_FILENO);
      ::dup2(s->capture_, STDERR_FILENO);
    }
  }
  s->restoreSequence_ = RestoreSequence();
  restore.sequence = s->restoreSequence_;
  restore.savedOut = s->savedOut_;
  restore.savedErr = s->savedErr_;
  restore.capture = s->capture_;
  ArmTerminalRescue(restore);
  return s;
}

CursesScreen::~CursesScreen() {
  Close();
}

void CursesScreen::Close() {
  // From here the screen gives the terminal back itself; a rescue that ran already (it cannot
  // return to here but from a signal on another thread) has put the descriptors back.
  const bool mine = DisarmTerminalRescue();
  if (screen_) {
    set_term(screen_);
    endwin();
    delscreen(screen_);
    screen_ = nullptr;
  }
  if (terminal_) {
    std::fclose(terminal_);
    terminal_ = nullptr;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  // What was said while the screen was up goes back where it would have gone (standard output
  // if that was the terminal, else standard error), but for the ports' own lines, which the
  // panes showed: the station's lines (start, results, summary), errors and messages remain.
  if (mine) GiveBackOutput(savedOut_, savedErr_, capture_);
  savedOut_ = savedErr_ = capture_ = -1;
}

int CursesScreen::Columns() const {
  return screen_ ? COLS : 0;
}

int CursesScreen::Rows() const {
  return screen_ ? LINES : 0;
}

std::optional<Key> CursesScreen::ReadKey() {
  if (!screen_) return std::nullopt;
  wint_t ch = 0;
  const int kind = get_wch(&ch);
  if (kind == ERR) return std::nullopt;
  if (kind == KEY_CODE_YES) {
    switch (ch) {
      case KEY_UP:
        return Key{KeyKind::kUp, 0};
      case KEY_DOWN:
        return Key{KeyKind::kDown, 0};
      case KEY_PPAGE:
        return Key{KeyKind::kPageUp, 0};
      case KEY_NPAGE:
        return Key{KeyKind::kPageDown, 0};
      case KEY_HOME:
        return Key{KeyKind::kHome, 0};
      case KEY_END:
        return Key{KeyKind::kEnd, 0};
      case KEY_BTAB:
        return Key{KeyKind::kBackTab, 0};
      case KEY_ENTER:
        return Key{KeyKind::kEnter, 0};
      case KEY_BACKSPACE:
        return Key{KeyKind::kBackspace, 0};
      case KEY_RESIZE:
        return Key{KeyKind::kResize, 0};
      default:
        return Key{KeyKind::kOther, 0};
    }
  }
  switch (ch) {
    case L'\t':
      return Key{KeyKind::kTab, 0};
    case L'\r':
    case L'\n':
      return Key{KeyKind::kEnter, 0};
    case 27:
      return Key{KeyKind::kEscape, 0};
    case 8:
    case 127:
      return Key{KeyKind::kBackspace, 0};
    case 21:
      return Key{KeyKind::kClearLine, 0};
    default:
      break;
  }
  if (ch < 0x20 || ch == 0x7F) return Key{KeyKind::kOther, 0};
  return CharKey(static_cast<char32_t>(ch));
}

short CursesScreen::PairOf(win::COLORREF fg, win::COLORREF bg) const {
  if (!colours_) return 0;
  return static_cast<short>(TerminalColour(fg) * 8 + TerminalColour(bg));
}

void CursesScreen::Show(const canvas::CellCanvas& canvas, int cursorX, int cursorY) {
  if (!screen_) return;
  const int rows = std::min(canvas.Rows(), LINES);
  const int cols = std::min(canvas.Columns(), COLS);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      const canvas::Cell cell = canvas.At(x, y);
      wchar_t text[2] = {unicode_ ? static_cast<wchar_t>(cell.ch) : Narrow(cell.ch), 0};
      attr_t attr = A_NORMAL;
      // Without colours the bar (and every highlight) shows in reverse.
      if (!colours_ && TerminalColour(cell.bg) == COLOR_BLUE) attr = A_REVERSE;
      cchar_t cc;
      setcchar(&cc, text, attr, PairOf(cell.fg, cell.bg), nullptr);
      // The last cell of the screen is written without moving the cursor beyond it.
      if (y == LINES - 1 && x == COLS - 1)
        mvins_wch(y, x, &cc);
      else
        mvadd_wch(y, x, &cc);
    }
  if (cursorX >= 0 && cursorX < COLS && cursorY >= 0 && cursorY < LINES) {
    curs_set(1);
    move(cursorY, cursorX);
  } else {
    curs_set(0);
  }
  refresh();
}

std::string CursesScreen::LastOutputLine() {
  if (capture_ < 0) return lastLine_;
  char buf[8192];
  ssize_t n;
  while ((n = ::pread(capture_, buf, sizeof buf, captureRead_)) > 0) {
    captureRead_ += n;
    pending_.append(buf, static_cast<size_t>(n));
  }
  const auto end = pending_.rfind('\n');
  if (end != std::string::npos) {
    const auto start = pending_.rfind('\n', end == 0 ? 0 : end - 1);
    const size_t from = (start == std::string::npos || start == end) ? 0 : start + 1;
    lastLine_ = pending_.substr(from, end - from);
    pending_.erase(0, end + 1);
  }
  return lastLine_;
}

}  // namespace station
