// The image catalogue: slots, loading from packages and plain files, the once-per-catalogue
// LoadImages, the model check and NV item names.
#include "package/image_catalogue.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "base/process_log.h"
#include "package/nv_item_name.h"
#include "package_test_util.h"
#include "platform/crypto.h"
#include "platform/process_info.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

using tr52test::BuildPackage;
using tr52test::PatternData;
using tr52test::ReadAll;
using tr52test::WriteAll;

class ImageCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExecutablePathOverride(dir_.File("host"));
    log_.Open(dir_.File("host_log.txt"));
    pkg_ = dir_.File("fw.dz");
    amss_ = PatternData(40000, 3);
    ptbl_ = PatternData(512, 8);
    BuildPackage(pkg_, {{IMAGE_PARTITION_TBL, "partition.mbn", ptbl_},
                        {IMAGE_AMSS, "amss.mbn", amss_, true}});
  }
  void TearDown() override {
    log_.Finish();
    SetExecutablePathOverride("");
  }
  std::string LogText() {
    auto b = ReadAll(dir_.File("host_log.txt"));
    return std::string(b.begin(), b.end());
  }
  std::vector<uint8_t> SlotBytes(int type) const {
    return {images_.ImageData(type), images_.ImageData(type) + images_.ImageSize(type)};
  }
  void WritePackageWithModel(const std::string& model) {
    BuildPackage(pkg_, {{IMAGE_AMSS, "amss.mbn", amss_}}, {.model = model});
  }

  tr52test::TempDir dir_;
  ProcessLog log_;
  const LogTarget route_{log_};
  ImageCatalogue images_;
  std::string pkg_;
  std::vector<uint8_t> amss_, ptbl_;
};

TEST_F(ImageCatalogueTest, TypeNamesFollowTheImageNumbering) {
  EXPECT_STREQ(ImageTypeName(IMAGE_BOOTLOADER), "BOOTLOADER");
  EXPECT_STREQ(ImageTypeName(IMAGE_AMSS_MODEM_HEADER), "AMSS MODEM HEADER");
  EXPECT_STREQ(ImageTypeName(IMAGE_H3G_FLEX), "H3G FLEX");
  EXPECT_STREQ(ImageTypeName(IMAGE_ZIMAGE_RAMDISK), "ZIMAGE_RAMDISK");
  EXPECT_STREQ(ImageTypeName(IMAGE_SYSTEM), "SYSTEM");
  EXPECT_STREQ(ImageTypeName(30), "UNKNOWN");
  EXPECT_STREQ(ImageTypeName(-1), "UNKNOWN");
}

TEST_F(ImageCatalogueTest, LoadsFromThePackageAndLogsTypeAndSize) {
  images_.SetImagePath(IMAGE_AMSS, pkg_);
  ASSERT_TRUE(images_.LoadImage(IMAGE_AMSS));
  EXPECT_TRUE(images_.IsImageLoaded(IMAGE_AMSS));
  EXPECT_EQ(SlotBytes(IMAGE_AMSS), amss_);
  EXPECT_NE(LogText().find("Type : AMSS, size : 40000\r\n"), std::string::npos);
}

TEST_F(ImageCatalogueTest, SecondLoadOfALoadedTypeDoesNotReadThePackageAgain) {
  images_.SetImagePath(IMAGE_AMSS, pkg_);
  ASSERT_TRUE(images_.LoadImage(IMAGE_AMSS));
  ASSERT_EQ(unlink(pkg_.c_str()), 0);
  EXPECT_TRUE(images_.LoadImage(IMAGE_AMSS));
  EXPECT_EQ(SlotBytes(IMAGE_AMSS), amss_);
}

TEST_F(ImageCatalogueTest, TypeMissingFromThePackageLoadsEmpty) {
  images_.SetImagePath(IMAGE_DBL, pkg_);
  EXPECT_TRUE(images_.LoadImage(IMAGE_DBL));
  EXPECT_TRUE(images_.IsImageLoaded(IMAGE_DBL));
  EXPECT_EQ(images_.ImageSize(IMAGE_DBL), 0u);
}

