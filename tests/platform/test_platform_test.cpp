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

namespace velkaro {
namespace {

struct RecordingTarget : TimerTarget, CommandTarget {
  std::vector<std::pair<long long, int>> fired;  // (virtual ms, id)
  std::vector<int> commands;
  int closes = 0;
  TestPlatform* platform = nullptr;
  bool stopOnFire = true;
  void OnTimer(int id) override {
    if (stopOnFire) platform->StopTimer(this, id);
    fired.emplace_back(platform->VirtualMs(), id);
  }
  void OnCommand(int id) override { commands.push_back(id); }
  void OnCloseRequest() override { ++closes; }
};

TEST(TestPlatform, DeliversTimersWhenTheVirtualClockReachesThem) {
  TestPlatform p;
  RecordingTarget target;
  target.platform = &p;
  p.StartTimer(&target, 220, 20);
  p.StartTimer(&target, 105, 250);
  for (int i = 0; i < 300; ++i) {
    p.Sleep(1);
    p.Pump();
  }
  ASSERT_EQ(target.fired.size(), 2u);
  EXPECT_EQ(target.fired[0], std::make_pair(20LL, 220));
  EXPECT_EQ(target.fired[1], std::make_pair(250LL, 105));
  EXPECT_EQ(p.RunningTimers(), 0u);
}

TEST(TestPlatform, PeriodicTimersKeepFiringUntilStopped) {
  TestPlatform p;
  RecordingTarget target;
  target.platform = &p;
  target.stopOnFire = false;
  p.StartTimer(&target, 105, 10);
  for (int i = 0; i < 35; ++i) {
    p.Sleep(1);
    p.Pump();
  }
  EXPECT_EQ(target.fired.size(), 3u);
  EXPECT_TRUE(p.TimerRunning(&target, 105));
  p.StopTimer(&target, 105);
  EXPECT_FALSE(p.TimerRunning(&target, 105));
}

TEST(TestPlatform, PostedCommandsArriveInOrderInsideAPump) {
  TestPlatform p;
  RecordingTarget target;
  p.SetCommandTarget(&target);
  p.PostCommand(kCommandSend);
  p.PostCloseRequest();
  p.PostCommand(kCommandExit);
  EXPECT_TRUE(target.commands.empty());
  p.Pump();
  EXPECT_EQ(target.commands, (std::vector<int>{kCommandSend, kCommandExit}));
  EXPECT_EQ(target.closes, 1);
  EXPECT_EQ(p.PostedCommands(), (std::vector<int>{kCommandSend, kCommandExit}));
  EXPECT_EQ(p.CloseRequests(), 1);
}

TEST(TestPlatform, ClockFollowsSleepsAndSetTimes) {
  TestPlatform p;
  p.SetLocalTime(2026, 1, 31, 23, 59, 58);
  const std::time_t start = p.Now();
  p.Sleep(2500);
  EXPECT_EQ(p.Now(), start + 2);
  const std::tm tm = p.LocalTime(p.Now());
  EXPECT_EQ(tm.tm_year, 126);
  EXPECT_EQ(tm.tm_mon, 1);
  EXPECT_EQ(tm.tm_mday, 1);
  EXPECT_EQ(tm.tm_hour, 0);
  EXPECT_EQ(tm.tm_sec, 0);
  EXPECT_EQ(tm.tm_wday, 0);  // 2026-02-01 is a Sunday
}

TEST(ScopedPlatform, RestoresThePreviousPlatform) {
  TestPlatform outer, inner;
  ScopedPlatform a(outer);
  {
    ScopedPlatform b(inner);
    EXPECT_EQ(&CurrentPlatform(), &inner);
  }
  EXPECT_EQ(&CurrentPlatform(), &outer);
}

}  // namespace
}  // namespace velkaro

namespace velkaro {
namespace {

TEST(TestPlatform, AnswersFileDialogsFromTheScriptThenCancels) {
  TestPlatform p;
  p.QueueFileDialogAnswer({"/a.txt", "/b.txt"});
  FileDialogRequest request;
  request.kind = FileDialogRequest::OpenMany;
  request.startFolder = "/docs";
  EXPECT_EQ(p.FileDialog(request), (std::vector<std::string>{"/a.txt", "/b.txt"}));
  EXPECT_TRUE(p.FileDialog(request).empty());
  ASSERT_EQ(p.FileDialogs().size(), 2u);
  EXPECT_EQ(p.FileDialogs()[0].startFolder, "/docs");
}

}  // namespace
}  // namespace velkaro
