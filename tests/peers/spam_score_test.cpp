// What a receiver's spam filter makes of a mail velkaro-send delivers:
// SpamAssassin (local rules only) scores the stored mail next to a
// reference of the same content made by Python's email package
// (spam_compare.py). Every rule the mail hits beyond the reference is a
// trait of the way Velkaro writes mails, and fails the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "peers/peer_fixture.h"
#include "peers/program_run.h"

namespace velkaro::testing {
namespace {

bool Installed(const std::string& command) {
  bool ok = false;
  RunCommand("command -v " + command + " >/dev/null 2>&1", "", &ok);
  return ok;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

TEST_F(PeerTest, SpamAssassinFindsNothingInTheSentMailThatAPlainMailLacks) {
  if (!Installed("spamassassin")) GTEST_SKIP() << "spamassassin is not installed";
  ASSERT_TRUE(std::filesystem::exists(VELKARO_SEND_PROGRAM)) << VELKARO_SEND_PROGRAM;

  // A program folder with one recipient, a body with a placeholder (its
  // first line is the subject) and two files to attach.
  const std::string home = dir.File("home");
  std::filesystem::create_directories(home);
  WriteBytes(home + "/VelkaroAddress.txt",
             Utf8ToSjis("読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\t"
                        "データ３\tデータ４\r\n"
                        "すずき\t鈴木\t鈴木 一郎\tsuzuki@example.jp\t\t\t会員\t\t\t\r\n"));
  const std::string bodyFile = dir.File("案内.txt");
  WriteBytes(bodyFile, Utf8ToSjis("((name))様 12月のご請求について\r\n"
                                  "((name))様（((data1))）\r\n"
                                  "\r\n"
                                  "いつもお世話になっております。\r\n"
                                  "12月分の請求書と明細をお送りします。\r\n"
                                  "ご確認のほど、よろしくお願いいたします。\r\n"
                                  "\r\n"
                                  "ベルカロ商事 山田\r\n"));
  const std::string textFile = dir.File("明細.txt");
  const std::string pdfFile = dir.File("請求書_12月.pdf");
  WriteBytes(textFile, Utf8ToSjis("品名\t数量\t金額\r\n保守契約\t1\t12,000円\r\n"));
  WriteBytes(pdfFile, "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n" +
                          PseudoRandomBytes(2000, 11) + "\n%%EOF\n");

  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  const auto send = [&](const std::vector<std::string>& args) {
    return RunProgram(VELKARO_SEND_PROGRAM, args, {"VELKARO_HOME=" + home});
  };
  const ProgramRun configure =
      send({"--set", "smtpServer=127.0.0.1", "--set", "smtpPort=" + std::to_string(receiver.port()),
            "--set", "popServer=", "--set", "senderName=差出人 山田", "--set",
            "senderAddress=sender@example.com"});
  ASSERT_EQ(configure.status, 0) << Describe(configure);
  const ProgramRun run =
      send({"--to", "鈴木", "--text", bodyFile, "--attach", textFile, "--attach", pdfFile});
  ASSERT_EQ(run.status, 0) << Describe(run);
  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u) << ReceiverSessionLog();

  // Both readers see the mail as it was meant.
  const std::string subject = "鈴木 一郎様 12月のご請求について";
  const std::string body =
      "鈴木 一郎様（会員）\n\nいつもお世話になっております。\n"
      "12月分の請求書と明細をお送りします。\nご確認のほど、よろしくお願いいたします。\n\n"
      "ベルカロ商事 山田";
  const MailReport r = CheckWithBoth(messages[0]);
  SCOPED_TRACE(r.Dump());
  // No header of the mail, nor the mail itself, drew a complaint (the
  // parts' headers are the attachment tests' concern).
  EXPECT_EQ(r.Dump().find("\nheader_defects."), std::string::npos)
      << "Python's email complained about a header of the mail";
  EXPECT_EQ(r.Get("subject"), subject);
  EXPECT_EQ(r.Get("from.name"), "差出人 山田");
  EXPECT_EQ(r.Get("to.name"), "鈴木 一郎");
  EXPECT_EQ(r.Get("to.address"), "suzuki@example.jp");
  EXPECT_EQ(Normalized(r.Get("body")), body);
  ASSERT_EQ(r.Count("attachments"), 2);
  EXPECT_EQ(r.Get("attachments.0.filename"), "明細.txt");
  EXPECT_EQ(r.Get("attachments.0.sha256"), Sha256(ReadBytes(textFile)));
  EXPECT_EQ(r.Get("attachments.1.filename"), "請求書_12月.pdf");
  EXPECT_EQ(r.Get("attachments.1.content_type"), "application/pdf");
  EXPECT_EQ(r.Get("attachments.1.sha256"), Sha256(ReadBytes(pdfFile)));

  // The reference carries the same texts and files; SpamAssassin runs
  // once over both (its start-up takes seconds).
  const std::string bodyUtf8 = dir.File("reference-body.txt");
  WriteBytes(bodyUtf8, body + "\n");
  bool ok = false;
  const std::string output = RunCommand(
      "timeout 180 /usr/bin/python3 " +
          Quote(std::string(VELKARO_SOURCE_DIR) + "/tests/peers/spam_compare.py") + " --mail " +
          Quote(messages[0]) + " --reference-out " + Quote(dir.File("reference.eml")) + " --home " +
          Quote(dir.File("spamassassin")) + " --from-name " + Quote("差出人 山田") +
          " --from-address sender@example.com --to-name " + Quote("鈴木 一郎") +
          " --to-address suzuki@example.jp --subject " + Quote(subject) + " --body-file " +
          Quote(bodyUtf8) + " --attach " + Quote(textFile) + " --attach " + Quote(pdfFile) +
          " 2>&1",
      "", &ok);
  ASSERT_TRUE(ok) << "spam_compare.py failed:\n" << output;
  const MailReport spam = MailReport::Parse(output);
  // The reference itself reads back as the same mail, so the two differ
  // only in how they are written.
  const MailReport reference = Check(dir.File("reference.eml"));
  EXPECT_EQ(reference.Get("subject"), subject);
  EXPECT_EQ(Normalized(reference.Get("body")), body);
  EXPECT_EQ(reference.Get("attachments.1.sha256"), r.Get("attachments.1.sha256"));

  EXPECT_FALSE(spam.Get("mail.score").empty()) << output;
  EXPECT_EQ(spam.Get("only_mail"), "")
      << "rules only Velkaro's mail hits\n"
      << "Velkaro's mail (score " << spam.Get("mail.score") << "): " << spam.Get("mail.tests")
      << "\n"
      << spam.Get("mail.report") << "\nreference (score " << spam.Get("reference.score")
      << "): " << spam.Get("reference.tests") << "\n"
      << spam.Get("reference.report");
  // Shown in the test's output either way.
  std::cout << "SpamAssassin, Velkaro's mail: " << spam.Get("mail.tests") << " (score "
            << spam.Get("mail.score")
            << ")\nSpamAssassin, reference: " << spam.Get("reference.tests") << " (score "
            << spam.Get("reference.score") << ")\n";
}

}  // namespace
}  // namespace velkaro::testing
