#include "job/run_fixture.h"

#include <algorithm>

namespace velkaro::testing {

class ReceivingSocket final : public StreamSocket {
 public:
  explicit ReceivingSocket(ReceivingServer& server) : server_(server) {}
  bool Create() override { return true; }
  bool Connect(const std::string&, int) override {
    ++server_.connects_;
    server_.outgoing_ = "220 ready\r\n";
    open_ = true;
    return true;
  }
  int Send(const char* data, int length) override {
    if (!open_) return -1;
    server_.Take(data, length);
    return length;
  }
  bool ReadableBytes(int& count) override {
    count = static_cast<int>(server_.outgoing_.size());
    return open_;
  }
  int Receive(char* buffer, int capacity) override {
    if (!open_) return -1;
    const int n = std::min(capacity, static_cast<int>(server_.outgoing_.size()));
    std::copy_n(server_.outgoing_.data(), n, buffer);
    server_.outgoing_.erase(0, static_cast<std::size_t>(n));
    return n;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }

 private:
  ReceivingServer& server_;
  bool open_ = false;
};

std::unique_ptr<StreamSocket> ReceivingServer::NewSocket() {
  return std::make_unique<ReceivingSocket>(*this);
}

void ReceivingServer::Take(const char* data, int length) {
  for (int i = 0; i < length; ++i) {
    if (inData_) {
      data_ += data[i];
      // RFC 5321 4.1.1.4: the data ends with a line holding only ".".
      if (data_.size() >= 5 && data_.compare(data_.size() - 5, 5, "\r\n.\r\n") == 0) {
        // The mail: without the leading line end and the "." line.
        mails_.push_back(data_.substr(2, data_.size() - 5));
        data_.clear();
        inData_ = false;
        outgoing_ += "250 queued\r\n";
      }
      continue;
    }
    line_ += data[i];
    if (line_.size() >= 2 && line_.compare(line_.size() - 2, 2, "\r\n") == 0) {
      Answer(line_.substr(0, line_.size() - 2));
      line_.clear();
    }
  }
}

void ReceivingServer::Answer(const std::string& line) {
  commands_.push_back(line);
  if (line == "DATA") {
    // The first data line may be the "." line of an empty mail.
    data_ = "\r\n";
    inData_ = true;
    outgoing_ += "354 go\r\n";
  } else if (line == "QUIT") {
    outgoing_ += "221 bye\r\n";
  } else {
    outgoing_ += "250 ok\r\n";
  }
}

RunTest::RunTest() {
  platform.SetLocalTime(2026, 12, 6, 9, 30, 15);
  network.Add("smtp.test", smtp);
  platform.SetSocketFactory([this] { return network.NewSocket(); });
  UseProgramFolder(dir.path());
}

void RunTest::UseProgramFolder(const std::string& folder) {
  platform.SetProgramFolder(folder);
  job.reset();
  settings = std::make_unique<Settings>();
  SetFieldText(settings->record.server.smtpServer, "smtp.test");
  SetFieldText(settings->record.server.senderAddress, "from@example.jp");
  job = std::make_unique<SendJob>(*settings);
}

void RunTest::UseReceivingServer() {
  platform.SetSocketFactory([this] { return receiver.NewSocket(); });
}

void RunTest::AddRecipient(const std::string& sjisName, const std::string& address) {
  job->recipientLines += Sjis("よみ\t登録\t") + sjisName + "\t" + address + "\t\t\t\t\t\t\r\n";
}

void RunTest::Greeting() {
  smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
}

void RunTest::Accepted(const std::string& to) {
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<" + to + ">\r\n").Send("250 ok\r\n");
  smtp.Expect("DATA\r\n").Send("354 go\r\n");
  smtp.ExpectThrough("\r\n.\r\n").Send("250 queued\r\n");
}

void RunTest::Quit() {
  smtp.Expect("QUIT\r\n").Send("221 bye\r\n");
}

std::vector<std::string> RunTest::Statuses() const {
  std::vector<std::string> out;
  for (const auto& s : platform.StatusTexts()) out.push_back(SjisToUtf8(s));
  return out;
}

std::string RunTest::LastStatus() const {
  const auto& all = platform.StatusTexts();
  return all.empty() ? std::string() : SjisToUtf8(all.back());
}

}  // namespace velkaro::testing
