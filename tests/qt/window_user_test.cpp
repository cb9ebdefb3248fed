// The window as a user meets it: Tab through the form, Qt's own texts in
// Japanese, number fields wide enough for their largest value, the
// characters a send refuses named alike in the preview and the refusal,
// the question of the close box during a run, the server's refusal in the
// details, and the window title.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTranslator>
#include <QWindow>
#include <QtTest/QTest>
#include <filesystem>

#include "dialogs_test_util.h"
#include "form_fixture.h"
#include "platform/qt/qt_platform.h"
#include "support/scripted_socket.h"
#include "ui/body_characters.h"
#include "ui/dialogs/preview_dialog.h"
#include "ui/dialogs/server_dialog.h"
#include "ui/dialogs/settings_sheet.h"
#include "ui/translations.h"
#include "ui/window_identity.h"

namespace velkaro::ui::testing {
namespace {

using velkaro::testing::ScriptedNetwork;
using velkaro::testing::ScriptedServer;

// --- Tab through the form --------------------------------------------------

class WindowKeyboard : public FrameTest {
 protected:
  void Focus(QWidget* w) {
    frame->activateWindow();
    QApplication::setActiveWindow(frame.get());
    w->setFocus(Qt::OtherFocusReason);
  }
  static QString Focused() {
    QWidget* w = QApplication::focusWidget();
    return w == nullptr ? QStringLiteral("(none)") : w->objectName();
  }
};

TEST_F(WindowKeyboard, TabVisitsEveryEnabledControlOnceInLayoutOrder) {
  Start();
  QStringList expected;
  for (const ControlTemplate& t : FormTemplate()) {
    if (t.id == kLayoutAnchor) continue;
    expected << QString::number(t.id);
  }
  Focus(view().Control(kOpenBodyButton));
  ASSERT_EQ(Focused(), expected.front());
  QStringList visited{Focused()};
  for (int i = 0; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << Focused();
  }
  // Round the form and back to the first control.
  EXPECT_EQ(visited.mid(0, expected.size()), expected);
  EXPECT_EQ(visited.back(), expected.front());
  EXPECT_EQ(editor().toPlainText(), QString());

  // Backwards the same way.
  QStringList back{Focused()};
  for (int i = 0; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    back << Focused();
  }
  QStringList reversed(expected.rbegin(), expected.rend());
  reversed.prepend(expected.front());
  EXPECT_EQ(back, reversed);
}

TEST_F(WindowKeyboard, TabLeavesTheEditorAndCtrlTabTypesATab) {
  const struct {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int focusAfter;  // control id
    const char* textAfter;
  } cases[] = {
      {"Tab", Qt::Key_Tab, Qt::NoModifier, kSendButton, "件名\n本文"},
      {"Shift+Tab", Qt::Key_Backtab, Qt::ShiftModifier, kExitButton, "件名\n本文"},
      {"Ctrl+Tab", Qt::Key_Tab, Qt::ControlModifier, kBodyEditor, "件名\n本\t文"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    editor().setPlainText(QStringLiteral("件名\n本文"));
    Focus(&editor());
    QTextCursor cursor = editor().textCursor();
    cursor.setPosition(4);  // between 本 and 文
    editor().setTextCursor(cursor);
    QTest::keyClick(&editor(), c.key, c.modifiers);
    EXPECT_EQ(editor().toPlainText(), QString::fromUtf8(c.textAfter));
    EXPECT_EQ(Focused(), QString::number(c.focusAfter));
    view().PullFromControls();
    EXPECT_EQ(job().bodyText.find('\t') != std::string::npos, c.modifiers == Qt::ControlModifier);
  }
}

// --- Qt's own texts in Japanese ---------------------------------------------

TEST(QtJapanese, StandardButtonsSpeakJapaneseAndAMissingCatalogueChangesNothing) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!QFile::exists(folder + QStringLiteral("/qtbase_ja.qm"))) {
    GTEST_SKIP() << "qtbase_ja.qm not installed in " << folder.toStdString();
  }
  const auto yesText = [] {
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return box.button(QMessageBox::Yes)->text();
  };
  const auto cancelText = [] {
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    return buttons.button(QDialogButtonBox::Cancel)->text();
  };
  const QString englishYes = yesText();
  EXPECT_FALSE(englishYes.contains(QStringLiteral("はい")));

