// Efs2Client and the merge-file download against a virtual handset's EFS2 tree over a
// pseudo-terminal.
#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "phone_fixture.h"
#include "phonedata/efs2_image_writer.h"
#include "win/window.h"

namespace tr52test {
namespace {

using tr52::Efs2Client;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSub = 0x4B;

Bytes Blob(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 7));
  return b;
}

uint16_t EfsCmd(const Bytes& r) {
  return static_cast<uint16_t>(r[2] | (r[3] << 8));
}

std::string PathIn(const Bytes& r, size_t at) {
  return std::string(reinterpret_cast<const char*>(r.data() + at));
}

// A progress window for the reporter, so that progress steps are posted and logged.
class ProgressTarget {
 public:
  explicit ProgressTarget(tr52::ProgressReporter& reporter) {
    hwnd_ = win::CreateWindowEx(nullptr, "#test", "", 0, {}, {});
    reporter.Attach(hwnd_, 0x8001, 14, 47);
  }
  ~ProgressTarget() { win::DestroyWindow(hwnd_); }

 private:
  win::HWND hwnd_;
};

TEST(Efs2Paths, Normalisation) {
  EXPECT_EQ(Efs2Client::NormalizePath("/"), "/");
  EXPECT_EQ(Efs2Client::NormalizePath("/VIZED/Media/a.JPG"), "VIZED/Media/a.JPG");
  EXPECT_EQ(Efs2Client::NormalizePath("brew/x"), "brew/x");
  EXPECT_EQ(Efs2Client::NormalizePath("/mmc1/ABCD/ABCDEFGHIJKL"), "mmc1/abcd/ABCDEFGHIJKL\n");
  EXPECT_EQ(Efs2Client::NormalizePath("/mmc1/MUSIC/"), "mmc1/music/\n");
  EXPECT_EQ(Efs2Client::NormalizePath("/mmc1/A/ABCDEFGH"), "mmc1/a/abcdefgh\n");
  EXPECT_EQ(Efs2Client::NormalizePath("/MMC1/ABCD/X"), "MMC1/ABCD/X");
}

TEST(Efs2Requests, LayoutsOfPathCommands) {
  PhoneFixture fx;
  auto& efs = fx.Efs();
  EXPECT_TRUE(efs.MakeDirectory("/VIZED/New"));
  const int32_t fd = efs.OpenFile("/mmc1/ABCD/ABCDEFGHIJKL", 0x41, 1);
  EXPECT_EQ(fd, -1);  // the card folder does not exist
  EXPECT_EQ(efs.LastError(), 2u);
  const auto reqs = fx.Peer().Requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0][0], kSub);
  EXPECT_EQ(reqs[0][1], 0x13);
  EXPECT_EQ(EfsCmd(reqs[0]), 9);
  EXPECT_EQ(reqs[0][4] | (reqs[0][5] << 8), 0x40);
  EXPECT_EQ(PathIn(reqs[0], 6), "VIZED/New");
  EXPECT_EQ(reqs[0].size(), 6u + 9u + 1u);
  EXPECT_EQ(EfsCmd(reqs[1]), 2);
  EXPECT_EQ(tr52::LoadU32le(reqs[1].data() + 4), 0x41u);
  EXPECT_EQ(tr52::LoadU32le(reqs[1].data() + 8), 1u);
  EXPECT_EQ(PathIn(reqs[1], 12), "mmc1/abcd/ABCDEFGHIJKL\n");
  EXPECT_EQ(reqs[1].size(), 12u + 23u + 1u);
  EXPECT_TRUE(fx.LogHas("[ EFS2 ERROR ] OpenFile : /mmc1/ABCD/ABCDEFGHIJKL"));
}

