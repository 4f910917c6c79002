#include "vphone/virtual_phone.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

#include "platform/clock.h"
#include "platform/port_table.h"
#include "raw_host.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vphone/scenario.h"
#include "vphone/scripted_responder.h"

namespace vphone {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

class VirtualPhoneTest : public ::testing::Test {
 protected:
  std::unique_ptr<VirtualPhone> StartPhone(Mode mode, const std::string& scenario = "") {
    PhoneOptions o;
    o.com = 41;
    o.startMode = mode;
    o.rebootDelayMs = 3000;
    o.scenario = ParseScenario(scenario);
    auto phone = std::make_unique<VirtualPhone>(o);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return phone;
  }

  tr52test::TempDir table;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", table.Path()};  // restored after the test
  tr52test::ScopedClock clock{100.0};                              // a 3 s reboot takes 30 ms
};

TEST_F(VirtualPhoneTest, DeclaresItsPortAndWithdrawsItWhenDestroyed) {
  std::string device;
  {
    auto phone = StartPhone(Mode::Normal);
    device = phone->DevicePath();
    auto ports = tr52::ListDeclaredPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].com, 41);
    EXPECT_EQ(ports[0].devicePath, device);
    EXPECT_EQ(ports[0].friendlyName, "ZUM Mobile USB Serial Port (COM41)");
  }
  EXPECT_TRUE(tr52::ListDeclaredPorts().empty());
  EXPECT_FALSE(Exists(table.File("COM41.port")));
}

TEST_F(VirtualPhoneTest, AnswersFramedRequestsAndIgnoresWakeUpFlags) {
  auto phone = StartPhone(Mode::Download);
  RawHost host(phone->DevicePath());
  ASSERT_TRUE(host.Ok());
  ASSERT_TRUE(host.WriteRaw({0x7E, 0x7E, 0x7E}));
  Bytes name = host.Ask({0x0C});
  ASSERT_GE(name.size(), 2u);
  EXPECT_EQ(name[0], 0x0D);
  EXPECT_EQ(std::string(name.begin() + 2, name.end()), "KW_TR52/V10A");
  EXPECT_EQ(phone->RequestsSeen(), 1u);
  EXPECT_EQ(phone->RequestsSeen(0x0C), 1u);
  EXPECT_EQ(phone->BadFrames(), 0u);
}

TEST_F(VirtualPhoneTest, UnknownCommandsAreRefusedTheWayEachModeDoes) {
  auto normal = StartPhone(Mode::Normal);
  RawHost host(normal->DevicePath());
  EXPECT_EQ(host.Ask({0x0C}), (Bytes{0x13, 0x0C}));
  EXPECT_EQ(host.Ask({0x4B, 0x99, 0x01, 0x00}), (Bytes{0x13, 0x4B, 0x99, 0x01, 0x00}));
  normal.reset();
  auto download = StartPhone(Mode::Download);
  RawHost host2(download->DevicePath());
  EXPECT_EQ(host2.Ask({0x00}), (Bytes{0x03, 0x00, 0x06}));  // DIAG asked in download mode
}

TEST_F(VirtualPhoneTest, DloadCommandRebootsIntoDownloadModeUnderTheSameCom) {
  auto phone = StartPhone(Mode::Normal);
  std::string first = phone->DevicePath();
  {
    RawHost host(first);
    EXPECT_EQ(host.Ask({0x3A}), (Bytes{0x3A}));
    ASSERT_TRUE(phone->WaitFor(false, Mode::Download, 2000));
    // The host's side of the vanished port hangs up.
    host.Receive(1, 200);
    EXPECT_TRUE(host.HungUp());
  }
  ASSERT_TRUE(phone->WaitFor(true, Mode::Download, 5000));
  EXPECT_EQ(phone->Boots(), 2);
  auto ports = tr52::ListDeclaredPorts();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].com, 41);
  EXPECT_EQ(ports[0].devicePath, phone->DevicePath());
  RawHost again(phone->DevicePath());
  EXPECT_EQ(again.Ask({0x0C})[0], 0x0D);
  // Reset from download mode brings normal mode back.
  EXPECT_EQ(again.Ask({0x0A}), (Bytes{0x02}));
  ASSERT_TRUE(phone->WaitFor(true, Mode::Normal, 5000));
  EXPECT_EQ(phone->Boots(), 3);
}

