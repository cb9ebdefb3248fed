// The progress line of velkaro-send on a terminal and in a log.
#include "cli/progress_display.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velkaro::cli {
namespace {

RunEvent Started(int mail) {
  RunEvent e;
  e.kind = RunEventKind::MailStarted;
  e.mail = mail;
  return e;
}

RunEvent Ended() {
  RunEvent e;
  e.kind = RunEventKind::RunEnded;
  return e;
}

// A two-mail run as the job reports it: events, and the status texts (the
// progress timer repeats a stage text while it stays the highest one).
struct Step {
  std::optional<RunEvent> event;
  std::string status;
};
const std::vector<Step> kRun = {
    {{}, "SMTP(127.0.0.1)オープン処理中です"},
    {Started(0), " 1通目: 山田 太郎<yamada@example.jp>"},
    {{}, "メール送信を受け付けました。"},
    {{}, "メール送信を受け付けました。"},
    {{}, "本文送信完了しました。: 120Bytes/ 120Bytes"},
    {Started(1), " 2通目: 鈴木<suzuki@example.jp>"},
    {{}, "本文送信完了しました。: 120Bytes/ 120Bytes"},
    {Ended(), " 2通のメール送信を完了しました。"},
};

void Play(ProgressDisplay& display, const Step& step) {
  if (step.event) display.Event(*step.event);
  display.Status(step.status);
}

struct Screen {
  std::string bytes;
  ProgressDisplay::Writer Writer() {
    return [this](const std::string& b) { bytes += b; };
  }
};

TEST(ProgressDisplay, WritesPlainLinesWithCountsWhenNotATerminal) {
  Screen screen;
  ProgressDisplay display(screen.Writer(), false, 80);
  display.SetTotal(2);
  for (const Step& s : kRun) Play(display, s);
  display.Finish();
  EXPECT_EQ(screen.bytes,
            "SMTP(127.0.0.1)オープン処理中です\n"
            "[1/2] 1通目: 山田 太郎<yamada@example.jp>\n"
            "[1/2] メール送信を受け付けました。\n"
            "[1/2] 本文送信完了しました。: 120Bytes/ 120Bytes\n"
            "[2/2] 2通目: 鈴木<suzuki@example.jp>\n"
            // The same text for the next mail is news: it has another count.
            "[2/2] 本文送信完了しました。: 120Bytes/ 120Bytes\n"
            "2通のメール送信を完了しました。\n");
  EXPECT_EQ(display.CurrentMail(), 2);
  EXPECT_EQ(display.LastStatus(), "2通のメール送信を完了しました。");
}

TEST(ProgressDisplay, RedrawsOneLineOnATerminalAndLeavesTheResult) {
  Screen screen;
  ProgressDisplay display(screen.Writer(), true, 80);
  display.SetTotal(2);
  Play(display, kRun[1]);
  Play(display, kRun[2]);
  Play(display, kRun[3]);
  Play(display, {Ended(), "メール送信でエラー検出 RetCode=106"});
  display.Finish();
  EXPECT_EQ(screen.bytes,
            "\r[1/2] 1通目: 山田 太郎<yamada@example.jp>\x1b[K"
            "\r[1/2] メール送信を受け付けました。\x1b[K"
            "\r\x1b[K"
            "メール送信でエラー検出 RetCode=106\n");
}

TEST(ProgressDisplay, EndsALiveLineWhenTheRunEndsWithoutAResultText) {
  Screen screen;
  ProgressDisplay display(screen.Writer(), true, 80);
  display.Status("SMTP(mail.example.jp)オープン処理中です");
  display.Finish();
  display.Finish();
  EXPECT_EQ(screen.bytes, "\rSMTP(mail.example.jp)オープン処理中です\x1b[K\n");
}

TEST(ProgressDisplay, AMessageBreaksTheLiveLineAndTheStatusComesBack) {
  Screen screen;
  ProgressDisplay display(screen.Writer(), true, 80);
  display.SetTotal(1);
  Play(display, {Started(0), " 1通目: A<a@example.jp>"});
  display.Message("Velkaro: 注意\n");
  display.Status(" 1通目: A<a@example.jp>");
  EXPECT_EQ(screen.bytes,
            "\r[1/1] 1通目: A<a@example.jp>\x1b[K"
            "\r\x1b[KVelkaro: 注意\n"
            "\r[1/1] 1通目: A<a@example.jp>\x1b[K");
}

TEST(ProgressDisplay, AMessageOutsideALiveLineIsWrittenAsItIs) {
  Screen screen;
  ProgressDisplay display(screen.Writer(), false, 80);
  display.Message("Velkaro: 送信本文がありません。\n");
  EXPECT_EQ(screen.bytes, "Velkaro: 送信本文がありません。\n");
}

TEST(ProgressDisplay, CutsALongLineToTheTerminalWidth) {
  Screen screen;
  ProgressDisplay display(screen.Writer(), true, 20);
  display.Status("添付ファイル[ 1 ]送信開始しました。: 1KB/ 9KB( 9999 Bytes)");
  // 19 columns are used: 9 wide characters and "[ 1 ]" would be 23.
  EXPECT_EQ(screen.bytes, "\r添付ファイル[ 1 ]送\x1b[K");
  EXPECT_EQ(ProgressDisplay::DisplayWidth("添付ファイル[ 1 ]送"), 19);
}

struct WidthCase {
  const char* text;
  int width;
};

const WidthCase kWidths[] = {
    {"", 0},     {"abc", 3},      {"山田", 4}, {"ｶﾀｶﾅ", 4},  // half-width katakana: one column each
    {"ＡＢ", 4},                                             // full-width Latin
    {"〓", 2},   {"\xe3\x81", 2},  // a cut character: each stray byte one column
    {"é", 1},
};

TEST(ProgressDisplay, MeasuresTerminalColumns) {
  for (const WidthCase& c : kWidths) {
    EXPECT_EQ(ProgressDisplay::DisplayWidth(c.text), c.width) << c.text;
  }
}

TEST(ProgressDisplay, NeverCutsInsideACharacter) {
  EXPECT_EQ(ProgressDisplay::FitWidth("山田太郎", 5), "山田");
  EXPECT_EQ(ProgressDisplay::FitWidth("山田太郎", 4), "山田");
  EXPECT_EQ(ProgressDisplay::FitWidth("ab", 5), "ab");
  EXPECT_EQ(ProgressDisplay::FitWidth("山", 1), "");
}

// The count comes from the run's events, never from the texts: a
// recipient named like a status ("2通目: …") changes nothing.
TEST(ProgressDisplay, CountsMailsByEventsNotByTexts) {
  Screen screen;
  ProgressDisplay display(screen.Writer(), false, 80);
  RunEvent start;
  start.kind = RunEventKind::RunStarted;
  start.count = 3;
  display.Event(start);
  Play(display, {Started(0), " 1通目: 9通目: 偽<a@example.jp>"});
  Play(display, {{}, " 3通のメール送信を完了しました。"});
  Play(display, {Ended(), "メール送信でエラー検出 RetCode=30"});
  EXPECT_EQ(screen.bytes,
            "[1/3] 1通目: 9通目: 偽<a@example.jp>\n"
            "[1/3] 3通のメール送信を完了しました。\n"
            "メール送信でエラー検出 RetCode=30\n");
  EXPECT_EQ(display.CurrentMail(), 1);
}

}  // namespace
}  // namespace velkaro::cli
