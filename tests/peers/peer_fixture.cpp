#include "peers/peer_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

#include "core/encoding.h"

namespace velkaro::testing {
namespace {

const std::string kPython = "/usr/bin/python3";

std::string PeerScript(const std::string& name) {
  return std::string(VELKARO_SOURCE_DIR) + "/tests/peers/" + name;
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    switch (next) {
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      default: out += next; break;
    }
  }
  return out;
}

void StartPeer(PeerProcess& peer, const std::vector<std::string>& argv, const std::string& log,
               int timeoutMs) {
  ASSERT_TRUE(peer.Start(argv, log, timeoutMs))
      << argv[0] << " " << (argv.size() > 1 ? argv[1] : "") << ": " << peer.error() << "\n"
      << ReadBytes(log);
}

}  // namespace

MailReport MailReport::Parse(const std::string& flatText) {
  MailReport report;
  report.text_ = flatText;
  std::istringstream in(flatText);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    report.values_[line.substr(0, tab)] = Unescape(line.substr(tab + 1));
  }
  return report;
}

std::string MailReport::Get(const std::string& key) const {
  const auto it = values_.find(key);
  return it == values_.end() ? std::string() : it->second;
}

int MailReport::Count(const std::string& listKey) const {
  const std::string text = Get(listKey + ".count");
  return text.empty() ? 0 : std::stoi(text);
}

void PeerTest::SetUp() {
  // Real servers need real time to answer; the virtual clock still
  // advances with every sleep, so the reply time-out stays in step.
  platform.SetRealSleep(true);
  // The program's users live in Japan.
  platform.SetUtcOffset(9 * 3600);
  platform.SetLocalTime(2026, 12, 8, 9, 30, 0);
  ASSERT_TRUE(std::filesystem::exists(kPython)) << kPython << " is needed (python3-aiosmtpd)";
}

void PeerTest::StartReceiver() {
  StartReceiver(ReceiverOptions{});
}

void PeerTest::StartReceiver(const ReceiverOptions& o) {
  std::vector<std::string> argv = {kPython, PeerScript("smtp_receiver.py"), dir.File("received")};
  if (!o.certificate.empty()) {
    argv.insert(argv.end(), {"--tls-cert", CertificateFile(o.certificate), "--tls-key",
                             KeyFile(o.certificate)});
  }
  if (o.requireStartTls) argv.push_back("--require-starttls");
  if (o.implicitTls) argv.push_back("--implicit-tls");
  if (!o.authUser.empty()) {
    argv.insert(argv.end(), {"--auth-user", o.authUser, "--auth-password", o.authPassword});
  }
  if (!o.authToken.empty()) argv.insert(argv.end(), {"--auth-token", o.authToken});
  if (o.sizeLimit > 0) argv.insert(argv.end(), {"--size", std::to_string(o.sizeLimit)});
  if (o.capture) argv.push_back("--capture");
  StartPeer(receiver, argv, dir.File("receiver.log"), kStartTimeoutMs);
}

void PeerTest::StartDovecot() {
  StartDovecot("");
}

void PeerTest::StartDovecot(const std::string& certificate) {
  ASSERT_TRUE(std::filesystem::exists("/usr/sbin/dovecot")) << "dovecot-pop3d is needed";
  // Dovecot's auth and login processes run as its own users and must reach
  // the password file inside the test's folder.
  std::filesystem::permissions(
      dir.path(), std::filesystem::perms::group_exec | std::filesystem::perms::others_exec,
      std::filesystem::perm_options::add);
  std::vector<std::string> argv = {"/bin/bash", PeerScript("dovecot_pop3.sh"), dir.File("dovecot"),
                                   kPopUser, kPopPassword};
  if (!certificate.empty()) {
    argv.insert(argv.end(), {"--tls", CertificateFile(certificate), KeyFile(certificate)});
  }
  StartPeer(dovecot, argv, dir.File("dovecot-start.log"), kStartTimeoutMs);
  if (!certificate.empty()) {
    const std::string port = ReadBytes(dir.File("dovecot/pop3s-port"));
    dovecotTlsPort = port.empty() ? 0 : std::atoi(port.c_str());
    ASSERT_GT(dovecotTlsPort, 0) << "no pop3s-port from dovecot_pop3.sh";
  }
}

