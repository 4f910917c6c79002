// What the full-screen station prints when it gives the terminal back: everything said while
// the screen was up but the ports' step lines, which the panes showed.
#include "curses_screen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace station {
namespace {

TEST(CursesScreen, GivingTheTerminalBackKeepsAllButThePortsStepLines) {
  struct Case {
    const char* name;
    std::string captured;
    std::string printed;
  };
  const std::vector<Case> cases = {
      {"a run",
       "10:00:00.000 station | loaded plug-in /x/TR52_091117_MP.so\n"
       "PATH_BIN : /fw/TR52.dz\n"
       "10:00:00.001 station | watching COM5, COM12\n"
       "10:00:00.100 COM5 | phone connected\n"
       "10:00:00.200 COM12 | 1.TR52\n"
       "10:00:09.000 COM12 | RESULT OK (result 0: success) after 9.0 s\n"
       "station: error: something to know\n"
       "10:00:10.000 station | summary: 1 of 2 port(s) succeeded\n"
       "10:00:10.000 station |   COM5: still downloading, no result\n",
       "10:00:00.000 station | loaded plug-in /x/TR52_091117_MP.so\n"
       "PATH_BIN : /fw/TR52.dz\n"
       "10:00:00.001 station | watching COM5, COM12\n"
       "10:00:09.000 COM12 | RESULT OK (result 0: success) after 9.0 s\n"
       "station: error: something to know\n"
       "10:00:10.000 station | summary: 1 of 2 port(s) succeeded\n"
       "10:00:10.000 station |   COM5: still downloading, no result\n"},
      {"an unfinished last line is kept", "10:00:00.100 COM5 | 2.Load Bin\npartial", "partial"},
      {"look-alikes are no port lines",
       "10:00:00.100 COMX | a\n10:00:00.100 COM | b\n10-00-00.100 COM5 | c\nCOM5 | d\n",
       "10:00:00.100 COMX | a\n10:00:00.100 COM | b\n10-00-00.100 COM5 | c\nCOM5 | d\n"},
      {"nothing", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutPortLines(c.captured), c.printed) << c.name;
}

}  // namespace
}  // namespace station