TEST_F(ImageCatalogueTest, PathNotEndingInDzIsReadAsAPlainFileWhole) {
  const std::string plain = dir_.File("dbl.mbn");
  const auto bytes = PatternData(123457, 5);
  WriteAll(plain, bytes);
  images_.SetImagePath(IMAGE_DBL, plain);
  ASSERT_TRUE(images_.LoadImage(IMAGE_DBL));
  EXPECT_EQ(SlotBytes(IMAGE_DBL), bytes);

  // A package under a name that does not end in "dz" is just bytes.
  const std::string renamed = dir_.File("fw.dz.bak");
  WriteAll(renamed, ReadAll(pkg_));
  images_.SetImagePath(IMAGE_AMSS, renamed);
  ASSERT_TRUE(images_.LoadImage(IMAGE_AMSS));
  EXPECT_EQ(SlotBytes(IMAGE_AMSS), ReadAll(pkg_));
}

TEST_F(ImageCatalogueTest, FailedLoadLeavesTheSlotEmptyLogsAndRetriesLater) {
  images_.SetImagePath(IMAGE_FSBL, dir_.File("missing.dz"));
  EXPECT_FALSE(images_.LoadImage(IMAGE_FSBL));
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_FSBL));
  const std::string log = LogText();
  EXPECT_NE(log.find("Open DZ File Failed. Check if the DZ file is located where you select the "
                     "directory\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("Type : 25, Not Found : " + dir_.File("missing.dz") + "\r\n"),
            std::string::npos);

  BuildPackage(dir_.File("missing.dz"), {{IMAGE_FSBL, "fsbl", PatternData(10, 1)}});
  EXPECT_TRUE(images_.LoadImage(IMAGE_FSBL));
  EXPECT_EQ(images_.ImageSize(IMAGE_FSBL), 10u);
}

TEST_F(ImageCatalogueTest, DamagedImageFailsTheLoad) {
  auto bytes = ReadAll(pkg_);
  bytes[bytes.size() / 2] ^= 0xFF;  // inside the enciphered AMSS data
  WriteAll(pkg_, bytes);
  images_.SetImagePath(IMAGE_AMSS, pkg_);
  EXPECT_FALSE(images_.LoadImage(IMAGE_AMSS));
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_AMSS));
  EXPECT_EQ(images_.ImageSize(IMAGE_AMSS), 0u);
}

TEST_F(ImageCatalogueTest, ReleaseEmptiesOnlyLoadedSlotsAndKeepsThePath) {
  images_.SetImagePath(IMAGE_AMSS, pkg_);
  ASSERT_TRUE(images_.LoadImage(IMAGE_AMSS));
  images_.ReleaseAllImages();
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_AMSS));
  EXPECT_EQ(images_.ImageSize(IMAGE_AMSS), 0u);
  EXPECT_EQ(images_.ImageData(IMAGE_AMSS), nullptr);
  EXPECT_EQ(images_.ImagePath(IMAGE_AMSS), pkg_);
  EXPECT_TRUE(images_.LoadImage(IMAGE_AMSS)) << "a released slot loads again";
}

TEST_F(ImageCatalogueTest, PathsFollowTheDownloadMaskAndCataloguesShareNothing) {
  images_.SetImagePaths(kDownloadImageMask, pkg_);
  for (int t : {3, 6, 8, 16, 24, 25, 26}) EXPECT_EQ(images_.ImagePath(t), pkg_) << t;
  EXPECT_EQ(images_.ImagePath(4), "");
  ASSERT_TRUE(images_.LoadImages(pkg_, kDownloadImageMask));

  // A second catalogue beside the first (a second module root) starts empty and loads alone.
  ImageCatalogue other;
  EXPECT_EQ(other.ImagePath(3), "");
  EXPECT_FALSE(other.ImagesLoaded());
  EXPECT_FALSE(other.IsImageLoaded(IMAGE_AMSS));
  other.SetImagePath(IMAGE_AMSS, pkg_);
  ASSERT_TRUE(other.LoadImage(IMAGE_AMSS));
  other.ReleaseAllImages();
  EXPECT_TRUE(images_.IsImageLoaded(IMAGE_AMSS)) << "released in the other catalogue only";

  images_.ResetForTesting();
  EXPECT_EQ(images_.ImagePath(3), "");
  EXPECT_FALSE(images_.ImagesLoaded());
  EXPECT_FALSE(images_.LoadedPackageFacts().has_value());
}

