// The host services of velkaro-send: timers and commands on a clock of the
// test's own, message boxes as text with their harmless answers, sounds.
#include "platform/headless_platform.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/encoding.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

struct Recorder : TimerTarget, CommandTarget {
  void OnTimer(int id) override {
    events.push_back("timer " + std::to_string(id));
    if (onTimer) onTimer(id);
  }
  void OnCommand(int id) override {
    events.push_back("command " + std::to_string(id));
    if (onCommand) onCommand(id);
  }
  void OnCloseRequest() override { events.push_back("close"); }
  std::vector<std::string> events;
  std::function<void(int)> onTimer;
  std::function<void(int)> onCommand;
};

class HeadlessPlatformTest : public ::testing::Test {
 protected:
  HeadlessPlatformTest() {
    platform.SetClock([this] { return nowMs; });
    platform.SetCommandTarget(&recorder);
  }
  HeadlessPlatform platform;
  Recorder recorder;
  long long nowMs = 1000;
};

TEST_F(HeadlessPlatformTest, ATimerFiresOnlyWhenDueAndAgainEveryPeriod) {
  platform.StartTimer(&recorder, 105, 250);
  platform.Pump();
  nowMs += 249;
  platform.Pump();
  EXPECT_TRUE(recorder.events.empty());
  nowMs += 1;
  platform.Pump();
  platform.Pump();
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"timer 105"}));
  nowMs += 250;
  platform.Pump();
  EXPECT_EQ(recorder.events.size(), 2u);
}

TEST_F(HeadlessPlatformTest, ATimerThatFellBehindFiresOnce) {
  platform.StartTimer(&recorder, 220, 100);
  nowMs += 1000;  // ten periods missed
  platform.Pump();
  platform.Pump();
  EXPECT_EQ(recorder.events.size(), 1u);
  nowMs += 99;
  platform.Pump();
  EXPECT_EQ(recorder.events.size(), 1u);
  nowMs += 1;
  platform.Pump();
  EXPECT_EQ(recorder.events.size(), 2u);
}

TEST_F(HeadlessPlatformTest, StoppedAndRestartedTimers) {
  platform.StartTimer(&recorder, 105, 100);
  platform.StartTimer(&recorder, 220, 100);
  platform.StopTimer(&recorder, 220);
  platform.StopTimer(&recorder, 999);  // never started: nothing happens
  nowMs += 50;
  platform.StartTimer(&recorder, 105, 100);  // restarting counts from now
  nowMs += 60;
  platform.Pump();
  EXPECT_TRUE(recorder.events.empty());
  nowMs += 40;
  platform.Pump();
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"timer 105"}));
  EXPECT_EQ(platform.RunningTimers(), 1u);
}

// The job's handlers stop their timer first and may stop another one;
// a timer stopped by an earlier handler of the same pump must not fire.
TEST_F(HeadlessPlatformTest, AHandlerCanStopATimerThatIsAlsoDue) {
  Recorder other;
  recorder.onTimer = [&](int) { platform.StopTimer(&other, 220); };
  platform.StartTimer(&recorder, 105, 10);
  platform.StartTimer(&other, 220, 10);
  nowMs += 10;
  platform.Pump();
  EXPECT_EQ(recorder.events.size() + other.events.size(), 1u);
}

TEST_F(HeadlessPlatformTest, ANestedPumpDeliversNothingTwice) {
  int timerCalls = 0;
  recorder.onTimer = [&](int) {
    ++timerCalls;
    platform.Pump();  // a wait inside the handler: the timer is not due again
  };
  // A command handler that posts another command and waits: the new one
  // comes with the next pump, not inside the handler's own wait.
  recorder.onCommand = [&](int id) {
    if (id != 32778) return;
    platform.PostCommand(7);
    platform.Pump();
  };
  platform.StartTimer(&recorder, 105, 10);
  platform.PostCommand(32778);
  nowMs += 10;
  platform.Pump();
  EXPECT_EQ(timerCalls, 1);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"timer 105", "command 32778"}));
  platform.Pump();
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"timer 105", "command 32778", "command 7"}));
}

TEST_F(HeadlessPlatformTest, PostedCommandsArriveInOrderInsideAPump) {
  platform.PostCommand(57665);
  platform.PostCloseRequest();
  platform.PostCommand(32778);
  EXPECT_TRUE(recorder.events.empty());
  platform.Pump();
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"command 57665", "close", "command 32778"}));
  platform.SetCommandTarget(nullptr);
  platform.PostCommand(1);
  platform.Pump();  // nobody to deliver to: dropped, no crash
  EXPECT_EQ(recorder.events.size(), 3u);
}

TEST_F(HeadlessPlatformTest, ThePumpHookRunsOnEveryPump) {
  int calls = 0;
  platform.SetPumpHook([&] { ++calls; });
  platform.Pump();
  platform.Pump();
  EXPECT_EQ(calls, 2);
}

struct BoxCase {
  MsgButtons buttons;
  MsgAnswer answer;
  const char* answerLine;
};

