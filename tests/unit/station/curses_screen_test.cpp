// What the full-screen station prints when it gives the terminal back: everything said while
// the screen was up but the ports' step lines, which the panes showed, whether the capture is
// read whole or in pieces.
#include "terminal/curses_screen.h"

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
      {"long lines: a step line goes whole, the rest stays whole",
       "10:00:00.100 COM5 | 3." + std::string(200, 's') + "\n" + "10:00:00.100 station | " +
           std::string(200, 'k') + "\n" + "10:00:09.000 COM5 | RESULT FAILED " +
           std::string(200, 'r') + "\n",
       "10:00:00.100 station | " + std::string(200, 'k') + "\n" +
           "10:00:09.000 COM5 | RESULT FAILED " + std::string(200, 'r') + "\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithoutPortLines(c.captured), c.printed) << c.name;
    // The same, however the bytes come (a signal handler reads them in pieces).
    for (size_t piece : {1, 5, 64, 65}) {
      std::string printed;
      auto write = [&printed](const char* data, size_t size) { printed.append(data, size); };
      CaptureFilter filter;
      for (size_t at = 0; at < c.captured.size(); at += piece)
        filter.Feed(std::string_view(c.captured).substr(at, piece), write);
      filter.Finish(write);
      EXPECT_EQ(printed, c.printed) << c.name << ", pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace station
