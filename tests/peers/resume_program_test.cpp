// velkaro-send killed in the middle of a run and taken up again with
// --resume, as a user meets it: the built program, a program folder of its
// own (VELKARO_HOME), a real aiosmtpd on 127.0.0.1 (faulty_receiver.py) that
// holds the program at a chosen point of a chosen mail, and SIGKILL at that
// point. Over all the runs each recipient must get exactly one copy, a mail
// that may have arrived must never go out twice unless asked for, and a run
// that goes on past refusals and lost connections must list each outcome.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "job/run_journal.h"
#include "peers/peer_fixture.h"
#include "peers/program_run.h"

extern char** environ;

namespace velkaro::testing {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kReachTimeoutMs = 30000;

bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

long long MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool ReceiverUsable() {
  static const bool usable =
      std::filesystem::exists(kPython) &&
      std::system((std::string(kPython) + " -c 'import aiosmtpd' >/dev/null 2>&1").c_str()) == 0;
  return usable;
}

std::string Address(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "r%02d@example.jp", n);
  return text;
}

// 30 registered names (family names) with a given name each: "佐藤 太郎".
const char* const kFamily[] = {"佐藤", "鈴木", "高橋", "田中", "伊藤",   "渡辺", "山本", "中村",
                               "小林", "加藤", "吉田", "山田", "佐々木", "山口", "松本", "井上",
                               "木村", "林",   "斎藤", "清水", "山崎",   "森",   "池田", "橋本",
                               "阿部", "石川", "山下", "中島", "石井",   "小川"};
const char* const kGiven[] = {"太郎", "花子", "一郎", "美咲", "健太", "由美"};
constexpr int kMostRecipients = 30;

std::string FullName(int n) {
  return std::string(kFamily[n - 1]) + " " + kGiven[(n - 1) % 6];
}

// velkaro-send started as a child of the test, so that the test can kill it
// at the moment the receiver has it where the case wants it. Its outputs go
// to files (no pipe can fill up while nobody reads it).
class SendChild {
 public:
  ~SendChild() { Kill(); }

  bool Start(const std::vector<std::string>& args, const std::string& home,
             const std::string& outputBase) {
    outPath_ = outputBase + ".out";
    errPath_ = outputBase + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> variables;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "VELKARO_", 8) != 0) variables.push_back(*e);
    }
    variables.push_back("VELKARO_HOME=" + home);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = {VELKARO_SEND_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }

  // Waits for `file` to appear; false when the program ended first or the
  // wait took too long.
  bool WaitForFile(const std::string& file) {
    const long long deadline = MonotonicMs() + kReachTimeoutMs;
    while (MonotonicMs() < deadline) {
      if (std::filesystem::exists(file)) return true;
      int status = 0;
      if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return std::filesystem::exists(file);
      }
      ::usleep(2000);
    }
    return false;
  }

  // SIGKILL, as a crash or a power cut leaves the program: nothing of its
  // own runs after it.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  std::string Outputs() const {
    return "--- stdout ---\n" + ReadBytes(outPath_) + "\n--- stderr ---\n" + ReadBytes(errPath_);
  }

 private:
  pid_t pid_ = -1;
  std::string outPath_;
  std::string errPath_;
};

// One row of the result list.
struct ResultRow {
  std::string name;
  std::string address;
  std::string outcome;
  std::string code;
  std::string reply;
};

// RFC 4180 fields of one CR LF line (no line ends inside fields here).
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

class ResumeProgramTest : public PeerTest {
 protected:
  void SetUp() override {
    if (!ReceiverUsable()) GTEST_SKIP() << "needs " << kPython << " with aiosmtpd";
    PeerTest::SetUp();
    ASSERT_TRUE(std::filesystem::exists(VELKARO_SEND_PROGRAM)) << VELKARO_SEND_PROGRAM;
    home = dir.File("home");
    std::filesystem::create_directories(home);
    body = dir.File("案内.txt");
    WriteBytes(body, Utf8ToSjis("((name))様へのご案内\r\n"
                                "((name))様\r\n"
                                "((data1))\r\n"
                                "ﾃｽﾄ送信です。宛先: ((mailaddr))\r\n"));
  }

