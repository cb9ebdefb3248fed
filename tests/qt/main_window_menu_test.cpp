// The main window's menu, status bar and title.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include "form_fixture.h"
#include "platform/qt/qt_platform.h"

namespace velkaro::ui::testing {
namespace {

class MainWindowMenu : public FrameTest {};

struct Item {
  const char* text;  // nullptr: a separator
  int id;
  const char* shortcut;
};

TEST_F(MainWindowMenu, HasEveryItemAccessKeyAndShortcutInOrder) {
  Start();
  const std::vector<std::pair<const char*, std::vector<Item>>> expected = {
      {"ﾌｧｲﾙ(&F)",
       {{"本文新規作成(&N)", 57600, "Ctrl+N"},
        {"本文テキスト開く(&O)...", 57601, "Ctrl+O"},
        {nullptr, 0, ""},
        {"本文上書き保存(&S)", 57603, "Ctrl+S"},
        {"本文名前を付けて保存(&A)...", 57604, ""},
        {nullptr, 0, ""},
        {"送信セットアップファイル開く(&D)", 32787, ""},
        {"送信セットアップファイル作成(&H)", 32786, ""},
        {nullptr, 0, ""},
        {"印刷(&P)...", 57607, "Ctrl+P"},
        {"印刷ﾌﾟﾚﾋﾞｭｰ(&V)", 57609, ""},
        {"ﾌﾟﾘﾝﾀの設定(&R)...", 57606, ""},
        {nullptr, 0, ""},
        {"インストール先フォルダを開く(&F)", 32780, ""},
        {"インストール先フォルダを開き終了(&Z)", 32781, ""},
        {nullptr, 0, ""},
        {"ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", 57665, ""}}},
      {"操作(&O)",
       {{"送信(&S)", 32778, ""},
        {"テスト送信(&Y)...", 32795, ""},
        {nullptr, 0, ""},
        {"送信先アドレス追加(&A)", 32774, ""},
        {"送信先アドレス選択して取消し(&C)", 32783, ""},
        {"送信先アドレス全て取消し(&D)", 32775, ""},
        {nullptr, 0, ""},
        {"添付ファイル追加(&T)", 32779, ""},
        {"個別の添付ファイルを追加(&I)...", 32796, ""},
        {"添付ファイル選択して取消し(&E)", 32784, ""},
        {"添付ファイル全て取消し(&F)", 32776, ""},
        {nullptr, 0, ""},
        {"差替え処理後の本文確認(&V)", 32782, ""},
        {"送信前チェック(&K)", 32793, ""},
        {"送信結果(&R)", 32794, ""}}},
      {"設定(&S)",
       {{"環境設定(&K)", 32771, ""},
        {"メールサーバ設定(&M)", 32772, ""},
        {"アドレス帳の編集", 32773, ""}}},
      {"ﾍﾙﾌﾟ(&H)",
       {{"Velkaro のﾊﾞｰｼﾞｮﾝ情報(&A)...", 57664, ""},
        {"サポートWEBページ", 32791, ""},
        {nullptr, 0, ""},
        {"送信過程詳細", 32792, ""}}},
  };
  const QList<QAction*> popups = frame->menuBar()->actions();
  ASSERT_EQ(popups.size(), static_cast<qsizetype>(expected.size()));
  for (std::size_t p = 0; p < expected.size(); ++p) {
    QMenu* menu = popups[static_cast<qsizetype>(p)]->menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title().toStdString(), expected[p].first);
    const QList<QAction*> items = menu->actions();
    const std::vector<Item>& want = expected[p].second;
    ASSERT_EQ(items.size(), static_cast<qsizetype>(want.size())) << expected[p].first;
    for (std::size_t i = 0; i < want.size(); ++i) {
      QAction* action = items[static_cast<qsizetype>(i)];
      if (want[i].text == nullptr) {
        EXPECT_TRUE(action->isSeparator()) << expected[p].first << " item " << i;
        continue;
      }
      EXPECT_EQ(action->text().toStdString(), want[i].text);
      EXPECT_EQ(action->data().toInt(), want[i].id) << want[i].text;
      EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(want[i].shortcut)))
          << want[i].text;
    }
  }
  // There is no web page to open, and no recipient for a test send yet;
  // everything else can be chosen.
  EXPECT_FALSE(frame->CommandAction(32791)->isEnabled());
  EXPECT_FALSE(frame->CommandAction(32795)->isEnabled());
  EXPECT_TRUE(frame->CommandAction(32778)->isEnabled());
  EXPECT_TRUE(frame->findChildren<QToolBar*>().isEmpty());
}

TEST_F(MainWindowMenu, AMenuItemRunsItsCommand) {
  Start();
  job().recipientLines = Entry("山田", "山田太郎", "yamada@example.jp");
  job().RebuildRecipientList();
  ASSERT_EQ(view().RecipientList()->topLevelItemCount(), 1);
  frame->CommandAction(32775)->trigger();  // remove all recipients
  EXPECT_EQ(job().recipientLines, "");
  EXPECT_EQ(view().RecipientList()->topLevelItemCount(), 0);
  frame->CommandAction(32792)->trigger();  // send details
  EXPECT_EQ(Boxes(), std::vector<std::string>{"詳細情報はありません。"});
}

TEST_F(MainWindowMenu, TheStatusBarShowsThePlatformsTextsAtOnce) {
  Start();
  EXPECT_EQ(frame->StatusText(), QStringLiteral("レディ"));
  qt::QtPlatform host;  // its status texts, as the program wires them
  host.SetStatusSink([this](const QString& text) { frame->ShowStatus(text); });
  host.SetStatusText(Sjis(" 1通目: 山田<yamada@example.jp>"));
  EXPECT_EQ(frame->StatusText(), QStringLiteral(" 1通目: 山田<yamada@example.jp>"));
  // Long texts never widen the window.
  const int width = frame->width();
  host.SetStatusText(std::string(2000, 'x'));
  QCoreApplication::processEvents();
  EXPECT_EQ(frame->width(), width);
}

TEST_F(MainWindowMenu, TheTitleNamesTheBodyFileOrSaysUntitled) {
  const std::string body = home.File("案内.txt");
  WriteBytes(body, S("件名\r\n本文\r\n"));
  Start();
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("無題[*] - Velkaro"));
  ASSERT_EQ(job().LoadBodyFile(body), 0);
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("案内.txt[*] - Velkaro"));
  frame->CommandAction(57600)->trigger();  // new body: unchanged, so no question
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("無題[*] - Velkaro"));
  EXPECT_TRUE(platform.MessageBoxes().empty());
}

TEST_F(MainWindowMenu, OpeningTheProgramFolderThatCannotBeShownSaysSo) {
  Start();
  platform.SetShellOpenResult(false);
  frame->CommandAction(32780)->trigger();
  EXPECT_EQ(platform.ShellOpened(), std::vector<std::string>{home.path()});
  EXPECT_EQ(Boxes(),
            std::vector<std::string>{"ファイル管理ツール(Exploreなど)が起動できませんでした。"});
  // The variant that exits still exits, without the exit question.
  doc->settings.record.confirmExit = 1;
  frame->CommandAction(32781)->trigger();
  platform.Pump();
  platform.Pump();
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(Boxes().size(), 2u);
}

}  // namespace
}  // namespace velkaro::ui::testing
