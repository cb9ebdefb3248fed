// The run's status texts on standard error. On a terminal they share one
// line that is redrawn in place; elsewhere (a log file, a pipe) each new
// text is a line of its own. Once a recipient's mail has started, its
// number and the count of mails stand in front: "[2/3] …". The run's
// events say which mail is under way and when the result text comes.
#pragma once

#include <functional>
#include <string>

#include "job/run_events.h"

namespace velkaro::cli {

class ProgressDisplay {
 public:
  using Writer = std::function<void(const std::string& bytes)>;

  // `columns`: the terminal's width (only used when `terminal`).
  ProgressDisplay(Writer write, bool terminal, int columns);

  void SetTotal(int mails) { total_ = mails; }
  // A status text (UTF-8) as the run sets it.
  void Status(const std::string& utf8Text);
  // An event of the run: a mail started, the run ended.
  void Event(const RunEvent& event);
  // Lines that must stay readable (a message box), each ending in "\n".
  void Message(const std::string& utf8Lines);
  // Ends a line still being redrawn.
  void Finish();

  // The 1-based number of the mail last started, 0 before the first.
  int CurrentMail() const { return current_; }
  // The last status text (trimmed), e.g. the run's result text.
  const std::string& LastStatus() const { return lastStatus_; }

  // Columns a UTF-8 text takes on a terminal (East Asian wide and
  // full-width characters count two, half-width katakana one).
  static int DisplayWidth(const std::string& utf8);
  // The longest beginning of `utf8` that fits in `columns`, cut on a
  // character boundary.
  static std::string FitWidth(const std::string& utf8, int columns);

 private:
  void ClearLiveLine();

  Writer write_;
  bool terminal_;
  int columns_;
  int total_ = 0;
  int current_ = 0;
  bool live_ = false;     // a redrawn line is on the screen
  bool ended_ = false;    // the run has ended: the next text is its result
  std::string lastLine_;  // last line shown, with its count
  std::string lastStatus_;
};

}  // namespace velkaro::cli
