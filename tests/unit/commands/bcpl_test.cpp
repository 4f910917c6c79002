#include <gtest/gtest.h>

#include "command_fixture.h"
#include "commands/dload_client.h"

namespace tr52test {
namespace {

using tr52::IMAGE_OEMSBL;

class BcplTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    link.SetProtocolMode(tr52::Protocol::Dload);
  }
};

TEST_F(BcplTest, StatusIsOnOnlyForAnswerByteOne) {
  AnswerAlways({0x50, 0x07, 0x01});
  EXPECT_TRUE(dload.CheckBcplStatus());
  EXPECT_EQ(Requests()[0], (Bytes{0x50, 0x07}));
  EXPECT_TRUE(log.Has(Com(" >> BCPL On ...")));
  AnswerAlways({0x50, 0x07, 0x02});
  EXPECT_FALSE(dload.CheckBcplStatus());
  EXPECT_TRUE(log.Has(Com(" >> BCPL Off ...")));
}

TEST_F(BcplTest, FailedStatusQuestionCountsAsOff) {
  AnswerAlways({0x03, 0x00, 0x06});
  EXPECT_FALSE(dload.CheckBcplStatus());
  EXPECT_TRUE(log.Has(Com("  Fail")));
}

TEST_F(BcplTest, UnlockProvesWithTheFirst128BytesOfOemsbl) {
  images[IMAGE_OEMSBL] = Pattern(1000, 5);
  AnswerAlways({0x50, 0x0F, 0x01});
  EXPECT_TRUE(dload.UnlockBcpl());
  ASSERT_EQ(Requests().size(), 1u);
  const auto allr = Requests();
  ASSERT_FALSE(allr.empty());
  const Bytes& r = allr[0];
  ASSERT_EQ(r.size(), 130u);
  EXPECT_EQ(r[0], 0x50);
  EXPECT_EQ(r[1], 0x0F);
  EXPECT_EQ(Bytes(r.begin() + 2, r.end()),
            Bytes(images[IMAGE_OEMSBL].begin(), images[IMAGE_OEMSBL].begin() + 128));
  EXPECT_TRUE(log.Has(Com(" >> Unlocked BCPL ...")));
}

TEST_F(BcplTest, UnlockWithAShortOemsblPadsWithZeros) {
  images[IMAGE_OEMSBL] = Pattern(100, 6);
  AnswerAlways({0x50, 0x0F, 0x01});
  EXPECT_TRUE(dload.UnlockBcpl());
  const auto allr = Requests();
  ASSERT_FALSE(allr.empty());
  const Bytes& r = allr[0];
  ASSERT_EQ(r.size(), 130u);
  EXPECT_EQ(Bytes(r.begin() + 2, r.begin() + 102), images[IMAGE_OEMSBL]);
  EXPECT_TRUE(AllZero(r, 102, 130));
}

TEST_F(BcplTest, UnlockIsAcceptedWhateverTheAnswerCodeButNeedsByteOne) {
  images[IMAGE_OEMSBL] = Pattern(200);
  AnswerAlways({0x77, 0x00, 0x01});
  EXPECT_TRUE(dload.UnlockBcpl());
  AnswerAlways({0x50, 0x0F, 0x00});
  EXPECT_FALSE(dload.UnlockBcpl());
  EXPECT_TRUE(log.Has(Com(" >> Unlock BCPL Failed ...")));
}

TEST_F(BcplTest, UnlockWithoutOemsblSendsNothing) {
  AnswerAlways({0x50, 0x0F, 0x01});
  EXPECT_FALSE(dload.UnlockBcpl());
  images[IMAGE_OEMSBL] = {};
  EXPECT_FALSE(dload.UnlockBcpl());
  EXPECT_EQ(peer.RequestCount(), 0u);
  EXPECT_EQ(log.Count(Com(" BCPE OEMSBL Version = NULL ...")), 2u);
}

}  // namespace
}  // namespace tr52test
