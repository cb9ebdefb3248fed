// A mail stopped in the middle of its data, against real receivers: the
// connection is dropped before the end of data, so the receiver throws the
// mail away, and the next mail on a new connection arrives whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "peers/peer_fixture.h"

namespace velkaro::testing {
namespace {

struct DropCase {
  const char* name;
  bool sink;  // Postfix's smtp-sink, else aiosmtpd
};

class DroppedData : public PeerTest, public ::testing::WithParamInterface<DropCase> {
 protected:
  std::vector<std::string> Stored() const {
    return GetParam().sink ? SinkDumps() : ReceivedMessages();
  }
};

TEST_P(DroppedData, AStoppedMailIsDiscardedAndTheNextArrives) {
  const std::string attachment = dir.File("large.bin");
  WriteBytes(attachment, PseudoRandomBytes(200000, 3));
  if (GetParam().sink) {
    ASSERT_NO_FATAL_FAILURE(StartSink());
  } else {
    ASSERT_NO_FATAL_FAILURE(StartReceiver());
  }
  CaseCount count;
  count.Add("stop");
  const int port = GetParam().sink ? sink.port() : receiver.port();
  MailConnection& m = NewConnection(Settings(port));
  ASSERT_EQ(m.SmtpOpen(), 0);
  bool stopped = false;
  platform.SetPumpHook([&] {
    if (!stopped && m.progress.attachmentIndex == 1 && m.progress.dataSent > 64 * 100) {
      stopped = true;
      m.RequestStop();
    }
  });
  EXPECT_EQ(m.SendOneMail(Record("止めた案内", "本文\r\n", "受取人 鈴木", "stopped@example.jp",
                                 attachment + "\r\n")),
            21)
      << m.GetTranscript();
  platform.SetPumpHook(nullptr);
  ASSERT_TRUE(stopped);
  EXPECT_EQ(m.smtpOpen, 0);

  ASSERT_EQ(m.SmtpOpen(), 0);
  m.ResetProgress();
  EXPECT_EQ(m.SendOneMail(Record("次の案内", "本文\r\n", "受取人 鈴木", "next@example.jp")), 0)
      << m.GetTranscript();
  EXPECT_EQ(m.SmtpQuit(), 0);

  const std::vector<std::string> stored = Stored();
  ASSERT_EQ(stored.size(), 1u);
  const MailReport report = Check(stored[0]);
  EXPECT_EQ(report.Get("subject"), "次の案内");
  EXPECT_EQ(report.Get("to.address"), "next@example.jp");
}

INSTANTIATE_TEST_SUITE_P(Receivers, DroppedData,
                         ::testing::Values(DropCase{"aiosmtpd", false},
                                           DropCase{"smtp_sink", true}),
                         [](const ::testing::TestParamInfo<DropCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace velkaro::testing
