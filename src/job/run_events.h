// What a send run reports while it works, as structured events: the
// window's status bar, sounds and log and velkaro-send's progress and report
// are made from these, so that no front end reads the status texts back.
#pragma once

#include <functional>
#include <string>

namespace velkaro {

enum class RunEventKind {
  RunStarted,       // `count` recipients
  MailStarted,      // mail `mail` (0-based) begins; `attempt` counts from 1
  MailSent,         // the server accepted mail `mail`
  MailRefused,      // mail `mail` failed with the run's `code`, `reply`
  MailInDoubt,      // the end of data of mail `mail` got no reply
  MailSkipped,      // mail `mail` is left out by this run
  ConnectionLost,   // the SMTP connection went away during mail `mail`
  Reconnecting,     // a new connection for try `attempt` after `seconds`
  WaitingForLimit,  // `seconds` to wait because of the setting `reason`
  RunEnded,         // the run's result `code`
};

struct RunEvent {
  RunEventKind kind = RunEventKind::RunStarted;
  int mail = -1;
  int count = 0;
  int code = 0;
  int attempt = 0;
  int seconds = 0;
  std::string reply{};   // the server's reply line, printable ASCII
  std::string reason{};  // the setting a wait is for: "mailsPerMinute", …
};

using RunEventSink = std::function<void(const RunEvent&)>;

}  // namespace velkaro