  // The address book with recipients 1 … count (registered under their
  // family names). Recipient `large` carries member notes of about 6 MB in
  // data1: more than the socket buffers of both ends hold, so a receiver
  // that stops reading its data holds the program inside that mail.
  void WriteAddressBook(int count, int large = 0) {
    std::string book = Utf8ToSjis(
        "読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\tデータ３\tデータ４\r"
        "\n");
    for (int n = 1; n <= count; ++n) {
      std::string notes;
      if (n == large) {
        const std::string piece = Utf8ToSjis("会員情報の長い欄です。ABCDEFG 0123456789 ");
        notes.reserve(piece.size() * 150000);
        for (int i = 0; i < 150000; ++i) notes += piece;
      }
      book += Utf8ToSjis("よみ\t" + std::string(kFamily[n - 1]) + "\t" + FullName(n) + "\t" +
                         Address(n) + "\t\t\t") +
              notes + "\t\t\t\r\n";
    }
    WriteBytes(home + "/VelkaroAddress.txt", book);
  }

  std::vector<std::string> SendArgs(int count) const {
    std::vector<std::string> args;
    for (int n = 1; n <= count; ++n) args.insert(args.end(), {"--to", kFamily[n - 1]});
    args.insert(args.end(), {"--text", body});
    return args;
  }

  // The receiver with its rules ("ACTION=ADDRESS"), and the program folder's
  // settings pointed at it: no POP, the fastest pace, and `run` ([run]
  // settings of Velkaro.ini as "name=value").
  void Start(const std::vector<std::string>& rules, const std::vector<std::string>& run) {
    std::vector<std::string> argv = {
        kPython, std::string(VELKARO_SOURCE_DIR) + "/tests/peers/faulty_receiver.py",
        dir.File("received")};
    for (const std::string& rule : rules) argv.insert(argv.end(), {"--rule", rule});
    ASSERT_TRUE(receiver.Start(argv, dir.File("receiver.log"), kStartTimeoutMs))
        << receiver.error() << "\n"
        << ReadBytes(dir.File("receiver.log"));
    std::vector<std::string> args = {"--set", "smtpServer=127.0.0.1",
                                     "--set", "smtpPort=" + std::to_string(receiver.port()),
                                     "--set", "popServer=",
                                     "--set", "senderName=差出人 山田",
                                     "--set", "senderAddress=sender@example.com",
                                     "--set", "speed=100"};
    for (const std::string& setting : run) args.insert(args.end(), {"--set", setting});
    const ProgramRun configured = Run(args);
    ASSERT_EQ(configured.status, 0) << Describe(configured);
  }

  ProgramRun Run(const std::vector<std::string>& args) {
    return RunProgram(VELKARO_SEND_PROGRAM, args, {"VELKARO_HOME=" + home});
  }

  // Starts velkaro-send, waits until the receiver reports `point`
  // ("stall-rcpt r08@example.jp"), then kills it there.
  void RunUntilKilled(const std::vector<std::string>& args, const std::string& point) {
    const std::string reached = dir.File("received/reached");
    std::filesystem::remove(reached);
    SendChild child;
    ASSERT_TRUE(child.Start(args, home, dir.File("killed-run-" + std::to_string(++killed_))));
    const bool there = child.WaitForFile(reached);
    child.Kill();
    ASSERT_TRUE(there) << "the receiver never reached " << point << "\n"
                       << child.Outputs() << ReceiverSessionLog();
    ASSERT_EQ(ReadBytes(reached), point + "\n") << child.Outputs();
  }

  std::vector<std::string> Journals() const {
    std::vector<std::string> out;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(home + "/Log", ignored)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("journal-") && name.ends_with(".txt")) out.push_back(entry.path());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // The one journal of a run that neither ended nor was resumed: what a
  // user takes up after the kill.
  std::string OpenJournal() const {
    std::vector<std::string> open;
    for (const std::string& path : Journals()) {
      const std::string text = ReadBytes(path);
      if (!Contains(text, "\nend\t") && !Contains(text, "\nresumed\t")) open.push_back(path);
    }
    EXPECT_EQ(open.size(), 1u) << "journals of unfinished runs";
    return open.empty() ? std::string() : open.front();
  }

  // Each recipient's state in a journal, by address.
  std::map<std::string, MailOutcome> JournalOutcomes(const std::string& path) const {
    std::string error;
    const std::optional<JournalState> state = ReadJournal(path, &error);
    EXPECT_TRUE(state.has_value()) << error;
    std::map<std::string, MailOutcome> out;
    if (state) {
      for (const RecipientResult& r : state->mails) out[r.address] = r.outcome;
    }
    return out;
  }

