// The same dialogue against Postfix's smtp-sink, a strict peer: it answers
// only commands that end in CR LF and ends the data only at CR LF "." CR LF.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "peers/peer_fixture.h"

namespace velkaro::testing {
namespace {

struct SinkMail {
  const char* address;
  const char* subject;
  const char* body;
  const char* wantBody;
  bool withAttachments;
};

const SinkMail kSinkMails[] = {
    {"one@example.jp", "ご案内", "本文です。\r\n", "本文です。", false},
    {"two@example.jp", "ドット行", "前\r\n.\r\n.x\r\n後\r\n", "前\n.\n.x\n後", false},
    // Half-width katakana: a UTF-8 text part beside the attachments.
    {"three@example.jp", "添付あり", "ｶﾞｷﾞ\r\n", "ｶﾞｷﾞ", true},
};

TEST_F(PeerTest, StrictSmtpSinkAcceptsTheWholeRun) {
  WriteBytes(dir.File("logo.png"), TinyPng());
  WriteBytes(dir.File("請求書_山田.txt"), PseudoRandomBytes(5000, 9));
  const std::string list = dir.File("logo.png") + "\r\n" + dir.File("請求書_山田.txt") + "\r\n";
  ASSERT_NO_FATAL_FAILURE(StartSink());
  MailConnection& m = NewConnection(Settings(sink.port()));
  ASSERT_EQ(m.SmtpOpen(), 0) << "no answer to EHLO: does the command end in CR LF?";
  for (const SinkMail& s : kSinkMails) {
    EXPECT_EQ(m.SendOneMail(Record(s.subject, s.body, "受取人 鈴木", s.address,
                                   s.withAttachments ? list : "")),
              0)
        << s.subject << "\n"
        << m.GetTranscript();
    m.ResetProgress();
  }
  EXPECT_EQ(m.SmtpQuit(), 0);

  // smtp-sink writes its dump files when the transaction ends.
  std::map<std::string, MailReport> byRecipient;
  for (const std::string& dump : SinkDumps()) {
    MailReport r = Check(dump);
    byRecipient.emplace(r.Get("to.address"), r);
  }
  ASSERT_EQ(byRecipient.size(), std::size(kSinkMails));
  for (const SinkMail& s : kSinkMails) {
    SCOPED_TRACE(s.subject);
    ASSERT_EQ(byRecipient.count(s.address), 1u);
    const MailReport& r = byRecipient.at(s.address);
    EXPECT_EQ(r.Get("subject"), s.subject);
    EXPECT_EQ(r.Get("to.name"), "受取人 鈴木");
    EXPECT_EQ(Normalized(r.Get("body")), s.wantBody);
    EXPECT_EQ(r.Count("attachments"), s.withAttachments ? 2 : 0);
    if (s.withAttachments) {
      EXPECT_EQ(r.Get("attachments.0.filename"), "logo.png");
      EXPECT_EQ(r.Get("attachments.0.sha256"), Sha256(TinyPng()));
      EXPECT_EQ(r.Get("attachments.1.filename"), "請求書_山田.txt");
      EXPECT_EQ(r.Get("attachments.1.sha256"), Sha256(PseudoRandomBytes(5000, 9)));
    }
  }
}

}  // namespace
}  // namespace velkaro::testing
