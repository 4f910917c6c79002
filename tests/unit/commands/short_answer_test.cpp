// Answers too short to hold the fields a command reads: the link clears its buffer past the
// answer, so a missing field would read as zero (status 0, error number 0) and pass for success.
// Each command must fail instead, as if the phone had refused, with its own log line.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "command_fixture.h"
#include "commands/diag_client.h"
#include "commands/dload_client.h"

namespace tr52test {
namespace {

using tr52::IMAGE_AMSS;
using tr52::IMAGE_AMSS_MODEM_HEADER;
using tr52::IMAGE_OEMSBL;

class ShortAnswerTest : public CommandTest {};

// A DIAG_VERNO_F answer with the model text "TR52" at offset 39 and version bytes after it.
Bytes VernoAnswer() {
  Bytes a(39, 0x20);
  a[0] = 0x00;
  a.insert(a.end(), {'T', 'R', '5', '2', 0, 0x02, 0x06});
  return a;
}

// `length` bytes starting with `head`, zero-filled after it.
Bytes Answer(Bytes head, size_t length) {
  head.resize(length, 0);
  return head;
}

TEST_F(ShortAnswerTest, AnswerWithoutAFieldTheCommandReadsFailsTheCommand) {
  struct Row {
    const char* command;  // as the short-answer line names it
    tr52::Protocol mode;  // protocol mode of the link
    Bytes full;           // the answer with every field of the layout (success)
    size_t needed;        // how far the fields the command reads reach
    std::function<bool(tr52::DiagClient&, tr52::DloadClient&)> run;  // the command's result
  };
  const Row rows[] = {
      {"GetModelName", tr52::Protocol::Diag, VernoAnswer(), 40,
       [](auto& diag, auto&) {
         std::string model;
         return diag.GetModelName(model);
       }},
      {"GetBatteryLevel", tr52::Protocol::Diag, Answer({0x4B, 0xFC, 0x04, 0x00, 0, 0, 0, 0, 55}, 9),
       9,
       [](auto& diag, auto&) {
         int level = 0;
         return diag.GetBatteryLevel(level);
       }},
      {"GetNvItemRanges", tr52::Protocol::Diag,
       Answer({0x4B, 0xFC, 0x09, 0x00, 0, 0, 0x29, 0x11, 0x29, 0x23, 0xDD, 0x23}, 12), 12,
       [](auto& diag, auto&) {
         tr52::NvRanges ranges{};
         return diag.GetNvItemRanges(&ranges);
       }},
      {"GetParameters", tr52::Protocol::Dload, Answer({0x50, 0x00}, 40), 40,
       [](auto&, auto& dload) { return dload.GetParameters(); }},
      {"GetCommMode", tr52::Protocol::Dload, Answer({0x50, 0x12, 2}, 6), 6,
       [](auto&, auto& dload) { return dload.GetCommMode(); }},
      {"Dl_Init", tr52::Protocol::Dload, Answer({0x50, 0x01, 0x00, 0x00, 0x10}, 11), 11,
       [](auto&, auto& dload) { return dload.Dl_Init(); }},
      {"Dl_Init_2nd", tr52::Protocol::Dload, Answer({0x50, 0x0C, 0x00, 0x00, 0x10}, 11), 11,
       [](auto&, auto& dload) { return dload.Dl_Init_2nd(IMAGE_AMSS); }},
      {"Dl_Write", tr52::Protocol::Dload, Answer({0x50, 0x02}, 6), 6,
       [](auto&, auto& dload) { return dload.Dl_Write(IMAGE_AMSS) == tr52::DlWriteResult::Done; }},
      {"Dl_Program", tr52::Protocol::Dload, Answer({0x50, 0x04}, 7), 7,
       [](auto&, auto& dload) { return dload.Dl_Program(); }},
      {"GetEmergencyModelName", tr52::Protocol::Dload, Bytes{0x0D, 4, 'K', 'W', '5', '2'}, 6,
       [](auto&, auto& dload) {
         std::string name;
         return dload.GetEmergencyModelName(name);
       }},
      {"CheckBcplStatus", tr52::Protocol::Dload, Bytes{0x50, 0x07, 0x01}, 3,
       [](auto&, auto& dload) { return dload.CheckBcplStatus(); }},
      {"UnlockBcpl", tr52::Protocol::Dload, Bytes{0x50, 0x0F, 0x01}, 3,
       [](auto&, auto& dload) { return dload.UnlockBcpl(); }},
  };
  images[IMAGE_AMSS] = Pattern(4096);
  images[IMAGE_AMSS_MODEM_HEADER] = Pattern(100, 2);
  images[IMAGE_OEMSBL] = Pattern(200, 3);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    link.SetProtocolMode(row.mode);
    AnswerAlways(row.full);
    EXPECT_TRUE(row.run(diag, dload)) << "the whole answer is a good one";

    const Bytes cut(row.full.begin(), row.full.begin() + static_cast<long>(row.needed - 1));
    link.SetProtocolMode(row.mode);
    AnswerAlways(cut);
    const std::string line =
        Com(" " + std::string(row.command) + " - short answer (" + std::to_string(cut.size()) +
            " bytes, " + std::to_string(row.needed) + " needed)");
    const size_t before = log.Count(line);
    EXPECT_FALSE(row.run(diag, dload)) << "an answer one byte short";
    EXPECT_GT(log.Count(line), before);
  }
}

}  // namespace
}  // namespace tr52test