TEST_F(VirtualPhoneTest, RebootThatNeverComesBack) {
  auto phone = StartPhone(Mode::Normal, "phone.reboot_never = true\n");
  RawHost host(phone->DevicePath());
  EXPECT_EQ(host.Ask({0x3A}), (Bytes{0x3A}));
  ASSERT_TRUE(phone->WaitFor(false, Mode::Download, 2000));
  EXPECT_FALSE(phone->WaitFor(true, Mode::Download, 300));
  EXPECT_TRUE(tr52::ListDeclaredPorts().empty());
}

TEST_F(VirtualPhoneTest, DamagedFramesAreRefusedInDownloadModeAndDroppedInNormalMode) {
  Bytes damaged = {0x7E, 0x0C, 0x14, 0x3B, 0x7E};  // FCS off by one bit
  auto download = StartPhone(Mode::Download);
  {
    RawHost host(download->DevicePath());
    host.WriteRaw(damaged);
    auto frames = host.Receive(1, 2000);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, (Bytes{0x03, 0x00, 0x01}));
    EXPECT_EQ(download->BadFrames(), 1u);
    EXPECT_EQ(download->RequestsSeen(), 0u);
  }
  download.reset();
  auto normal = StartPhone(Mode::Normal);
  RawHost host(normal->DevicePath());
  host.WriteRaw(damaged);
  EXPECT_TRUE(host.Receive(1, 200).empty());
  EXPECT_EQ(normal->BadFrames(), 1u);
}

TEST_F(VirtualPhoneTest, ScriptedAnswersOverrideThePhone) {
  auto phone = StartPhone(Mode::Normal);
  ScriptedResponder& s = phone->Script();
  s.AnswerFrames({0x00}, {{0x00, 0x01}, {0x00, 0x02}}, 1);
  s.AnswerBadFcs({0x29}, {0x29, 0x01, 0x00}, 1);
  s.RefuseDiag({0x46}, 0x47, 1);
  s.Silent({0x4B}, 1);
  RawHost host(phone->DevicePath());

  host.Send({0x00});
  auto two = host.Receive(2, 2000);  // both frames of one write
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].payload, (Bytes{0x00, 0x01}));
  EXPECT_EQ(two[1].payload, (Bytes{0x00, 0x02}));
  EXPECT_EQ(host.Ask({0x00}).size(), 39u + 8u + 4u);  // rule used up: the real answer

  host.Send({0x29, 0x01, 0x00});
  auto bad = host.Receive(1, 2000);
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_FALSE(bad[0].good);
  EXPECT_EQ(bad[0].payload, (Bytes{0x29, 0x01, 0x00}));

  EXPECT_EQ(host.Ask({0x46, 1, 2}), (Bytes{0x47, 0x46, 1, 2}));

  host.Send({0x4B, 0xFC, 0x04, 0x00});
  EXPECT_TRUE(host.Receive(1, 200).empty());
  EXPECT_EQ(s.Matches(), 4);
}

TEST_F(VirtualPhoneTest, LateAnswerUsesTheProcessClock) {
  auto phone = StartPhone(Mode::Normal);
  phone->Script().AnswerLate({0x00}, {0x00, 0x55}, 20000);  // 200 ms real at 100x
  RawHost host(phone->DevicePath());
  host.Send({0x00});
  EXPECT_TRUE(host.Receive(1, 50).empty());
  auto late = host.Receive(1, 3000);
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].payload, (Bytes{0x00, 0x55}));
}

