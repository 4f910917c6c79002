// Taking images out of packages: plain and enciphered sub files, digests, damaged data, split
// images, and the temporary files along the way.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>

#include "base/byte_reader.h"
#include "package/dz_archive.h"
#include "package/dz_format.h"
#include "package_test_util.h"
#include "platform/crypto.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

using tr52test::BuildPackage;
using tr52test::ListDir;
using tr52test::PatternData;
using tr52test::ReadAll;
using tr52test::WriteAll;

// Every test runs with its own temporary folder so that leftovers can be seen.
class DzExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_ = dir_.File("tmp");
    ASSERT_EQ(mkdir(tmp_.c_str(), 0700), 0);
    tmpEnv_.emplace("TMPDIR", tmp_);  // the earlier value (or none) comes back after the test
    path_ = dir_.File("fw.dz");
  }
  bool Read(uint32_t type) {
    name_.clear();
    data_.Clear();
    size_ = 0;
    archive_.Close();
    if (!archive_.Open(path_)) return false;
    const bool ok = archive_.ReadImage(type, name_, data_, size_);
    archive_.Close();
    return ok;
  }
  std::vector<uint8_t> Result() const { return {data_.data(), data_.data() + size_}; }
  std::vector<std::string> Leftovers() const { return ListDir(tmp_); }

  tr52test::TempDir dir_;
  std::string tmp_, path_;
  std::optional<tr52test::ScopedEnv> tmpEnv_;
  DzArchive archive_;
  std::string name_;
  ImageBuffer data_;
  uint32_t size_ = 0;
};

TEST_F(DzExtractTest, PlainAndEncipheredImagesComeOutWhole) {
  const auto amss = PatternData(200000, 1);
  const auto logo = PatternData(70000, 2);
  BuildPackage(path_, {{3, "amss.mbn", amss, false}, {16, "logo.bin", logo, true}});
  ASSERT_TRUE(Read(3)) << archive_.LastError();
  EXPECT_EQ(name_, "amss.mbn");
  EXPECT_EQ(Result(), amss);
  ASSERT_TRUE(Read(16)) << archive_.LastError();
  EXPECT_EQ(name_, "logo.bin");
  EXPECT_EQ(Result(), logo);
  EXPECT_TRUE(Leftovers().empty());
}

// The temporary file of an extraction (up to 4 GiB) has no name at any moment: the folder is
// empty while the image inflates, and a process killed right then leaves nothing behind.
TEST_F(DzExtractTest, ExtractionLeavesNoNamedTemporaryFileEvenWhenKilled) {
  const auto amss = PatternData(3 << 20, 1);
  BuildPackage(path_, {{3, "amss.mbn", amss, true}});
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed mid-extraction" : "seen mid-extraction");
    std::optional<std::vector<std::string>> seen;  // the folder while the image inflates
    archive_.SetProgress([&](const char* phase, uint64_t done, uint64_t) {
      if (std::string(phase) != "inflate" || done == 0) return;
      if (killed) raise(SIGKILL);
      if (!seen) seen = Leftovers();
    });
    if (!killed) {
      ASSERT_TRUE(Read(3)) << archive_.LastError();
      ASSERT_TRUE(seen.has_value());
      EXPECT_EQ(*seen, std::vector<std::string>{});
      EXPECT_TRUE(Result() == amss);
      continue;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Read(3);
      _exit(0);  // not killed: the test fails below
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_TRUE(Leftovers().empty());
  }
  archive_.SetProgress(nullptr);
}

TEST_F(DzExtractTest, AbsentKeyGivesTrueAndNoData) {
  BuildPackage(path_, {{3, "amss.mbn", PatternData(100, 1)}});
  EXPECT_TRUE(Read(24));
  EXPECT_EQ(size_, 0u);
  EXPECT_TRUE(data_.empty());
}

