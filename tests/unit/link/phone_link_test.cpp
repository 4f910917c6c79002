#include "link/phone_link.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>

#include "link_test_fixture.h"
#include "platform/clock.h"

namespace tr52test {
namespace {

using tr52::Protocol;

// Which rule a request/answer pair should hit, and what the transaction must come to.
struct Rule {
  const char* name;
  tr52::Protocol mode;
  std::vector<uint8_t> request;
  std::vector<uint8_t> answer;
  int result;
  tr52::RxStatusCode status;
  size_t attempts;
  const char* logLine;  // expected once per attempt, or nullptr
};

void PrintTo(const Rule& r, std::ostream* os) {
  *os << r.name;
}

class Classification : public LinkTest, public ::testing::WithParamInterface<Rule> {};

TEST_P(Classification, ResultStatusAttemptsAndLog) {
  const Rule& r = GetParam();
  link_.SetProtocolMode(r.mode);
  AnswerWith({r.answer});
  EXPECT_EQ(Transact(r.request, 1000), r.result);
  EXPECT_EQ(link_.RxStatus(), r.status);
  EXPECT_EQ(Sent(r.request), r.attempts);
  if (r.logLine) {
    EXPECT_EQ(log_->Count(r.logLine), r.attempts) << r.logLine;
  }
}

const Rule kRules[] = {
    // Download mode.
    {"DloadAckForAnyRequest",
     Protocol::Dload,
     {0x27, 1},
     {0x02},
     1,
     tr52::RxStatusCode::Ok,
     1,
     nullptr},
    {"DloadParamsAnswer",
     Protocol::Dload,
     {0x0C},
     {0x0D, 1, 2},
     1,
     tr52::RxStatusCode::Ok,
     1,
     nullptr},
    {"Dload25", Protocol::Dload, {0x25}, {0x25}, 1, tr52::RxStatusCode::Ok, 1, nullptr},
    {"Dload60", Protocol::Dload, {0x60}, {0x60}, 1, tr52::RxStatusCode::Ok, 1, nullptr},
    {"Dload50", Protocol::Dload, {0x50, 1}, {0x50}, 1, tr52::RxStatusCode::Ok, 1, nullptr},
    {"Dload0AAnswered3A", Protocol::Dload, {0x0A}, {0x3A}, 1, tr52::RxStatusCode::Ok, 1, nullptr},
    {"Dload0BAnswered3A", Protocol::Dload, {0x0B}, {0x3A}, 1, tr52::RxStatusCode::Ok, 1, nullptr},
    {"Dload50Sub0FAnyAnswer",
     Protocol::Dload,
     {0x50, 0x0F},
     {0x99},
     1,
     tr52::RxStatusCode::Ok,
     1,
     nullptr},
    {"Dload50OtherSubUnexpected",
     Protocol::Dload,
     {0x50, 0x0E},
     {0x99},
     0,
     tr52::RxStatusCode::Unexpected,
     3,
     "DLOAD MODE : Req(80) -> Rsp(153)"},
    {"Dload0CAnswered0CUnexpected",
     Protocol::Dload,
     {0x0C},
     {0x0C},
     0,
     tr52::RxStatusCode::Unexpected,
     3,
     "DLOAD MODE : Req(12) -> Rsp(12)"},
    {"Dload3ANotForOtherRequests",
     Protocol::Dload,
     {0x0C},
     {0x3A},
     0,
     tr52::RxStatusCode::Unexpected,
     3,
     "DLOAD MODE : Req(12) -> Rsp(58)"},
    {"DloadRefusalNak",
     Protocol::Dload,
     {0x0F},
     {0x03, 0x00, 0x05},
     0,
     tr52::RxStatusCode::Ok,
     3,
     "[ DLOAD ERROR ] : NAK_TOO_LARGE"},
    {"DloadRefusalNand",
     Protocol::Dload,
     {0x0F},
     {0x03, 0x01, 0x09},
     0,
     tr52::RxStatusCode::Ok,
     3,
     "[ JNAND ERROR ] : ERR_ERASE_FAIL       "},
    {"DloadRefusalReasonLine",
     Protocol::Dload,
     {0x0F},
     {0x03, 0x01, 0x35},
     0,
     tr52::RxStatusCode::Ok,
     3,
     "      DLOAD_NAK_F reason_msb = 1, reason_lsb = 53"},
    // Diagnostic mode.
    {"DiagSameCode",
     Protocol::Diag,
     {0x00, 1, 2},
     {0x00, 9},
     1,
     tr52::RxStatusCode::Ok,
     1,
     nullptr},
    {"DiagSubsysSameCommand",
     Protocol::Diag,
     {0x4B, 0x13, 0x02, 0x00},
     {0x4B, 0x13, 0x02, 0x00},
     1,
     tr52::RxStatusCode::Ok,
     1,
     nullptr},
    {"DiagSubsysOtherCommandRetriedSilently",
     Protocol::Diag,
     {0x4B, 0x13, 0x02, 0x00},
     {0x4B, 0x13, 0x03, 0x00},
     0,
     tr52::RxStatusCode::Ok,
     3,
     nullptr},
    {"DiagBadSpcMode",
     Protocol::Diag,
     {0x0C},
     {0x42},
     0,
     tr52::RxStatusCode::BadSpcMode,
     3,
     "DIAG_BAD_SPC_MODE : 12"},
    {"DiagBadSecMode",
     Protocol::Diag,
     {0x0C},
     {0x47},
     0,
     tr52::RxStatusCode::Ok,
     3,
     "DIAG ERROR : DIAG_BAD_SEC_MODE_F : 12"},
    {"DiagNvReadBadParmIsSuccess",
     Protocol::Diag,
     {0x26},
     {0x14},
     1,
     tr52::RxStatusCode::NvBadParm,
     1,
     nullptr},
    {"DiagNvWriteBadParmIsSuccess",
     Protocol::Diag,
     {0x27},
     {0x14},
     1,
     tr52::RxStatusCode::NvBadParm,
     1,
     nullptr},
    {"DiagBadParmEndsAtOnce",
     Protocol::Diag,
     {0x0C},
     {0x14},
     0,
     tr52::RxStatusCode::BadParm,
     1,
     nullptr},
    {"DiagBadCmdEndsAtOnce",
     Protocol::Diag,
     {0x0C},
     {0x13},
     0,
     tr52::RxStatusCode::BadCmd,
     1,
     nullptr},
    {"DiagBadLen",
     Protocol::Diag,
     {0x0C},
     {0x15},
     0,
     tr52::RxStatusCode::BadLen,
     3,
     "BAD_LEN : 12"},
    {"DiagAnsweredByDloadRefusal",
     Protocol::Diag,
     {0x0C},
     {0x03, 0, 1},
     0,
     tr52::RxStatusCode::BadConnMode,
     3,
     "BAD CONN MODE : Req(12) -> Rsp(3)"},
    {"DiagUnknownAnswer",
     Protocol::Diag,
     {0x0C},
     {0x99},
     0,
     tr52::RxStatusCode::Unexpected,
     3,
     "UNKNOWN : Req(12) -> Rsp(153)"},
    {"DiagAckIsNotSpecial",
     Protocol::Diag,
     {0x0C},
     {0x02},
     0,
     tr52::RxStatusCode::Unexpected,
     3,
     "UNKNOWN : Req(12) -> Rsp(2)"},
    {"Diag80WithNonZeroStatusFails",
     Protocol::Diag,
     {0x80, 1, 2, 3},
     {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0},
     0,
     tr52::RxStatusCode::Ok,
     3,
     nullptr},
    {"UnknownModeFailsEveryAttempt",
     static_cast<tr52::Protocol>(7),
     {0x00},
     {0x00},
     0,
     tr52::RxStatusCode::Ok,
     3,
     nullptr},
};

INSTANTIATE_TEST_SUITE_P(Rules, Classification, ::testing::ValuesIn(kRules),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, Diag80WaitsForTheSecondPacket) {
  link_.SetProtocolMode(Protocol::Diag);
  const Bytes first{0x80, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA};
  const Bytes second{0x80, 1, 2, 3, 9, 9};
  AnswerWith({first});
  std::thread late([&] {
    if (peer_->WaitForRequests(1, 5000)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      peer_->SendRaw(ScriptedPeer::Frame(second));
    }
  });
  EXPECT_EQ(Transact({0x80, 1, 2, 3}, 1000), 1);
  late.join();
  EXPECT_TRUE(log_->Has("DIAG_SUBSYS_CMD_VER_2_F : Wait for one more response packet"));
  EXPECT_EQ(Response(6), second);
  EXPECT_EQ(Response(9)[8], 0);  // nothing of the longer first packet is left behind
  EXPECT_EQ(peer_->RequestCount(), 1u);
}

TEST_F(LinkTest, Diag80WithoutSecondPacketFailsTheAttempt) {
  link_.SetProtocolMode(Protocol::Diag);
  AnswerWith({{0x80, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0}});
  EXPECT_EQ(Transact({0x80, 1, 2, 3}, 300), 0);
  EXPECT_EQ(link_.RxStatus(), tr52::RxStatusCode::Timeout);
  // The phone reads the last attempt on its own thread, maybe after the link gave up.
  EXPECT_TRUE(peer_->WaitForRequests(3, 2000));
  EXPECT_EQ(peer_->RequestCount(), 3u);
}

TEST_F(LinkTest, DloadModeSendsWakeUpFlagsOncePerTransaction) {
  link_.SetProtocolMode(Protocol::Dload);
  AnswerWith({{0x03, 0x00, 0x01}});
  EXPECT_EQ(Transact({0x0F}, 500), 0);
  const Bytes raw = peer_->RawReceived();
  ASSERT_GE(raw.size(), 3u);
  EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 3), (Bytes{0x7E, 0x7E, 0x7E}));
  const Bytes frame = ScriptedPeer::Frame({0x0F});
  Bytes expected{0x7E, 0x7E, 0x7E};
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(raw, expected);
}