TEST_F(ImageCatalogueTest, ModelCheckUpperCasesThePackageModel) {
  WritePackageWithModel("tr52");
  EXPECT_TRUE(CheckDzModel(pkg_));
  EXPECT_NE(LogText().find("DLL[TR52]Model NAME match. DZ file: tr52\r\n"), std::string::npos);

  WritePackageWithModel("TR52 ");
  EXPECT_FALSE(CheckDzModel(pkg_));
  EXPECT_NE(LogText().find("DLL[TR52]Model NAME dosen't match. DZ file: TR52 \r\n"),
            std::string::npos);

  WritePackageWithModel("TR520");
  EXPECT_FALSE(CheckDzModel(pkg_));
  EXPECT_FALSE(CheckDzModel(dir_.File("absent.dz")));
}

TEST_F(ImageCatalogueTest, LoadImagesLoadsTheSelectedTypesInOrderAndStopsAtTheFirstFailure) {
  images_.SetImagePaths(kDownloadImageMask, pkg_);
  images_.SetImagePath(IMAGE_PARTITION_TBL, dir_.File("nowhere.mbn"));  // loaded first, fails
  EXPECT_FALSE(images_.LoadImages(pkg_, kDownloadImageMask));
  EXPECT_FALSE(images_.ImagesLoaded());
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_AMSS)) << "AMSS comes after the partition table";

  images_.SetImagePath(IMAGE_PARTITION_TBL, pkg_);
  ASSERT_TRUE(images_.LoadImages(pkg_, kDownloadImageMask));
  EXPECT_TRUE(images_.ImagesLoaded());
  EXPECT_EQ(SlotBytes(IMAGE_PARTITION_TBL), ptbl_);
  EXPECT_EQ(SlotBytes(IMAGE_AMSS), amss_);
  for (int t : {6, 16, 24, 25, 26}) {
    EXPECT_TRUE(images_.IsImageLoaded(t)) << t;
    EXPECT_EQ(images_.ImageSize(t), 0u) << t;
  }
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_MEDIA)) << "not selected";
}

TEST_F(ImageCatalogueTest, LoadImagesRunsOncePerProcessWhateverComesLater) {
  images_.SetImagePaths(kDownloadImageMask, pkg_);
  ASSERT_TRUE(images_.LoadImages(pkg_, 0));  // nothing selected: only the model check
  EXPECT_TRUE(images_.ImagesLoaded());
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_AMSS));
  EXPECT_TRUE(images_.LoadImages(dir_.File("other.dz"), kDownloadImageMask));
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_AMSS)) << "later calls load nothing";
}

TEST_F(ImageCatalogueTest, ConcurrentLoadImagesReadThePackageOnce) {
  images_.SetImagePaths(kDownloadImageMask, pkg_);
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] { ok += images_.LoadImages(pkg_, kDownloadImageMask) ? 1 : 0; });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok, 4);
  EXPECT_EQ(SlotBytes(IMAGE_AMSS), amss_);
  const std::string log = LogText();
  const std::string line = "Type : AMSS, size : 40000";
  const size_t first = log.find(line);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.find(line, first + 1), std::string::npos) << "loaded once";
}

TEST_F(ImageCatalogueTest, LoadImagesRefusesAPackageOfAnotherModel) {
  WritePackageWithModel("XX99");
  images_.SetImagePaths(kDownloadImageMask, pkg_);
  EXPECT_FALSE(images_.LoadImages(pkg_, kDownloadImageMask));
  EXPECT_FALSE(images_.ImagesLoaded());
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_AMSS));
}

std::string Md5Of(const std::vector<uint8_t>& bytes) {
  return Md5Hex(Md5::Of(bytes.data(), bytes.size()));
}

