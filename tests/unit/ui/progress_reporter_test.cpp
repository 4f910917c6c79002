#include "ui/progress_reporter.h"

#include <gtest/gtest.h>

#include <string>

#include "base/messages.h"
#include "unit/session/message_sink.h"

namespace tr52 {
namespace {

using tr52test::MessageSink;

constexpr unsigned kStepMsg = WM_DOWNLOAD_STEP;

TEST(ProgressReporterText, WithoutTargetOnlyFormats) {
  ProgressReporter reporter;
  EXPECT_EQ(reporter.WebDLFunction(0, "%s-%d", "TR52", 7), 6);
  // Longer texts are cut at 511 characters.
  const std::string longText(700, 'x');
  EXPECT_EQ(reporter.WebDLFunction(3, "%s", longText.c_str()), 511);
}

TEST(ProgressReporterText, SendsCopyDataWithKindAndTerminatedText) {
  MessageSink sink;
  ProgressReporter reporter;
  reporter.SetTextTarget(sink.Hwnd());
  EXPECT_EQ(reporter.WebDLFunction(3, "BACKUP %s", "CNV"), 10);
  // A send from the owner thread is handled before WebDLFunction returns.
  const auto sent = sink.Of(win::WM_COPYDATA);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].wParam, 3u);  // dwData = kind
  EXPECT_EQ(sent[0].lParam, 11);  // cbData = length + 1
  EXPECT_EQ(sent[0].text, "BACKUP CNV");
}

TEST(ProgressReporterText, AttachSetsTextTargetToo) {
  MessageSink sink;
  ProgressReporter reporter;
  reporter.Attach(sink.Hwnd(), kStepMsg, TYPE_WPARAM_WRITE_TO_FLASH, 9);
  EXPECT_EQ(reporter.TextTarget(), sink.Hwnd());
  EXPECT_EQ(reporter.Port(), 9);
  reporter.WebDLFunction(0, "No Phone");
  EXPECT_EQ(sink.Of(win::WM_COPYDATA).size(), 1u);
}

TEST(ProgressReporterBar, ThousandPacketsPostEachPositionOnce) {
  MessageSink sink;
  ProgressReporter reporter;
  reporter.Attach(sink.Hwnd(), kStepMsg, TYPE_WPARAM_WRITE_TO_FLASH, 3);
  reporter.InitProgress(TYPE_WPARAM_PROGRESS_POS, 1000);
  for (int i = 0; i < 1000; ++i) reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
  sink.Pump();
  const auto posted = sink.Of(kStepMsg);
  ASSERT_EQ(posted.size(), 101u);  // the init (0) and 1..100
  EXPECT_EQ(posted[0].wParam, TYPE_WPARAM_PROGRESS_POS);
  EXPECT_EQ(posted[0].lParam, 0);
  for (int p = 1; p <= 100; ++p) {
    EXPECT_EQ(posted[p].wParam, TYPE_WPARAM_PROGRESS_POS);
    EXPECT_EQ(posted[p].lParam, p);
  }
  EXPECT_EQ(reporter.Position(), 100);
}

TEST(ProgressReporterBar, BigJumpsAdvanceOnePointPerCall) {
  MessageSink sink;
  ProgressReporter reporter;
  reporter.Attach(sink.Hwnd(), kStepMsg, TYPE_WPARAM_WRITE_TO_FLASH);
  reporter.InitProgress(TYPE_WPARAM_PROGRESS_POS, 4);
  reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);  // 25 %: position 1
  reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);  // 50 %: position 2
  EXPECT_EQ(reporter.Position(), 2);
  // Later calls catch up one point each until the position meets the percentage.
  for (int i = 0; i < 100; ++i) reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 0);
  EXPECT_EQ(reporter.Position(), 50);
  reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 2);  // 100 %
  EXPECT_EQ(reporter.Position(), 51);
  for (int i = 0; i < 100; ++i) reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 0);
  EXPECT_EQ(reporter.Position(), 100);
  // More than the maximum never moves the bar past its end.
  reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 5);
  reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 5);
  EXPECT_EQ(reporter.Position(), 100);
  sink.Pump();
  EXPECT_EQ(sink.Of(kStepMsg).size(), 101u);
}

TEST(ProgressReporterBar, ZeroMaximumShowsNoProgress) {
  MessageSink sink;
  ProgressReporter reporter;
  reporter.Attach(sink.Hwnd(), kStepMsg, TYPE_WPARAM_WRITE_TO_FLASH);
  reporter.InitProgress(TYPE_WPARAM_PROGRESS_POS, 0);
  reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
  reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
  EXPECT_EQ(reporter.Position(), 0);
  sink.Pump();
  EXPECT_EQ(sink.Of(kStepMsg).size(), 1u);  // only the init
}

TEST(ProgressReporterBar, NothingPostedWithoutTarget) {
  MessageSink sink;
  ProgressReporter reporter;
  reporter.SetTextTarget(sink.Hwnd());  // text target only: the bar has no target
  reporter.InitProgress(TYPE_WPARAM_PROGRESS_POS, 10);
  reporter.StepProgress(TYPE_WPARAM_PROGRESS_POS, 5);
  EXPECT_EQ(reporter.Position(), 0);
  sink.Pump();
  EXPECT_TRUE(sink.Of(kStepMsg).empty());
}

TEST(ProgressReporterBar, StepNameTable) {
  EXPECT_STREQ(StepName(0), "NULL");
  EXPECT_STREQ(StepName(7), "WRITE_TO_FLASH");
  EXPECT_STREQ(StepName(14), "WRITE_MEDIA");
  EXPECT_STREQ(StepName(15), "NULL");
  EXPECT_STREQ(StepName(-1), "NULL");
  EXPECT_STREQ(StepName(205), "NULL");
}

}  // namespace
}  // namespace tr52
