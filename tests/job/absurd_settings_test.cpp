// A run with the numbers of a hand-edited settings file: whatever the file
// held, the run connects to a real port and paces its data.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "job/run_fixture.h"

namespace velkaro {
namespace {

using testing::WriteBytes;

class AbsurdSettingsTest : public testing::RunTest {};

TEST_F(AbsurdSettingsTest, TheRunUsesUsablePortsAndSpeeds) {
  const struct {
    std::int32_t smtpPort, speed;
    int usedPort;
    const char* pacing;  // as the transcript of the body shows it
  } cases[] = {
      {70000, 0, 25, "(Speed=1)"},    {-1, -5, 25, "(Speed=1)"},
      {0, 1000, 25, "(Speed=100)"},   {INT_MAX, INT_MIN, 25, "(Speed=1)"},
      {587, 100, 587, "(Speed=100)"}, {65535, 1, 65535, "(Speed=1)"},
  };
  testing::CaseCount count;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.smtpPort) + " " + std::to_string(c.speed));
    count.Add("absurd settings");
    SettingsRecord r = DefaultSettingsRecord();
    SetFieldText(r.server.smtpServer, "smtp.test");
    SetFieldText(r.server.senderAddress, "from@example.jp");
    r.server.smtpPort = c.smtpPort;
    r.speed = c.speed;
    WriteBytes(dir.File("Velkaro.cfg"), std::string(reinterpret_cast<const char*>(&r), sizeof r));
    UseProgramFolder(dir.path());
    ASSERT_EQ(settings->LoadSettings(), 0);

    testing::ScriptedServer server;
    network.Add("smtp.test", server);
    AddRecipient(Sjis("山田"), "yamada@example.jp");
    job->bodyText = Sjis("件名\r\n") + std::string(1000, 'x') + "\r\n";
    server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
    server.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    server.Expect("RCPT TO:<yamada@example.jp>\r\n").Send("250 ok\r\n");
    server.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
    server.Expect("QUIT\r\n").Send("221 bye\r\n");
    EXPECT_EQ(job->RunSendJob(), 0);
    EXPECT_EQ(server.Port(), c.usedPort);
    EXPECT_NE(job->DetailsText().find(c.pacing), std::string::npos);
  }
}

}  // namespace
}  // namespace velkaro
