// The NV backup file: layout written by the set, what reading back accepts and refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/byte_reader.h"
#include "phonedata/nv_backup_set.h"
#include "support/temp_dir.h"

namespace tr52test {
namespace {

using tr52::NvBackupSet;
using tr52::NvRecord;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

NvRecord Rec(uint16_t item, uint8_t fill) {
  NvRecord r;
  r.flag = 1;
  r.item = item;
  r.data.fill(fill);
  r.data[127] = static_cast<uint8_t>(item);
  return r;
}

TEST(NvRecordCodec, EncodesFieldsAtTheirOffsets) {
  NvRecord r = Rec(0x1234, 0xAB);
  r.status = 0x0506;
  uint8_t b[133];
  r.EncodeTo(b);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[1], 0x34);
  EXPECT_EQ(b[2], 0x12);
  EXPECT_EQ(b[3], 0xAB);
  EXPECT_EQ(b[130], 0x34);
  EXPECT_EQ(b[131], 0x06);
  EXPECT_EQ(b[132], 0x05);
  EXPECT_EQ(NvRecord::DecodeFrom(b), r);
}

TEST(NvRecordCodec, StatusNamesStayInsideTheTable) {
  EXPECT_STREQ(tr52::NvStatusName(0), "NV_DONE_S");
  EXPECT_STREQ(tr52::NvStatusName(4), "NV_FAIL_S");
  EXPECT_STREQ(tr52::NvStatusName(10), "NV_NOTALLOC_S");
  EXPECT_STREQ(tr52::NvStatusName(11), "NV_UNKNOWN_S");
  EXPECT_STREQ(tr52::NvStatusName(32766), "NV_UNKNOWN_S");
  EXPECT_STREQ(tr52::NvStatusName(32767), "NV_STAT_ENUM_PAD");
  EXPECT_STREQ(tr52::NvStatusName(65535), "NV_UNKNOWN_S");
}

TEST(NvBackupSetFile, WrittenLayoutReadsBack) {
  TempDir dir;
  const std::string path = dir.File("nv_backup_3.nv2");
  NvBackupSet set;
  ASSERT_TRUE(set.Open(path, NvBackupSet::kWrite));
  // The file appears only once the set is complete, never half written.
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_TRUE(set.Append(Rec(5, 0x11)));
  ASSERT_TRUE(set.Append(Rec(9001, 0x22)));
  ASSERT_TRUE(set.Flush());
  const auto bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 36u + 2 * 133u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ZUNV");
  EXPECT_EQ(tr52::LoadU32le(bytes.data() + 4), 2u);
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), std::string("TR52\0\0\0\0", 8));
  EXPECT_EQ(tr52::LoadU32le(bytes.data() + 16), 2u);
  EXPECT_GE(tr52::LoadU16le(bytes.data() + 20), 2024);  // year, UTC
  const uint16_t month = tr52::LoadU16le(bytes.data() + 22);
  EXPECT_TRUE(month >= 1 && month <= 12);
  EXPECT_EQ(tr52::LoadU16le(bytes.data() + 36 + 133 + 1), 9001);

  NvBackupSet back;
  ASSERT_TRUE(back.Open(path, NvBackupSet::kRead));
  ASSERT_EQ(back.Count(), 2u);
  NvRecord r;
  ASSERT_TRUE(back.Get(1, r));
  EXPECT_EQ(r, Rec(9001, 0x22));
  EXPECT_FALSE(back.Get(2, r));
  EXPECT_TRUE(back.Flush());  // read mode: header read again
}

TEST(NvBackupSetFile, ShorterRewriteLeavesNoOldRecords) {
  TempDir dir;
  const std::string path = dir.File("b.nv2");
  NvBackupSet set;
  ASSERT_TRUE(set.Open(path, NvBackupSet::kWrite));
  for (uint16_t i = 0; i < 5; ++i) set.Append(Rec(i, 1));
  ASSERT_TRUE(set.Flush());
  ASSERT_TRUE(set.Open(path, NvBackupSet::kWrite));
  set.Append(Rec(7, 2));
  ASSERT_TRUE(set.Flush());
  EXPECT_EQ(ReadFile(path).size(), 36u + 133u);
}

