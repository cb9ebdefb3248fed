// The settings sheet's mail page: what it shows from Velkaro.ini [mail],
// what it stores back, which values keep the sheet open, and the round
// trip from the window's menu to the file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTabWidget>

#include "data/velkaro_ini.h"
#include "dialogs_test_util.h"
#include "form_fixture.h"
#include "ui/dialogs/settings_mail_page.h"
#include "ui/dialogs/settings_sheet.h"

namespace velkaro::ui::dialogs {
namespace {

using velkaro::testing::ReadBytes;

class MailSettingsTest : public velkaro::testing::PlatformTest {
 protected:
  MailSettingsTest() {
    EXPECT_EQ(ini.Set("copyToSelf", "1"), 0);
    EXPECT_EQ(ini.Set("replyTo", "山田 <reply@example.jp>"), 0);
    EXPECT_EQ(ini.Set("listUnsubscribe", "https://example.jp/stop?id=((regist))"), 0);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : platform.MessageBoxes()) texts.push_back(SjisToUtf8(box.text));
    return texts;
  }

  SettingsRecord record = DefaultSettingsRecord();
  VelkaroIni ini;
};

TEST_F(MailSettingsTest, ThePageShowsTheIniOnceOpenedAndOnlyThenStoresBack) {
  {
    SettingsSheet sheet(nullptr, record, "/program");
    EXPECT_EQ(sheet.Tabs()->count(), 2);  // no ini, no mail page
  }
  SettingsSheet sheet(nullptr, record, "/program", &ini);
  ASSERT_EQ(sheet.Tabs()->count(), 3);
  EXPECT_EQ(sheet.Tabs()->tabText(SettingsSheet::Mail), QStringLiteral("メール"));
  EXPECT_FALSE(sheet.PageInitialized(SettingsSheet::Mail));
  // Never shown: OK leaves the ini alone.
  VelkaroIni stored = ini;
  stored.Set("cc", "old@example.jp");
  sheet.TakeBackMail(stored);
  EXPECT_EQ(stored.Get("cc"), "old@example.jp");

  sheet.Tabs()->setCurrentIndex(SettingsSheet::Mail);
  ASSERT_TRUE(sheet.PageInitialized(SettingsSheet::Mail));
  MailSettingsPage* page = sheet.MailPage();
  EXPECT_EQ(page->CopyToSelfBox()->text(), QStringLiteral("自分にも送る(送信控え)"));
  EXPECT_TRUE(page->CopyToSelfBox()->isChecked());
  EXPECT_EQ(page->ReplyToEdit()->text(), QStringLiteral("山田 <reply@example.jp>"));
  EXPECT_EQ(page->CcEdit()->text(), QString());
  EXPECT_EQ(page->ListUnsubscribeEdit()->text(),
            QStringLiteral("https://example.jp/stop?id=((regist))"));

  page->CopyToSelfBox()->setChecked(false);
  page->ReplyToEdit()->setText(QStringLiteral("info@example.jp"));
  page->CcEdit()->setText(QStringLiteral(" 上司 <boss@example.jp> "));
  page->ListUnsubscribeEdit()->clear();
  sheet.accept();
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  EXPECT_TRUE(Messages().empty());
  sheet.TakeBackMail(stored);
  EXPECT_EQ(stored.Get("copyToSelf"), "0");
  EXPECT_EQ(stored.Get("replyTo"), "info@example.jp");
  EXPECT_EQ(stored.Get("cc"), "上司 <boss@example.jp>");
  EXPECT_EQ(stored.Get("listUnsubscribe"), "");
}

// Each refused value is named; the sheet stays open on the mail page, also
// when OK is pressed on another page.
TEST_F(MailSettingsTest, RefusedValuesAreNamedAndKeepTheSheetOpen) {
  SettingsSheet sheet(nullptr, record, "/program", &ini);
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Mail);
  MailSettingsPage* page = sheet.MailPage();
  page->CcEdit()->setText(QStringLiteral("a@example.jp,b@example.jp"));
  page->ListUnsubscribeEdit()->setText(QStringLiteral("ftp://example.jp/stop"));
  sheet.Tabs()->setCurrentIndex(SettingsSheet::General);
  sheet.setResult(QDialog::Rejected);
  sheet.accept();
  EXPECT_EQ(sheet.result(), QDialog::Rejected);
  EXPECT_EQ(sheet.Tabs()->currentIndex(), SettingsSheet::Mail);
  ASSERT_EQ(Messages().size(), 1u);
  const std::string text = Messages()[0];
  EXPECT_NE(text.find("使えません"), std::string::npos) << text;
  EXPECT_NE(text.find("Cc"), std::string::npos) << text;
  EXPECT_NE(text.find("List-Unsubscribe"), std::string::npos) << text;
  EXPECT_EQ(text.find("Reply-To"), std::string::npos) << text;

  // Nothing of a refused page reaches the ini, not even its good values.
  VelkaroIni stored = ini;
  page->ReplyToEdit()->setText(QStringLiteral("new@example.jp"));
  sheet.TakeBackMail(stored);
  EXPECT_EQ(stored.Get("replyTo"), "山田 <reply@example.jp>");
  EXPECT_EQ(stored.Get("cc"), "");

  page->CcEdit()->setText(QStringLiteral("b@example.jp"));
  page->ListUnsubscribeEdit()->setText(QStringLiteral("mailto:stop@example.jp"));
  sheet.accept();
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace velkaro::ui::dialogs

namespace velkaro::ui::testing {
namespace {

using dialogs::SettingsSheet;
using dialogs::testing::WhenModal;

class MailSettingsFromTheWindow : public FrameTest {};

TEST_F(MailSettingsFromTheWindow, OkWritesThePageIntoVelkaroIni) {
  Start();
  bool shown = false;
  WhenModal([&](QDialog* d) {
    auto* sheet = dynamic_cast<SettingsSheet*>(d);
    ASSERT_NE(sheet, nullptr);
    shown = true;
    sheet->Tabs()->setCurrentIndex(SettingsSheet::Mail);
    sheet->MailPage()->CopyToSelfBox()->setChecked(true);
    sheet->MailPage()->ReplyToEdit()->setText(QStringLiteral("info@example.jp"));
    sheet->OkButton()->click();
  });
  frame->OnCommand(kCmdSettings);
  ASSERT_TRUE(shown);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(doc->settings.ini.Get("copyToSelf"), "1");
  EXPECT_EQ(doc->settings.ini.Get("replyTo"), "info@example.jp");
  const std::string file = ReadBytes(doc->settings.ini.Path());
  EXPECT_NE(file.find("[mail]"), std::string::npos) << file;
  EXPECT_NE(file.find("copyToSelf=1"), std::string::npos) << file;
  EXPECT_NE(file.find("replyTo=info@example.jp"), std::string::npos) << file;

  // A fresh load reads them back into the page.
  VelkaroIni again(doc->settings.ini.Path());
  ASSERT_EQ(again.Load(), 0);
  SettingsSheet sheet(nullptr, doc->settings.record, "/program", &again);
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Mail);
  EXPECT_TRUE(sheet.MailPage()->CopyToSelfBox()->isChecked());
  EXPECT_EQ(sheet.MailPage()->ReplyToEdit()->text(), QStringLiteral("info@example.jp"));
}

}  // namespace
}  // namespace velkaro::ui::testing