const std::string& PeerTest::TestCertificates() {
  static const TempDir folder;
  static const std::string path = [] {
    bool ok = false;
    const std::string output = RunCommand(
        "timeout 120 /bin/bash " +
            Quoted(std::string(VELKARO_SOURCE_DIR) + "/tests/support/make_test_certs.sh") + " " +
            Quoted(folder.File("certs")) + " 2>&1",
        "", &ok);
    EXPECT_TRUE(ok) << "make_test_certs.sh failed:\n" << output;
    // OpenSSL reads its default trust paths when the first TLS context is
    // made, so this has to come before any connection of the process.
    ::setenv("SSL_CERT_FILE", folder.File("certs/ca.pem").c_str(), 1);
    return folder.File("certs");
  }();
  return path;
}

std::string PeerTest::CertificateFile(const std::string& name) {
  return TestCertificates() + "/" + name + ".pem";
}

std::string PeerTest::KeyFile(const std::string& name) {
  return TestCertificates() + "/" + name + ".key";
}

std::string PeerTest::Fingerprint(const std::string& name) const {
  bool ok = false;
  const std::string output = RunCommand(
      "timeout 60 openssl x509 -noout -fingerprint -sha256 -in " + Quoted(CertificateFile(name)),
      "", &ok);
  EXPECT_TRUE(ok) << output;
  // "sha256 Fingerprint=AB:CD:…" (the prefix's case differs between
  // OpenSSL versions).
  std::string hex;
  const std::size_t equals = output.find('=');
  for (std::size_t i = equals == std::string::npos ? 0 : equals + 1; i < output.size(); ++i) {
    const char c = output[i];
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  EXPECT_EQ(hex.size(), 64u) << output;
  return hex;
}

void PeerTest::StartSink() {
  StartPeer(sink, {"/bin/bash", PeerScript("smtp_sink.sh"), dir.File("sink")}, dir.File("sink.log"),
            kStartTimeoutMs);
}

ServerSettings PeerTest::Settings(int smtpPort) const {
  ServerSettings s = DefaultServerSettings();
  SetFieldText(s.popServer, "127.0.0.1");
  SetFieldText(s.popUser, kPopUser);
  SetFieldText(s.popPassword, kPopPassword);
  s.popPort = dovecot.port() > 0 ? dovecot.port() : 1;
  SetFieldText(s.smtpServer, "127.0.0.1");
  s.smtpPort = smtpPort;
  SetFieldText(s.senderName, Utf8ToSjis("差出人 山田"));
  SetFieldText(s.senderAddress, "sender@example.com");
  return s;
}

MailConnection& PeerTest::NewConnection(const ServerSettings& settings) {
  mail = std::make_unique<MailConnection>(&replyTimeout);
  replyTimeout.connection = mail.get();
  mail->SetServerSettings(settings);
  mail->SetSpeed(100);
  return *mail;
}

MailRecord PeerTest::Record(const std::string& subjectUtf8, const std::string& bodyUtf8,
                            const std::string& recipientNameUtf8,
                            const std::string& recipientAddress,
                            const std::string& attachmentList) {
  MailRecord r;
  r.subject = Utf8ToSjis(subjectUtf8);
  r.body = Utf8ToSjis(bodyUtf8);
  r.attachmentList = attachmentList;
  r.recipientName = Utf8ToSjis(recipientNameUtf8);
  r.recipientAddress = recipientAddress;
  r.popBeforeSmtp = 0;
  return r;
}

std::vector<std::string> PeerTest::ReceivedMessages() const {
  return ReceivedMailPaths(dir.File("received"));
}

std::multimap<std::string, std::string> PeerTest::Envelope(const std::string& messagePath) const {
  std::multimap<std::string, std::string> out;
  const std::string path = messagePath.substr(0, messagePath.size() - 4) + ".envelope";
  std::istringstream in(ReadBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) out.emplace(line.substr(0, tab), line.substr(tab + 1));
  }
  return out;
}