TEST(Efs2Requests, ClosedPortFailsAtOnce) {
  PhoneFixture fx;
  fx.Link().Close();
  auto& efs = fx.Efs();
  EXPECT_EQ(efs.OpenFile("/a", 0x41, 1), -1);
  EXPECT_FALSE(efs.Stat("/VIZED"));
  EXPECT_FALSE(efs.RemoveFile("/VIZED/Pxo/app.pxo"));
  EXPECT_EQ(efs.OpenDir("/VIZED"), 0u);
  EXPECT_EQ(fx.Peer().RequestCount(), 0u);
}

TEST(Efs2Remove, AbsentFileSendsNoUnlink) {
  PhoneFixture fx;
  EXPECT_TRUE(fx.Efs().RemoveFile("/VIZED/none.txt"));
  EXPECT_EQ(fx.RequestsOf(kSub, 15), 1u);
  EXPECT_EQ(fx.RequestsOf(kSub, 8), 0u);
}

TEST(Efs2Remove, PresentFileIsUnlinked) {
  PhoneFixture fx;
  EXPECT_TRUE(fx.Efs().RemoveFile("/VIZED/Pxo/app.pxo"));
  EXPECT_EQ(fx.RequestsOf(kSub, 8), 1u);
  fx.WithPhone([](vphone::NvStore&, vphone::EfsTree& t) {
    EXPECT_EQ(t.Find("/VIZED/Pxo/app.pxo"), nullptr);
  });
}

TEST(Efs2Remove, UnlinkAnswered26CountsAsRemovedOtherErrorsFail) {
  PhoneFixture fx;
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 8) return std::nullopt;
    Bytes out(req.begin(), req.begin() + 4);
    out.resize(8, 0);
    tr52::StoreU32le(out.data() + 4, PathIn(req, 4) == "VIZED/Pxo/app.pxo" ? 26 : 13);
    return ScriptedPeer::Answers{out};
  });
  EXPECT_TRUE(fx.Efs().RemoveFile("/VIZED/Pxo/app.pxo"));
  EXPECT_TRUE(fx.LogHas("[ File Removed /VIZED/Pxo/app.pxo] File already open \n"));
  EXPECT_FALSE(fx.Efs().RemoveFile("/brew/shared.dat"));
  EXPECT_TRUE(fx.LogHas("[ Files Remove /brew/shared.dat] 13"));
}

TEST(Efs2Remove, RemoveFilesClearsBelowThePath) {
  PhoneFixture fx;
  EXPECT_TRUE(fx.Efs().RemoveFiles("/brew/"));
  EXPECT_TRUE(fx.LogHas("[ Files Removed ] /brew/"));
  fx.WithPhone([](vphone::NvStore&, vphone::EfsTree& t) {
    EXPECT_NE(t.Find("/brew"), nullptr);
    EXPECT_EQ(t.Find("/brew/mod"), nullptr);
  });
  EXPECT_FALSE(fx.Efs().RemoveFiles("/nothing/"));
  EXPECT_TRUE(fx.LogHas("[ Files Remove Error ] 2"));
}

TEST(Efs2Upload, WritesInChunksAndChecksTheSize) {
  PhoneFixture fx;
  auto& efs = fx.Efs();
  const Bytes data = Blob(5000, 3);
  ASSERT_TRUE(efs.UploadFile("/VIZED/Common/big.bin", data.data(), data.size()));
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 5u);  // 1024-byte chunks before the query
  ASSERT_TRUE(efs.QueryWriteChunk());
  EXPECT_EQ(efs.WriteChunkSize(), 4096);
  ASSERT_TRUE(efs.UploadFile("/VIZED/Common/big.bin", data.data(), data.size()));
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 7u);
  fx.WithPhone([&](vphone::NvStore&, vphone::EfsTree& t) {
    auto* n = t.Find("/VIZED/Common/big.bin");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->data, data);
    EXPECT_EQ(t.OpenFiles(), 0u);
  });
  const auto writes = fx.Peer().Requests();
  for (const auto& r : writes) {
    if (r[0] == kSub && EfsCmd(r) == 5 && tr52::LoadU32le(r.data() + 8) == 4096) {
      EXPECT_EQ(r.size(), 12u + 5000u - 4096u);
    }
  }
}