TEST_F(DzExtractTest, EncipheredSubFileOf16385BytesRestartsTheKeyStreamPerChunk) {
  auto data = PatternData(16385, 9);
  data[0] = 'x';  // not a gzip header: stored data pass through the gzip reader unchanged
  const auto written = BuildPackage(path_, {{5, "module", data, true}}, {.compressionLevel = -1});
  ASSERT_EQ(written.size(), 1u);
  ASSERT_EQ(written[0].storedSize, 16385u);

  // The key stream, computed apart from the package code: RC4 keyed with MD5 of the phrase.
  const Md5Digest key = Md5::Of("cOrAlMoTh", 9);
  Rc4 rc4(key.data(), key.size());
  std::vector<uint8_t> stream(16384, 0);
  rc4.Apply(stream.data(), stream.size());
  const auto file = ReadAll(path_);
  const size_t at = written[0].offset + dz::kSubHeaderSize;
  EXPECT_EQ(file[at], data[0] ^ stream[0]);
  EXPECT_EQ(file[at + 16383], data[16383] ^ stream[16383]);
  EXPECT_EQ(file[at + 16384], data[16384] ^ stream[0]) << "second chunk starts a new key stream";

  ASSERT_TRUE(Read(5)) << archive_.LastError();
  EXPECT_EQ(Result(), data);
}

// Stored data are copied in large blocks: whatever the size, every 16,384-byte chunk is
// deciphered from the start of the key stream and the image comes out whole.
TEST_F(DzExtractTest, EncipheredStoredDataOfAnySizeComeOutWhole) {
  const size_t sizes[] = {1, 16383, 16384, (1u << 20) - 1, (1u << 20) + 16385, (3u << 20) + 7};
  for (const size_t size : sizes) {
    SCOPED_TRACE(size);
    auto data = PatternData(size, static_cast<uint32_t>(size));
    data[0] = 'x';  // not a gzip header: stored as it is, so the stored size is the image size
    const auto written = BuildPackage(path_, {{5, "module", data, true}}, {.compressionLevel = -1});
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written[0].storedSize, size);
    ASSERT_TRUE(Read(5)) << archive_.LastError();
    EXPECT_EQ(Result(), data);
    EXPECT_TRUE(Leftovers().empty());
  }
}

TEST_F(DzExtractTest, ImageDigestMismatchFailsNestedAndLeavesNoTemporaryFile) {
  const auto written = BuildPackage(path_, {{3, "amss.mbn", PatternData(50000, 1), true}});
  auto bytes = ReadAll(path_);
  bytes[written[0].offset + dz::kSubImageDigest] ^= 1;
  DzRehashSubHeader(bytes, written[0].offset);
  WriteAll(path_, bytes);
  EXPECT_FALSE(Read(3));
  EXPECT_EQ(archive_.LastError(),
            "Error Reading Sub File : Fail to decompressed Header. Error Invalid Hash Code");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DzExtractTest, DamagedGzipDataFailAsInvalidImage) {
  const auto written = BuildPackage(path_, {{3, "amss.mbn", PatternData(50000, 1)}});
  auto bytes = ReadAll(path_);
  // The gzip trailer's CRC is the last 8 bytes but 4 of the stored data.
  bytes[written[0].offset + dz::kSubHeaderSize + written[0].storedSize - 8] ^= 0xFF;
  WriteAll(path_, bytes);
  EXPECT_FALSE(Read(3));
  EXPECT_EQ(archive_.LastError(),
            "Error Reading Sub File : Fail to decompressed Header. Error Invalid Image Hash Code");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DzExtractTest, UnreadableSubHeaderOfTheAskedKeyFailsWithItsReason) {
  const auto written = BuildPackage(path_, {{3, "amss.mbn", PatternData(500, 1)}});
  auto bytes = ReadAll(path_);
  bytes[written[0].offset + 100] ^= 1;
  WriteAll(path_, bytes);
  EXPECT_FALSE(Read(3));
  EXPECT_EQ(
      archive_.LastError(),
      "Error Reading Sub File : Fail to read Sub Header : Error Invalid Hash Code of Sub Header.");
  EXPECT_TRUE(Read(4)) << "other keys are not affected";
}

TEST_F(DzExtractTest, EntryWithOffsetZeroFailsOnlyForItsKey) {
  const auto written = BuildPackage(path_, {{3, "amss.mbn", PatternData(500, 1)}});
  auto bytes = ReadAll(path_);
  DzRewriteTrailer(bytes, 16, DzMakeTable({{6, 0}, {3, written[0].offset}}));
  WriteAll(path_, bytes);
  EXPECT_FALSE(Read(6));
  EXPECT_EQ(archive_.LastError(), "Error Invalid File Index in dz file");
  EXPECT_TRUE(Read(3)) << archive_.LastError();
  EXPECT_EQ(size_, 500u);
}