TEST_F(LinkTest, NoWakeUpFlagsInDiagModeOrWhenSuppressed) {
  AnswerWith({{0x02}});
  link_.SetProtocolMode(Protocol::Dload);
  {
    const auto mode = link_.UsePipelineMode({.noWake = true});
    EXPECT_EQ(Transact({0x0F}), 1);
  }
  link_.SetProtocolMode(Protocol::Diag);
  AnswerWith({{0x0F}});
  EXPECT_EQ(Transact({0x0F}), 1);
  const Bytes frame = ScriptedPeer::Frame({0x0F});
  Bytes expected(frame);
  expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(peer_->RawReceived(), expected);
}

// Counts the sleeps of a given length while running fast.
class SleepCountingClock : public tr52::ScaledClock {
 public:
  explicit SleepCountingClock(double speed) : ScaledClock(speed) {}
  void SleepMs(uint64_t ms) override {
    {
      std::lock_guard<std::mutex> g(mu_);
      if (std::this_thread::get_id() == owner_) sleeps_.push_back(ms);
    }
    ScaledClock::SleepMs(ms);
  }
  size_t CountOf(uint64_t ms) {
    std::lock_guard<std::mutex> g(mu_);
    return static_cast<size_t>(std::count(sleeps_.begin(), sleeps_.end(), ms));
  }

