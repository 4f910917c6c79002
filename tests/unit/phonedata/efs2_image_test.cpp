// EFS images: every check of Attach, ReadObject bounds, the protected media prefix.
#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "base/process_log.h"
#include "phonedata/efs2_image.h"
#include "phonedata/efs2_image_writer.h"
#include "support/temp_dir.h"

#include <fstream>
#include <sstream>

namespace tr52test {
namespace {

using tr52::CEfs2Image;
using tr52::Efs2ImageWriter;

std::vector<uint8_t> Sample(uint32_t version = 3) {
  Efs2ImageWriter w(tr52::kEfs2KindMedia, version);
  w.SetDescription("media for TR52");
  w.AddDirectory("/VIZED/Media/");
  w.AddFile("/VIZED/Media/a.bin", {1, 2, 3});
  w.AddFile("/VIZED/Media/empty", {});
  return w.Build();
}

class LogCapture {
 public:
  LogCapture() { log_.Open(dir_.File("log.txt")); }
  std::string Text() const {
    std::ifstream in(dir_.File("log.txt"), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Has(const std::string& t) const { return Text().find(t) != std::string::npos; }

 private:
  TempDir dir_;
  tr52::ProcessLog log_;
  const tr52::LogTarget route_{log_};
};

TEST(Efs2ImageAttach, WellFormedImageReadsBackObjectByObject) {
  const auto image = Sample();
  CEfs2Image efs;
  ASSERT_TRUE(efs.Attach(image.data(), image.size()));
  EXPECT_EQ(efs.ObjectCount(), 3u);
  EXPECT_EQ(efs.Description(), "media for TR52");
  size_t cursor = 0;
  uint32_t type = 9;
  std::string path;
  std::unique_ptr<uint8_t[]> data;
  size_t size = 7;
  ASSERT_TRUE(efs.ReadObject(type, path, cursor, data, size));
  EXPECT_NE(type, 0u);
  EXPECT_EQ(path, "/VIZED/Media/");
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(efs.ReadObject(type, path, cursor, data, size));
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(path, "/VIZED/Media/a.bin");
  ASSERT_EQ(size, 3u);
  EXPECT_EQ(data[2], 3);
  ASSERT_TRUE(efs.ReadObject(type, path, cursor, data, size));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(cursor, image.size());
  EXPECT_FALSE(efs.ReadObject(type, path, cursor, data, size));  // past the end
}

TEST(Efs2ImageAttach, EmptyImageIsAcceptedWithNoObjects) {
  CEfs2Image efs;
  EXPECT_TRUE(efs.Attach(nullptr, 0));
  EXPECT_EQ(efs.ObjectCount(), 0u);
  size_t cursor = 0;
  uint32_t type;
  std::string path;
  std::unique_ptr<uint8_t[]> data;
  size_t size;
  EXPECT_FALSE(efs.ReadObject(type, path, cursor, data, size));
}

TEST(Efs2ImageAttach, ShortHeaderIsLogged) {
  LogCapture log;
  const auto image = Sample();
  CEfs2Image efs;
  EXPECT_FALSE(efs.Attach(image.data(), 51));
  EXPECT_TRUE(log.Has("Error : Read Header Data \r\n"));
}

TEST(Efs2ImageAttach, ModelMustBeTr52FollowedByNuls) {
  LogCapture log;
  auto image = Sample();
  image[32] = 'X';
  CEfs2Image efs;
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
  EXPECT_TRUE(log.Has("ERROR Compare Model Name with phone : TR52X and DLL : TR52 is FAIL"));
  image = Efs2ImageWriter(tr52::kEfs2KindMedia, 3, "TR51").Build();
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
}

TEST(Efs2ImageAttach, VersionTwoNeedsNoExtensionAndLogsBothLines) {
  LogCapture log;
  const auto image = Sample(2);
  CEfs2Image efs;
  ASSERT_TRUE(efs.Attach(image.data(), image.size()));
  EXPECT_TRUE(log.Has("* File Version : 2, Lastest Version : 3"));
  EXPECT_TRUE(log.Has("CEfs2Image Class Version : 3 - File Version : (2)"));
  EXPECT_EQ(efs.ObjectCount(), 3u);
  // Version 4 is accepted with the first line only.
  auto v4 = Sample(4);
  EXPECT_TRUE(efs.Attach(v4.data(), v4.size()));
}

TEST(Efs2ImageAttach, WrongMagicOrKindFails) {
  auto image = Sample();
  CEfs2Image efs;
  image[0] = 'X';
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
  image = Sample();
  tr52::StoreU32le(image.data() + 36, 0x41544144);
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
  image = Efs2ImageWriter(tr52::kEfs2KindModule).Build();
  EXPECT_TRUE(efs.Attach(image.data(), image.size()));
}

TEST(Efs2ImageAttach, DescriptionAndExtensionChecks) {
  CEfs2Image efs;
  auto image = Sample();
  tr52::StoreU32le(image.data() + 48, 0xFFFFFFF0);  // longer than the image
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
  image = Sample();
  image[52 + 14] = 'X';  // "EXTD" spoiled
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
  image = Sample();
  EXPECT_FALSE(efs.Attach(image.data(), 52 + 14 + 47));  // extension cut short
}

TEST(Efs2ImageAttach, TruncatedObjectOrTrailingBytesFail) {
  const auto image = Sample();
  CEfs2Image efs;
  for (size_t cut = 1; cut < 40; ++cut)
    EXPECT_FALSE(efs.Attach(image.data(), image.size() - cut)) << cut;
  auto longer = image;
  longer.push_back(0);
  EXPECT_FALSE(efs.Attach(longer.data(), longer.size()));
}

TEST(Efs2ImageAttach, FieldTagsAndLengthsAreChecked) {
  const size_t first = 52 + 14 + 48;
  CEfs2Image efs;
  auto image = Sample();
  image[first] = 'X';  // OBTY tag
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
  image = Sample();
  tr52::StoreU32le(image.data() + first + 4, 5);  // OBTY length
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
  image = Sample();
  image[first + 12] = 'X';  // OBPT tag
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
}

TEST(Efs2ImageAttach, PathLongerThan260Fails) {
  CEfs2Image efs;
  Efs2ImageWriter ok;
  ok.AddDirectory("/" + std::string(259, 'a'));
  auto image = ok.Build();
  EXPECT_TRUE(efs.Attach(image.data(), image.size()));
  Efs2ImageWriter bad;
  bad.AddDirectory("/" + std::string(260, 'a'));
  image = bad.Build();
  EXPECT_FALSE(efs.Attach(image.data(), image.size()));
}

TEST(Efs2ImageAttach, PathEndsAtItsNul) {
  Efs2ImageWriter w;
  w.AddFile(std::string("/a.txt\0junk", 11), {7});
  const auto image = w.Build();
  CEfs2Image efs;
  ASSERT_TRUE(efs.Attach(image.data(), image.size()));
  size_t cursor = 0;
  uint32_t type;
  std::string path;
  std::unique_ptr<uint8_t[]> data;
  size_t size;
  ASSERT_TRUE(efs.ReadObject(type, path, cursor, data, size));
  EXPECT_EQ(path, "/a.txt");
}

// A data length near 2^32 must not wrap the position back into the image.
TEST(Efs2ImageAttach, HugeDataLengthDoesNotWrap) {
  Efs2ImageWriter w;
  w.AddFile("/x", std::vector<uint8_t>(8, 0x41));
  auto image = w.Build();
  const size_t dataLen = image.size() - 8 - 4;
  for (uint32_t bad : {0xFFFFFFFFu, 0xFFFFFFF8u, 0x80000000u, 9u}) {
    tr52::StoreU32le(image.data() + dataLen, bad);
    CEfs2Image efs;
    EXPECT_FALSE(efs.Attach(image.data(), image.size())) << bad;
  }
}

TEST(Efs2ImageRead, ReadObjectAtACursorOutsideTheImageFails) {
  const auto image = Sample();
  CEfs2Image efs;
  ASSERT_TRUE(efs.Attach(image.data(), image.size()));
  uint32_t type;
  std::string path;
  std::unique_ptr<uint8_t[]> data;
  size_t size;
  size_t cursor = image.size() + 100;
  EXPECT_FALSE(efs.ReadObject(type, path, cursor, data, size));
  cursor = 10;  // inside the header
  EXPECT_FALSE(efs.ReadObject(type, path, cursor, data, size));
  cursor = efs.FirstObjectPosition() + 1;  // not at an object
  EXPECT_FALSE(efs.ReadObject(type, path, cursor, data, size));
}

TEST(Efs2ImageHeader, CountsAreAddedAndWideEnough) {
  auto image = Sample();
  tr52::StoreU32le(image.data() + 40, 0xFFFFFFFF);
  tr52::StoreU32le(image.data() + 44, 2);
  CEfs2Image efs;
  ASSERT_TRUE(efs.Attach(image.data(), image.size()));
  EXPECT_EQ(efs.ObjectCount(), 0x100000001ull);
  EXPECT_EQ(efs.WalkedObjects(), 3u);
}

TEST(ProtectedMedia, PrefixIsExactAndCaseSensitive) {
  EXPECT_TRUE(tr52::IsProtectedMediaPath("/VIZED/Media/Images/"));
  EXPECT_TRUE(tr52::IsProtectedMediaPath("/VIZED/Media/Images/a.jpg"));
  EXPECT_FALSE(tr52::IsProtectedMediaPath("/VIZED/Media/Images"));
  EXPECT_FALSE(tr52::IsProtectedMediaPath("/vized/Media/Images/a.jpg"));
  EXPECT_FALSE(tr52::IsProtectedMediaPath("VIZED/Media/Images/a.jpg"));
}

}  // namespace
}  // namespace tr52test