  // How many stored messages each RCPT address got.
  std::map<std::string, int> Deliveries() const {
    std::map<std::string, int> count;
    for (const std::string& message : ReceivedMessages()) {
      const auto envelope = Envelope(message);
      const auto [from, to] = envelope.equal_range("rcpt_to");
      for (auto it = from; it != to; ++it) ++count[it->second];
    }
    return count;
  }

  // The stored message for `address` (the last one when it got several).
  std::string MessageFor(const std::string& address) const {
    std::string found;
    for (const std::string& message : ReceivedMessages()) {
      if (First(Envelope(message), "rcpt_to") == address) found = message;
    }
    return found;
  }

  // Recipients 1 … count each exactly `times[address]` times (1 unless
  // given).
  void ExpectDeliveries(int count, const std::map<std::string, int>& times) const {
    std::map<std::string, int> expected;
    for (int n = 1; n <= count; ++n) {
      const auto it = times.find(Address(n));
      const int wanted = it == times.end() ? 1 : it->second;
      if (wanted > 0) expected[Address(n)] = wanted;
    }
    EXPECT_EQ(Deliveries(), expected) << ReceiverSessionLog();
  }

  std::vector<ResultRow> ResultList(const ProgramRun& run) const {
    const std::string marker = "; list in ";
    const std::size_t at = run.err.rfind(marker);
    EXPECT_NE(at, std::string::npos) << run.err;
    if (at == std::string::npos) return {};
    const std::size_t from = at + marker.size();
    const std::string path = run.err.substr(from, run.err.find('\n', from) - from);
    std::string text = ReadBytes(path);
    EXPECT_TRUE(text.starts_with("\xEF\xBB\xBF")) << path;
    std::vector<ResultRow> rows;
    std::size_t start = 3;
    bool header = true;
    for (std::size_t end = text.find("\r\n", start); end != std::string::npos;
         start = end + 2, end = text.find("\r\n", start)) {
      const std::vector<std::string> f = CsvFields(text.substr(start, end - start));
      if (header) {
        EXPECT_EQ(f,
                  (std::vector<std::string>{"no", "name", "address", "outcome", "code", "reply"}));
        header = false;
        continue;
      }
      EXPECT_EQ(f.size(), 6u) << text;
      if (f.size() == 6) rows.push_back({f[1], f[2], f[3], f[4], f[5]});
    }
    return rows;
  }

  std::string home;
  std::string body;

 private:
  int killed_ = 0;
};

// Three kills in a row, each run taken up by the next: between two mails
// (no reply to RCPT), inside the data of a mail, and after the end of data
// went out (the receiver stored the mail and never replied). The last
// resume ends the list; the mail in doubt is named and left out.
TEST_F(ResumeProgramTest, KilledThreeTimesEachRecipientGetsOneCopy) {
  constexpr int kCount = kMostRecipients;
  WriteAddressBook(kCount, 15);
  ASSERT_NO_FATAL_FAILURE(Start(
      {"stall-rcpt=" + Address(8), "stall-data=" + Address(15), "stall-reply=" + Address(22)}, {}));

  struct Kill {
    const char* what;
    std::string point;
    int firstOfRun;  // the first recipient the run sends to
    int at;          // the recipient it is killed at
    MailOutcome atState;
  };
  const Kill kills[] = {
      {"between mails", "stall-rcpt " + Address(8), 1, 8, MailOutcome::NotSent},
      {"inside the data", "stall-data " + Address(15), 8, 15, MailOutcome::NotSent},
      {"after the end of data", "stall-reply " + Address(22), 15, 22, MailOutcome::InDoubt},
  };
  std::vector<std::string> args = SendArgs(kCount);
  std::vector<std::string> taken;
  for (const Kill& k : kills) {
    SCOPED_TRACE(k.what);
    ASSERT_NO_FATAL_FAILURE(RunUntilKilled(args, k.point));
    const std::string journal = OpenJournal();
    ASSERT_FALSE(journal.empty());
    // What the journal held at the kill: each mail before it accepted, the
    // mail itself as far as it got, nothing after it.
    const auto outcomes = JournalOutcomes(journal);
    ASSERT_EQ(outcomes.size(), static_cast<std::size_t>(kCount - k.firstOfRun + 1));
    for (int n = k.firstOfRun; n <= kCount; ++n) {
      const MailOutcome wanted = n < k.at    ? MailOutcome::Sent
                                 : n == k.at ? k.atState
                                             : MailOutcome::NotSent;
      EXPECT_EQ(outcomes.at(Address(n)), wanted) << Address(n) << " in " << journal;
    }
    // The data cut off by the kill was thrown away; the mail in doubt was
    // stored before the receiver fell silent.
    std::map<std::string, int> times;
    for (int n = k.at; n <= kCount; ++n) times[Address(n)] = 0;
    if (k.atState == MailOutcome::InDoubt) times[Address(k.at)] = 1;
    ExpectDeliveries(kCount, times);
    taken.push_back(journal);
    args = {"--resume", journal};
  }

  const ProgramRun last = Run(args);
  ASSERT_EQ(last.status, 0) << Describe(last);
  EXPECT_TRUE(Contains(last.err, "velkaro-send: in doubt: " + Address(22) + "\n")) << last.err;
  EXPECT_EQ(last.err.find("in doubt: r"), last.err.rfind("in doubt: r")) << last.err;
  EXPECT_TRUE(Contains(last.err, "8 sent, 0 refused, 0 in doubt, 0 not sent")) << last.err;
  ExpectDeliveries(kCount, {});
  // The resumed mails are those of the first run: its body, each
  // recipient's own name.
  const MailReport report = Check(MessageFor(Address(30)));
  EXPECT_EQ(report.Get("subject"), FullName(30) + "様へのご案内") << report.Dump();

  // Every journal taken up is marked: none of them can send its mails a
  // second time.
  for (const std::string& journal : taken) {
    const ProgramRun again = Run({"--resume", journal});
    EXPECT_EQ(again.status, 2) << Describe(again);
    EXPECT_TRUE(Contains(again.err, "was resumed already")) << again.err;
  }
  EXPECT_EQ(ReceivedMessages().size(), static_cast<std::size_t>(kCount));
}

