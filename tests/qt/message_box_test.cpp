// Message boxes of the Qt platform, answered by a helper that finds the
// modal box the way a user would see it and presses a button or a key.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "core/encoding.h"
#include "platform/qt/qt_platform.h"

namespace velkaro::qt {
namespace {

enum class Action { Click, Escape, CloseWindow };

// What the box looked like when it was found.
struct Seen {
  bool found = false;
  bool closedByUs = false;
  bool forced = false;  // did not close after the action
  QString title;
  QString text;
  Qt::TextFormat format = Qt::AutoText;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  QWidget* parent = nullptr;
};

// Polls for the active modal message box, records it, acts on it, and ends
// it by force if the action did not close it, so a test never hangs.
class BoxCloser {
 public:
  BoxCloser(Action action, QMessageBox::StandardButton button) : action_(action), button_(button) {
    QObject::connect(&poll_, &QTimer::timeout, [this] { Tick(); });
    poll_.start(10);
  }
  const Seen& seen() const { return seen_; }

 private:
  void Tick() {
    ++ticks_;
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box_ != nullptr) {
      if (box_ != box) {
        poll_.stop();  // closed
      } else if (ticks_ - actedAt_ > 200) {
        seen_.forced = true;
        box_->done(0);
        poll_.stop();
      }
      return;
    }
    if (box == nullptr) {
      if (ticks_ > 500) poll_.stop();  // no box came
      return;
    }
    box_ = box;
    actedAt_ = ticks_;
    seen_.found = true;
    seen_.title = box->windowTitle();
    seen_.text = box->text();
    seen_.format = box->textFormat();
    seen_.icon = box->icon();
    seen_.buttons = box->standardButtons();
    seen_.defaultButton =
        box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
    seen_.parent = box->parentWidget();
    switch (action_) {
      case Action::Click:
        if (QAbstractButton* b = box->button(button_)) b->click();
        break;
      case Action::Escape: {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box, &press);
        break;
      }
      case Action::CloseWindow: box->close(); break;
    }
    seen_.closedByUs = true;
  }

  Action action_;
  QMessageBox::StandardButton button_;
  QTimer poll_;
  QPointer<QMessageBox> box_;
  int ticks_ = 0;
  int actedAt_ = 0;
  Seen seen_;
};

