// The fixture of the peer tests: real mail servers on 127.0.0.1 (aiosmtpd
// storing every message, Dovecot POP3, Postfix's smtp-sink), a
// `MailConnection` that talks to them through the real TCP sockets with real
// sleeps, and a reader that shows a stored message the way a receiving mail
// program decodes it (check_mail.py).
#pragma once

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mail/mail_connection.h"
#include "peers/peer_process.h"
#include "support/reply_timeout.h"
#include "support/test_support.h"

namespace velkaro::testing {

// What check_mail.py reports about one message, by flattened key
// ("subject", "from.name", "attachments.0.sha256", …); missing keys and
// JSON nulls read as "".
class MailReport {
 public:
  static MailReport Parse(const std::string& flatText);
  std::string Get(const std::string& key) const;
  bool Has(const std::string& key) const { return values_.count(key) != 0; }
  int Count(const std::string& listKey) const;
  std::string Dump() const { return text_; }

 private:
  std::map<std::string, std::string> values_;
  std::string text_;
};

// How a test's SMTP receiver runs (the options of smtp_receiver.py).
struct ReceiverOptions {
  // One of the test certificates ("valid", "expired", "notyet",
  // "wronghost", "selfsigned"); empty: no TLS at all.
  std::string certificate;
  bool requireStartTls = false;  // STARTTLS offered and required before MAIL or AUTH
  bool implicitTls = false;      // TLS from the first byte instead
  // AUTH PLAIN and LOGIN (over TLS only, required before MAIL) when set.
  std::string authUser;
  std::string authPassword;
  std::string authToken;  // also XOAUTH2 with this bearer token
  long sizeLimit = 0;     // advertised SIZE; 0 keeps aiosmtpd's own
  // Records what each client connection sent (see WireCaptures).
  bool capture = false;
};

class PeerTest : public PlatformTest {
 public:
  static constexpr const char* kPopUser = "yamada";
  static constexpr const char* kPopPassword = "himitsu-42";

 protected:
  static constexpr int kStartTimeoutMs = 15000;

  void SetUp() override;

  // Each starts its server or fails the test (use with
  // ASSERT_NO_FATAL_FAILURE).
  void StartReceiver();
  void StartReceiver(const ReceiverOptions& options);
  void StartDovecot();
  // Dovecot with one of the test certificates and ssl = required: STLS on
  // `dovecot.port()`, TLS from the first byte on `dovecotTlsPort`. (Dovecot
  // counts 127.0.0.1 as secured, so a clear-text login still passes here;
  // its login line tells "TLS" apart.)
  void StartDovecot(const std::string& certificate);
  void StartSink();

  // The folder of the test certificates (tests/support/make_test_certs.sh),
  // made once per test program. The first call also points OpenSSL's
  // default trust (SSL_CERT_FILE) at its authority, before any connection
  // of this process is made.
  static const std::string& TestCertificates();
  // "DIR/NAME.pem", "DIR/NAME.key".
  static std::string CertificateFile(const std::string& name);
  static std::string KeyFile(const std::string& name);
  // The certificate's SHA-256 fingerprint as openssl tells it, in 64
  // lower-case hex digits.
  std::string Fingerprint(const std::string& name) const;

  // Server settings for the running peers: SMTP on `smtpPort`, POP3 on the
  // Dovecot port (or port 1 when Dovecot is not running) with the right
  // user and password, sender 差出人 山田 <sender@example.com>.
  ServerSettings Settings(int smtpPort) const;
  // A connection with the settings and speed 100, not yet opened.
  MailConnection& NewConnection(const ServerSettings& settings);

  // A mail record from UTF-8 texts.
  static MailRecord Record(const std::string& subjectUtf8, const std::string& bodyUtf8,
                           const std::string& recipientNameUtf8,
                           const std::string& recipientAddress,
                           const std::string& attachmentList = "");

  // The messages the receiver stored so far, in the order they arrived.
  std::vector<std::string> ReceivedMessages() const;
  // key -> values of N.envelope next to a stored message.
  std::multimap<std::string, std::string> Envelope(const std::string& messagePath) const;
  // What each client connection sent to a capturing receiver, in the
  // order of the connections; waits (a few seconds at most) for each
  // client to have closed.
  std::vector<std::string> WireCaptures() const;
  // The commands the receiver read (AUTH arguments masked) and its notes
  // about connections.
  std::string ReceiverSessionLog() const;
  // The files smtp-sink dumped.
  std::vector<std::string> SinkDumps() const;

  // Runs check_mail.py on a stored message (fails the test when it fails).
  MailReport Check(const std::string& messagePath) const;
  // A second reader of the same message, independent of Python's email:
  // Node.js's mailparser (decode_mailparser.js), under the same keys for
  // what both read. Fails the test when it cannot run.
  MailReport CheckWithMailparser(const std::string& messagePath) const;
  // Starts the receiver, sends `record` as the only mail of a connection
  // with `settings` in `charset` and quits; returns the stored mail as both
  // readers see it (CheckWithBoth), checked by ExpectWellFormed. Fails the
  // test, with an empty report, when no mail arrived.
  MailReport SendOneAndRead(const ServerSettings& settings, const MailRecord& record,
                            CharsetSetting charset = CharsetSetting::Auto);
  // Reads the message with both and fails the test for every decoded text
  // they tell apart (see ExpectSameReading); returns check_mail.py's report.
  MailReport CheckWithBoth(const std::string& messagePath) const;
  // Fails the test for every text the two readers decode differently: the
  // subject, the From and To names and addresses, the body (Normalized)
  // and each attachment's name, type, length and SHA-256.
  static void ExpectSameReading(const MailReport& python, const MailReport& mailparser);

  // Waits up to `timeoutMs` for `text` to appear in Dovecot's log.
  bool DovecotLogShows(const std::string& text, int timeoutMs) const;
  std::string DovecotLog() const;

  // Checks every mail must pass whatever it carries: 7-bit bytes, CR LF
  // line ends only, no line over 998 bytes, MIME-Version 1.0, a Date inside
  // [sentFrom, sentUntil] of the platform clock, a Message-Id of the agreed
  // form whose time is the Date's local time.
  void ExpectWellFormed(const MailReport& report, std::time_t sentFrom,
                        std::time_t sentUntil) const;

  // Body texts compared without the blank lines around them and with LF
  // line ends.
  static std::string Normalized(const std::string& text);

  std::string Sha256(const std::string& bytes) const;

  TempDir dir;
  PeerProcess receiver;
  PeerProcess dovecot;
  int dovecotTlsPort = 0;
  PeerProcess sink;
  ReplyTimeout replyTimeout;
  std::unique_ptr<MailConnection> mail;
};

// The first value of `key` in an envelope, "" when it has none.
std::string First(const std::multimap<std::string, std::string>& envelope, const std::string& key);

// Bytes that repeat nothing for a long while (deterministic).
std::string PseudoRandomBytes(std::size_t size, unsigned seed);

// A valid 1×1 PNG image.
std::string TinyPng();

}  // namespace velkaro::testing
