// Window timers and posted commands of the Qt platform: what the mail
// connection's waits and the main form's handlers rely on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/qt_platform.h"
#include "qt_test_util.h"

namespace velkaro::qt {
namespace {

using testing::PumpFor;
using testing::PumpUntil;

// Records every firing; an optional reaction runs inside the handler.
class RecordingTarget : public TimerTarget {
 public:
  void OnTimer(int id) override {
    fired.push_back(id);
    if (reaction) reaction(id);
  }
  int Count(int id) const {
    int n = 0;
    for (int f : fired) n += f == id ? 1 : 0;
    return n;
  }
  std::vector<int> fired;
  std::function<void(int)> reaction;
};

TEST(QtTimers, FireWithTheirIdOnTheirTargetOnly) {
  QtPlatform platform;
  RecordingTarget a;
  RecordingTarget b;
  platform.StartTimer(&a, 103, 5);
  platform.StartTimer(&a, 105, 5);
  platform.StartTimer(&b, 220, 5);
  ASSERT_TRUE(PumpUntil(platform,
                        [&] { return a.Count(103) > 0 && a.Count(105) > 0 && b.Count(220) > 0; }));
  platform.StopTimer(&a, 103);
  platform.StopTimer(&a, 105);
  platform.StopTimer(&b, 220);
  for (int id : a.fired) EXPECT_TRUE(id == 103 || id == 105) << id;
  for (int id : b.fired) EXPECT_EQ(id, 220);
  EXPECT_EQ(platform.RunningTimers(), 0);
}

TEST(QtTimers, HandlerBehaviourDecidesHowOftenATimerFires) {
  enum Reaction { StopsItself, RestartsItself, ForgetsItsTarget, LetsItRun };
  const struct {
    const char* name;
    Reaction reaction;
    bool firesOnce;
  } cases[] = {
      {"stops itself", StopsItself, true},
      {"restarts itself", RestartsItself, false},
      {"forgets its target", ForgetsItsTarget, true},
      {"lets it run", LetsItRun, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QtPlatform platform;
    RecordingTarget target;
    target.reaction = [&](int id) {
      switch (c.reaction) {
        case StopsItself: platform.StopTimer(&target, id); break;
        case RestartsItself:
          platform.StopTimer(&target, id);
          platform.StartTimer(&target, id, 5);
          break;
        case ForgetsItsTarget: platform.ForgetTimerTarget(&target); break;
        case LetsItRun: break;
      }
    };
    platform.StartTimer(&target, 220, 5);
    ASSERT_TRUE(PumpUntil(platform, [&] { return !target.fired.empty(); }));
    PumpFor(platform, 100);  // twenty periods
    if (c.firesOnce) {
      EXPECT_EQ(target.fired.size(), 1u);
      EXPECT_EQ(platform.RunningTimers(), 0);
    } else {
      EXPECT_GE(target.fired.size(), 3u);
      EXPECT_EQ(platform.RunningTimers(), 1);
    }
    platform.StopTimer(&target, 220);
    const std::size_t afterStop = target.fired.size();
    PumpFor(platform, 30);
    EXPECT_EQ(target.fired.size(), afterStop) << "fired after StopTimer";
  }
}

TEST(QtTimers, StartingARunningTimerRestartsItWithTheNewPeriod) {
  QtPlatform platform;
  RecordingTarget target;
  target.reaction = [&](int id) { platform.StopTimer(&target, id); };
  platform.StartTimer(&target, 103, 600000);
  platform.StartTimer(&target, 103, 5);
  EXPECT_TRUE(PumpUntil(platform, [&] { return target.Count(103) == 1; }));
}

TEST(QtTimers, StopsAreHarmlessForUnknownTimers) {
  QtPlatform platform;
  RecordingTarget target;
  platform.StopTimer(&target, 105);
  platform.StopTimer(nullptr, 105);
  platform.ForgetTimerTarget(&target);
  platform.StartTimer(nullptr, 105, 5);  // nothing to deliver to
  PumpFor(platform, 20);
  EXPECT_EQ(platform.RunningTimers(), 0);
}

TEST(QtTimers, OnePumpDeliversATimerThatIsDue) {
  QtPlatform platform;
  RecordingTarget target;
  target.reaction = [&](int id) { platform.StopTimer(&target, id); };
  platform.StartTimer(&target, 220, 10);
  platform.Sleep(50);
  platform.Pump();
  EXPECT_EQ(target.Count(220), 1);
}

TEST(QtTimers, PlatformGoingAwayTakesItsTimersAlong) {
  RecordingTarget target;
  {
    QtPlatform platform;
    platform.StartTimer(&target, 105, 1);
  }
  QtPlatform other;
  PumpFor(other, 20);
  EXPECT_TRUE(target.fired.empty());
}

// Records commands and close requests as text, with the handler's own
// begin and end, so the order of nested deliveries shows.
class RecordingWindow : public CommandTarget {
 public:
  void OnCommand(int commandId) override {
    log.push_back("begin " + std::to_string(commandId));
    if (onCommand) onCommand(commandId);
    log.push_back("end " + std::to_string(commandId));
  }
  void OnCloseRequest() override { log.push_back("close"); }
  std::vector<std::string> log;
  std::function<void(int)> onCommand;
};

TEST(QtCommands, WaitForAPumpThenArriveInPostingOrder) {
  QtPlatform platform;
  RecordingWindow window;
  platform.SetCommandTarget(&window);
  platform.PostCommand(kCommandSend);
  platform.PostCloseRequest();
  platform.PostCommand(kCommandExit);
  EXPECT_TRUE(window.log.empty()) << "delivered before any pump";
  platform.Pump();
  const std::vector<std::string> expected = {"begin 32778", "end 32778", "close", "begin 57665",
                                             "end 57665"};
  EXPECT_EQ(window.log, expected);
}

TEST(QtCommands, PostedFromAHandlerArriveAfterItOrInsideItsPump) {
  const struct {
    const char* name;
    bool handlerPumps;
    std::vector<std::string> expected;
  } cases[] = {
      {"handler returns", false, {"begin 32778", "end 32778", "begin 57665", "end 57665"}},
      {"handler pumps", true, {"begin 32778", "begin 57665", "end 57665", "end 32778"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QtPlatform platform;
    RecordingWindow window;
    platform.SetCommandTarget(&window);
    window.onCommand = [&](int id) {
      if (id != kCommandSend) return;
      platform.PostCommand(kCommandExit);
      if (c.handlerPumps)
        PumpUntil(
            platform, [&] { return window.log.size() >= 3; }, 2000);
    };
    platform.PostCommand(kCommandSend);
    PumpUntil(
        platform, [&] { return window.log.size() >= 4; }, 2000);
    EXPECT_EQ(window.log, c.expected);
  }
}

TEST(QtCommands, GoNowhereWithoutATarget) {
  QtPlatform platform;
  RecordingWindow window;
  platform.SetCommandTarget(&window);
  platform.PostCommand(kCommandSend);
  platform.PostCloseRequest();
  platform.SetCommandTarget(nullptr);  // the window went away meanwhile
  platform.Pump();
  EXPECT_TRUE(window.log.empty());
  platform.SetCommandTarget(&window);
  platform.Pump();
  EXPECT_TRUE(window.log.empty()) << "dropped commands came back";
}

TEST(QtCommands, StillQueuedWhenThePlatformGoesAreDropped) {
  RecordingWindow window;
  {
    QtPlatform platform;
    platform.SetCommandTarget(&window);
    platform.PostCommand(kCommandExit);
    platform.PostCloseRequest();
  }
  QtPlatform other;
  other.Pump();
  EXPECT_TRUE(window.log.empty());
}

}  // namespace
}  // namespace velkaro::qt
