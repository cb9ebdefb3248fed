// Several mails over one SMTP connection to a real receiver (aiosmtpd).
#include <gtest/gtest.h>

#include <ctime>
#include <ostream>
#include <regex>
#include <set>
#include <string>

#include "peers/peer_fixture.h"

namespace velkaro::testing {
namespace {

struct Outgoing {
  const char* recipientName;
  const char* address;
  const char* subject;
  const char* body;
  bool withAttachment;
};

const Outgoing kRun[] = {
    {"受取人 鈴木", "suzuki@example.jp", "一通目", "鈴木様\r\n.\r\n", false},
    {"受取人 佐藤", "sato@example.jp", "二通目", "佐藤様\r\nｶﾞｷﾞ\r\n", true},
    {"受取人 高橋", "takahashi@example.jp", "三通目", "高橋様\r\n", false},
    {"受取人 田中", "tanaka@example.jp", "四通目", "田中様\r\n..\r\n", false},
};

TEST_F(PeerTest, SeveralMailsShareOneConnectionAndDistinctMessageIds) {
  WriteBytes(dir.File("logo.png"), TinyPng());
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  MailConnection& m = NewConnection(Settings(receiver.port()));
  ASSERT_EQ(m.SmtpOpen(), 0);
  for (const Outgoing& o : kRun) {
    // All mails start in the same second of the clock: their ids must still
    // differ.
    platform.SetLocalTime(2026, 12, 8, 9, 30, 0);
    const std::string list = o.withAttachment ? dir.File("logo.png") + "\r\n" : "";
    EXPECT_EQ(m.SendOneMail(Record(o.subject, o.body, o.recipientName, o.address, list)), 0)
        << o.subject << "\n"
        << m.GetTranscript();
    m.ResetProgress();
  }
  EXPECT_EQ(m.SmtpQuit(), 0);

  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), std::size(kRun));
  std::set<std::string> peers;
  std::set<std::string> ids;
  std::set<std::string> seconds;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(kRun[i].subject);
    const auto envelope = Envelope(messages[i]);
    peers.insert(First(envelope, "peer"));
    EXPECT_EQ(First(envelope, "rcpt_to"), kRun[i].address);
    EXPECT_EQ(envelope.count("rcpt_to"), 1u);
    const MailReport r = Check(messages[i]);
    EXPECT_EQ(r.Get("subject"), kRun[i].subject);
    EXPECT_EQ(r.Get("to.name"), kRun[i].recipientName);
    EXPECT_EQ(r.Get("to.address"), kRun[i].address);
    EXPECT_EQ(r.Count("attachments"), kRun[i].withAttachment ? 1 : 0);
    const std::string id = r.Get("message_id");
    EXPECT_TRUE(
        std::regex_match(id, std::regex(R"(<\d{14}\.\d+\.[0-9a-f]{16}_velkaro@[^<>@\s]+>)")))
        << id;
    ids.insert(id);
    seconds.insert(id.substr(1, 14));
  }
  EXPECT_EQ(peers.size(), 1u) << "the mails came over more than one connection";
  EXPECT_EQ(ids.size(), std::size(kRun)) << "Message-Ids repeat";
  // Without two mails in one second the check above proves little.
  EXPECT_LT(seconds.size(), std::size(kRun));
}

// The Date and the time in the Message-Id follow the platform's clock and
// its zone.
struct ZoneCase {
  const char* name;
  long utcOffset;  // seconds east of UTC
};

void PrintTo(const ZoneCase& c, std::ostream* os) {
  *os << c.name;
}

const ZoneCase kZoneCases[] = {
    {"japan", 9 * 3600},
    {"utc", 0},
    {"new_york", -5 * 3600},
    {"india_half_hour", 5 * 3600 + 1800},
};

class MailDateTest : public PeerTest, public ::testing::WithParamInterface<ZoneCase> {};

TEST_P(MailDateTest, DateAndMessageIdFollowTheLocalClock) {
  const ZoneCase& c = GetParam();
  platform.SetUtcOffset(c.utcOffset);
  platform.SetLocalTime(2026, 12, 8, 23, 59, 59);
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  MailConnection& m = NewConnection(Settings(receiver.port()));
  ASSERT_EQ(m.SmtpOpen(), 0);
  const std::time_t from = platform.Now();
  EXPECT_EQ(m.SendOneMail(Record("日付", "本文\r\n", "受取人 鈴木", "suzuki@example.jp")), 0);
  const std::time_t until = platform.Now();
  EXPECT_EQ(m.SmtpQuit(), 0);
  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u);
  const MailReport r = Check(messages[0]);
  SCOPED_TRACE(r.Get("date") + " / " + r.Get("message_id"));
  // Inside the send, in UTC; the Message-Id's time is the Date's local time.
  ExpectWellFormed(r, from, until);
  EXPECT_EQ(r.Get("date_offset"), std::to_string(c.utcOffset));
  ASSERT_FALSE(r.Get("date_utc").empty());
  const std::time_t shifted = std::stoll(r.Get("date_utc")) + c.utcOffset;
  std::tm local{};
  ::gmtime_r(&shifted, &local);
  char want[32];
  std::strftime(want, sizeof want, "%Y%m%d%H%M%S", &local);
  EXPECT_EQ(r.Get("date_local"), want);
}

INSTANTIATE_TEST_SUITE_P(Peers, MailDateTest, ::testing::ValuesIn(kZoneCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkaro::testing
