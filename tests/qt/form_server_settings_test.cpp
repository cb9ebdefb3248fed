// The server dialog as the menu command runs it: OK writes "Velkaro.cfg"
// and "Velkaro.ini", keeps what the ini holds beyond the dialog's fields,
// and says which file could not be written.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <filesystem>

#include "dialogs_test_util.h"
#include "form_fixture.h"
#include "ui/dialogs/server_dialog.h"

namespace velkaro::ui {
namespace {

using dialogs::ServerDialog;
using dialogs::testing::WhenModal;

class ServerCommandTest : public testing::FrameTest {
 protected:
  // Runs the menu command; the dialog switches to SSL/TLS and gets a user.
  void ChangeAndOk() {
    WhenModal([](QDialog* d) {
      auto* dialog = dynamic_cast<ServerDialog*>(d);
      ASSERT_NE(dialog, nullptr);
      dialog->FieldEdit(ServerDialog::SmtpServer)->setText(QStringLiteral("smtp.example.jp"));
      dialog->ChoiceBox(ServerDialog::SmtpSecurityChoice)->setCurrentIndex(2);
      dialog->FieldEdit(ServerDialog::SmtpUser)->setText(QStringLiteral("taro"));
      dialog->OkButton()->click();
    });
    frame->OnCommand(kCmdServer);
  }
};

TEST_F(ServerCommandTest, OkWritesBothFilesAndKeepsWhatTheDialogDoesNotShow) {
  const std::string ini = File("Velkaro.ini",
                               "; written by hand\n"
                               "[smtp]\n"
                               "heloName=client.example.jp\n"
                               "futureKey=kept\n");
  Start();
  ChangeAndOk();
  EXPECT_TRUE(Boxes().empty());
  const std::string text = testing::ReadBytes(ini);
  for (const char* line : {"; written by hand", "heloName=client.example.jp", "futureKey=kept",
                           "smtpSecurity=tls", "smtpUser=taro"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " missing in:\n" << text;
  }
  Settings reread;
  ASSERT_EQ(reread.LoadSettings(), 0);
  EXPECT_EQ(FieldText(reread.record.server.smtpServer), "smtp.example.jp");
  EXPECT_EQ(reread.record.server.smtpPort, 465);  // proposed by the mode over the usual 25
}

TEST_F(ServerCommandTest, AnIniThatCannotBeWrittenIsReportedByName) {
  std::filesystem::create_directory(home.File("Velkaro.ini"));
  Start();
  ChangeAndOk();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], "設定ファイルを保存できませんでした。\r\n" + home.File("Velkaro.ini"));
  // The record's file is written all the same.
  Settings reread;
  ASSERT_EQ(reread.LoadSettings(), 0);
  EXPECT_EQ(FieldText(reread.record.server.smtpServer), "smtp.example.jp");
}

}  // namespace
}  // namespace velkaro::ui