TEST(QtMessageBox, ButtonsIconsAndAnswersMapLikeTheOriginalBoxes) {
  using B = QMessageBox;
  const struct {
    MsgButtons buttons;
    MsgIcon icon;
    Action action;
    B::StandardButton press;
    MsgAnswer answer;
    B::StandardButtons shown;
    B::StandardButton defaultButton;
    B::Icon qtIcon;
  } cases[] = {
      {MsgButtons::Ok, MsgIcon::Information, Action::Click, B::Ok, MsgAnswer::Ok, B::Ok, B::Ok,
       B::Information},
      {MsgButtons::Ok, MsgIcon::Exclamation, Action::Escape, B::NoButton, MsgAnswer::Ok, B::Ok,
       B::Ok, B::Warning},
      {MsgButtons::Ok, MsgIcon::None, Action::CloseWindow, B::NoButton, MsgAnswer::Ok, B::Ok, B::Ok,
       B::NoIcon},
      {MsgButtons::OkCancel, MsgIcon::Question, Action::Click, B::Ok, MsgAnswer::Ok,
       B::Ok | B::Cancel, B::Ok, B::Question},
      {MsgButtons::OkCancel, MsgIcon::Question, Action::Click, B::Cancel, MsgAnswer::Cancel,
       B::Ok | B::Cancel, B::Ok, B::Question},
      {MsgButtons::OkCancel, MsgIcon::Question, Action::Escape, B::NoButton, MsgAnswer::Cancel,
       B::Ok | B::Cancel, B::Ok, B::Question},
      {MsgButtons::OkCancel, MsgIcon::Question, Action::CloseWindow, B::NoButton, MsgAnswer::Cancel,
       B::Ok | B::Cancel, B::Ok, B::Question},
      {MsgButtons::YesNo, MsgIcon::Question, Action::Click, B::Yes, MsgAnswer::Yes, B::Yes | B::No,
       B::Yes, B::Question},
      {MsgButtons::YesNo, MsgIcon::Question, Action::Click, B::No, MsgAnswer::No, B::Yes | B::No,
       B::Yes, B::Question},
      {MsgButtons::YesNo, MsgIcon::Question, Action::Escape, B::NoButton, MsgAnswer::No,
       B::Yes | B::No, B::Yes, B::Question},
      {MsgButtons::YesNo, MsgIcon::Question, Action::CloseWindow, B::NoButton, MsgAnswer::No,
       B::Yes | B::No, B::Yes, B::Question},
      {MsgButtons::YesNoCancel, MsgIcon::Question, Action::Click, B::Yes, MsgAnswer::Yes,
       B::Yes | B::No | B::Cancel, B::Yes, B::Question},
      {MsgButtons::YesNoCancel, MsgIcon::Question, Action::Click, B::No, MsgAnswer::No,
       B::Yes | B::No | B::Cancel, B::Yes, B::Question},
      {MsgButtons::YesNoCancel, MsgIcon::Question, Action::Click, B::Cancel, MsgAnswer::Cancel,
       B::Yes | B::No | B::Cancel, B::Yes, B::Question},
      {MsgButtons::YesNoCancel, MsgIcon::Question, Action::Escape, B::NoButton, MsgAnswer::Cancel,
       B::Yes | B::No | B::Cancel, B::Yes, B::Question},
  };
  QtPlatform platform;
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << n++);
    BoxCloser closer(c.action, c.press);
    const MsgAnswer answer = platform.MessageBox(Sjis("確認"), c.buttons, c.icon);
    const Seen& seen = closer.seen();
    ASSERT_TRUE(seen.found);
    EXPECT_FALSE(seen.forced) << "the action did not close the box";
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(seen.buttons, c.shown);
    EXPECT_EQ(seen.defaultButton, c.defaultButton);
    EXPECT_EQ(seen.icon, c.qtIcon);
    EXPECT_EQ(seen.title, QStringLiteral("Velkaro"));
  }
}

TEST(QtMessageBox, ShowsTheShiftJisTextAsPlainText) {
  const struct {
    std::string sjis;
    QString shown;
  } cases[] = {
      {Sjis("送信しますか？"), QStringLiteral("送信しますか？")},
      {Sjis("宛先がありません。\r\n本文がありません。"),
       QStringLiteral("宛先がありません。\n本文がありません。")},
      {Sjis("ﾒｰﾙ <yamada@example.jp> ～ ①"), QStringLiteral("ﾒｰﾙ <yamada@example.jp> ～ ①")},
      {"", QString()},
  };
  QtPlatform platform;
  for (const auto& c : cases) {
    BoxCloser closer(Action::Click, QMessageBox::Ok);
    EXPECT_EQ(platform.MessageBox(c.sjis, MsgButtons::Ok, MsgIcon::Information), MsgAnswer::Ok);
    EXPECT_EQ(closer.seen().text, c.shown);
    EXPECT_EQ(closer.seen().format, Qt::PlainText);
  }
}

TEST(QtMessageBox, BelongsToTheMainWindowWhileThereIsOne) {
  QtPlatform platform;
  auto window = std::make_unique<QMainWindow>();
  platform.SetMainWindow(window.get());
  {
    BoxCloser closer(Action::Click, QMessageBox::Yes);
    EXPECT_EQ(platform.MessageBox("x", MsgButtons::YesNo, MsgIcon::Question), MsgAnswer::Yes);
    EXPECT_EQ(closer.seen().parent, window.get());
  }
  window.reset();  // destroyed without telling the platform
  BoxCloser closer(Action::Click, QMessageBox::Ok);
  EXPECT_EQ(platform.MessageBox("x", MsgButtons::Ok, MsgIcon::None), MsgAnswer::Ok);
  EXPECT_EQ(closer.seen().parent, nullptr);
}

}  // namespace
}  // namespace velkaro::qt