// The user asks for the mail in doubt as well: it goes out again and its
// recipient has two copies; the others still one.
TEST_F(ResumeProgramTest, IncludeInDoubtSendsTheMailInDoubtAgain) {
  constexpr int kCount = 5;
  WriteAddressBook(kCount);
  ASSERT_NO_FATAL_FAILURE(Start({"stall-reply=" + Address(3)}, {}));
  ASSERT_NO_FATAL_FAILURE(RunUntilKilled(SendArgs(kCount), "stall-reply " + Address(3)));
  const std::string journal = OpenJournal();
  ASSERT_FALSE(journal.empty());

  const ProgramRun resumed = Run({"--resume", journal, "--include-in-doubt"});
  ASSERT_EQ(resumed.status, 0) << Describe(resumed);
  EXPECT_TRUE(Contains(resumed.err, "sent again though in doubt: " + Address(3))) << resumed.err;
  EXPECT_FALSE(Contains(resumed.err, "velkaro-send: in doubt:")) << resumed.err;
  ExpectDeliveries(kCount, {{Address(3), 2}});
}

// The body file changed after the kill: the resumed run would not send what
// the first one sent, so it is refused and sends nothing, unless forced.
TEST_F(ResumeProgramTest, AChangedBodyIsRefusedUnlessForced) {
  constexpr int kCount = 4;
  WriteAddressBook(kCount);
  ASSERT_NO_FATAL_FAILURE(Start({"stall-rcpt=" + Address(3)}, {}));
  ASSERT_NO_FATAL_FAILURE(RunUntilKilled(SendArgs(kCount), "stall-rcpt " + Address(3)));
  const std::string journal = OpenJournal();
  ASSERT_FALSE(journal.empty());
  ExpectDeliveries(kCount, {{Address(3), 0}, {Address(4), 0}});

  WriteBytes(body, ReadBytes(body) + Utf8ToSjis("追記: 会場が変わりました。\r\n"));
  const std::size_t journalsBefore = Journals().size();
  const ProgramRun refused = Run({"--resume", journal});
  EXPECT_EQ(refused.status, 2) << Describe(refused);
  EXPECT_TRUE(Contains(refused.err, "the body file " + body + " changed since the run"))
      << refused.err;
  EXPECT_TRUE(Contains(refused.err, "nothing was sent")) << refused.err;
  ExpectDeliveries(kCount, {{Address(3), 0}, {Address(4), 0}});
  EXPECT_EQ(Journals().size(), journalsBefore) << "a refused resume started a run";

  const ProgramRun forced = Run({"--resume", journal, "--force"});
  ASSERT_EQ(forced.status, 0) << Describe(forced);
  ExpectDeliveries(kCount, {});
  const MailReport report = Check(MessageFor(Address(4)));
  EXPECT_TRUE(Contains(report.Get("body"), "会場が変わりました")) << report.Dump();
  EXPECT_EQ(report.Get("subject"), FullName(4) + "様へのご案内") << report.Dump();
}

