// The one owner of the terminal while the full-screen station runs. Opening it starts curses on
// the terminal and sends the program's own standard output and error to a private file, so
// stray lines cannot tear the screen; closing it (or destroying it) gives the terminal back as
// it was and writes out what was said meanwhile, less the ports' step lines that the panes
// showed.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cell_canvas.h"
#include "core/captured_output.h"
#include "screen_key.h"

struct screen;

namespace station {

class CursesScreen {
 public:
  // Starts curses on the terminal of standard input (drawing on standard output when it is
  // that terminal, else on /dev/tty); null (and `why`) when standard input is not a terminal
  // or curses cannot drive it.
  static std::unique_ptr<CursesScreen> Open(std::string& why);
  ~CursesScreen();
  CursesScreen(const CursesScreen&) = delete;
  CursesScreen& operator=(const CursesScreen&) = delete;

  // Ends curses and gives back standard output and error; idempotent. Until then a fatal signal,
  // std::terminate or exit() give the terminal back in its place (terminal_rescue.h).
  void Close();

  int Columns() const;
  int Rows() const;
  // The next key typed, without waiting; nullopt when none.
  std::optional<Key> ReadKey();
  // Shows `canvas` (cell (0, 0) at the top-left corner of the terminal) with the cursor at
  // (cursorX, cursorY), or hidden when cursorX < 0.
  void Show(const canvas::CellCanvas& canvas, int cursorX, int cursorY);
  // The last complete line written to standard output or error since the screen opened.
  std::string LastOutputLine();

 private:
  CursesScreen() = default;
  short PairOf(win::COLORREF fg, win::COLORREF bg) const;

  screen* screen_ = nullptr;
  std::FILE* terminal_ = nullptr;  // the terminal, for curses' output
  int savedOut_ = -1;              // standard output and error before the screen opened
  int savedErr_ = -1;
  int capture_ = -1;  // where standard output and error go meanwhile
  long long captureRead_ = 0;
  std::string pending_;
  std::string lastLine_;
  std::string restoreSequence_;  // handed to the terminal rescue
  bool colours_ = false;
  bool unicode_ = false;
};

}  // namespace station
