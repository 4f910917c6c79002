// The phone-data families' request builders and answer parsers on plain bytes: each request
// kind against its golden bytes, each answer layout whole and cut short.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "phonedata/cnv_requests.h"
#include "phonedata/efs2_requests.h"
#include "phonedata/nv_requests.h"
#include "support/request_rows.h"

namespace {

using namespace tr52test;  // the rows and byte helpers of request_rows.h

Bytes Cut(const Bytes& b) {
  return Bytes(b.begin(), b.end() - 1);
}

TEST(RequestBytes, Nv) {
  tr52::NvRecord record;
  record.item = 0x1234;
  record.data[0] = 0xAA;
  record.data[127] = 0xBB;
  Bytes write = Padded({0x27, 0x34, 0x12, 0xAA}, 133);
  write[130] = 0xBB;
  ExpectGolden({
      {"read", tr52::BuildNvRead(571, 0), Padded({0x26, 0x3B, 0x02}, 133)},
      {"read of an index", tr52::BuildNvRead(71, 3), Padded({0x26, 71, 0, 3}, 133)},
      {"write", tr52::BuildNvWrite(record), write},
      {"service programming code",
       tr52::BuildSpcRequest("123456"),
       {0x41, '1', '2', '3', '4', '5', '6'}},
      {"service programming code too short", tr52::BuildSpcRequest("12345"), {}},
      {"service programming code too long", tr52::BuildSpcRequest("1234567"), {}},
  });
  Bytes answer = Padded({0x26, 0x3B, 0x02, 'x'}, 133);
  answer[131] = 0x05;  // NV_NOTACTIVE_S
  const auto word = [](uint16_t v) { return U16Bytes(v); };
  const auto packet = [](const tr52::NvRecord& r) {
    return Joined(Joined({r.flag}, U16Bytes(r.item)), Joined({r.data[0]}, U16Bytes(r.status)));
  };
  const auto yes = [](bool b) { return Bytes{static_cast<uint8_t>(b)}; };
  ExpectParsed({
      {"answered item", Put(tr52::ParseNvItem(answer), word), U16Bytes(571)},
      {"answered item cut short", Put(tr52::ParseNvItem(Bytes{0x26, 0x3B}), word), std::nullopt},
      {"packet", Put(tr52::ParseNvPacket(answer), packet), Bytes{0x26, 0x3B, 0x02, 'x', 5, 0}},
      {"packet cut short", Put(tr52::ParseNvPacket(Cut(answer)), packet), std::nullopt},
      {"write status", Put(tr52::ParseNvWriteStatus(answer), word), U16Bytes(5)},
      {"write status cut short", Put(tr52::ParseNvWriteStatus(Cut(answer)), word), std::nullopt},
      {"code taken", Put(tr52::ParseSpcAnswer(Bytes{0x41, 1}), yes), Bytes{1}},
      {"code refused", Put(tr52::ParseSpcAnswer(Bytes{0x41, 0}), yes), Bytes{0}},
      {"code answer cut short", Put(tr52::ParseSpcAnswer(Bytes{0x41}), yes), std::nullopt},
  });
}

TEST(RequestBytes, Cnv) {
  ExpectGolden({
      {"backup", tr52::BuildCnvRequest(tr52::kCnvBackup), Padded({0x80, 0x37, 0x00, 0x00}, 12)},
      {"restore", tr52::BuildCnvRequest(tr52::kCnvRestore), Padded({0x80, 0x37, 0x01, 0x00}, 12)},
  });
  const auto answer = [](uint32_t status, uint16_t count) {
    return Joined(Joined({0x80, 0x37, 0, 0}, U32Bytes(status)), Joined({0, 0}, U16Bytes(count)));
  };
  const auto fields = [](const tr52::CnvAnswer& a) {
    return Joined(Joined(U32Bytes(a.status), U16Bytes(a.count)),
                  {static_cast<uint8_t>(a.Succeeded())});
  };
  ExpectParsed({
      {"done", Put(tr52::ParseCnvAnswer(answer(0, 3)), fields),
       Joined(Joined(U32Bytes(0), U16Bytes(3)), {1})},
      {"status 1 is a failure", Put(tr52::ParseCnvAnswer(answer(1, 3)), fields),
       Joined(Joined(U32Bytes(1), U16Bytes(3)), {0})},
      {"count 0 is a failure", Put(tr52::ParseCnvAnswer(answer(0, 0)), fields),
       Joined(Joined(U32Bytes(0), U16Bytes(0)), {0})},
      {"cut short", Put(tr52::ParseCnvAnswer(Cut(answer(0, 3))), fields), std::nullopt},
  });
}

TEST(RequestBytes, Efs2) {
  const Bytes data{1, 2, 3};
  const std::string tooLong(32768, 'a');
  ExpectGolden({
      {"query", tr52::BuildEfs2Query(), {0x4B, 0x13, 51, 0}},
      {"open", tr52::BuildEfs2Open("/nv/item", 0x41, 1),
       Joined({0x4B, 0x13, 2, 0, 0x41, 0, 0, 0, 1, 0, 0, 0}, Joined(TextBytes("nv/item"), {0}))},
      {"open of a memory-card path", tr52::BuildEfs2Open("/mmc1/Music/LongFileName.mp3", 0x41, 1),
       Joined({0x4B, 0x13, 2, 0, 0x41, 0, 0, 0, 1, 0, 0, 0},
              Joined(TextBytes("mmc1/music/LongFileName.mp3\n"), {0}))},
      {"open of too long a path", tr52::BuildEfs2Open(tooLong, 0x41, 1), {}},
      {"close", tr52::BuildEfs2Close(-2), {0x4B, 0x13, 3, 0, 0xFE, 0xFF, 0xFF, 0xFF}},
      {"write",
       tr52::BuildEfs2Write(7, 0x1000, data),
       {0x4B, 0x13, 5, 0, 7, 0, 0, 0, 0x00, 0x10, 0, 0, 1, 2, 3}},
      {"write of a full request", tr52::BuildEfs2Write(7, 0, Bytes(32756, 9)),
       Joined({0x4B, 0x13, 5, 0, 7, 0, 0, 0, 0, 0, 0, 0}, Bytes(32756, 9))},
      {"write of more than a request holds", tr52::BuildEfs2Write(7, 0, Bytes(32757, 9)), {}},
      {"stat", tr52::BuildEfs2Stat("/a"), {0x4B, 0x13, 15, 0, 'a', 0}},
      {"stat of the root", tr52::BuildEfs2Stat("/"), {0x4B, 0x13, 15, 0, '/', 0}},
      {"open directory", tr52::BuildEfs2OpenDir("d"), {0x4B, 0x13, 11, 0, 'd', 0}},
      {"read directory", tr52::BuildEfs2ReadDir(5, 2), {0x4B, 0x13, 12, 0, 5, 0, 0, 0, 2, 0, 0, 0}},
      {"close directory", tr52::BuildEfs2CloseDir(5), {0x4B, 0x13, 13, 0, 5, 0, 0, 0}},
      {"make directory", tr52::BuildEfs2MakeDir("/d", 0x40), {0x4B, 0x13, 9, 0, 0x40, 0, 'd', 0}},
      {"remove directory", tr52::BuildEfs2RemoveDir("/d"), {0x4B, 0x13, 10, 0, 'd', 0}},
      {"unlink", tr52::BuildEfs2Unlink("/f"), {0x4B, 0x13, 8, 0, 'f', 0}},
      {"remove files", tr52::BuildEfs2RemoveFiles("/d"), {0x4B, 0x13, 50, 0, 'd', 0}},
      {"remove files of too long a path", tr52::BuildEfs2RemoveFiles(tooLong), {}},
  });
  const Bytes head{0x4B, 0x13, 0, 0};
  const auto word = [](uint32_t v) { return U32Bytes(v); };
  const auto pair = [](const auto& a) { return Joined(U32Bytes(a.handle), U32Bytes(a.error)); };
  const auto write = [](const tr52::Efs2WriteAnswer& a) {
    return Joined(U32Bytes(a.written), U32Bytes(a.error));
  };
  const auto stat = [](const tr52::Efs2StatInfo& s) {
    return Joined(Joined(Joined(U32Bytes(s.mode), U32Bytes(s.size)),
                         Joined(U32Bytes(s.atime), U32Bytes(s.mtime))),
                  U32Bytes(s.ctime));
  };
  const auto dirHead = [](const tr52::Efs2ReadDirHead& h) {
    return Joined(U32Bytes(h.next), U32Bytes(h.error));
  };
  const auto entry = [](const tr52::Efs2DirEntry& e) {
    return Joined(Joined(U32Bytes(e.type), U32Bytes(e.size)), TextBytes(e.name));
  };
  const Bytes openAnswer = Joined(Joined(head, U32Bytes(9)), U32Bytes(0));
  const Bytes writeAnswer = Joined(Padded(head, 12), Joined(U32Bytes(3), U32Bytes(0)));
  const Bytes statAnswer =
      Joined(Joined(Joined(head, U32Bytes(0)), Joined(U32Bytes(0x81FF), U32Bytes(77))),
             Joined(Joined(U32Bytes(0), U32Bytes(1)), Joined(U32Bytes(2), U32Bytes(3))));
  const Bytes dirAnswer =
      Joined(Joined(Padded(head, 8), Joined(U32Bytes(2), U32Bytes(0))),
             Joined(Joined(U32Bytes(1), U32Bytes(0)), Joined(U32Bytes(12), Padded({}, 12))));
  ExpectParsed({
      {"error number", Put(tr52::ParseEfs2Error(Joined(head, U32Bytes(26))), word), U32Bytes(26)},
      {"error number cut short", Put(tr52::ParseEfs2Error(Cut(Joined(head, U32Bytes(26)))), word),
       std::nullopt},
      {"open", Put(tr52::ParseEfs2HandleAnswer(openAnswer), pair),
       Joined(U32Bytes(9), U32Bytes(0))},
      {"open cut short", Put(tr52::ParseEfs2HandleAnswer(Cut(openAnswer)), pair), std::nullopt},
      {"write", Put(tr52::ParseEfs2WriteAnswer(writeAnswer), write),
       Joined(U32Bytes(3), U32Bytes(0))},
      {"write cut short", Put(tr52::ParseEfs2WriteAnswer(Cut(writeAnswer)), write), std::nullopt},
      {"stat", Put(tr52::ParseEfs2Stat(statAnswer), stat),
       Joined(Joined(Joined(U32Bytes(0x81FF), U32Bytes(77)), Joined(U32Bytes(1), U32Bytes(2))),
              U32Bytes(3))},
      {"stat cut short", Put(tr52::ParseEfs2Stat(Cut(statAnswer)), stat), std::nullopt},
      {"directory head", Put(tr52::ParseEfs2ReadDirHead(dirAnswer), dirHead),
       Joined(U32Bytes(2), U32Bytes(0))},
      {"directory head cut short",
       Put(tr52::ParseEfs2ReadDirHead(Bytes(dirAnswer.begin(), dirAnswer.begin() + 15)), dirHead),
       std::nullopt},
      {"entry with a name",
       Put(tr52::ParseEfs2DirEntry(Joined(dirAnswer, Bytes{'a', 'b', 'c', 0, 'z'})), entry),
       Joined(Joined(U32Bytes(1), U32Bytes(12)), TextBytes("abc"))},
      {"entry name to the end of the answer",
       Put(tr52::ParseEfs2DirEntry(Joined(dirAnswer, TextBytes("ab"))), entry),
       Joined(Joined(U32Bytes(1), U32Bytes(12)), TextBytes("ab"))},
      {"entry without name", Put(tr52::ParseEfs2DirEntry(dirAnswer), entry), std::nullopt},
  });
}

}  // namespace