TEST(Efs2Upload, QueryNotAnsweredKeeps1024) {
  PhoneFixture fx(100.0);
  fx.Apply({{"efs.query", "false"}});
  EXPECT_FALSE(fx.Efs().QueryWriteChunk());
  EXPECT_EQ(fx.Efs().WriteChunkSize(), 1024);
}

TEST(Efs2Upload, EmptyFileIsCreated) {
  PhoneFixture fx;
  ASSERT_TRUE(fx.Efs().UploadFile("/VIZED/Common/empty", nullptr, 0));
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 0u);
  fx.WithPhone([](vphone::NvStore&, vphone::EfsTree& t) {
    ASSERT_NE(t.Find("/VIZED/Common/empty"), nullptr);
  });
}

TEST(Efs2Upload, FinalStatWithOtherSizeFails) {
  PhoneFixture fx;
  int stats = 0;
  fx.SetHook([&](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 15 || ++stats < 2) return std::nullopt;
    Bytes out(req.begin(), req.begin() + 4);
    out.resize(32, 0);
    tr52::StoreU32le(out.data() + 12, 99);
    return ScriptedPeer::Answers{out};
  });
  const Bytes data = Blob(100, 1);
  EXPECT_FALSE(fx.Efs().UploadFile("/VIZED/Common/x", data.data(), data.size()));
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 1u);  // every chunk was written
}

// A file the phone refuses to close may not hold what was written: the upload fails even
// though every chunk went through and the size reads right.
TEST(Efs2Upload, RefusedCloseFailsTheUpload) {
  PhoneFixture fx;
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 3) return std::nullopt;
    Bytes out(req.begin(), req.begin() + 4);
    out.resize(8, 0);
    tr52::StoreU32le(out.data() + 4, 4);
    return ScriptedPeer::Answers{out};
  });
  const Bytes data = Blob(100, 1);
  EXPECT_FALSE(fx.Efs().UploadFile("/VIZED/Common/x", data.data(), data.size()));
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 1u);
  EXPECT_TRUE(fx.LogHas("[ EFS2 ERROR ] CloseFile : /VIZED/Common/x"));
}

TEST(Efs2Upload, NoSpaceAbortsTheLinkAndStopsTheNextUpload) {
  PhoneFixture fx;
  fx.Apply({{"efs.capacity", "4000"}});  // some 3 KB are taken already
  const Bytes data = Blob(3000, 9);
  EXPECT_FALSE(fx.Efs().UploadFile("/VIZED/Common/full.bin", data.data(), data.size()));
  EXPECT_TRUE(fx.Link().IsAborted());
  EXPECT_EQ(fx.Efs().LastError(), 5u);
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 1u);
  const size_t before = fx.Peer().RequestCount();
  EXPECT_FALSE(fx.Efs().UploadFile("/VIZED/Common/next.bin", data.data(), data.size()));
  // Stopped before its first chunk, and nothing else reached the phone either.
  EXPECT_EQ(fx.Peer().RequestCount(), before);
}

TEST(Efs2Upload, StatErrorFiveDoesNotAbort) {
  PhoneFixture fx;
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 15) return std::nullopt;
    Bytes out(req.begin(), req.begin() + 4);
    out.resize(32, 0);
    tr52::StoreU32le(out.data() + 4, 5);
    return ScriptedPeer::Answers{out};
  });
  EXPECT_FALSE(fx.Efs().Stat("/VIZED"));
  EXPECT_FALSE(fx.Link().IsAborted());
}

TEST(Efs2Upload, WriteErrorAnswerFailsWithItsLog) {
  PhoneFixture fx;
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 5) return std::nullopt;
    Bytes out(req.begin(), req.begin() + 12);
    out.resize(20, 0);
    tr52::StoreU32le(out.data() + 16, 22);
    return ScriptedPeer::Answers{out};
  });
  const Bytes data = Blob(10, 1);
  EXPECT_FALSE(fx.Efs().UploadFile("/VIZED/Common/x", data.data(), data.size()));
  EXPECT_TRUE(fx.LogHas("   Error : Number        = 22 "));
  fx.WithPhone([](vphone::NvStore&, vphone::EfsTree& t) { EXPECT_EQ(t.OpenFiles(), 0u); });
}