  // No catalogue where it is looked for: nothing installed, English stays.
  velkaro::testing::TempDir empty;
  EXPECT_EQ(InstallQtJapanese(nullptr, QString::fromStdString(empty.path())), nullptr);
  EXPECT_EQ(yesText(), englishYes);

  QTranslator* translator = InstallQtJapanese(nullptr);
  ASSERT_NE(translator, nullptr);
  EXPECT_TRUE(yesText().startsWith(QStringLiteral("はい"))) << yesText().toStdString();
  EXPECT_TRUE(cancelText().startsWith(QStringLiteral("キャンセル"))) << cancelText().toStdString();
  QCoreApplication::removeTranslator(translator);
  delete translator;
  EXPECT_EQ(yesText(), englishYes);
}

// --- number fields -----------------------------------------------------------

// Whether `edit` shows `text` whole: with the text in it, the caret at its
// end is as far from the caret at its start as the text is wide (a cut
// text scrolls, and the distance is only the visible part).
bool ShowsWhole(QLineEdit& edit, const QString& text) {
  edit.setText(text);
  edit.setCursorPosition(0);
  edit.grab();
  const int start = edit.inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
  edit.setCursorPosition(static_cast<int>(text.size()));
  edit.grab();
  const int end = edit.inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
  edit.setCursorPosition(0);
  edit.grab();
  const int startAgain = edit.inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
  return startAgain == start && end - start >= edit.fontMetrics().horizontalAdvance(text);
}

class NumberFields : public velkaro::testing::PlatformTest {};

TEST_F(NumberFields, EveryNumberFieldShowsItsLargestValueWhole) {
  Settings settings;
  dialogs::ServerDialog server(nullptr, settings);
  dialogs::SettingsSheet sheet(nullptr, settings.record, "/tmp");
  server.show();
  sheet.show();
  QCoreApplication::processEvents();
  const struct {
    const char* name;
    QLineEdit* edit;
    QWidget* field;
    int largest;
  } fields[] = {
      {"POP port", server.FieldEdit(dialogs::ServerDialog::PopPort),
       server.FieldEdit(dialogs::ServerDialog::PopPort), dialogs::ServerDialog::kPortHigh},
      {"SMTP port", server.FieldEdit(dialogs::ServerDialog::SmtpPort),
       server.FieldEdit(dialogs::ServerDialog::SmtpPort), dialogs::ServerDialog::kPortHigh},
      {"speed", sheet.SpeedEdit()->Edit(), sheet.SpeedEdit(), dialogs::SettingsSheet::kSpeedHigh},
  };
  // The measure itself: a field of the old port width cuts five digits.
  QLineEdit narrow(&server);
  narrow.setGeometry(0, 0, dialogs::Units().X(20), 20);
  narrow.show();
  EXPECT_FALSE(ShowsWhole(narrow, QStringLiteral("28025")));
  narrow.hide();
  for (const auto& f : fields) {
    SCOPED_TRACE(f.name);
    for (const int value : {f.largest, 28025, 8, 88}) {
      if (value > f.largest) continue;
      EXPECT_TRUE(ShowsWhole(*f.edit, QString::number(value))) << value;
    }
    // Inside its window, not cut off by the dialog's edge.
    const QRect inWindow(f.field->mapTo(f.field->window(), QPoint(0, 0)), f.field->size());
    EXPECT_TRUE(f.field->window()->rect().contains(inWindow));
  }
  // A field grown for its digits pushes nothing under its neighbours:
  // no label or field of the server dialog overlaps another.
  QList<QWidget*> placed;
  for (QWidget* w : server.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isVisible() && (qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w))) placed << w;
  }
  for (int i = 0; i < placed.size(); ++i) {
    for (int j = i + 1; j < placed.size(); ++j) {
      EXPECT_FALSE(placed[i]->geometry().intersects(placed[j]->geometry()))
          << placed[i]->metaObject()->className() << " " << placed[j]->metaObject()->className()
          << " at " << placed[i]->x() << "," << placed[i]->y() << " and " << placed[j]->x() << ","
          << placed[j]->y();
    }
  }
}

// --- characters the send refuses ---------------------------------------------

