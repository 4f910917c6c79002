// Opening packages and reading sub headers: every check in its order, with its message.
#include "package/dz_archive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "base/byte_reader.h"
#include "package/dz_format.h"
#include "package_test_util.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

using tr52test::BuildPackage;
using tr52test::PatternData;
using tr52test::ReadAll;
using tr52test::WriteAll;

const char kTrailerPrefix[] = "Error5 Invalid Reading Offset Table : ";
const char kMainPrefix[] = "Error6 Invalid Main Header : ";

class DzArchiveOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("fw.dz");
    entries_ = BuildPackage(path_, {{IMAGE_AMSS_KEY, "amss.mbn", PatternData(5000, 1)},
                                    {8, "partition.mbn", PatternData(300, 2), true}});
    ASSERT_EQ(entries_.size(), 2u);
    bytes_ = ReadAll(path_);
  }
  // Writes the patched bytes back and opens them.
  bool Reopen() {
    WriteAll(path_, bytes_);
    return archive_.Open(path_);
  }
  // Replaces the trailer with one around `table` (whose digest is right).
  void SetTable(const std::vector<uint8_t>& table) {
    DzRewriteTrailer(bytes_, static_cast<int32_t>(8 + 8 * entries_.size()), table);
  }
  static constexpr uint32_t IMAGE_AMSS_KEY = 3;

  tr52test::TempDir dir_;
  std::string path_;
  std::vector<DzWrittenEntry> entries_;
  std::vector<uint8_t> bytes_;
  DzArchive archive_;
};

TEST_F(DzArchiveOpenTest, OpensAWrittenPackageAndListsItsEntriesInTableOrder) {
  ASSERT_TRUE(archive_.Open(path_)) << archive_.LastError();
  EXPECT_EQ(archive_.ModelName(), "TR52");
  EXPECT_EQ(archive_.Version(), 3u);
  ASSERT_EQ(archive_.Entries().size(), 2u);
  EXPECT_EQ(archive_.Entries()[0].key, 3u);
  EXPECT_EQ(archive_.Entries()[0].offset, dz::kMainHeaderSize);
  EXPECT_EQ(archive_.Entries()[1].key, 8u);
  EXPECT_EQ(archive_.Entries()[1].offset, entries_[1].offset);
}

TEST_F(DzArchiveOpenTest, PathMustEndInLowerCaseDz) {
  EXPECT_FALSE(archive_.Open(dir_.File("fw.DZ")));
  EXPECT_EQ(archive_.LastError(), "Error Invalid root path while try to open Archive File ");
  EXPECT_FALSE(archive_.Open(dir_.File("fw.d")));
  EXPECT_EQ(archive_.LastError(), "Error Invalid root path while try to open Archive File ");

  const std::string noDot = dir_.File("firmwaredz");
  WriteAll(noDot, bytes_);
  EXPECT_TRUE(archive_.Open(noDot)) << archive_.LastError();
}

TEST_F(DzArchiveOpenTest, MissingFileFailsWithoutMessage) {
  EXPECT_FALSE(archive_.Open(dir_.File("none.dz")));
  EXPECT_EQ(archive_.LastError(), "");
}

TEST_F(DzArchiveOpenTest, SecondOpenOfTheSameFileFailsWhileTheFirstIsOpen) {
  ASSERT_TRUE(archive_.Open(path_));
  DzArchive second;
  EXPECT_FALSE(second.Open(path_));
  EXPECT_EQ(second.LastError(), "Error4 Open Failed");
  archive_.Close();
  EXPECT_TRUE(second.Open(path_)) << second.LastError();
}

// Makes a file unwritable even for root (immutable flag) while it lives.
class ImmutableFile {
 public:
  explicit ImmutableFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY)) {
    int flags = 0;
    if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
  }
  ~ImmutableFile() {
    int flags = 0;
    if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd_, FS_IOC_SETFLAGS, &flags);
    }
    if (fd_ >= 0) close(fd_);
  }
  bool Set() const { return set_; }

 private:
  int fd_;
  bool set_ = false;
};

TEST_F(DzArchiveOpenTest, ReadOnlyPackageOpens) {
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  ImmutableFile guard(path_);
  if (geteuid() == 0 && !guard.Set()) GTEST_SKIP() << "root may write to any file";
  ASSERT_LT(open(path_.c_str(), O_RDWR), 0) << "the file must really be read-only";
  EXPECT_TRUE(archive_.Open(path_)) << archive_.LastError();
}