// onRecipientFailure=continue against refusals for good: a recipient
// refused at RCPT, a mail refused after its data. Both are listed with the
// step and the server's words; every other recipient gets one copy.
TEST_F(ResumeProgramTest, ContinuePastRefusalsListsEachOutcome) {
  constexpr int kCount = 6;
  WriteAddressBook(kCount);
  ASSERT_NO_FATAL_FAILURE(Start({"refuse-rcpt=" + Address(3), "refuse-data=" + Address(5)},
                                {"onRecipientFailure=continue", "retryWaitSeconds=0"}));
  const ProgramRun run = Run(SendArgs(kCount));
  EXPECT_EQ(run.status, 30) << Describe(run);
  ExpectDeliveries(kCount, {{Address(3), 0}, {Address(5), 0}});

  const std::vector<ResultRow> rows = ResultList(run);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kCount));
  for (int n = 1; n <= kCount; ++n) {
    const ResultRow& row = rows[n - 1];
    SCOPED_TRACE(Address(n));
    EXPECT_EQ(row.name, FullName(n));
    EXPECT_EQ(row.address, Address(n));
    if (n == 3) {
      EXPECT_EQ(row.outcome, "refused");
      EXPECT_EQ(row.code, "106");
      EXPECT_EQ(row.reply,
                "550 5.1.1 <" + Address(3) + ">: Recipient address rejected: User unknown");
    } else if (n == 5) {
      EXPECT_EQ(row.outcome, "refused");
      EXPECT_EQ(row.code, "111");
      EXPECT_EQ(row.reply, "550 5.7.1 Message content rejected for " + Address(5));
    } else {
      EXPECT_EQ(row.outcome, "sent");
      EXPECT_EQ(row.code, "");
      EXPECT_TRUE(row.reply.starts_with("250 OK stored as ")) << row.reply;
    }
  }
}

// onRecipientFailure=continue against connections that break in the middle
// of a run: 421 to the end of data, a hang-up instead of the RCPT reply, a
// reset inside the data. Each mail is tried again on a new connection and
// arrives exactly once.
TEST_F(ResumeProgramTest, ContinueReconnectsAfter421AndHangUps) {
  constexpr int kCount = 7;
  WriteAddressBook(kCount);
  ASSERT_NO_FATAL_FAILURE(
      Start({"421-data=" + Address(2), "drop-rcpt=" + Address(4), "reset-data=" + Address(6)},
            {"onRecipientFailure=continue", "retries=2", "retryWaitSeconds=0"}));
  const ProgramRun run = Run(SendArgs(kCount));
  EXPECT_EQ(run.status, 0) << Describe(run);
  ExpectDeliveries(kCount, {});
  for (const int n : {2, 4, 6}) {
    EXPECT_TRUE(Contains(run.err, "[" + std::to_string(n) + "] try 2 on a new connection"))
        << run.err;
  }
  const std::vector<ResultRow> rows = ResultList(run);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kCount));
  for (const ResultRow& row : rows) EXPECT_EQ(row.outcome, "sent") << row.address;
  // One connection for the mails before the first break, then one more
  // after each break.
  std::map<std::string, int> peers;
  for (const std::string& message : ReceivedMessages()) ++peers[First(Envelope(message), "peer")];
  EXPECT_EQ(peers.size(), 4u);
}

// A server that gives up a silent client in the middle of the data (a data
// time-out, here 60 ms while the program pauses before the end of data)
// closes the connection before the end of data is sent. It cannot have
// delivered the mail, so the mail is not in doubt: it is tried again on a
// new connection and arrives once.
TEST_F(ResumeProgramTest, AHangUpBeforeTheEndOfDataIsTriedAgain) {
  constexpr int kCount = 3;
  WriteAddressBook(kCount);
  ASSERT_NO_FATAL_FAILURE(Start({"idle-close=" + Address(2)}, {"onRecipientFailure=continue",
                                                               "retries=2", "retryWaitSeconds=0"}));
  const ProgramRun run = Run(SendArgs(kCount));
  EXPECT_TRUE(Contains(ReadBytes(dir.File("received/acted.log")), "without the end of data"))
      << "the receiver closed after the end of data; the case does not apply";
  EXPECT_EQ(run.status, 0) << Describe(run);
  ExpectDeliveries(kCount, {});
}

}  // namespace
}  // namespace velkaro::testing
