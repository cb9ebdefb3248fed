// The test platform itself: scripted answers, the virtual clock, timers and
// posted commands delivered by the pump.
#include "platform/test_platform.h"

#include <gtest/gtest.h>

namespace velkaro {
namespace {

TEST(TestPlatform, AnswersMessageBoxesFromTheScriptThenTheFirstButton) {
  TestPlatform p;
  p.QueueAnswer(MsgAnswer::No);
  EXPECT_EQ(p.MessageBox("q", MsgButtons::YesNo, MsgIcon::Question), MsgAnswer::No);
  EXPECT_EQ(p.MessageBox("q2", MsgButtons::YesNoCancel, MsgIcon::Question), MsgAnswer::Yes);
  EXPECT_EQ(p.MessageBox("i", MsgButtons::Ok, MsgIcon::Information), MsgAnswer::Ok);
  ASSERT_EQ(p.MessageBoxes().size(), 3u);
  EXPECT_EQ(p.MessageBoxes()[0].text, "q");
  EXPECT_EQ(p.MessageBoxes()[0].answer, MsgAnswer::No);
  EXPECT_EQ(p.MessageBoxes()[2].icon, MsgIcon::Information);
}

}  // namespace
}  // namespace velkaro