// Only a regular file is a package; anything else is refused at once. A FIFO without a writer
// would block an open that waits for one, with the download's image lock held.
TEST_F(DzArchiveOpenTest, AnythingButARegularFileIsRefusedAtOnce) {
  ASSERT_EQ(mkdir(dir_.File("folder.dz").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(dir_.File("fifo.dz").c_str(), 0644), 0);
  ASSERT_EQ(symlink("/dev/null", dir_.File("device.dz").c_str()), 0);
  for (const char* name : {"folder.dz", "fifo.dz", "device.dz"}) {
    const std::string path = dir_.File(name);
    auto opened = std::async(std::launch::async, [this, path] { return archive_.Open(path); });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << name << ": the open blocks";
      ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // lets it end
    }
    EXPECT_FALSE(opened.get()) << name;
    EXPECT_EQ(archive_.LastError(), "Error4 Open Failed") << name;
  }
}

TEST_F(DzArchiveOpenTest, DamagedTrailerIsReportedBeforeTheMainHeader) {
  bytes_.back() ^= 0xFF;  // "ESTX" damaged
  bytes_[0] = 'X';        // main header damaged too
  EXPECT_FALSE(Reopen());
  EXPECT_EQ(archive_.LastError(),
            std::string(kTrailerPrefix) + "Error Invalid OFFSET_MAGIC2 of OffsetTable");
  EXPECT_FALSE(archive_.IsOpen());
}

TEST_F(DzArchiveOpenTest, TinyFilesFailOnTheTrailer) {
  for (size_t n : {0, 3, 4, 7, 23}) {
    std::vector<uint8_t> tiny(n, 0);
    if (n >= 4) StoreU32le(&tiny[n - 4], dz::kOffsetMagic2);
    bytes_ = tiny;
    EXPECT_FALSE(Reopen()) << n;
    EXPECT_EQ(archive_.LastError().rfind(kTrailerPrefix, 0), 0u) << archive_.LastError();
  }
}

TEST_F(DzArchiveOpenTest, TableSizeAboveLimitOrNegativeIsRefused) {
  for (uint32_t s : {1025u, 0xFFFFFFFFu, 0x80000000u}) {
    StoreU32le(&bytes_[bytes_.size() - 8], s);
    EXPECT_FALSE(Reopen());
    EXPECT_EQ(archive_.LastError(),
              std::string(kTrailerPrefix) + "Error Invalid total offset size...more than need");
  }
}

TEST_F(DzArchiveOpenTest, TableOf1024BytesIsAccepted) {
  std::vector<std::pair<uint32_t, uint32_t>> list;
  for (int i = 0; i < 127; ++i) list.emplace_back(20 + i, entries_[0].offset);
  const auto table = DzMakeTable(list);
  ASSERT_EQ(table.size(), 1024u);
  SetTable(table);
  ASSERT_TRUE(Reopen()) << archive_.LastError();
  EXPECT_EQ(archive_.Entries().size(), 127u);
}

TEST_F(DzArchiveOpenTest, WrongOffsetMagic1AndTableDigestAreRefused) {
  const size_t s = 8 + 8 * entries_.size();
  bytes_[bytes_.size() - 24 - s] ^= 1;
  EXPECT_FALSE(Reopen());
  EXPECT_EQ(archive_.LastError(),
            std::string(kTrailerPrefix) + "Error Invalid OFFSET_MAGIC1 of OffsetTable");
  bytes_[bytes_.size() - 24 - s] ^= 1;
  bytes_[bytes_.size() - 4 - s + 5] ^= 1;  // an entry's key
  EXPECT_FALSE(Reopen());
  EXPECT_EQ(archive_.LastError(), std::string(kTrailerPrefix) + "Error in HashCode(Offset Table)");
}

TEST_F(DzArchiveOpenTest, TableLargerThanTheFileIsRefusedOnMagic1) {
  bytes_ = std::vector<uint8_t>(bytes_.end() - 40, bytes_.end());
  StoreU32le(&bytes_[bytes_.size() - 8], 1000);
  EXPECT_FALSE(Reopen());
  EXPECT_EQ(archive_.LastError(),
            std::string(kTrailerPrefix) + "Error Invalid OFFSET_MAGIC1 of OffsetTable");
}