TEST_F(DzExtractTest, StoredDataEndingEarlyStopsTheCopy) {
  const auto written = BuildPackage(path_, {{3, "amss.mbn", PatternData(5000, 1)}});
  auto bytes = ReadAll(path_);
  StoreU32le(&bytes[written[0].offset + dz::kSubStoredSize], 1000000);
  DzRehashSubHeader(bytes, written[0].offset);
  WriteAll(path_, bytes);
  EXPECT_FALSE(Read(3));
  EXPECT_EQ(archive_.LastError(), "Error Reading Sub File : Error Unexpected End of Sub File Data");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DzExtractTest, TruncatedPackageIsRefused) {
  BuildPackage(path_, {{3, "amss.mbn", PatternData(5000, 1)}});
  auto bytes = ReadAll(path_);
  ASSERT_GT(bytes.size(), 3u);
  bytes.erase(bytes.end() - 3, bytes.end());
  WriteAll(path_, bytes);
  EXPECT_FALSE(archive_.Open(path_));
  EXPECT_EQ(archive_.LastError(),
            "Error5 Invalid Reading Offset Table : Error Invalid OFFSET_MAGIC2 of OffsetTable");
}

TEST_F(DzExtractTest, HostileSubFileNamesStayInsideTheTemporaryFolder) {
  const auto data = PatternData(3000, 4);
  const std::vector<std::string> names = {"../../escape",
                                          "/etc/passwd",
                                          "a/b/c",
                                          std::string("\x01\x7f\n\xff", 4),
                                          std::string(127, '/'),
                                          ""};
  for (const auto& n : names) {
    BuildPackage(path_, {{3, n, data}});
    ASSERT_TRUE(Read(3)) << archive_.LastError();
    EXPECT_EQ(Result(), data);
    EXPECT_TRUE(Leftovers().empty());
  }
  EXPECT_EQ(ListDir(dir_.Path()).size(), 2u) << "only fw.dz and tmp";
}

TEST(DzSafeNameTest, KeepsOnlyHarmlessCharacters) {
  EXPECT_EQ(DzArchive::SafeNameSuffix("amss.mbn"), "amss.mbn");
  EXPECT_EQ(DzArchive::SafeNameSuffix("../a/b"), ".._a_b");
  EXPECT_EQ(DzArchive::SafeNameSuffix(std::string("\x01\x80z", 3)), "__z");
  EXPECT_EQ(DzArchive::SafeNameSuffix(""), "_");
}

// Stored data that inflate to more than the sub header's total size are refused while they
// inflate: no more than the announced size ever reaches the temporary folder.
TEST_F(DzExtractTest, InflationPastTheTotalSizeStopsAtTheTotalSize) {
  constexpr uint32_t kAnnounced = 300000;
  const auto written = BuildPackage(path_, {{3, "amss.mbn", PatternData(4 << 20, 1)}});
  ASSERT_EQ(written.size(), 1u);
  auto bytes = ReadAll(path_);
  StoreU32le(&bytes[written[0].offset + dz::kSubTotalSize], kAnnounced);
  DzRehashSubHeader(bytes, written[0].offset);
  WriteAll(path_, bytes);

  uint64_t mostInflated = 0;
  archive_.SetProgress([&](const char* phase, uint64_t done, uint64_t) {
    if (std::string(phase) == "inflate") mostInflated = std::max(mostInflated, done);
  });
  EXPECT_FALSE(Read(3));
  EXPECT_EQ(archive_.LastError(),
            "Error Reading Sub File : Error Image Larger Than Its Total Size");
  EXPECT_LE(mostInflated, kAnnounced);
  EXPECT_EQ(size_, 0u);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DzExtractTest, ExistingSecondTemporaryFileIsNeverOverwritten) {
  // InflateFile onto a path that exists fails instead of writing through it.
  const std::string source = dir_.File("src.gz");
  WriteAll(source, PatternData(100, 1));
  const std::string victim = dir_.File("victim");
  WriteAll(victim, {1, 2, 3});
  EXPECT_EQ(archive_.InflateFile(source, victim), 0u);
  EXPECT_EQ(archive_.LastError(), "Failed to open file to write decompressed data");
  EXPECT_EQ(ReadAll(victim), (std::vector<uint8_t>{1, 2, 3}));
}