 private:
  std::mutex mu_;
  std::thread::id owner_ = std::this_thread::get_id();
  std::vector<uint64_t> sleeps_;
};

TEST_F(LinkTest, Request0AWaits100MsAfterEachAnswerWait) {
  SleepCountingClock counting(kSpeed);
  tr52::SetClock(&counting);
  link_.SetProtocolMode(Protocol::Dload);
  AnswerWith({{0x03, 0x00, 0x07}});
  EXPECT_EQ(Transact({0x0A}, 500), 0);
  EXPECT_EQ(counting.CountOf(100), 3u);
  EXPECT_EQ(Transact({0x0B}, 500), 0);
  EXPECT_EQ(counting.CountOf(100), 3u);
  tr52::SetClock(&clock_.Clock());
}

TEST_F(LinkTest, SilentPhoneTimesOutThreeTimesCountedFromTheStartOfEachWait) {
  const uint64_t t0 = tr52::NowMs();
  EXPECT_EQ(Transact({0x00}, 3000), 0);
  const uint64_t elapsed = tr52::NowMs() - t0;
  EXPECT_EQ(link_.RxStatus(), tr52::RxStatusCode::Timeout);
  // The phone reads the last attempt on its own thread, maybe after the link gave up.
  EXPECT_TRUE(peer_->WaitForRequests(3, 2000));
  EXPECT_EQ(peer_->RequestCount(), 3u);
  EXPECT_EQ(log_->Count("RX TIMEOUT"), 3u);
  EXPECT_GE(log_->Count("RX Timeout : 3.0 seconds") + log_->Count("RX Timeout : 3.1 seconds"), 1u);
  EXPECT_GE(elapsed, 9000u);
  EXPECT_LT(elapsed, 13000u);
}