TEST_F(VirtualPhoneTest, AnswerLatencyHoldsBackEveryAnswer) {
  PhoneOptions o;
  o.com = 41;
  o.startMode = Mode::Download;
  o.answerLatencyUs = 2000000;  // 2 s of process time, 20 ms real at 100x
  VirtualPhone phone(o);
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;
  RawHost host(phone.DevicePath());
  ASSERT_TRUE(host.Ok());
  for (int i = 0; i < 3; ++i) {
    const uint64_t sent = tr52::NowMs();
    Bytes name = host.Ask({0x0C}, 5000);
    const uint64_t received = tr52::NowMs();
    ASSERT_GE(name.size(), 1u) << "answer " << i;
    EXPECT_EQ(name[0], 0x0D);
    EXPECT_GE(received - sent, 2000u) << "answer " << i << " came before the latency";
  }
}

TEST_F(VirtualPhoneTest, AnswerLatencyFromTheScenarioKeepsEveryRequestAndTheOrder) {
  auto phone = StartPhone(Mode::Normal, "phone.answer_latency_us = 1000000\n");
  RawHost host(phone->DevicePath());
  ASSERT_TRUE(host.Ok());
  // Five requests in one write: the phone reads on while the first answers are held back.
  Bytes burst;
  for (uint8_t i = 1; i <= 5; ++i) {
    tr52::FrameCodec codec;
    const Bytes request = {0x4B, 0x99, i, 0x00};
    ASSERT_TRUE(codec.ComputeTxCRC(request.data(), request.size()));
    burst.insert(burst.end(), codec.TxBuffer(), codec.TxBuffer() + codec.TxLength());
  }
  const uint64_t sent = tr52::NowMs();
  ASSERT_TRUE(host.WriteRaw(burst));
  auto answers = host.Receive(5, 5000);
  const uint64_t received = tr52::NowMs();
  ASSERT_EQ(answers.size(), 5u);
  for (uint8_t i = 1; i <= 5; ++i) {
    EXPECT_TRUE(answers[i - 1].good);
    EXPECT_EQ(answers[i - 1].payload, (Bytes{0x13, 0x4B, 0x99, i, 0x00}));
  }
  EXPECT_GE(received - sent, 1000u);
  EXPECT_EQ(phone->RequestsSeen(), 5u);
  EXPECT_EQ(phone->BadFrames(), 0u);
}

TEST_F(VirtualPhoneTest, AnswerLatencyStillAnswersBeforeARebootTakesThePort) {
  auto phone = StartPhone(Mode::Normal, "phone.answer_latency_us = 1000000\n");
  RawHost host(phone->DevicePath());
  const uint64_t sent = tr52::NowMs();
  EXPECT_EQ(host.Ask({0x3A}, 5000), (Bytes{0x3A}));
  EXPECT_GE(tr52::NowMs() - sent, 1000u);
  ASSERT_TRUE(phone->WaitFor(false, Mode::Download, 2000));
  ASSERT_TRUE(phone->WaitFor(true, Mode::Download, 5000));
}

TEST_F(VirtualPhoneTest, VanishMidAnswerCutsTheFrameAndTheCable) {
  auto phone = StartPhone(Mode::Download);
  phone->Script().VanishMidAnswer({0x0C}, Bytes(40, 0x41), 10);
  RawHost host(phone->DevicePath());
  host.Send({0x0C});
  auto frames = host.Receive(1, 500);
  EXPECT_TRUE(frames.empty());
  EXPECT_EQ(host.RawReceived(), 10u);
  ASSERT_TRUE(phone->WaitFor(false, Mode::Download, 2000));
  EXPECT_FALSE(phone->WaitFor(true, Mode::Download, 200));
}

TEST_F(VirtualPhoneTest, ScenarioFaultsOnNumberedAnswers) {
  auto phone = StartPhone(Mode::Download,
                          "phone.bad_fcs_answer = 2\nphone.silent_answer = 3\n"
                          "phone.refuse_cmd = 0x50\nphone.refuse_sub = 0x12\n"
                          "phone.refuse_bytes = 03 01 0A\n");
  RawHost host(phone->DevicePath());
  EXPECT_EQ(host.Ask({0x0C})[0], 0x0D);
  host.Send({0x0C});
  auto bad = host.Receive(1, 2000);
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_FALSE(bad[0].good);
  host.Send({0x0C});
  EXPECT_TRUE(host.Receive(1, 200).empty());
  EXPECT_EQ(host.Ask({0x50, 0x12}), (Bytes{0x03, 0x01, 0x0A}));
  EXPECT_EQ(host.Ask({0x50, 0x12}), (Bytes{0x50, 0x12, 2, 0, 0, 0}));  // refused once
}

