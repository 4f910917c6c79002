// Reading a port's model, flow and image writes out of the plug-in's log, and the model out of
// the pane's first lines.
#include "port_log_facts.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace station {
namespace {

// Log lines as the plug-in writes them: time stamp, "  : ", message, CR LF.
std::string Log(std::initializer_list<const char*> messages) {
  std::string text;
  for (const char* m : messages) text += std::string("[07:33:42:118]  : ") + m + "\r\n";
  return text;
}

// The reporter's line for a text it sent (its Korean words are code page 949 bytes).
std::string Sent(int port, int kind, const std::string& text) {
  return "[COM" + std::to_string(port) +
         "] WM_COPYDATA \xB8\xDE\xBD\xC3\xC1\xF6 \xBA\xB8\xB3\xBF " + std::to_string(kind) + " - " +
         text;
}

struct Expected {
  std::optional<std::string> model;
  std::optional<int> flow;
  // type, method, followed
  std::vector<std::tuple<std::string, std::string, bool>> images;
};

struct Row {
  const char* name;
  std::string log;
  int port;
  Expected expected;
};

TEST(PortLogFacts, ReadsModelFlowAndImagesOfOnePort) {
  const std::string normalFlow = Log({
      "[COM5] >>Get Model Name [DIAG_VERNO_F]",
      "[COM5]  strModel = TR52",
      "Banner : TR52V10A_091117",
      Sent(5, 0, "TR52").c_str(),
      "[COM5] _DloadMode()",
      "[COM5] EMERGENCY Booting Mode",
      "DLOAD_VERRSP_F : TR52",
      "[COM5] Pre Nand Download",
      "[COM5] _NandDownload(DBL)",
      "[COM5] _NandDownload(FSBL)",
      "[COM5] _NandDownload(OSBL)",
      "[COM5] _NandDownload(FLEXIBLE LOGO)",
      "[COM5] _NandDownload(AMSS)",
      "[COM5] _NandDownload(EFS GANG)",
      "[COM5] _Reset_N_Close bFirst = 1",
      "[COM5]  strModel = TR52",
  });
  const std::string emergencyPipelined = Log({
      "[COM7] EMERGENCY Booting Mode",
      "DLOAD_VERRSP_F : TR52",
      Sent(7, 0, "TR52").c_str(),
      "[COM7] Pre Nand Download",
      "[COM7] _NandDownload(DBL)",
      "[COM7] AMSS FLASHING ...",
      "[COM7] EFS GANG FLASHING ...",
  });
  const std::string ramAmss = Log({
      "[COM9]  strModel = TR52",
      "[COM9] _DloadMode()",
      "[COM9] _NandDownload(FLEXIBLE LOGO)",
      "[COM9] >>DOWNLOAD AMSS (RAM)",
      "[COM9] _NandDownload(EFS GANG)",
  });
  // Two ports at once: COM2 and COM21 share a prefix, and only the port's own lines count.
  const std::string twoPorts = Log({
      "[COM2]  strModel = TR52",
      "[COM21] EMERGENCY Booting Mode",
      Sent(2, 0, "TR52").c_str(),
      Sent(21, 0, "TR52").c_str(),
      "[COM2] _DloadMode()",
      "[COM21] _NandDownload(DBL)",
      "[COM2] _NandDownload(OSBL)",
      "[COM21] AMSS FLASHING ...",
  });
  // The emergency name line carries no port: while two ports ask at once nobody gets it.
  const std::string overlappingEmergency = Log({
      "[COM3] EMERGENCY Booting Mode",
      "[COM4] EMERGENCY Booting Mode",
      "DLOAD_VERRSP_F : TR52",
      "[COM3] Pre Nand Download",
  });
  const std::string emergencyAfterOtherPortDone = Log({
      "[COM4] EMERGENCY Booting Mode",
      Sent(4, 0, "TR52").c_str(),
      "[COM3] EMERGENCY Booting Mode",
      "DLOAD_VERRSP_F : TR52",
  });
  // Lines that look alike but are no image writes; a refused image; a line still being
  // written; the header's continuation lines.
  const std::string lookalikes =
      "=============================================\r\n"
      "[07:33:42:118]  : Log is started on 08.12.2026, at 07:33:42:118, \r\n"
      "executable: /opt/station (ProcID: 0x00000001), \r\n" +
      Log({
          "[COM6]  strModel = TR52",
          Sent(6, 3, "FLASHING DBL").c_str(),
          "[COM6] FLASHING MEDIA",
          "[COM6] FLASHING MODULE...",
          "[COM6] ERROR :  _NandDownload(AMSS) ... ZU3G_ERROR_NO_IMAGE",
          "[COM6] _NandDownload(DBL)",
          "[COM6]_NandDownload(FSBL)",
          "[COM6 ] _NandDownload(OSBL)",
      }) +
      "[07:33:42:119]  : [COM6] _NandDownload(AMSS)";
  const std::string noPhone = Log({
      "[COM8] >>Get Model Name [DIAG_VERNO_F]",
      "[COM8] Get Model Name in Normal Booting  FAIL",
      "[COM8] EMERGENCY Booting Mode",
      Sent(8, 0, "No Phone").c_str(),
      "[COM8] GetEmergencyModelName - FAIL (No Phone)",
  });
  const std::string otherModel = Log({
      "[COM8]  strModel = TR99",
      "[COM8] Compare Model Name FAIL...Phone TR99 vs Dll TR52",
  });

  const std::vector<Row> rows = {
      {"normal flow, classic writes, reset",
       normalFlow,
       5,
       {"TR52",
        1,
        {{"PARTITION TBL", "partition table", true},
         {"DBL", "nand", true},
         {"FSBL", "nand", true},
         {"OSBL", "nand", true},
         {"FLEXIBLE LOGO", "nand", true},
         {"AMSS", "nand", true},
         {"EFS GANG", "nand", true}}}},
      {"emergency flow, pipelined writes, last write unfinished",
       emergencyPipelined,
       7,
       {"TR52",
        0,
        {{"PARTITION TBL", "partition table", true},
         {"DBL", "nand", true},
         {"AMSS", "pipelined", true},
         {"EFS GANG", "pipelined", false}}}},
      {"AMSS through RAM",
       ramAmss,
       9,
       {"TR52",
        1,
        {{"FLEXIBLE LOGO", "nand", true}, {"AMSS", "ram", true}, {"EFS GANG", "nand", false}}}},
      {"COM2 beside COM21", twoPorts, 2, {"TR52", 1, {{"OSBL", "nand", false}}}},
      {"COM21 beside COM2",
       twoPorts,
       21,
       {"TR52", 0, {{"DBL", "nand", true}, {"AMSS", "pipelined", false}}}},
      {"emergency name while two ports ask",
       overlappingEmergency,
       3,
       {std::nullopt, std::nullopt, {{"PARTITION TBL", "partition table", false}}}},
      {"emergency name after the other port has its name",
       emergencyAfterOtherPortDone,
       3,
       {"TR52", std::nullopt, {}}},
      // A model name without the detection accepting it (no listed name): no flow ran.
      {"look-alike lines", lookalikes, 6, {"TR52", std::nullopt, {{"DBL", "nand", false}}}},
      {"no phone", noPhone, 8, {std::nullopt, std::nullopt, {}}},
      {"other model", otherModel, 8, {"TR99", std::nullopt, {}}},
      {"a port absent from the log", normalFlow, 6, {std::nullopt, std::nullopt, {}}},
      {"empty log", "", 5, {std::nullopt, std::nullopt, {}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const PortLogFacts facts = ReadPortLogFacts(row.log, row.port);
    EXPECT_EQ(facts.model, row.expected.model);
    EXPECT_EQ(facts.flow, row.expected.flow);
    std::vector<std::tuple<std::string, std::string, bool>> images;
    for (const auto& w : facts.images) images.emplace_back(w.type, w.method, w.followed);
    EXPECT_EQ(images, row.expected.images);
  }
}

TEST(PortLogFacts, ModelComesFromThePaneLineBeforeLoadBin) {
  const std::vector<std::pair<std::vector<std::string>, std::optional<std::string>>> rows = {
      {{"1.TR52", "2.Load Bin"}, "TR52"},
      {{"12.TR52C", "13.Load Bin"}, "TR52C"},
      {{"1.No Phone", "2.-.ERROR 502 "}, std::nullopt},
      {{"1.-.ERROR 503 "}, std::nullopt},
      {{"1.TR52"}, std::nullopt},
      {{"1.TR52", "2.-.ERROR 9001 "}, std::nullopt},
      {{"1.", "2.Load Bin"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const auto& [lines, model] : rows) {
    SCOPED_TRACE(lines.empty() ? "(none)" : lines.front());
    EXPECT_EQ(ModelFromPaneLines(lines), model);
  }
}

}  // namespace
}  // namespace station