std::vector<std::string> PeerTest::WireCaptures() const {
  std::vector<std::string> out;
  for (int n = 1;; ++n) {
    const std::string path = dir.File("received/wire-" + std::to_string(n) + ".bin");
    if (!std::filesystem::exists(path)) break;
    // The relay marks a record whole when the client's side has closed; a
    // wait for a file, not a measurement.
    for (int waited = 0; waited < 5000 && !std::filesystem::exists(path + ".done"); waited += 20) {
      ::usleep(20 * 1000);
    }
    EXPECT_TRUE(std::filesystem::exists(path + ".done")) << path << " is still open";
    out.push_back(ReadBytes(path));
  }
  return out;
}

std::string PeerTest::ReceiverSessionLog() const {
  return ReadBytes(dir.File("received/session.log"));
}

std::vector<std::string> PeerTest::SinkDumps() const {
  std::vector<std::string> out;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("sink"), ignored)) {
    if (entry.path().filename().string().rfind("mail-", 0) == 0) out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

MailReport PeerTest::Check(const std::string& messagePath) const {
  bool ok = false;
  // Bounded like every other read of the tests.
  const std::string output =
      RunCommand("timeout 120 " + kPython + " " + Quoted(PeerScript("check_mail.py")) + " --flat " +
                     Quoted(messagePath),
                 "", &ok);
  EXPECT_TRUE(ok) << "check_mail.py failed on " << messagePath;
  return MailReport::Parse(output);
}

MailReport PeerTest::CheckWithMailparser(const std::string& messagePath) const {
  bool ok = false;
  const std::string output =
      RunCommand("timeout 120 node " + Quoted(PeerScript("decode_mailparser.js")) + " --flat " +
                     Quoted(messagePath) + " 2>&1",
                 "", &ok);
  EXPECT_TRUE(ok) << "decode_mailparser.js failed on " << messagePath
                  << " (Node.js and tests/peers/node come from scripts/install-deps.sh):\n"
                  << output;
  return MailReport::Parse(output);
}

MailReport PeerTest::SendOneAndRead(const ServerSettings& settings, const MailRecord& record,
                                    CharsetSetting charset) {
  MailConnection& m = NewConnection(settings);
  m.charsetSetting = charset;
  EXPECT_EQ(m.SmtpOpen(), 0) << m.GetFailureReason();
  const std::time_t from = platform.Now();
  EXPECT_EQ(m.SendOneMail(record), 0) << m.GetTranscript();
  const std::time_t until = platform.Now();
  EXPECT_EQ(m.SmtpQuit(), 0);
  const auto messages = ReceivedMessages();
  if (messages.size() != 1u) {
    ADD_FAILURE() << messages.size() << " mails stored, not one";
    return MailReport::Parse("");
  }
  MailReport report = CheckWithBoth(messages[0]);
  SCOPED_TRACE(report.Dump());
  ExpectWellFormed(report, from, until);
  return report;
}

MailReport PeerTest::CheckWithBoth(const std::string& messagePath) const {
  MailReport python = Check(messagePath);
  ExpectSameReading(python, CheckWithMailparser(messagePath));
  return python;
}

std::string PeerTest::DovecotLog() const {
  return ReadBytes(dir.File("dovecot/dovecot.log"));
}

bool PeerTest::DovecotLogShows(const std::string& text, int timeoutMs) const {
  // Dovecot's log process writes a moment after the event; this is a wait
  // for a file, not a measurement.
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (DovecotLog().find(text) != std::string::npos) return true;
    ::usleep(20 * 1000);
  }
  return false;
}

