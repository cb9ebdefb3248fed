// The stop request during a transmission.
#include <gtest/gtest.h>

#include "mail/mail_connection.h"

namespace velkaro {
namespace {

TEST(StopRequest, IsNeverLostNorUndone) {
  const struct {
    int speed;
    int sendingData;
    int requests;
    int after;
  } cases[] = {
      {5, 1, 1, -5}, {5, 0, 1, 5},      {5, 1, 2, -5},  // a second click keeps the stop
      {0, 1, 1, -1}, {100, 1, 3, -100}, {1, 1, 1, -1},
  };
  for (const auto& c : cases) {
    MailConnection mail;
    mail.SetSpeed(c.speed);
    mail.progress.sendingData = c.sendingData;
    for (int i = 0; i < c.requests; ++i) mail.RequestStop();
    EXPECT_EQ(mail.speed, c.after) << "speed " << c.speed << ", " << c.requests << " requests";
  }
}

}  // namespace
}  // namespace velkaro