TEST(NvBackupSetFile, HeaderOfThreeWithTwoRecordsFailsAndLeavesSetClosed) {
  TempDir dir;
  const std::string path = dir.File("b.nv2");
  {
    NvBackupSet set;
    ASSERT_TRUE(set.Open(path, NvBackupSet::kWrite));
    set.Append(Rec(1, 1));
    set.Append(Rec(2, 2));
    ASSERT_TRUE(set.Flush());
  }
  auto bytes = ReadFile(path);
  tr52::StoreU32le(bytes.data() + 16, 3);
  WriteFile(path, bytes);
  NvBackupSet set;
  EXPECT_FALSE(set.Open(path, NvBackupSet::kRead));
  EXPECT_EQ(set.OpenMode(), NvBackupSet::kClosed);
  EXPECT_EQ(set.Count(), 0u);
  // A record cut short fails too; extra bytes after the last record do not.
  tr52::StoreU32le(bytes.data() + 16, 2);
  bytes.pop_back();
  WriteFile(path, bytes);
  EXPECT_FALSE(set.Open(path, NvBackupSet::kRead));
  bytes.push_back(0);
  bytes.push_back(0xEE);
  WriteFile(path, bytes);
  EXPECT_TRUE(set.Open(path, NvBackupSet::kRead));
  EXPECT_EQ(set.Count(), 2u);
}

TEST(NvBackupSetFile, HeaderIsTakenAsItStands) {
  TempDir dir;
  const std::string path = dir.File("b.nv2");
  std::vector<uint8_t> bytes(36 + 133, 0);
  std::memcpy(bytes.data(), "XXXX", 4);
  tr52::StoreU32le(bytes.data() + 16, 1);
  bytes[36] = 1;
  WriteFile(path, bytes);
  NvBackupSet set;
  ASSERT_TRUE(set.Open(path, NvBackupSet::kRead));
  EXPECT_EQ(set.Count(), 1u);
  // Opened again for writing, the set writes its own header, not the one it read.
  const std::string out = dir.File("c.nv2");
  ASSERT_TRUE(set.Open(out, NvBackupSet::kWrite));
  ASSERT_TRUE(set.Flush());
  const auto written = ReadFile(out);
  ASSERT_GE(written.size(), 4u);
  EXPECT_EQ(std::string(written.begin(), written.begin() + 4), "ZUNV");
}

TEST(NvBackupSetFile, ModesAndClosedSet) {
  TempDir dir;
  NvBackupSet set;
  EXPECT_FALSE(set.Open(dir.File("x"), 3));
  EXPECT_FALSE(set.Open(dir.File("absent"), NvBackupSet::kRead));
  EXPECT_EQ(set.Count(), 0u);
  set.Append(Rec(1, 1));
  EXPECT_EQ(set.Count(), 0u);  // not open
  NvRecord r;
  EXPECT_FALSE(set.Get(0, r));
  EXPECT_FALSE(set.Flush());
  EXPECT_FALSE(set.Open(dir.File("short"), NvBackupSet::kRead));
  WriteFile(dir.File("short"), std::vector<uint8_t>(20, 0));
  EXPECT_FALSE(set.Open(dir.File("short"), NvBackupSet::kRead));
}

TEST(NvBackupSetImage, HugeCountIsRefusedWithoutAllocating) {
  std::vector<uint8_t> bytes(36 + 133, 0);
  tr52::StoreU32le(bytes.data() + 16, 0xFFFFFFFF);
  std::vector<NvRecord> records;
  uint32_t count = 0;
  EXPECT_FALSE(NvBackupSet::ParseImage(bytes.data(), bytes.size(), records, &count));
  EXPECT_EQ(count, 0xFFFFFFFFu);
  tr52::StoreU32le(bytes.data() + 16, 1);
  EXPECT_TRUE(NvBackupSet::ParseImage(bytes.data(), bytes.size(), records));
  EXPECT_EQ(records.size(), 1u);
  EXPECT_FALSE(NvBackupSet::ParseImage(bytes.data(), 35, records));
}

}  // namespace
}  // namespace tr52test
