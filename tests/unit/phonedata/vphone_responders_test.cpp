// The virtual handset's NV, CNV and EFS2 responders on their own: request bytes in, reply out.
#include <gtest/gtest.h>

#include <sstream>

#include "base/byte_reader.h"
#include "vphone/cnv_responder.h"
#include "vphone/efs_responder.h"
#include "vphone/nv_responder.h"

namespace tr52test {
namespace {

using vphone::Bytes;
using vphone::Mode;
using vphone::Reply;

Bytes EfsReq(uint16_t cmd, std::initializer_list<uint32_t> words = {}, const std::string& path = "",
             bool nul = true) {
  Bytes r{0x4B, 0x13, static_cast<uint8_t>(cmd), static_cast<uint8_t>(cmd >> 8)};
  for (uint32_t w : words) {
    r.resize(r.size() + 4);
    tr52::StoreU32le(r.data() + r.size() - 4, w);
  }
  r.insert(r.end(), path.begin(), path.end());
  if (nul && (!path.empty() || cmd == 8)) r.push_back(0);
  return r;
}

uint32_t At(const Reply& reply, size_t offset) {
  return tr52::LoadU32le(reply.frames.at(0).data() + offset);
}

class EfsResponderTest : public ::testing::Test {
 protected:
  Reply Send(const Bytes& req) {
    Reply reply;
    EXPECT_TRUE(responder.Handle(Mode::Normal, req, reply));
    return reply;
  }
  vphone::EfsTree tree;
  vphone::EfsResponder responder{tree};
};

TEST_F(EfsResponderTest, OtherModesAndSubsystemsAreNotHandled) {
  Reply reply;
  EXPECT_FALSE(responder.Handle(Mode::Download, EfsReq(15, {}, "VIZED"), reply));
  EXPECT_FALSE(responder.Handle(Mode::Normal, Bytes{0x4B, 0xFC, 4, 0}, reply));
  EXPECT_FALSE(responder.Handle(Mode::Normal, Bytes{0x4B, 0x13}, reply));
}

TEST_F(EfsResponderTest, MalformedRequestsGetBadLength) {
  EXPECT_EQ(Send(EfsReq(15, {}, "VIZED", false)).frames.at(0)[0], 0x15);  // no NUL
  EXPECT_EQ(Send(EfsReq(3)).frames.at(0)[0], 0x15);                       // no descriptor
  EXPECT_EQ(Send(EfsReq(12, {1})).frames.at(0)[0], 0x15);
  EXPECT_EQ(Send(EfsReq(99)).frames.at(0)[0], 0x13);  // unknown command
}

TEST_F(EfsResponderTest, FileLifecycle) {
  Reply r = Send(EfsReq(2, {0x41, 1}, "VIZED/Common/new.txt"));
  const uint32_t fd = At(r, 4);
  EXPECT_EQ(At(r, 8), 0u);
  Bytes write = EfsReq(5, {fd, 2});
  write.insert(write.end(), {'a', 'b', 'c'});
  r = Send(write);
  EXPECT_EQ(At(r, 12), 3u);
  EXPECT_EQ(At(r, 16), 0u);
  EXPECT_EQ(tree.Find("/VIZED/Common/new.txt")->data, (Bytes{0, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(At(Send(EfsReq(8, {}, "VIZED/Common/new.txt")), 4), 26u);  // still open
  EXPECT_EQ(At(Send(EfsReq(3, {fd})), 4), 0u);
  EXPECT_EQ(At(Send(EfsReq(3, {fd})), 4), 9u);  // closed twice
  r = Send(EfsReq(15, {}, "VIZED/Common/new.txt"));
  EXPECT_EQ(At(r, 4), 0u);
  EXPECT_EQ(At(r, 12), 5u);
  EXPECT_EQ(At(Send(EfsReq(8, {}, "VIZED/Common/new.txt")), 4), 0u);
  EXPECT_EQ(At(Send(EfsReq(15, {}, "VIZED/Common/new.txt")), 4), 2u);
}

TEST_F(EfsResponderTest, WriteFarBeyondAnyFileIsNoSpace) {
  const uint32_t fd = At(Send(EfsReq(2, {0x41, 1}, "VIZED/x")), 4);
  Bytes write = EfsReq(5, {fd, 0xFFFFFFF0u});
  write.push_back(1);
  EXPECT_EQ(At(Send(write), 16), 5u);
}

TEST_F(EfsResponderTest, DirectoriesAndListings) {
  Bytes mkdir{0x4B, 0x13, 9, 0, 0x40, 0};
  const std::string p = "VIZED/Dir";
  mkdir.insert(mkdir.end(), p.begin(), p.end());
  mkdir.push_back(0);
  EXPECT_EQ(At(Send(mkdir), 4), 0u);
  EXPECT_EQ(At(Send(mkdir), 4), 17u);
  EXPECT_EQ(At(Send(EfsReq(10, {}, "VIZED")), 4), 39u);  // not empty
  Reply r = Send(EfsReq(11, {}, "VIZED/Media"));
  const uint32_t handle = At(r, 4);
  ASSERT_NE(handle, 0u);
  std::vector<std::string> names;
  for (uint32_t seq = 1;; ++seq) {
    r = Send(EfsReq(12, {handle, seq}));
    ASSERT_EQ(At(r, 12), 0u);
    const std::string name(reinterpret_cast<const char*>(r.frames[0].data() + 40));
    if (name.empty()) break;
    names.push_back(name);
    ASSERT_LT(seq, 10u);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Sounds", "Images"}));
  EXPECT_EQ(At(Send(EfsReq(13, {handle})), 4), 0u);
  EXPECT_EQ(At(Send(EfsReq(12, {handle, 1})), 12), 9u);
  r = Send(EfsReq(11, {}, "nothing"));
  EXPECT_EQ(At(r, 4), 0u);
  EXPECT_EQ(At(r, 8), 2u);
}

TEST_F(EfsResponderTest, MemoryCardPathsLoseTheirLineFeed) {
  tree.PutDirectory("/mmc1/abcd");
  const uint32_t fd = At(Send(EfsReq(2, {0x41, 1}, "mmc1/abcd/ABCDEFGHIJKL\n")), 4);
  EXPECT_NE(static_cast<int32_t>(fd), -1);
  EXPECT_NE(tree.Find("/mmc1/abcd/ABCDEFGHIJKL"), nullptr);
}

TEST_F(EfsResponderTest, ScenarioFaults) {
  responder.ApplyScenario({{"efs.error./VIZED/Pxo/app.pxo", "26"},
                           {"efs.refuse_rmdir", "/VIZED/Obigo/"},
                           {"efs.query", "false"}});
  EXPECT_EQ(At(Send(EfsReq(8, {}, "VIZED/Pxo/app.pxo")), 4), 26u);
  EXPECT_NE(tree.Find("/VIZED/Pxo/app.pxo"), nullptr);
  tree.RemoveBelow("/VIZED/Obigo");
  EXPECT_EQ(At(Send(EfsReq(10, {}, "VIZED/Obigo")), 4), 13u);
  EXPECT_EQ(Send(EfsReq(51)).frames.at(0)[0], 0x13);
  std::ostringstream dump;
  responder.DumpState(dump);
  EXPECT_NE(dump.str().find("efs dir /VIZED/Obigo\n"), std::string::npos);
  EXPECT_NE(dump.str().find("efs file /VIZED/Pxo/app.pxo "), std::string::npos);
}

Bytes NvReq(uint8_t cmd, uint16_t item, uint8_t fill = 0) {
  Bytes r(133, fill);
  r[0] = cmd;
  tr52::StoreU16le(r.data() + 1, item);
  r[131] = r[132] = 0;
  return r;
}

TEST(NvResponderTest, ReadsWritesAndFaults) {
  vphone::NvStore store;
  vphone::NvResponder nv(store);
  nv.ApplyScenario({{"nv.read_status.114", "8"}, {"nv.silent_read_at", "4"}});
  Reply r;
  ASSERT_TRUE(nv.Handle(Mode::Normal, NvReq(0x26, 0), r));
  EXPECT_EQ(r.frames.at(0).size(), 133u);
  EXPECT_EQ(tr52::LoadU16le(r.frames[0].data() + 131), 0);
  EXPECT_EQ(r.frames[0][3], vphone::NvStore::DefaultData(0)[0]);
  r = {};
  ASSERT_TRUE(nv.Handle(Mode::Normal, NvReq(0x26, 114), r));
  EXPECT_EQ(tr52::LoadU16le(r.frames[0].data() + 131), 8);
  EXPECT_EQ(r.frames[0][3], 0);  // no data with a bad status
  r = {};
  ASSERT_TRUE(nv.Handle(Mode::Normal, NvReq(0x27, 2, 0x42), r));
  EXPECT_EQ(store.Get(2)->at(127), 0x42);
  r = {};
  ASSERT_TRUE(nv.Handle(Mode::Normal, NvReq(0x26, 2), r));
  EXPECT_EQ(r.frames[0][3], 0x42);
  r = {};
  ASSERT_TRUE(nv.Handle(Mode::Normal, NvReq(0x26, 2), r));
  EXPECT_TRUE(r.silent);
  r = {};
  ASSERT_TRUE(nv.Handle(Mode::Normal, Bytes{0x26, 1, 0}, r));
  EXPECT_EQ(r.frames.at(0)[0], 0x15);
  r = {};
  EXPECT_FALSE(nv.Handle(Mode::Download, NvReq(0x26, 2), r));
}

TEST(CnvResponderTest, WithoutSinkBothAnswersGoInTheReply) {
  vphone::NvStore store;
  vphone::CnvResponder cnv(store);
  Reply r;
  ASSERT_TRUE(cnv.Handle(Mode::Normal, Bytes{0x80, 0x37, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, r));
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(tr52::LoadU16le(r.frames[0].data() + 10), 0);
  EXPECT_EQ(tr52::LoadU32le(r.frames[1].data() + 4), 1u);  // restore without a copy fails
  EXPECT_EQ(tr52::LoadU16le(r.frames[1].data() + 10), 1);
  r = {};
  ASSERT_TRUE(cnv.Handle(Mode::Normal, Bytes{0x80, 0x37, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, r));
  EXPECT_EQ(tr52::LoadU32le(r.frames[1].data() + 4), 0u);
  EXPECT_TRUE(store.HasCnvCopy());
  r = {};
  EXPECT_FALSE(cnv.Handle(Mode::Normal, Bytes{0x80, 0x38, 0, 0}, r));
}

TEST(CnvResponderTest, BackupWithMissingCalibrationItemFails) {
  vphone::NvStore store;
  store.Erase(5459);
  vphone::CnvResponder cnv(store);
  Bytes late;
  cnv.SetLateAnswerSink([&](Bytes frame, uint32_t) { late = std::move(frame); });
  Reply r;
  ASSERT_TRUE(cnv.Handle(Mode::Normal, Bytes{0x80, 0x37, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, r));
  ASSERT_EQ(r.frames.size(), 1u);
  EXPECT_EQ(tr52::LoadU32le(late.data() + 4), 1u);
}

}  // namespace
}  // namespace tr52test