// A chunk that keeps failing for another reason than a time-out is retried a bounded number of
// times instead of holding the port for ever.
TEST(Efs2Upload, ChunkRetriesAreBounded) {
  PhoneFixture fx;
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 5) return std::nullopt;
    return ScriptedPeer::Answers{{0x15, req[0], req[1], req[2], req[3]}};  // bad length
  });
  const Bytes data = Blob(10, 1);
  EXPECT_FALSE(fx.Efs().UploadFile("/VIZED/Common/x", data.data(), data.size()));
  // (1 send + 3 retries) x 3 attempts of the engine each.
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 12u);
  EXPECT_TRUE(fx.LogHas("= EFS2 WriteFile"));
  EXPECT_EQ(fx.RequestsOf(kSub, 3), 1u);  // closed
}

TEST(Efs2Upload, WriteTimeOutFailsAtOnce) {
  PhoneFixture fx(500.0);
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] == kSub && EfsCmd(req) == 5) return ScriptedPeer::Answers{};
    return std::nullopt;
  });
  const Bytes data = Blob(10, 1);
  EXPECT_FALSE(fx.Efs().UploadFile("/VIZED/Common/x", data.data(), data.size()));
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 3u);
  EXPECT_TRUE(fx.LogHas("= FileName : /VIZED/Common/x, Fd : 0x00000003, OffSet : 0"));
}

TEST(Efs2Upload, AnswerClaimingMoreThanSentFails) {
  PhoneFixture fx;
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 5) return std::nullopt;
    Bytes out(req.begin(), req.begin() + 12);
    out.resize(20, 0);
    tr52::StoreU32le(out.data() + 12, 0x7FFFFFFF);
    return ScriptedPeer::Answers{out};
  });
  const Bytes data = Blob(10, 1);
  EXPECT_FALSE(fx.Efs().UploadFile("/VIZED/Common/x", data.data(), data.size()));
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 1u);
}

TEST(Efs2List, TreeIsSortedWithDirectoriesBeforeTheirContents) {
  PhoneFixture fx;
  fx.Apply({{"efs.dot_entries", "true"}});
  std::vector<tr52::Efs2TreeItem> items;
  ASSERT_TRUE(fx.Efs().ListTree(items, "/VIZED/", ""));
  std::vector<std::string> seen;
  for (const auto& i : items) seen.push_back(i.phoneDir + i.name + (i.type ? "/" : ""));
  const std::vector<std::string> expected = {"/VIZED/Common/",
                                             "/VIZED/Common/config.dat",
                                             "/VIZED/Internet/",
                                             "/VIZED/Internet/bookmarks.txt",
                                             "/VIZED/Media/",
                                             "/VIZED/Media/Images/",
                                             "/VIZED/Media/Images/photo1.jpg",
                                             "/VIZED/Media/Images/wallpaper.jpg",
                                             "/VIZED/Media/Sounds/",
                                             "/VIZED/Media/Sounds/ring.mid",
                                             "/VIZED/Obigo/",
                                             "/VIZED/Obigo/cache.bin",
                                             "/VIZED/Pxo/",
                                             "/VIZED/Pxo/app.pxo"};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(items[2].localDir, "");
  EXPECT_EQ(items[6].localDir, "Media\\Images\\");
  EXPECT_GT(items[1].size, 0u);
  std::vector<tr52::Efs2DirEntry> entries;
  EXPECT_FALSE(fx.Efs().ListDirectory("/absent/", entries));
}