TEST_F(DzArchiveOpenTest, EmptyTableOpensWithoutEntries) {
  SetTable(DzMakeTable({}));
  ASSERT_TRUE(Reopen()) << archive_.LastError();
  EXPECT_TRUE(archive_.Entries().empty());
  std::string name;
  ImageBuffer data;
  uint32_t size = 0;
  EXPECT_TRUE(archive_.ReadImage(3, name, data, size));
  EXPECT_EQ(size, 0u);
}

TEST_F(DzArchiveOpenTest, CountBeyondTheTableTakesOnlyTheEntriesThatFit) {
  auto table = DzMakeTable({{3, entries_[0].offset}});
  StoreU32le(table.data(), 100);  // claims 100 entries in a 16-byte table
  SetTable(table);
  ASSERT_TRUE(Reopen()) << archive_.LastError();
  ASSERT_EQ(archive_.Entries().size(), 1u);
  EXPECT_EQ(archive_.Entries()[0].key, 3u);

  SetTable(std::vector<uint8_t>{4, 0, 0, 0});  // 4-byte table: count and size word coincide
  ASSERT_TRUE(Reopen()) << archive_.LastError();
  EXPECT_TRUE(archive_.Entries().empty());

  auto negative = DzMakeTable({{3, entries_[0].offset}});
  StoreU32le(negative.data(), 0xFFFFFFFF);
  SetTable(negative);
  ASSERT_TRUE(Reopen()) << archive_.LastError();
  EXPECT_TRUE(archive_.Entries().empty());

  // Four bytes too many before the size word: they and the size word make no entry.
  auto uneven = DzMakeTable({{3, entries_[0].offset}});
  StoreU32le(uneven.data(), 100);
  uneven.insert(uneven.end() - 4, {0xAA, 0xAA, 0xAA, 0xAA});
  StoreU32le(uneven.data() + uneven.size() - 4, static_cast<uint32_t>(uneven.size()));
  SetTable(uneven);
  ASSERT_TRUE(Reopen()) << archive_.LastError();
  ASSERT_EQ(archive_.Entries().size(), 1u);
  EXPECT_EQ(archive_.Entries()[0].key, 3u);
}

TEST_F(DzArchiveOpenTest, MainHeaderChecksInOrder) {
  const auto original = bytes_;
  bytes_[4] = 'X';
  EXPECT_FALSE(Reopen());
  EXPECT_EQ(archive_.LastError(),
            std::string(kMainPrefix) + "Error Invalid Magic Code of Main Header.");

  for (uint32_t version : {0u, 4u}) {
    bytes_ = original;
    StoreU32le(&bytes_[dz::kMainVersion], version);
    DzRehashMainHeader(bytes_);
    EXPECT_FALSE(Reopen());
    EXPECT_EQ(archive_.LastError(),
              std::string(kMainPrefix) + "Error Invalid Version of Main Header.");
  }
  for (size_t at : {size_t{12}, size_t{24}, size_t{299}}) {
    bytes_ = original;
    bytes_[at] ^= 0x20;  // at 24: "TR52" -> "tR52"
    EXPECT_FALSE(Reopen());
    EXPECT_EQ(archive_.LastError(), std::string(kMainPrefix) + "Error in hash value(main header.");
    EXPECT_FALSE(archive_.IsOpen());
  }
  bytes_ = original;
  EXPECT_TRUE(Reopen()) << "the object opens again after failures";
}

TEST_F(DzArchiveOpenTest, FailedOpenLeavesTheObjectClosed) {
  ASSERT_TRUE(archive_.Open(path_));
  archive_.Close();
  bytes_[0] = 0;
  EXPECT_FALSE(Reopen());
  EXPECT_EQ(archive_.ModelName(), "") << "nothing of the earlier package remains";
  std::string name;
  ImageBuffer data;
  uint32_t size = 0;
  EXPECT_FALSE(archive_.ReadImage(3, name, data, size));
  EXPECT_EQ(archive_.LastError(), "File Not Opened");
  DzSubHeader h;
  EXPECT_FALSE(archive_.ReadSubHeaderAt(entries_[0].offset, h));
}

