// Gives the terminal back when the program leaves by a way that skips the full screen's own
// closing: a fatal signal (SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL), std::terminate,
// exit(), or a third stop signal. The screen hands over everything while it opens, so that
// giving back takes only async-signal-safe calls: the terminal's restore sequence written, its
// saved modes set again, standard output and error put back and the captured lines replayed.
#pragma once

#include <termios.h>

#include <string_view>

namespace station {

struct TerminalRestore {
  int terminalFd = -1;  // where the screen draws
  bool haveModes = false;
  termios modes{};            // the terminal's modes before the screen opened
  std::string_view sequence;  // leaves the screen's modes (attributes, cursor, keypad, screen)
  int savedOut = -1;          // standard output and error before the screen opened (-1: kept)
  int savedErr = -1;
  int capture = -1;  // where standard output and error went meanwhile
};

// The screen is up: `restore` (copied) is used if the program leaves without closing it.
void ArmTerminalRescue(const TerminalRestore& restore);
// The screen closes itself: the rescue is off. False when a rescue already gave the terminal
// back (nothing left for the screen to give back but curses' own state).
bool DisarmTerminalRescue();
// Gives the terminal back now when armed; once. Async-signal-safe.
void RescueTerminal();
// Installs the handlers of the fatal signals (each gives the terminal back, then lets the
// earlier action take over), a terminate handler and an exit handler. Once per process.
void InstallTerminalRescue();

}  // namespace station
