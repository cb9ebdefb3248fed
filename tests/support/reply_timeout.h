// Stands in for the main form's share of the reply time-out: when timer 220
// fires, the waiting reply read of the connection gives up.
#pragma once

#include "mail/mail_connection.h"
#include "platform/platform.h"

namespace velkaro::testing {

class ReplyTimeout final : public TimerTarget {
 public:
  void OnTimer(int id) override {
    CurrentPlatform().StopTimer(this, id);
    if (id == MailConnection::kReplyTimerId && connection != nullptr) connection->replyWaiting = 0;
  }
  MailConnection* connection = nullptr;
};

}  // namespace velkaro::testing
