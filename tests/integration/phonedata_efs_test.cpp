// Media and module images replayed into the virtual phone's EFS2 tree over a pseudo-terminal,
// and the clearing of phone folders before that.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "link/phone_link.h"
#include "phonedata/efs2_client.h"
#include "phonedata/efs2_image.h"
#include "phonedata/efs2_image_writer.h"
#include "support/temp_dir.h"
#include "virtual_phone_fixture.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

constexpr int kCom = 63;
const char* const kMediaFolders[] = {"/VIZED/Common/", "/VIZED/Internet/", "/VIZED/Media/",
                                     "/VIZED/Obigo/"};
const char* const kModuleFolders[] = {"/VIZED/Pxo/", "/brew/"};

using Tree = std::map<std::string, std::pair<bool, vphone::Bytes>>;  // path -> {dir, data}

vphone::Bytes Blob(size_t n, unsigned seed) {
  vphone::Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 29 + seed) ^ (i >> 9));
  return b;
}

// The objects of an image, by canonical phone path.
Tree ImageObjects(const std::vector<uint8_t>& image) {
  Tree out;
  tr52::CEfs2Image efs;
  EXPECT_TRUE(efs.Attach(image.data(), image.size()));
  size_t cursor = 0;
  for (uint64_t i = 0; i < efs.WalkedObjects(); ++i) {
    uint32_t type;
    std::string path;
    std::unique_ptr<uint8_t[]> data;
    size_t size;
    EXPECT_TRUE(efs.ReadObject(type, path, cursor, data, size));
    const std::string p = vphone::EfsTree::Canonical(path);
    out[p] = {type != 0, type ? vphone::Bytes{} : vphone::Bytes(data.get(), data.get() + size)};
  }
  return out;
}

// What the phone holds below the given folders (the folders themselves included).
Tree PhoneTreeBelow(const vphone::EfsTree& tree, std::initializer_list<const char*> folders) {
  Tree out;
  for (const auto& [path, node] : tree.Nodes()) {
    for (const char* f : folders) {
      const std::string folder = vphone::EfsTree::Canonical(f);
      if (path == folder || path.rfind(folder + "/", 0) == 0) {
        out[path] = {node.directory, node.data};
        break;
      }
    }
  }
  return out;
}

class PhonedataEfsTest : public tr52test::VirtualPhoneFixture {
 protected:
  PhonedataEfsTest() : VirtualPhoneFixture(kCom) {}
  void StartPhone(const std::string& scenario = "") {
    StartPhoneAndLink(scenario);
    efs.AttachLink(&link, nullptr);
  }
  // Stops the phone so that its tree can be read.
  const vphone::EfsTree& StoppedTree() {
    link.Close();
    phone->Stop();
    return phone->Efs();
  }

  tr52::Efs2Client efs;
};

TEST_F(PhonedataEfsTest, MediaImageReplacesTheMediaFolders) {
  StartPhone();
  tr52::Efs2ImageWriter w(tr52::kEfs2KindMedia);
  for (const char* f : kMediaFolders) w.AddDirectory(f);
  w.AddDirectory("/VIZED/Media/Images/");
  w.AddDirectory("/VIZED/Media/Sounds/");
  for (int i = 0; i < 12; ++i)
    w.AddFile("/VIZED/Media/Images/pic" + std::to_string(i) + ".jpg", Blob(700 * i + 5, i));
  w.AddFile("/VIZED/Media/Sounds/ring.mid", Blob(9000, 77));
  w.AddFile("/VIZED/Common/config.dat", Blob(4096, 3));
  w.AddFile("/VIZED/Internet/home.htm", {});
  w.AddFile("/VIZED/Obigo/cache.bin", Blob(4097, 4));
  const auto image = w.Build();

  for (const char* f : kMediaFolders) ASSERT_TRUE(efs.RemoveSubDirectory(f, false)) << f;
  ASSERT_TRUE(efs.PutMergeFile(image.data(), image.size(), false));
  EXPECT_EQ(PhoneTreeBelow(StoppedTree(), {kMediaFolders[0], kMediaFolders[1], kMediaFolders[2],
                                           kMediaFolders[3]}),
            ImageObjects(image));
}

TEST_F(PhonedataEfsTest, ModuleImageReplacesTheModuleFolders) {
  StartPhone();
  tr52::Efs2ImageWriter w(tr52::kEfs2KindModule);
  w.AddDirectory("/VIZED/Pxo/");
  w.AddDirectory("/brew/");
  w.AddDirectory("/brew/mod/");
  w.AddDirectory("/brew/mod/chess/");
  w.AddFile("/brew/mod/chess/chess.mod", Blob(20000, 9));
  w.AddFile("/brew/mod/chess/chess.mif", Blob(300, 8));
  w.AddFile("/VIZED/Pxo/viewer.pxo", Blob(1500, 7));
  const auto image = w.Build();

  for (const char* f : kModuleFolders) ASSERT_TRUE(efs.RemoveFiles(f)) << f;
  ASSERT_TRUE(efs.PutMergeFile(image.data(), image.size(), false));
  EXPECT_EQ(PhoneTreeBelow(StoppedTree(), {kModuleFolders[0], kModuleFolders[1]}),
            ImageObjects(image));
}

TEST_F(PhonedataEfsTest, ProtectionKeepsTheImagesFolderAndItsFiles) {
  StartPhone("efs.refuse_rmdir = /VIZED/Media/Images\n");
  for (const char* f : kMediaFolders) ASSERT_TRUE(efs.RemoveSubDirectory(f, true)) << f;
  const auto& tree = StoppedTree();
  const Tree left = PhoneTreeBelow(
      tree, {kMediaFolders[0], kMediaFolders[1], kMediaFolders[2], kMediaFolders[3]});
  std::vector<std::string> paths;
  for (const auto& [p, n] : left) paths.push_back(p);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"/VIZED/Common", "/VIZED/Internet", "/VIZED/Media",
                                      "/VIZED/Media/Images", "/VIZED/Media/Images/photo1.jpg",
                                      "/VIZED/Media/Images/wallpaper.jpg", "/VIZED/Obigo"}));
}

TEST_F(PhonedataEfsTest, NoSpaceStopsTheReplayAndTheLink) {
  StartPhone("efs.capacity = 20000\n");
  tr52::Efs2ImageWriter w(tr52::kEfs2KindMedia);
  for (int i = 0; i < 10; ++i) w.AddFile("/VIZED/Media/f" + std::to_string(i), Blob(5000, i));
  const auto image = w.Build();
  EXPECT_FALSE(efs.PutMergeFile(image.data(), image.size(), false));
  EXPECT_TRUE(link.IsAborted());
  const vphone::Bytes one = Blob(10, 1);
  EXPECT_FALSE(efs.UploadFile("/VIZED/Media/after", one.data(), one.size()));
  EXPECT_EQ(StoppedTree().Find("/VIZED/Media/after"), nullptr);
}

}  // namespace