TEST_F(DzArchiveOpenTest, ModelNameWithoutNulStopsAtTheHeaderDigest) {
  const std::string longModel(276, 'M');
  BuildPackage(path_, {{3, "a", PatternData(10, 1)}}, {.model = longModel});
  ASSERT_TRUE(archive_.Open(path_)) << archive_.LastError();
  EXPECT_EQ(archive_.ModelName(), longModel);
}

class DzSubHeaderTest : public DzArchiveOpenTest {};

TEST_F(DzSubHeaderTest, ReadsTheFieldsOfAGoodHeader) {
  ASSERT_TRUE(archive_.Open(path_));
  DzSubHeader h;
  ASSERT_TRUE(archive_.ReadSubHeaderAt(entries_[1].offset, h)) << archive_.LastError();
  EXPECT_EQ(h.name, "partition.mbn");
  EXPECT_EQ(h.enciphered, 1u);
  EXPECT_EQ(h.storedSize, entries_[1].storedSize);
  EXPECT_EQ(h.totalSize, 300u);
  EXPECT_EQ(h.partIndex, 0u);
  const auto data = PatternData(300, 2);
  EXPECT_EQ(h.imageDigest, Md5::Of(data.data(), data.size()));
}

TEST_F(DzSubHeaderTest, OffsetChecks) {
  ASSERT_TRUE(archive_.Open(path_));
  DzSubHeader h;
  EXPECT_FALSE(archive_.ReadSubHeaderAt(0, h));
  EXPECT_EQ(archive_.LastError(),
            "Invalid Parameter... currentOffSet = 0 || pObjSubFileList =NULL");
  EXPECT_FALSE(archive_.ReadSubHeaderAt(static_cast<uint32_t>(bytes_.size()) + 1, h));
  EXPECT_EQ(archive_.LastError(),
            "It reached invalid position instead of the current offset value.");
  EXPECT_FALSE(archive_.ReadSubHeaderAt(static_cast<uint32_t>(bytes_.size()), h));
  EXPECT_EQ(archive_.LastError(),
            "It reached invalid position instead of the current offset value.")
      << "an offset at the very end fails without a message of its own";
  EXPECT_FALSE(archive_.ReadSubHeaderAt(static_cast<uint32_t>(bytes_.size()) - 10, h));
  EXPECT_EQ(archive_.LastError(),
            "Error Invalid Sub Header(Invalid SubHeader Magic Code|Size|Index).");
}

TEST_F(DzSubHeaderTest, MagicSizeAndDigestChecks) {
  const uint32_t at = entries_[0].offset;
  const auto original = bytes_;
  bytes_[at] = 'X';
  DzRehashSubHeader(bytes_, at);
  ASSERT_TRUE(Reopen());
  DzSubHeader h;
  EXPECT_FALSE(archive_.ReadSubHeaderAt(at, h));
  EXPECT_EQ(archive_.LastError(),
            "Error Invalid Sub Header(Invalid SubHeader Magic Code|Size|Index).");

  archive_.Close();
  bytes_ = original;
  StoreU32le(&bytes_[at + dz::kSubStoredSize], 0);
  DzRehashSubHeader(bytes_, at);
  ASSERT_TRUE(Reopen());
  EXPECT_FALSE(archive_.ReadSubHeaderAt(at, h));
  EXPECT_EQ(archive_.LastError(),
            "Error Invalid Sub Header(Invalid SubHeader Magic Code|Size|Index).");

  archive_.Close();
  bytes_ = original;
  bytes_[at + 179] ^= 1;  // covered by the header digest
  ASSERT_TRUE(Reopen());
  EXPECT_FALSE(archive_.ReadSubHeaderAt(at, h));
  EXPECT_EQ(archive_.LastError(), "Error Invalid Hash Code of Sub Header.");
}

TEST_F(DzSubHeaderTest, NameWithoutNulIsTakenUpToTheEndOfItsField) {
  const uint32_t at = entries_[0].offset;
  for (size_t i = 0; i < dz::kSubNameWidth; ++i) bytes_[at + dz::kSubName + i] = 'n';
  DzRehashSubHeader(bytes_, at);
  ASSERT_TRUE(Reopen());
  DzSubHeader h;
  ASSERT_TRUE(archive_.ReadSubHeaderAt(at, h));
  EXPECT_EQ(h.name, std::string(128, 'n'));
  EXPECT_EQ(h.totalSize, 5000u);
}

}  // namespace
}  // namespace tr52
