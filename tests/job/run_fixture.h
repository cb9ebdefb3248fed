// A send run against scripted servers, shared by the run tests that look at
// bad input and file faults: one job with its settings, a scripted SMTP
// server, and a receiving SMTP server for big mails that keeps every mail's
// data without a script.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "job/send_job.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro::testing {

// An SMTP server that accepts every mail: it answers each command line,
// keeps the data of every mail (up to and without the final ".") and looks
// only at the newest bytes, so that megabytes of data cost no more than
// reading them once.
class ReceivingServer {
 public:
  std::unique_ptr<StreamSocket> NewSocket();

  const std::vector<std::string>& Mails() const { return mails_; }
  const std::vector<std::string>& Commands() const { return commands_; }
  int Connects() const { return connects_; }

 private:
  friend class ReceivingSocket;
  void Take(const char* data, int length);
  void Answer(const std::string& line);

  std::vector<std::string> mails_;
  std::vector<std::string> commands_;
  std::string line_;
  std::string data_;
  bool inData_ = false;
  std::string outgoing_;
  int connects_ = 0;
};

// A job, its settings and a scripted SMTP server "smtp.test"; the sender is
// from@example.jp and the program folder a fresh temporary folder.
class RunTest : public PlatformTest {
 protected:
  RunTest();
  // Moves the program folder; the settings and the job are made anew.
  void UseProgramFolder(const std::string& folder);
  // Points the run at the receiving server instead of the scripted one.
  void UseReceivingServer();

  void AddRecipient(const std::string& sjisName, const std::string& address);
  void Greeting();
  void Accepted(const std::string& to);
  void Quit();
  // The status texts the run showed, in UTF-8.
  std::vector<std::string> Statuses() const;
  std::string LastStatus() const;

  TempDir dir;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<SendJob> job;
  ScriptedServer smtp;
  ReceivingServer receiver;
  ScriptedNetwork network;
};

}  // namespace velkaro::testing