void PeerTest::ExpectWellFormed(const MailReport& report, std::time_t sentFrom,
                                std::time_t sentUntil) const {
  EXPECT_EQ(report.Get("raw.seven_bit"), "true");
  EXPECT_EQ(report.Get("raw.bare_lf"), "false");
  EXPECT_EQ(report.Get("raw.bare_cr"), "false");
  EXPECT_EQ(report.Get("raw.lines_over_998"), "0");
  EXPECT_EQ(report.Get("mime_version"), "1.0");
  EXPECT_FALSE(report.Has("header_defects.Subject.count"));
  EXPECT_FALSE(report.Has("header_defects.Message-Id.count"));
  EXPECT_FALSE(report.Has("header_defects.Date.count"));
  EXPECT_FALSE(report.Has("header_defects.From.count"));
  EXPECT_FALSE(report.Has("header_defects.To.count"));
  EXPECT_FALSE(report.Has("header_defects.(message).count"));

  const std::string dateUtc = report.Get("date_utc");
  ASSERT_FALSE(dateUtc.empty()) << "no Date with a zone: \"" << report.Get("date") << "\"";
  const std::time_t date = static_cast<std::time_t>(std::stoll(dateUtc));
  EXPECT_GE(date, sentFrom) << report.Get("date");
  EXPECT_LE(date, sentUntil) << report.Get("date");

  static const std::regex kMessageId(R"(<(\d{14})\.(\d+)\.([0-9a-f]{16})_velkaro@([^<>@\s]+)>)");
  const std::string id = report.Get("message_id");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(id, m, kMessageId)) << "Message-Id: " << id;
  EXPECT_EQ(m[1].str(), report.Get("date_local"))
      << "Message-Id " << id << " and Date " << report.Get("date") << " tell different times";
}

std::string PeerTest::Normalized(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  const std::size_t first = out.find_first_not_of('\n');
  if (first == std::string::npos) return "";
  const std::size_t last = out.find_last_not_of('\n');
  return out.substr(first, last - first + 1);
}

std::string PeerTest::Sha256(const std::string& bytes) const {
  bool ok = false;
  const std::string output = RunCommand("timeout 60 sha256sum", bytes, &ok);
  EXPECT_TRUE(ok);
  return output.substr(0, 64);
}

void PeerTest::ExpectSameReading(const MailReport& python, const MailReport& mailparser) {
  SCOPED_TRACE("mailparser read:\n" + mailparser.Dump());
  for (const char* key : {"subject", "from.name", "from.address", "to.name", "to.address"}) {
    EXPECT_EQ(mailparser.Get(key), python.Get(key)) << key;
  }
  // Python keeps the part's CR LF, mailparser gives LF.
  EXPECT_EQ(Normalized(mailparser.Get("body")), Normalized(python.Get("body"))) << "body";
  ASSERT_EQ(mailparser.Count("attachments"), python.Count("attachments"));
  for (int i = 0; i < python.Count("attachments"); ++i) {
    const std::string prefix = "attachments." + std::to_string(i) + ".";
    for (const char* field : {"filename", "content_type", "length", "sha256"}) {
      EXPECT_EQ(mailparser.Get(prefix + field), python.Get(prefix + field)) << prefix + field;
    }
  }
}

std::string First(const std::multimap<std::string, std::string>& envelope, const std::string& key) {
  const auto it = envelope.find(key);
  return it == envelope.end() ? std::string() : it->second;
}

std::string PseudoRandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(generator() & 0xFF);
  return out;
}

std::string TinyPng() {
  static const unsigned char kBytes[] = {
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
      0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
      0x00, 0x1f, 0x15, 0xc4, 0x89, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78,
      0x9c, 0x63, 0xf8, 0xdf, 0xc0, 0xf0, 0x1f, 0x00, 0x06, 0x80, 0x02, 0x7f, 0x10, 0x4c,
      0x1b, 0xe1, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
  return std::string(reinterpret_cast<const char*>(kBytes), sizeof kBytes);
}

}  // namespace velkaro::testing
