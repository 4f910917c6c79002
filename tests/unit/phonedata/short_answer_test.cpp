// NV and EFS2 answers too short to hold the fields a command reads: the link clears its buffer
// past the answer, so a missing status would read as NV_DONE_S (or EFS2 error 0), a missing NV
// item as zeros to be stored. Each command must fail instead, as if the phone had not
// answered, with its own log line.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_reader.h"
#include "phone_fixture.h"

namespace tr52test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kNvRead = 0x26;
constexpr uint8_t kNvWrite = 0x27;
constexpr uint8_t kSpc = 0x41;
constexpr uint8_t kSubsysV2 = 0x80;
constexpr uint8_t kSubsys = 0x4B;

// An EFS2 answer of `length` bytes: the request's 4-byte header, then 32-bit fields.
Bytes EfsAnswer(const Bytes& req, size_t length,
                std::initializer_list<std::pair<size_t, uint32_t>> fields = {}) {
  Bytes a(length, 0);
  std::copy(req.begin(), req.begin() + 4, a.begin());
  for (const auto& [at, v] : fields) tr52::StoreU32le(a.data() + at, v);
  return a;
}

// A CNV answer: status at 4, response count at 10.
Bytes CnvAnswer(const Bytes& req, uint16_t count) {
  Bytes a(12, 0);
  std::copy(req.begin(), req.begin() + 4, a.begin());
  tr52::StoreU16le(a.data() + 10, count);
  return a;
}

uint16_t EfsCommand(const Bytes& req) {
  return req.size() >= 4 ? static_cast<uint16_t>(req[2] | (req[3] << 8)) : 0xFFFF;
}