TEST(Efs2List, ReadDirErrorEndsTheListing) {
  PhoneFixture fx;
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 12 || tr52::LoadU32le(req.data() + 8) < 2)
      return std::nullopt;
    Bytes out(req.begin(), req.begin() + 12);
    out.resize(41, 0);
    tr52::StoreU32le(out.data() + 12, 9);
    return ScriptedPeer::Answers{out};
  });
  std::vector<tr52::Efs2DirEntry> entries;
  ASSERT_TRUE(fx.Efs().ListDirectory("/VIZED/", entries));
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(fx.RequestsOf(kSub, 13), 1u);  // closed all the same
}

// --- merge-file download ---

std::vector<uint8_t> MediaImage(std::vector<std::pair<std::string, Bytes>>* files = nullptr) {
  tr52::Efs2ImageWriter w(tr52::kEfs2KindMedia);
  w.AddDirectory("/VIZED/Media/");
  w.AddDirectory("/VIZED/Media/New/");
  w.AddFile("/VIZED/Media/New/a.bin", Blob(6000, 1));
  w.AddFile("/VIZED/Media/Images/logo.jpg", Blob(100, 2));
  w.AddFile("/VIZED/Media/top.txt", Blob(10, 3));
  if (files) {
    *files = {{"/VIZED/Media/New/a.bin", Blob(6000, 1)},
              {"/VIZED/Media/Images/logo.jpg", Blob(100, 2)},
              {"/VIZED/Media/top.txt", Blob(10, 3)}};
  }
  return w.Build();
}

TEST(Efs2Merge, ReplaysEveryObjectAndSkipsNoDirectoryThatExists) {
  PhoneFixture fx;
  ProgressTarget target(fx.Reporter());
  std::vector<std::pair<std::string, Bytes>> files;
  const auto image = MediaImage(&files);
  ASSERT_TRUE(fx.Efs().PutMergeFile(image.data(), image.size(), false));
  fx.WithPhone([&](vphone::NvStore&, vphone::EfsTree& t) {
    for (const auto& [path, data] : files) {
      auto* n = t.Find(path);
      ASSERT_NE(n, nullptr) << path;
      EXPECT_EQ(n->data, data) << path;
    }
  });
  // "/VIZED/Media/" existed: opened and closed, not made again.
  EXPECT_EQ(fx.RequestsOf(kSub, 9), 1u);
  EXPECT_EQ(fx.RequestsOf(kSub, 51), 1u);
  EXPECT_EQ(fx.Efs().WriteChunkSize(), 4096);
  EXPECT_EQ(fx.RequestsOf(kSub, 5), 2u + 1u + 1u);
  EXPECT_TRUE(fx.LogHas("ProgreassiveBar Init wParam lParam(pos)=0 - Max5"));
  EXPECT_EQ(fx.LogCount(" Pos("), 5u);
}

TEST(Efs2Merge, ProtectedMediaIsSkippedOnlyWithTheFlag) {
  PhoneFixture fx;
  ProgressTarget target(fx.Reporter());
  const auto image = MediaImage();
  ASSERT_TRUE(fx.Efs().PutMergeFile(image.data(), image.size(), true));
  fx.WithPhone([&](vphone::NvStore&, vphone::EfsTree& t) {
    EXPECT_EQ(t.Find("/VIZED/Media/Images/logo.jpg"), nullptr);
    EXPECT_NE(t.Find("/VIZED/Media/top.txt"), nullptr);
  });
  EXPECT_EQ(fx.LogCount(" Pos("), 4u);
}

TEST(Efs2Merge, BadImageAndFailedMkdirAreReported) {
  PhoneFixture fx;
  auto image = MediaImage();
  image.push_back(0);
  EXPECT_FALSE(fx.Efs().PutMergeFile(image.data(), image.size(), false));
  EXPECT_TRUE(fx.LogHas("Efs2Image Can't Open"));
  tr52::Efs2ImageWriter w;
  w.AddDirectory("/no/such/parent/");
  image = w.Build();
  EXPECT_FALSE(fx.Efs().PutMergeFile(image.data(), image.size(), false));
  EXPECT_TRUE(fx.LogHas("ERROR(PutMergeFile) : MakeDirectory - /no/such/parent/"));
}