// Split images. Data are highly compressible, so the packages stay small.
class DzSplitTest : public DzExtractTest {
 protected:
  static std::vector<uint8_t> Big(size_t size) { return PatternData(size, 7); }
};

TEST_F(DzSplitTest, Version3JustBelowThePartSizeIsOneSubFile) {
  const auto data = Big(dz::kPartSizeV3 - 1);
  const auto written = BuildPackage(path_, {{3, "amss.mbn", data}}, {.version = 3});
  ASSERT_EQ(written.size(), 1u);
  ASSERT_TRUE(Read(3)) << archive_.LastError();
  EXPECT_EQ(name_, "amss.mbn");
  EXPECT_EQ(size_, data.size());
  EXPECT_TRUE(Result() == data);
}

TEST_F(DzSplitTest, Version3AtThePartSizeIsTwoPartsJoinedInPartOrder) {
  const auto data = Big(dz::kPartSizeV3);
  const auto written =
      BuildPackage(path_, {{16, "logo", PatternData(100, 1)}, {3, "amss.mbn", data, true}},
                   {.version = 3, .reverseTable = true});
  ASSERT_EQ(written.size(), 3u);
  ASSERT_TRUE(archive_.Open(path_));
  ASSERT_EQ(archive_.Entries().size(), 3u);
  DzSubHeader first;
  ASSERT_TRUE(archive_.ReadSubHeaderAt(archive_.Entries()[0].offset, first));
  EXPECT_EQ(first.partIndex, 1u) << "the table lists part 1 before part 0";
  archive_.Close();

  ASSERT_TRUE(Read(3)) << archive_.LastError();
  EXPECT_EQ(name_, "amss.mbn") << "part 0's name less its last two characters";
  EXPECT_EQ(size_, data.size());
  EXPECT_TRUE(Result() == data);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DzSplitTest, Version2DoesNotSplitAtTheVersion3PartSize) {
  const auto data = Big(dz::kPartSizeV3);
  const auto written = BuildPackage(path_, {{3, "amss.mbn", data}}, {.version = 2});
  ASSERT_EQ(written.size(), 1u);
  ASSERT_TRUE(Read(3)) << archive_.LastError();
  EXPECT_EQ(name_, "amss.mbn");
  EXPECT_TRUE(Result() == data);
}

TEST_F(DzSplitTest, MissingPartFailsAfterAFullPass) {
  const auto written = BuildPackage(path_, {{3, "amss.mbn", Big(dz::kPartSizeV3 + 10)}});
  ASSERT_EQ(written.size(), 2u);
  auto bytes = ReadAll(path_);
  DzRewriteTrailer(bytes, 24, DzMakeTable({{3, written[0].offset}}));  // part 1 dropped
  WriteAll(path_, bytes);
  EXPECT_FALSE(Read(3));
  EXPECT_EQ(archive_.LastError(), "Error Reading Sub File : Error Missing Part 1 of Split Image");
  EXPECT_TRUE(Leftovers().empty());

  DzRewriteTrailer(bytes, 16, DzMakeTable({{3, written[1].offset}}));  // only part 1
  WriteAll(path_, bytes);
  EXPECT_FALSE(Read(3));
  EXPECT_EQ(archive_.LastError(), "Error Reading Sub File : Error Missing Part 0 of Split Image");
}

TEST_F(DzSplitTest, PartsHoldingMoreThanTheTotalSizeNeverOverrunTheResult) {
  const auto written = BuildPackage(path_, {{3, "amss.mbn", Big(dz::kPartSizeV3 + 4096)}});
  ASSERT_EQ(written.size(), 2u);
  auto bytes = ReadAll(path_);
  for (const auto& e : written) {  // both parts now claim a total of exactly P
    StoreU32le(&bytes[e.offset + dz::kSubTotalSize], dz::kPartSizeV3);
    DzRehashSubHeader(bytes, e.offset);
  }
  WriteAll(path_, bytes);
  EXPECT_FALSE(Read(3));
  EXPECT_EQ(archive_.LastError(),
            "Error Reading Sub File : Error Split Image Larger Than Its Total Size");
  EXPECT_TRUE(Leftovers().empty());
}

}  // namespace
}  // namespace tr52