TEST(ShortAnswer, AnswerWithoutAFieldTheCommandReadsFailsTheCommand) {
  struct Row {
    const char* command;  // as the short-answer line names it
    uint8_t first;        // the request whose answer is cut: its first byte ...
    int efs;              // ... and its EFS2 command (-1: not an EFS2 request)
    size_t needed;        // how far the fields the command reads reach
    std::function<Bytes(const Bytes& req)> full;  // that answer with every field
    std::function<bool(PhoneFixture&)> run;       // the command; true = success
    bool late = false;  // the answer is a CNV answer that follows a first, empty one
  };
  const uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const Row rows[] = {
      {"NvRead", kNvRead, -1, 133, [](const Bytes& r) { return NvAnswer(r, 2010, 0, 0x11); },
       [](PhoneFixture& fx) {
         tr52::NvRecord record;
         return fx.Nv().NvRead(2010, record);
       }},
      {"NvReadRecord", kNvRead, -1, 133, [](const Bytes& r) { return NvAnswer(r, 2010, 0, 0x11); },
       [](PhoneFixture& fx) {
         tr52::NvRecord record;
         record.item = 2010;
         return fx.Nv().NvReadRecord(record, 0);
       }},
      {"NvWrite", kNvWrite, -1, 133, [](const Bytes& r) { return NvAnswer(r, 2010, 0); },
       [](PhoneFixture& fx) {
         tr52::NvRecord record;
         record.flag = 1;
         record.item = 2010;
         return fx.Nv().NvWrite(record);
       }},
      {"SendSpc", kSpc, -1, 2,
       [](const Bytes&) {
         return Bytes{kSpc, 1};
       },
       [](PhoneFixture& fx) { return fx.Nv().SendSpc(); }},
      {"CnvBackup", kSubsysV2, -1, 12, [](const Bytes& r) { return CnvAnswer(r, 1); },
       [](PhoneFixture& fx) { return fx.Nv().CnvBackup() == tr52::NV_RESULT_OK; }, true},
      {"OpenFile", kSubsys, tr52::EFS2_DIAG_OPEN, 12,
       [](const Bytes& r) {
         return EfsAnswer(r, 12, {{4, 3}});
       },
       [](PhoneFixture& fx) { return fx.Efs().OpenFile("a/b", 0x41, 1) != -1; }},
      {"CloseFile", kSubsys, tr52::EFS2_DIAG_CLOSE, 8,
       [](const Bytes& r) { return EfsAnswer(r, 8); },
       [](PhoneFixture& fx) { return fx.Efs().CloseFile(3); }},
      {"WriteChunk", kSubsys, tr52::EFS2_DIAG_WRITE, 20,
       [](const Bytes& r) {
         return EfsAnswer(r, 20, {{12, 10}});
       },
       [&data](PhoneFixture& fx) { return fx.Efs().WriteChunk(data, 10, 3, 0) == 10; }},
      {"Stat", kSubsys, tr52::EFS2_DIAG_STAT, 32,
       [](const Bytes& r) {
         return EfsAnswer(r, 32, {{12, 10}});
       },
       [](PhoneFixture& fx) {
         tr52::Efs2StatInfo info;
         return fx.Efs().Stat("a/b", &info);
       }},
      {"OpenDir", kSubsys, tr52::EFS2_DIAG_OPENDIR, 12,
       [](const Bytes& r) {
         return EfsAnswer(r, 12, {{4, 7}});
       },
       [](PhoneFixture& fx) { return fx.Efs().OpenDir("a") != 0; }},
      {"ReadDir", kSubsys, tr52::EFS2_DIAG_READDIR, 41,
       [](const Bytes& r) {
         Bytes a = EfsAnswer(r, 42, {{8, 2}});
         a[40] = 'x';
         return a;
       },
       [](PhoneFixture& fx) {
         tr52::Efs2DirEntry entry;
         return fx.Efs().ReadDir(7, 1, entry) >= 0;
       }},
      {"CloseDir", kSubsys, tr52::EFS2_DIAG_CLOSEDIR, 8,
       [](const Bytes& r) { return EfsAnswer(r, 8); },
       [](PhoneFixture& fx) { return fx.Efs().CloseDir(7); }},
      {"MakeDirectory", kSubsys, tr52::EFS2_DIAG_MKDIR, 8,
       [](const Bytes& r) { return EfsAnswer(r, 8); },
       [](PhoneFixture& fx) { return fx.Efs().MakeDirectory("a"); }},
      {"RemoveDirectory", kSubsys, tr52::EFS2_DIAG_RMDIR, 8,
       [](const Bytes& r) { return EfsAnswer(r, 8); },
       [](PhoneFixture& fx) { return fx.Efs().RemoveDirectory("a"); }},
      {"RemoveFile", kSubsys, tr52::EFS2_DIAG_UNLINK, 8,
       [](const Bytes& r) { return EfsAnswer(r, 8); },
       [](PhoneFixture& fx) { return fx.Efs().RemoveFile("a/b"); }},
      {"RemoveFiles", kSubsys, tr52::EFS2_DIAG_RMFILES, 8,
       [](const Bytes& r) { return EfsAnswer(r, 8); },
       [](PhoneFixture& fx) { return fx.Efs().RemoveFiles("a"); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    for (const bool cut : {false, true}) {
      PhoneFixture fx;
      fx.SetHook([&](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
        if (req.empty()) return std::nullopt;
        const bool target = req[0] == row.first && (row.efs < 0 || EfsCommand(req) == row.efs);
        if (!target) {
          // Whatever else a command asks first (the stat before an unlink) succeeds.
          if (req[0] == kSubsys && EfsCommand(req) == tr52::EFS2_DIAG_STAT)
            return ScriptedPeer::Answers{EfsAnswer(req, 32)};
          return std::nullopt;
        }
        Bytes answer = row.full(req);
        if (cut) answer.resize(row.needed - 1);
        if (!row.late) return ScriptedPeer::Answers{answer};
        fx.SendLater(answer, 20);
        return ScriptedPeer::Answers{CnvAnswer(req, 0)};
      });
      const std::string line = "[COM47] " + std::string(row.command) + " - short answer (" +
                               std::to_string(row.needed - 1) + " bytes, " +
                               std::to_string(row.needed) + " needed)";
      if (!cut) {
        EXPECT_TRUE(row.run(fx)) << "the whole answer is a good one";
        EXPECT_FALSE(fx.LogHas(" - short answer ("));
      } else {
        EXPECT_FALSE(row.run(fx)) << "an answer one byte short";
        EXPECT_TRUE(fx.LogHas(line)) << line;
      }
      fx.SetHook({});
    }
  }
}

}  // namespace
}  // namespace tr52test