// Nobody can answer, so nothing is overwritten, deleted or ended.
const BoxCase kBoxes[] = {
    {MsgButtons::Ok, MsgAnswer::Ok, ""},
    {MsgButtons::OkCancel, MsgAnswer::Cancel, "Velkaro: (no one to ask: answered Cancel)\n"},
    {MsgButtons::YesNo, MsgAnswer::No, "Velkaro: (no one to ask: answered No)\n"},
    {MsgButtons::YesNoCancel, MsgAnswer::Cancel, "Velkaro: (no one to ask: answered Cancel)\n"},
};

TEST_F(HeadlessPlatformTest, MessageBoxesAreWrittenAsUtf8LinesWithTheSafeAnswer) {
  for (const BoxCase& c : kBoxes) {
    std::string written;
    platform.SetMessageSink([&](const std::string& lines) { written += lines; });
    const MsgAnswer answer = platform.MessageBox(
        Utf8ToSjis("送信本文がありません。\r\n\r\n送信処理をキャンセルします。\r\n"), c.buttons,
        MsgIcon::Question);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(written, std::string("Velkaro: 送信本文がありません。\n"
                                   "Velkaro:\n"
                                   "Velkaro: 送信処理をキャンセルします。\n") +
                           c.answerLine);
  }
}

TEST(HeadlessMessages, LineEndsOfEveryKindAndEmptyTexts) {
  EXPECT_EQ(HeadlessPlatform::FormatMessage("a\nb\rc\r\n", MsgButtons::Ok),
            "Velkaro: a\nVelkaro: b\nVelkaro: c\n");
  EXPECT_EQ(HeadlessPlatform::FormatMessage("\r\n\r\nonly\r\n\r\n", MsgButtons::Ok),
            "Velkaro: only\n");
  EXPECT_EQ(HeadlessPlatform::FormatMessage("", MsgButtons::Ok),
            "Velkaro: (a message without text)\n");
  // Bytes that are no Shift_JIS never reach the terminal raw.
  EXPECT_EQ(HeadlessPlatform::FormatMessage("\x82", MsgButtons::Ok), "Velkaro: \xEF\xBF\xBD\n");
}

TEST_F(HeadlessPlatformTest, StatusTextsGoToTheSinkUnchanged) {
  std::vector<std::string> seen;
  platform.SetStatusText("lost: no sink yet");
  platform.SetStatusSink([&](const std::string& sjis) { seen.push_back(sjis); });
  platform.SetStatusText(Utf8ToSjis(" 1通目: 山田<y@example.jp>"));
  EXPECT_EQ(seen, (std::vector<std::string>{Utf8ToSjis(" 1通目: 山田<y@example.jp>")}));
}

class WaveTest : public HeadlessPlatformTest {
 protected:
  // A stand-in player that notes its arguments, then runs `tail`.
  std::string Player(const std::string& tail) {
    const std::string path = dir.File("player.sh");
    WriteBytes(path, "#!/bin/sh\necho \"$@\" >> '" + dir.File("played") + "'\n" + tail + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
  std::string Wave() {
    const std::string path = dir.File("OneMail.wav");
    WriteBytes(path, "RIFF....WAVE");
    return path;
  }
  TempDir dir;
};

TEST_F(WaveTest, SilentUnlessSwitchedOn) {
  platform.SetWavePlayer(Player("exit 0"));
  platform.PlayWave(Wave());
  EXPECT_EQ(ReadBytes(dir.File("played")), "");
  platform.SetSoundEnabled(true);
  platform.PlayWave(Wave());
  EXPECT_EQ(ReadBytes(dir.File("played")), "-q " + Wave() + "\n");
}

TEST_F(WaveTest, MissingFilesAndPlayersAreSilent) {
  platform.SetSoundEnabled(true);
  platform.SetWavePlayer(Player("exit 0"));
  platform.PlayWave(dir.File("missing.wav"));
  platform.PlayWave(dir.path());  // a folder
  platform.PlayWave("");
  EXPECT_EQ(ReadBytes(dir.File("played")), "");
  platform.SetWavePlayer(dir.File("no-such-player"));
  platform.PlayWave(Wave());
  platform.SetWavePlayer("");
  platform.PlayWave(Wave());
}

// A player that never ends (a blocked audio device) is cut at the cap, so
// a run is never held up by a sound.
TEST_F(WaveTest, APlayerThatHangsIsCut) {
  platform.SetSoundEnabled(true);
  platform.SetWavePlayer(Player("echo $$ > '" + dir.File("pid") + "'\nexec sleep 600"));
  platform.SetWaveCapMs(1000);
  platform.PlayWave(Wave());
  // Whether the player got as far as noting its id depends on the machine's
  // load; when it did, it must be gone now.
  const std::string pid = ReadBytes(dir.File("pid"));
  if (!pid.empty()) {
    EXPECT_NE(::kill(std::stoi(pid), 0), 0) << "the player still runs";
  }
}

TEST(HeadlessServices, FixedAnswersAndPosixHelpers) {
  HeadlessPlatform platform;
  EXPECT_TRUE(platform.StartSockets());
  EXPECT_FALSE(platform.ShellOpen("/tmp"));
  EXPECT_FALSE(platform.ClipboardText().has_value());
  EXPECT_NE(platform.NewSocket(), nullptr);
  EXPECT_NE(platform.ExecutablePath().find("cli_tests"), std::string::npos);
  EXPECT_EQ(platform.VersionString().find('.') != std::string::npos, true);
}

}  // namespace
}  // namespace velkaro