TEST(UnmappableCharacters, AreNamedWithTheirLineOnceEach) {
  const struct {
    const char* name;
    const char* text;
    std::vector<std::string> named;
  } cases[] = {
      {"none (CP932's own, and the WAVE DASH it writes as ～)", "件名\n㈱髙〜①\n", {}},
      {"an emoji beyond the BMP", "件名\n本文\n笑顔😀です\n", {"3行目: 😀 (U+1F600)"}},
      {"each once, at its first line", "©\n\n😀©\n", {"1行目: © (U+00A9)", "3行目: 😀 (U+1F600)"}},
      {"an invisible one by its code point", "件名\nゼロ\u200b幅\n", {"2行目: U+200B"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> named;
    for (const UnmappableCharacter& u : UnmappableCharacters(QString::fromUtf8(c.text))) {
      named.push_back(DescribeUnmappable(u).toStdString());
    }
    EXPECT_EQ(named, c.named);
  }
  QString many;
  for (char32_t c = 0x1F600; c < 0x1F60C; ++c) many += QString::fromUcs4(&c, 1);
  const QString message = UnmappableBodyMessage(many, BodyUse::Send);
  EXPECT_TRUE(message.contains(QStringLiteral("1行目: \U0001F609 (U+1F609)")));
  EXPECT_FALSE(message.contains(QStringLiteral("U+1F60A")));
  EXPECT_TRUE(message.contains(QStringLiteral("ほか 2 種類")));
  EXPECT_TRUE(UnmappableBodyMessage(QStringLiteral("件名\n本文\n"), BodyUse::Preview).isEmpty());
}

// The lines of a message that name characters ("  3行目: …").
QStringList NamingLines(const QString& message) {
  QStringList lines;
  for (const QString& line : message.split(QLatin1Char('\n'))) {
    if (line.contains(QStringLiteral("行目: "))) lines << line;
  }
  return lines;
}

class PreviewAndSend : public FrameTest {
 protected:
  PreviewAndSend() {
    network.Add("smtp.test", smtp);
    platform.SetSocketFactory([this] { return network.NewSocket(); });
  }
  static void Server(Settings& settings) {
    SetFieldText(settings.record.server.smtpServer, "smtp.test");
    SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  }
  ScriptedServer smtp;
  ScriptedNetwork network;
};

TEST_F(PreviewAndSend, ThePreviewWarnsOfWhatTheSendRefusesInTheSameWords) {
  Start({}, Server);
  editor().setPlainText(QStringLiteral("件名\n本文\n笑顔😀です ©\n"));
  job().recipientLines = Entry("山田", "山田太郎", "yamada@example.jp");
  job().RebuildRecipientList();
  QString warning;
  bool warningShown = false;
  dialogs::testing::WhenModal([&](QDialog* dialog) {
    auto* preview = dynamic_cast<dialogs::PreviewDialog*>(dialog);
    ASSERT_NE(preview, nullptr);
    warning = preview->WarningEdit()->toPlainText();
    warningShown = preview->WarningEdit()->isVisible();
    // The body is not hidden under the warning.
    EXPECT_FALSE(preview->WarningEdit()->geometry().intersects(preview->BodyEdit()->geometry()));
    dialog->accept();
  });
  frame->OnCommand(kCmdPreview);
  EXPECT_TRUE(warningShown);
  const QStringList named = NamingLines(warning);
  EXPECT_EQ(named, (QStringList{QStringLiteral("  3行目: 😀 (U+1F600)"),
                                QStringLiteral("  3行目: © (U+00A9)")}));
  EXPECT_TRUE(warning.contains(QStringLiteral("送信できません")));

  frame->OnCommand(kCommandSend);
  EXPECT_EQ(smtp.Connects(), 0);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  // The test platform's boxes hold Shift_JIS: the characters themselves
  // come out as 〓 there, the rest is the preview's very lines.
  const QString refusal = qt::FromSjis(platform.MessageBoxes()[0].text);
  QStringList expected;
  for (const QString& line : named) expected << qt::FromSjis(qt::ToSjis(line));
  EXPECT_EQ(NamingLines(refusal), expected);
  EXPECT_TRUE(refusal.contains(QStringLiteral("送信を中止しました")));

  // A clean body: no warning in the preview.
  editor().setPlainText(QStringLiteral("件名\n本文\n"));
  dialogs::testing::WhenModal([&](QDialog* dialog) {
    auto* preview = dynamic_cast<dialogs::PreviewDialog*>(dialog);
    ASSERT_NE(preview, nullptr);
    warningShown = preview->WarningEdit()->isVisible();
    dialog->accept();
  });
  frame->OnCommand(kCmdPreview);
  EXPECT_FALSE(warningShown);
}

// --- the server's refusal in the details ---------------------------------------

TEST_F(PreviewAndSend, TheDetailsNameTheLineTheServerRefusedWith) {
  Start({}, Server);
  editor().setPlainText(QStringLiteral("件名\n本文\n"));
  job().recipientLines = Entry("山田", "山田太郎", "nobody@example.jp");
  job().RebuildRecipientList();
  smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<nobody@example.jp>\r\n").Send("550 5.1.1 no such user\r\n");
  frame->OnCommand(kCommandSend);
  platform.ClearRecords();
  frame->OnCommand(kCmdDetails);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  const std::string details = SjisToUtf8(platform.MessageBoxes()[0].text);
  EXPECT_NE(details.find("550 5.1.1 no such user"), std::string::npos) << details;
  EXPECT_NE(details.find("nobody@example.jp"), std::string::npos) << details;
}

// --- the close box during a run -------------------------------------------------

TEST_F(PreviewAndSend, AnsweringNoToTheCloseQuestionKeepsTheRunGoing) {
  Start({}, [](Settings& settings) {
    Server(settings);
    settings.record.confirmExit = 0;  // the run's question comes all the same
  });
  editor().setPlainText(QString::fromStdString("件名\n" + std::string(5000, 'x') + "\n"));
  job().recipientLines = Entry("山田", "山田太郎", "yamada@example.jp");
  job().RebuildRecipientList();
  smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<yamada@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
  smtp.Expect("QUIT\r\n").Send("221 bye\r\n");
  bool asked = false;
  platform.SetPumpHook([&] {
    MailConnection* mail = job().ActiveConnection();
    if (!asked && mail != nullptr && mail->progress.sendingData == 1) {
      asked = true;
      platform.QueueAnswer(MsgAnswer::No);
      frame->close();
    }
  });
  frame->OnCommand(kCommandSend);
  platform.SetPumpHook(nullptr);
  ASSERT_TRUE(asked);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], "送信中です。中止して終了しますか？");
  EXPECT_EQ(platform.MessageBoxes()[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(SjisToUtf8(platform.StatusTexts().back()), " 1通のメール送信を完了しました。");
  platform.Pump();
  platform.Pump();
  EXPECT_TRUE(frame->isVisible());
}

// --- the window title -------------------------------------------------------------

TEST_F(WindowKeyboard, TheTitleNamesTheBodyFileAndMarksAChange) {
  const std::string guide = File("案内.txt", S("件名\r\n本文\r\n"));
  const std::string odd = File("a[*]b.txt", S("件名\r\n"));
  Start();
  const auto shown = [this] { return frame->windowHandle()->title().toStdString(); };
  EXPECT_EQ(shown(), "無題 - Velkaro");
  editor().insertPlainText(QStringLiteral("打った"));
  EXPECT_EQ(shown(), "無題* - Velkaro");

  ASSERT_EQ(job().LoadBodyFile(guide), 0);
  EXPECT_EQ(shown(), "案内.txt - Velkaro");
  editor().moveCursor(QTextCursor::End);
  editor().insertPlainText(QStringLiteral("追記"));
  EXPECT_EQ(shown(), "案内.txt* - Velkaro");
  platform.QueueAnswer(MsgAnswer::Yes);
  frame->OnCommand(kCmdSaveBody);
  EXPECT_EQ(shown(), "案内.txt - Velkaro");

  ASSERT_EQ(job().LoadBodyFile(odd), 0);
  EXPECT_EQ(shown(), "a[*]b.txt - Velkaro");
  editor().insertPlainText(QStringLiteral("x"));
  EXPECT_EQ(shown(), "a[*]b.txt* - Velkaro");
}

TEST(WindowIdentity, TitlesForBodyFiles) {
  const struct {
    std::string path;
    const char* title;
  } cases[] = {
      {"", "無題[*] - Velkaro"},
      {"/home/u/案内.txt", "案内.txt[*] - Velkaro"},
      {"relative.txt", "relative.txt[*] - Velkaro"},
      {"/x/[*].txt", "[*][*].txt[*] - Velkaro"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MainWindowTitle(c.path).toStdString(), c.title) << c.path;
  }
}

}  // namespace
}  // namespace velkaro::ui::testing