TEST(Efs2Merge, NoSpaceEndsWithTheAbortMessage) {
  PhoneFixture fx;
  fx.Apply({{"efs.capacity", "8000"}});  // the default tree holds some 3 KB already
  const auto image = MediaImage();
  EXPECT_FALSE(fx.Efs().PutMergeFile(image.data(), image.size(), false));
  EXPECT_TRUE(fx.Link().IsAborted());
  EXPECT_TRUE(fx.LogHas("ERROR(PutMergeFile) : "));
  EXPECT_TRUE(fx.LogText().find(tr52::ToCp949("중간에 Abort시에 실패로 처리")) !=
              std::string::npos);
}

TEST(Efs2Merge, EmptyImageSucceeds) {
  PhoneFixture fx;
  EXPECT_TRUE(fx.Efs().PutMergeFile(nullptr, 0, false));
}

TEST(Efs2RemoveSubDirectory, EmptyFolderLogsAndReportsZeroItems) {
  PhoneFixture fx;
  ProgressTarget target(fx.Reporter());
  fx.WithPhone([](vphone::NvStore&, vphone::EfsTree& t) { t.PutDirectory("/VIZED/Empty"); });
  EXPECT_TRUE(fx.Efs().RemoveSubDirectory("/VIZED/Empty/", false));
  EXPECT_TRUE(fx.LogHas("[COM47] RemoveSubDirectory: /VIZED/Empty/"));
  EXPECT_TRUE(fx.LogHas("ProgreassiveBar Init wParam lParam(pos)=0 - Max0"));
}

TEST(Efs2RemoveSubDirectory, RemovesContentsBeforeTheirFolders) {
  PhoneFixture fx;
  EXPECT_TRUE(fx.Efs().RemoveSubDirectory("/VIZED/Media/", false));
  fx.WithPhone([](vphone::NvStore&, vphone::EfsTree& t) {
    EXPECT_NE(t.Find("/VIZED/Media"), nullptr);
    EXPECT_EQ(t.Find("/VIZED/Media/Images"), nullptr);
    EXPECT_EQ(t.Find("/VIZED/Media/Sounds"), nullptr);
  });
}

TEST(Efs2RemoveSubDirectory, ProtectedFolderStaysAndEndsTheWalkWithSuccess) {
  PhoneFixture fx;
  EXPECT_TRUE(fx.Efs().RemoveSubDirectory("/VIZED/Media/", true));
  fx.WithPhone([](vphone::NvStore&, vphone::EfsTree& t) {
    EXPECT_NE(t.Find("/VIZED/Media/Images/wallpaper.jpg"), nullptr);
    EXPECT_EQ(t.Find("/VIZED/Media/Sounds"), nullptr);
  });
}

TEST(Efs2RemoveSubDirectory, FolderThatRefusesRemovalEndsWalkButFileFailureFails) {
  PhoneFixture fx;
  fx.Apply({{"efs.refuse_rmdir", "/VIZED/Media/Sounds"}});
  EXPECT_TRUE(fx.Efs().RemoveSubDirectory("/VIZED/Media/", false));
  fx.WithPhone([](vphone::NvStore&, vphone::EfsTree& t) {
    EXPECT_NE(t.Find("/VIZED/Media/Sounds"), nullptr);
    EXPECT_NE(t.Find("/VIZED/Media/Images/wallpaper.jpg"), nullptr);  // walk ended there
  });
  fx.SetHook([](const Bytes& req) -> std::optional<ScriptedPeer::Answers> {
    if (req[0] != kSub || EfsCmd(req) != 8) return std::nullopt;
    Bytes out(req.begin(), req.begin() + 4);
    out.resize(8, 0);
    tr52::StoreU32le(out.data() + 4, 13);
    return ScriptedPeer::Answers{out};
  });
  EXPECT_FALSE(fx.Efs().RemoveSubDirectory("/VIZED/Obigo/", false));
  EXPECT_TRUE(fx.LogHas("   RemoveFile FAIL"));
}

}  // namespace
}  // namespace tr52test