TEST_F(ImageCatalogueTest, LoadImagesTellsWhatWasLoadedFromWhichFile) {
  EXPECT_FALSE(images_.LoadedPackageFacts().has_value());
  images_.SetImagePaths(kDownloadImageMask, pkg_);
  ASSERT_TRUE(images_.LoadImages(pkg_, kDownloadImageMask));
  const auto facts = images_.LoadedPackageFacts();
  ASSERT_TRUE(facts.has_value());
  const auto file = ReadAll(pkg_);
  EXPECT_EQ(facts->path, pkg_);
  EXPECT_EQ(facts->size, file.size());
  EXPECT_EQ(facts->md5, Md5Of(file));
  // Only the images the package has, in load order.
  ASSERT_EQ(facts->images.size(), 2u);
  EXPECT_EQ(
      std::tie(facts->images[0].type, facts->images[0].name, facts->images[0].size),
      std::make_tuple(std::string("PARTITION TBL"), std::string("partition.mbn"), uint64_t{512}));
  EXPECT_EQ(facts->images[0].md5, Md5Of(ptbl_));
  EXPECT_EQ(facts->images[1].name, "amss.mbn");
  EXPECT_EQ(facts->images[1].md5, Md5Of(amss_));

  // The file replaced afterwards changes nothing of what was loaded.
  BuildPackage(pkg_, {{IMAGE_AMSS, "other.mbn", PatternData(100, 9)}});
  EXPECT_TRUE(images_.LoadImages(pkg_, kDownloadImageMask));
  EXPECT_EQ(images_.LoadedPackageFacts()->md5, Md5Of(file));
}

TEST_F(ImageCatalogueTest, FailedLoadImagesLeavesNothingHalfLoadedForTheNextPackage) {
  images_.SetImagePaths(kDownloadImageMask, pkg_);
  // EFS GANG comes after the partition table and AMSS, which load.
  images_.SetImagePath(IMAGE_EFS_GANG, dir_.File("nowhere.mbn"));
  EXPECT_FALSE(images_.LoadImages(pkg_, kDownloadImageMask));
  EXPECT_FALSE(images_.IsImageLoaded(IMAGE_AMSS));
  EXPECT_FALSE(images_.LoadedPackageFacts().has_value());

  // Another package chosen for the next try: the phones get its images, all of them.
  const std::string other = dir_.File("other.dz");
  const auto otherAmss = PatternData(30000, 5);
  BuildPackage(other, {{IMAGE_AMSS, "amss2.mbn", otherAmss}});
  images_.SetImagePaths(kDownloadImageMask, other);
  ASSERT_TRUE(images_.LoadImages(other, kDownloadImageMask));
  EXPECT_EQ(SlotBytes(IMAGE_AMSS), otherAmss);
  EXPECT_EQ(images_.ImageSize(IMAGE_PARTITION_TBL), 0u) << "the first package's table stays behind";
  EXPECT_EQ(images_.LoadedPackageFacts()->path, other);
}

TEST_F(ImageCatalogueTest, PackageFileWatchSeesAReplacedOrChangedFile) {
  const auto original = ReadAll(pkg_);
  const std::string other = dir_.File("other.dz");
  const std::pair<const char*, std::function<void()>> rows[] = {
      {"untouched", [] {}},
      {"renamed over",
       [&] {
         WriteAll(other, {1, 2});
         std::rename(other.c_str(), pkg_.c_str());
       }},
      {"written in place", [&] { std::ofstream(pkg_, std::ios::app) << "x"; }},
      {"removed", [&] { unlink(pkg_.c_str()); }},
  };
  for (const auto& [name, change] : rows) {
    SCOPED_TRACE(name);
    WriteAll(pkg_, original);
    const PackageFileWatch watch(pkg_);
    ASSERT_TRUE(watch.IsOpen());
    change();
    EXPECT_EQ(watch.Unchanged(), std::string(name) == "untouched");
    // The digest is that of the file that was opened.
    uint64_t size = 0;
    std::string md5;
    ASSERT_TRUE(watch.Digest(size, md5));
    if (std::string(name) != "written in place") {
      EXPECT_EQ(md5, Md5Of(original));
    }
  }
  EXPECT_FALSE(PackageFileWatch(dir_.Path()).IsOpen()) << "a folder";
}

TEST_F(ImageCatalogueTest, NvItemNamesComeFromTheTableBesideTheHostExecutable) {
  EXPECT_EQ(NvItemName(550), "NV ITEM 550");
  WriteAll(dir_.File("NvItemTable.txt"),
           std::vector<uint8_t>{'[', 'N', 'V', '_', 'I', 'T', 'E', 'M', ']', '\n', '5',
                                '5', '0', '=', 'N', 'V', '_', 'E', 'S', 'N', '\n'});
  EXPECT_EQ(NvItemName(550), "NV_ESN");
  EXPECT_EQ(NvItemName(551), "NV ITEM 551");
  EXPECT_EQ(NvItemName(-1), "NV ITEM -1");
}

}  // namespace
}  // namespace tr52
