#include "vphone/scripted_responder.h"

#include <gtest/gtest.h>

#include "vphone/scenario.h"

namespace vphone {
namespace {

TEST(ScriptedResponder, PrefixUsesAndOrder) {
  ScriptedResponder s;
  s.Answer({0x4B, 0xFC}, {0x01}, 1);
  s.Answer({0x4B}, {0x02});
  Reply r;
  ASSERT_TRUE(s.Handle(Mode::Normal, Bytes{0x4B, 0xFC, 0x04}, r));
  EXPECT_EQ(r.frames[0], Bytes{0x01});
  r = {};
  ASSERT_TRUE(s.Handle(Mode::Normal, Bytes{0x4B, 0xFC, 0x04}, r));
  EXPECT_EQ(r.frames[0], Bytes{0x02});  // first rule used up
  r = {};
  EXPECT_FALSE(s.Handle(Mode::Normal, Bytes{0x00}, r));
  EXPECT_FALSE(s.Handle(Mode::Normal, Bytes{}, r));  // shorter than the prefix
  EXPECT_EQ(s.Matches(), 2);
}

TEST(ScriptedResponder, DiagRefusalCarriesTheRequest) {
  ScriptedResponder s;
  s.RefuseDiag({}, 0x42);
  Reply r;
  ASSERT_TRUE(s.Handle(Mode::Normal, Bytes{0x26, 0x47, 0x00}, r));
  EXPECT_EQ(r.frames[0], (Bytes{0x42, 0x26, 0x47, 0x00}));
}

TEST(ScriptedResponder, RulesFromScenarioLines) {
  ScriptRule rule;
  ASSERT_TRUE(ScriptedResponder::ParseRule("00 -> 00 41; 00 42", rule));
  EXPECT_EQ(rule.prefix, Bytes{0x00});
  EXPECT_EQ(rule.reply.frames, (std::vector<Bytes>{{0x00, 0x41}, {0x00, 0x42}}));

  ASSERT_TRUE(ScriptedResponder::ParseRule("0c -> late 2500 0d 00", rule));
  EXPECT_EQ(rule.reply.delayMs, 2500u);
  EXPECT_EQ(rule.reply.frames.at(0), (Bytes{0x0D, 0x00}));

  ASSERT_TRUE(ScriptedResponder::ParseRule("0c -> vanish 3 0d 04 41 42 43 44", rule));
  EXPECT_EQ(rule.reply.cutAfterBytes, 3);
  EXPECT_EQ(rule.reply.next, Reply::Switch::Gone);

  ASSERT_TRUE(ScriptedResponder::ParseRule("50 12 -> badfcs 50 12 02 00 00 00", rule));
  EXPECT_EQ(rule.reply.badFcsFrame, 0);

  ASSERT_TRUE(ScriptedResponder::ParseRule("3a -> silent", rule));
  EXPECT_TRUE(rule.reply.silent);

  EXPECT_FALSE(ScriptedResponder::ParseRule("3a silent", rule));
  EXPECT_FALSE(ScriptedResponder::ParseRule("3a -> late x 00", rule));
  EXPECT_FALSE(ScriptedResponder::ParseRule("zz -> 00", rule));
  EXPECT_FALSE(ScriptedResponder::ParseRule("00 -> ", rule));

  ScriptedResponder s;
  s.ApplyScenario(ParseScenario("script.a = 00 -> 00 01\nother = 1\nscript.b = bad\n"));
  Reply r;
  ASSERT_TRUE(s.Handle(Mode::Normal, Bytes{0x00}, r));
  EXPECT_EQ(r.frames[0], (Bytes{0x00, 0x01}));
}

TEST(ScriptedResponder, ModesLimitARule) {
  ScriptedResponder s;
  ScriptRule rule{{0x0C}, {}, -1};
  rule.reply.frames = {{0x0D, 0x00}};
  rule.modes = {Mode::Download};
  s.Add(rule);
  Reply r;
  EXPECT_FALSE(s.Handle(Mode::Normal, Bytes{0x0C}, r));
  EXPECT_TRUE(s.Handle(Mode::Download, Bytes{0x0C}, r));
}

}  // namespace
}  // namespace vphone