TEST_F(VirtualPhoneTest, CablePullAfterBytes) {
  auto phone = StartPhone(Mode::Download, "phone.pull_after_bytes = 8\n");
  RawHost host(phone->DevicePath());
  EXPECT_EQ(host.Ask({0x0C})[0], 0x0D);  // 5 bytes
  host.Send({0x0C});                     // the 8th byte pulls the cable
  ASSERT_TRUE(phone->WaitFor(false, Mode::Download, 2000));
  EXPECT_FALSE(phone->WaitFor(true, Mode::Download, 200));
}

// Bytes are fed a block at a time, yet the cable goes exactly before the counted byte: a
// frame that ends on the byte before it is answered, one that ends on that byte is not.
TEST_F(VirtualPhoneTest, CablePullFallsOnTheCountedByte) {
  struct Row {
    int pullAfter;
    bool answered;
  };
  for (const Row row : {Row{5, false}, Row{6, true}}) {
    SCOPED_TRACE(row.pullAfter);
    auto phone = StartPhone(Mode::Download,
                            "phone.pull_after_bytes = " + std::to_string(row.pullAfter) + "\n");
    RawHost host(phone->DevicePath());
    host.Send({0x0C});  // 5 bytes, written at once
    const auto answers = host.Receive(1, row.answered ? 2000 : 300);
    EXPECT_EQ(answers.size(), row.answered ? 1u : 0u);
    EXPECT_EQ(phone->RequestsSeen(), row.answered ? 1u : 0u);
    if (row.answered) host.Send({0x0C});
    EXPECT_TRUE(phone->WaitFor(false, Mode::Download, 2000));
  }
}

TEST_F(VirtualPhoneTest, StateDumpShowsModeCountersAndFlash) {
  auto phone = StartPhone(Mode::Download);
  RawHost host(phone->DevicePath());
  host.Ask({0x48, 0x01});
  Bytes table(516, 0);
  table[0] = 0x40;
  table[1] = 0x02;
  EXPECT_EQ(host.Ask(table), (Bytes{0x02}));
  std::ostringstream out;
  phone->DumpState(out);
  std::string s = out.str();
  EXPECT_NE(s.find("phone mode download\n"), std::string::npos);
  EXPECT_NE(s.find("phone requests 2\n"), std::string::npos);
  EXPECT_NE(s.find("flash \"PARTITION TBL\" method header start 0x00000000 size 512 sha256 "),
            std::string::npos);
  EXPECT_NE(s.find("nand sec_mode 1\n"), std::string::npos);
}

TEST_F(VirtualPhoneTest, TraceShowsRequestsAnswersAndPortChanges) {
  std::vector<std::string> lines;  // written by the phone's thread, read after it stopped
  PhoneOptions o;
  o.com = 42;
  o.startMode = Mode::Normal;
  o.trace = [&lines](const std::string& line) { lines.push_back(line); };
  auto phone = std::make_unique<VirtualPhone>(o);
  ASSERT_TRUE(phone->Start());
  RawHost host(phone->DevicePath());
  EXPECT_EQ(host.Ask({0x29, 0x01, 0x00}), (Bytes{0x29, 0x01, 0x00}));
  EXPECT_EQ(host.Ask({0x3A}), (Bytes{0x3A}));
  ASSERT_TRUE(phone->WaitFor(true, Mode::Download, 5000));
  phone.reset();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0].rfind("COM42 on /dev/", 0), 0u);
  EXPECT_EQ(lines[1], "COM42 < 29 01 00");
  EXPECT_EQ(lines[2], "COM42 > 29 01 00");
  EXPECT_EQ(lines[3], "COM42 < 3a");
  EXPECT_EQ(lines[4], "COM42 > 3a");
  EXPECT_EQ(lines[5], "COM42 gone, back in download mode after 3000 ms");
  EXPECT_NE(lines[6].find("(download mode)"), std::string::npos);
}

}  // namespace
}  // namespace vphone