TEST_F(LinkTest, LateAnswerWithinTheTimeOutIsAccepted) {
  peer_->SetAnswerDelay(1500);
  AnswerWith({{0x00, 0x42}});
  EXPECT_EQ(Transact({0x00}, 3000), 1);
  EXPECT_EQ(peer_->RequestCount(), 1u);
  EXPECT_EQ(Response(2), (Bytes{0x00, 0x42}));
}

TEST_F(LinkTest, BadFcsIsLoggedWithRawDumpAndRetried) {
  peer_->CorruptNextAnswers(1);
  AnswerWith({{0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}});
  EXPECT_EQ(Transact({0x00}), 1);
  // The phone reads the last attempt on its own thread, maybe after the link gave up.
  EXPECT_TRUE(peer_->WaitForRequests(2, 2000));
  EXPECT_EQ(peer_->RequestCount(), 2u);
  EXPECT_EQ(log_->Count("CRC Error"), 1u);
  EXPECT_EQ(log_->Count("CRC ERROR"), 1u);
  const auto lines = log_->Lines();
  auto it = std::find(lines.begin(), lines.end(), "CRC Error");
  ASSERT_NE(it, lines.end());
  ASSERT_GE(lines.end() - it, 4);
  EXPECT_EQ(it[1], "    00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
  // Second line: the two (corrupted) FCS bytes, the closing flag, zero fill.
  EXPECT_EQ(it[2].substr(0, 4), "    ");
  EXPECT_EQ(it[2].size(), 4u + 16 * 3 - 1);
  EXPECT_EQ(it[2].substr(10, 2), "7E");
  EXPECT_EQ(it[2].substr(13), "00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(it[3], std::string(47, '='));
}

TEST_F(LinkTest, ResponseBytesPastTheAnswerReadAsZero) {
  link_.SetProtocolMode(Protocol::Diag);
  Bytes longAnswer(40, 0x5A);
  longAnswer[0] = 0x00;
  AnswerWith({longAnswer});
  ASSERT_EQ(Transact({0x00}), 1);
  EXPECT_EQ(link_.ResponseLength(), 42);
  AnswerWith({{0x00, 0x07}});
  ASSERT_EQ(Transact({0x00}), 1);
  EXPECT_EQ(link_.ResponseLength(), 4);
  const Bytes rsp = Response(64);
  EXPECT_EQ(rsp[1], 0x07);
  for (size_t i = 4; i < rsp.size(); ++i) ASSERT_EQ(rsp[i], 0) << "byte " << i;
  // A time-out leaves nothing of the previous answer either.
  peer_->SetHandler({});
  ASSERT_EQ(Transact({0x00}, 200), 0);
  for (uint8_t b : Response(64)) ASSERT_EQ(b, 0);
}

TEST_F(LinkTest, SeveralFramesInOneWaitKeepTheLastAtTheStart) {
  link_.SetProtocolMode(Protocol::Diag);
  AnswerWith({{0x00, 1, 2, 3, 4, 5, 6, 7}, {0x00, 9}});
  ASSERT_EQ(Transact({0x00}), 1);
  EXPECT_EQ(link_.FramesReceived(), 2);
  EXPECT_EQ(Response(2), (Bytes{0x00, 9}));
  const Bytes rsp = Response(12);
  for (size_t i = 4; i < rsp.size(); ++i) EXPECT_EQ(rsp[i], 0) << i;
}

TEST_F(LinkTest, AbortEndsEveryAttemptAtOnce) {
  AnswerWith({{0x00}});
  link_.Abort();
  EXPECT_TRUE(link_.IsAborted());
  const uint64_t t0 = tr52::NowMs();
  EXPECT_EQ(Transact({0x00}, 3000), 0);
  EXPECT_LT(tr52::NowMs() - t0, 3000u);
  EXPECT_EQ(link_.RxStatus(), tr52::RxStatusCode::Abort);
  EXPECT_EQ(log_->Count("   RX_ABORT"), 3u);
  EXPECT_EQ(log_->Count("Error Unknown Rx Error : 11"), 3u);
  EXPECT_TRUE(peer_->WaitForRequests(3, 2000));
}

TEST_F(LinkTest, PortNotOpenFailsWithoutWriting) {
  link_.Close();
  EXPECT_EQ(Transact({0x00}), 0);
  EXPECT_EQ(link_.RxStatus(), tr52::RxStatusCode::Nok);
  EXPECT_EQ(peer_->RequestCount(), 0u);
}

TEST_F(LinkTest, OversizeRequestFailsWithoutSendingAnything) {
  Bytes huge(16384, 0x7E);
  EXPECT_EQ(Transact(huge), 0);
  EXPECT_TRUE(log_->Has("Exception AsyncTxRx - ComputeTxCRC Failed"));
  EXPECT_TRUE(peer_->RawReceived().empty());
}

// A request whose middle is taken from the caller's memory goes out as the request with that
// middle in place; a middle that does not lie inside the request sends nothing.
TEST_F(LinkTest, SplicedRequestSendsTheJoinedBytes) {
  link_.SetProtocolMode(Protocol::Dload);
  AnswerWith({{0x02}});
  const Bytes body{0x7E, 0x11, 0x7D, 0x22};
  auto bufs = link_.PacketBuffers();
  const Bytes head{0x50, 0x10, 0xAA, 0xBB, 0x99, 0x98};  // body goes over bytes 2..5
  std::copy(head.begin(), head.end(), bufs.request);
  EXPECT_EQ(link_.AsyncTxRxSpliced(bufs.request, 6, body.data(), 2, body.size(), 3000),
            tr52::TxRxResult::Accepted);
  EXPECT_EQ(Sent({0x50, 0x10, 0x7E, 0x11, 0x7D, 0x22}), 1u);
  EXPECT_EQ(bufs.request[2], 0xAA);  // the request buffer's bytes there are left alone

  const size_t before = peer_->RawReceived().size();
  struct Bad {
    size_t at;
    size_t length;
  };
  for (const Bad& bad : {Bad{7, 0}, Bad{2, 5}, Bad{5, SIZE_MAX}}) {
    EXPECT_EQ(link_.AsyncTxRxSpliced(bufs.request, 6, body.data(), bad.at, bad.length, 3000),
              tr52::TxRxResult::Failed);
  }
  EXPECT_EQ(peer_->RawReceived().size(), before);
}

// Pipelined mode.

TEST_F(LinkTest, SendOnlyReturns26WithoutReading) {
  link_.SetProtocolMode(Protocol::Dload);
  const auto mode = link_.UsePipelineMode({.sendOnly = true, .noWake = true});
  AnswerWith({{0x02}});
  EXPECT_EQ(Transact({0x31, 1, 2}), static_cast<int>(tr52::TxRxResult::SentOnly));
  ASSERT_TRUE(peer_->WaitForRequests(1, 2000));
  EXPECT_EQ(peer_->RequestCount(), 1u);
  EXPECT_TRUE(link_.Serial().WaitReadable(2000));  // the answer is still queued, unread
  uint8_t buf[16];
  EXPECT_GT(link_.Serial().Read(buf, sizeof buf), 0u);
}

TEST_F(LinkTest, PipeSequenceKeepsQueuedAnswersAndReceiveOnlyDoesNotWrite) {
  link_.SetProtocolMode(Protocol::Dload);
  peer_->SendRaw(ScriptedPeer::Frame({0x02}));
  ASSERT_TRUE(link_.Serial().WaitReadable(2000));
  const auto mode = link_.UsePipelineMode({.sequence = 5, .receiveOnly = true, .noWake = true});
  EXPECT_EQ(Transact({0x31}, 500), 1);
  EXPECT_EQ(peer_->RequestCount(), 0u);
  EXPECT_TRUE(peer_->RawReceived().empty());
}

TEST_F(LinkTest, PipeSequenceZeroPurgesStaleAnswers) {
  link_.SetProtocolMode(Protocol::Dload);
  peer_->SendRaw(ScriptedPeer::Frame({0x02}));
  ASSERT_TRUE(link_.Serial().WaitReadable(2000));
  const auto mode = link_.UsePipelineMode({.sequence = 0, .receiveOnly = true, .noWake = true});
  EXPECT_EQ(Transact({0x31}, 200), 0);
  EXPECT_EQ(link_.RxStatus(), tr52::RxStatusCode::Timeout);
}

TEST_F(LinkTest, PipelinedWaitKeepsEveryAcknowledgementAt17TimesI) {
  link_.SetProtocolMode(Protocol::Dload);
  const auto mode = link_.UsePipelineMode({.sequence = 3, .noWake = true});
  std::vector<Bytes> acks;
  for (uint8_t i = 0; i < 4; ++i) {
    Bytes ack(15, 0);
    ack[0] = 0x02;
    ack[1] = i;
    ack[14] = static_cast<uint8_t>(0x7E - i);  // some need escaping
    acks.push_back(ack);
  }
  AnswerWith(acks);
  ASSERT_EQ(Transact({0x31, 3}), 1);
  EXPECT_EQ(link_.FramesReceived(), 4);
  EXPECT_EQ(link_.ResponseLength(), 4 * 17);
  const Bytes rsp = Response(4 * 17 + 20);
  for (size_t i = 0; i < acks.size(); ++i)
    EXPECT_EQ(Bytes(rsp.begin() + 17 * i, rsp.begin() + 17 * i + 15), acks[i]) << "ack " << i;
  for (size_t i = 4 * 17; i < rsp.size(); ++i) ASSERT_EQ(rsp[i], 0);
}

TEST_F(LinkTest, PartialFrameAfterGoodOneKeepsWaitingForTheRest) {
  link_.SetProtocolMode(Protocol::Diag);
  const Bytes first = ScriptedPeer::Frame({0x00, 1});
  const Bytes second = ScriptedPeer::Frame({0x00, 2});
  peer_->SetHandler([this, first, second](const Bytes&) {
    Bytes out(first);
    out.insert(out.end(), second.begin(), second.begin() + 2);
    peer_->SendRaw(out);
    tr52::SleepMs(200);
    peer_->SendRaw(Bytes(second.begin() + 2, second.end()));
    return ScriptedPeer::Answers{};
  });
  EXPECT_EQ(Transact({0x00}, 3000), 1);
  EXPECT_EQ(link_.FramesReceived(), 2);
  EXPECT_EQ(Response(2), (Bytes{0x00, 2}));
}

TEST(PhoneLinkNames, RefusalCodeNames) {
  EXPECT_EQ(tr52::PhoneLink::DloadNakName(0), "KR");
  EXPECT_EQ(tr52::PhoneLink::DloadNakName(5), "NAK_TOO_LARGE");
  EXPECT_EQ(tr52::PhoneLink::DloadNakName(13), "NAK_UPGRADE");
  EXPECT_EQ(tr52::PhoneLink::DloadNakName(14), "");
  EXPECT_EQ(tr52::PhoneLink::NandErrorName(0), "ERR_OK               ");
  EXPECT_EQ(tr52::PhoneLink::NandErrorName(52), "ERR_BBT_MAGIC2_FAIL  ");
  EXPECT_EQ(tr52::PhoneLink::NandErrorName(53), "ERR_RESERVED_x35     ");
  EXPECT_EQ(tr52::PhoneLink::NandErrorName(127), "ERR_RESERVED_x7F     ");
  EXPECT_EQ(tr52::PhoneLink::NandErrorName(128), "ERR_EX_UPGRADE_FAIL  ");
  EXPECT_EQ(tr52::PhoneLink::NandErrorName(137), "ERR_EX_MASTER_ROM_MAP");
  EXPECT_EQ(tr52::PhoneLink::NandErrorName(138), "");
  for (int c = 0; c <= 137; ++c) EXPECT_EQ(tr52::PhoneLink::NandErrorName(c).size(), 21u) << c;
}

TEST(PhoneLinkNames, UnknownCodesLogged) {
  LogCapture log;
  tr52::PhoneLink link;
  link.LogDloadNak(14);
  link.LogNandError(138);
  link.LogNandError(255);
  link.LogNandError(100);
  EXPECT_TRUE(log.Has("Unknown Dload Error : 14"));
  EXPECT_TRUE(log.Has("Unknown Jnand Error : 138"));
  EXPECT_TRUE(log.Has("Unknown Jnand Error : 255"));
  EXPECT_TRUE(log.Has("[ JNAND ERROR ] : ERR_RESERVED_x64     "));
}

}  // namespace
}  // namespace tr52test
