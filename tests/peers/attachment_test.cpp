// Mails with attachment files to a real SMTP receiver (aiosmtpd): names,
// types and bytes as the receiving mail program sees them.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "peers/peer_fixture.h"

namespace velkaro::testing {
namespace {

struct FileSpec {
  std::string name;  // UTF-8 file name
  std::string bytes;
  std::string wantType;
  std::string wantCharset = "";  // as Python tells it, lower-case
};

struct AttachmentCase {
  const char* name;
  std::vector<FileSpec> files;
};

void PrintTo(const AttachmentCase& c, std::ostream* os) {
  *os << c.name;
}

std::string LongJapaneseFileName() {
  // 80 characters: 244 bytes of UTF-8, close to the file system's 255.
  std::string name;
  for (int i = 0; i < 19; ++i) name += "長い名前";
  name += "です.txt";
  return name;
}

std::vector<AttachmentCase> AttachmentCases() {
  const std::string invoice = Utf8ToSjis("請求金額：12,000円\r\nお支払期限：12月末日\r\n");
  return {
      {"png_image", {{"logo.png", TinyPng(), "image/png"}}},
      {"japanese_file_name", {{"請求書_山田.txt", invoice, "text/plain", "shift_jis"}}},
      {"upper_case_extension", {{"photo.JPG", PseudoRandomBytes(3000, 7), "image/jpeg"}}},
      {"two_files_in_order",
       {{"logo.png", TinyPng(), "image/png"},
        {"請求書_山田.txt", invoice, "text/plain", "shift_jis"}}},
      // Base64 line edges: 1 byte, exactly one 64-character line, one more.
      {"base64_line_edges",
       {{"one.bin", "x", "application/octet-stream"},
        {"forty-eight.bin", PseudoRandomBytes(48, 1), "application/octet-stream"},
        {"forty-nine.bin", PseudoRandomBytes(49, 2), "application/octet-stream"}}},
      {"several_dots_in_name", {{"data.tar.gz", PseudoRandomBytes(700, 3), "application/gzip"}}},
      {"long_japanese_name", {{LongJapaneseFileName(), invoice, "text/plain", "shift_jis"}}},
      // Base64 text of a file full of "." bytes never starts a line with a
      // dot, but the raw file must still arrive unchanged.
      {"dots_and_line_ends", {{"dots.txt", ".\r\n.\r\n..\r\n.", "text/plain", "utf-8"}}},
      {"text_in_no_charset", {{"broken.txt", "abc\xFF\x80", "application/octet-stream"}}},
  };
}

class AttachmentTest : public PeerTest, public ::testing::WithParamInterface<AttachmentCase> {};

TEST_P(AttachmentTest, ArriveWithNameTypeAndBytes) {
  const AttachmentCase& c = GetParam();
  std::string list;
  for (const FileSpec& f : c.files) {
    WriteBytes(dir.File(f.name), f.bytes);
    list += dir.File(f.name) + "\r\n";
  }
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  // A second mail reader must see the same names, types and bytes.
  const MailReport r =
      SendOneAndRead(Settings(receiver.port()),
                     Record("添付のご案内", "添付ファイルをお送りします。\r\n.\r\nｶﾞｷﾞ\r\n",
                            "受取人 鈴木", "suzuki@example.jp", list));
  SCOPED_TRACE(r.Dump());
  EXPECT_EQ(r.Get("content_type"), "multipart/mixed");
  EXPECT_EQ(r.Get("subject"), "添付のご案内");
  EXPECT_EQ(r.Get("to.name"), "受取人 鈴木");
  // Half-width katakana make the text part UTF-8; they arrive as typed.
  EXPECT_EQ(r.Get("body_charset"), "utf-8");
  EXPECT_EQ(Normalized(r.Get("body")), "添付ファイルをお送りします。\n.\nｶﾞｷﾞ");
  ASSERT_EQ(r.Count("attachments"), static_cast<int>(c.files.size()));
  for (std::size_t i = 0; i < c.files.size(); ++i) {
    const std::string key = "attachments." + std::to_string(i) + ".";
    const FileSpec& f = c.files[i];
    EXPECT_EQ(r.Get(key + "filename"), f.name);
    EXPECT_EQ(r.Get(key + "filename_rfc2231"), f.name);
    EXPECT_EQ(r.Get(key + "content_type"), f.wantType);
    EXPECT_EQ(r.Get(key + "defects.count"), "0");
    EXPECT_EQ(r.Get(key + "charset"), f.wantCharset);
    EXPECT_EQ(r.Get(key + "disposition"), "attachment");
    EXPECT_EQ(r.Get(key + "length"), std::to_string(f.bytes.size()));
    EXPECT_EQ(r.Get(key + "sha256"), Sha256(f.bytes)) << f.name;
    EXPECT_LE(std::stoi(r.Get(key + "base64_max_line")), 76) << f.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, AttachmentTest, ::testing::ValuesIn(AttachmentCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Long Japanese subject and names, folded into several encoded words, and
// file names that only RFC 2231 carries whole (① has no JIS X 0208 form, so
// readers of the ISO-2022-JP words cannot show it).
TEST_F(PeerTest, FoldedHeadersAndRfc2231NamesDecodeWithoutDefects) {
  const std::string subject =
      "【重要】年末年始休業期間のお知らせと、請求書送付スケジュール変更についてのご案内"
      "（十二月分の締め日と、お支払期日の変更を含みます）";
  const std::string sender = "ベルカロ商事株式会社 営業本部 第一営業部 販売促進課";
  const std::string recipient = "鈴木 花子 様（経理部 ご担当者）";
  const std::vector<std::string> names = {"請求書①.pdf", LongJapaneseFileName(),
                                          "御見積書_山田.pdf"};
  const std::vector<std::string> types = {"application/pdf", "text/plain", "application/pdf"};
  std::string list;
  for (const std::string& name : names) {
    WriteBytes(dir.File(name), "%PDF-1.4\n" + name + "\n");
    list += dir.File(name) + "\r\n";
  }
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ServerSettings settings = Settings(receiver.port());
  SetFieldText(settings.senderName, Utf8ToSjis(sender));
  MailConnection& m = NewConnection(settings);
  ASSERT_EQ(m.SmtpOpen(), 0);
  const std::time_t from = platform.Now();
  EXPECT_EQ(m.SendOneMail(Record(subject, "本文です。\r\n", recipient, "hanako@example.jp", list)),
            0)
      << m.GetTranscript();
  const std::time_t until = platform.Now();
  EXPECT_EQ(m.SmtpQuit(), 0);

  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u);
  const MailReport r = Check(messages[0]);
  SCOPED_TRACE(r.Dump());
  ExpectWellFormed(r, from, until);
  // No header of the mail, nor the mail itself, drew a complaint.
  EXPECT_EQ(r.Dump().find("\nheader_defects."), std::string::npos);
  EXPECT_EQ(r.Get("subject"), subject);
  EXPECT_EQ(r.Get("from.name"), sender);
  EXPECT_EQ(r.Get("from.address"), "sender@example.com");
  EXPECT_EQ(r.Get("to.name"), recipient);
  EXPECT_EQ(r.Get("to.address"), "hanako@example.jp");
  ASSERT_EQ(r.Count("attachments"), static_cast<int>(names.size()));
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string key = "attachments." + std::to_string(i) + ".";
    EXPECT_EQ(r.Get(key + "filename_rfc2231"), names[i]);
    EXPECT_EQ(r.Get(key + "content_type"), types[i]);
    EXPECT_EQ(r.Get(key + "defects.count"), "0");
  }
  // The encoded words still carry every name that has a JIS X 0208 form.
  EXPECT_EQ(r.Get("attachments.1.filename"), names[1]);
  EXPECT_EQ(r.Get("attachments.2.filename"), names[2]);

  // Node.js's mailparser, a reader written apart from Python's, shows the
  // same texts, and takes every file name whole from RFC 2231, ① included.
  const MailReport node = CheckWithMailparser(messages[0]);
  SCOPED_TRACE(node.Dump());
  EXPECT_EQ(node.Get("subject"), subject);
  EXPECT_EQ(node.Get("from.name"), sender);
  EXPECT_EQ(node.Get("from.address"), "sender@example.com");
  EXPECT_EQ(node.Get("to.name"), recipient);
  EXPECT_EQ(node.Get("to.address"), "hanako@example.jp");
  EXPECT_EQ(Normalized(node.Get("body")), "本文です。");
  ASSERT_EQ(node.Count("attachments"), static_cast<int>(names.size()));
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string key = "attachments." + std::to_string(i) + ".";
    EXPECT_EQ(node.Get(key + "filename"), names[i]);
    EXPECT_EQ(node.Get(key + "content_type"), types[i]);
    EXPECT_EQ(node.Get(key + "sha256"), r.Get(key + "sha256"));
  }
}

TEST_F(PeerTest, FiveMegabyteRandomAttachmentArrivesIntact) {
  const std::string bytes = PseudoRandomBytes(5 * 1024 * 1024, 42);
  WriteBytes(dir.File("archive.zip"), bytes);
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  MailConnection& m = NewConnection(Settings(receiver.port()));
  ASSERT_EQ(m.SmtpOpen(), 0);
  EXPECT_EQ(m.SendOneMail(Record("大きな添付", "5MBのファイルです。\r\n", "受取人 鈴木",
                                 "suzuki@example.jp", dir.File("archive.zip") + "\r\n")),
            0)
      << m.GetTranscript();
  EXPECT_EQ(m.SmtpQuit(), 0);

  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u);
  const MailReport r = Check(messages[0]);
  ASSERT_EQ(r.Count("attachments"), 1);
  EXPECT_EQ(r.Get("attachments.0.filename"), "archive.zip");
  EXPECT_EQ(r.Get("attachments.0.length"), std::to_string(bytes.size()));
  EXPECT_EQ(r.Get("attachments.0.sha256"), Sha256(bytes));
  EXPECT_EQ(r.Get("raw.lines_over_998"), "0");
  EXPECT_EQ(Normalized(r.Get("body")), "5MBのファイルです。");
}

// A file that cannot be attached stops the mail before any SMTP command of
// it, so the same connection still carries the next mail.
struct RejectedFileCase {
  const char* name;
  bool create;  // false: the path does not exist
};

void PrintTo(const RejectedFileCase& c, std::ostream* os) {
  *os << c.name;
}

const RejectedFileCase kRejectedFileCases[] = {{"zero_bytes", true}, {"missing", false}};

class RejectedAttachmentTest : public PeerTest,
                               public ::testing::WithParamInterface<RejectedFileCase> {};

TEST_P(RejectedAttachmentTest, GivesCode4AndSendsNothing) {
  const RejectedFileCase& c = GetParam();
  WriteBytes(dir.File("ok.txt"), "fine");
  if (c.create) WriteBytes(dir.File("empty.txt"), "");
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  MailConnection& m = NewConnection(Settings(receiver.port()));
  ASSERT_EQ(m.SmtpOpen(), 0);
  const std::string list = dir.File("ok.txt") + "\r\n" + dir.File("empty.txt") + "\r\n";
  EXPECT_EQ(m.SendOneMail(Record("空の添付", "本文\r\n", "受取人 鈴木", "a@example.jp", list)), 4);
  EXPECT_EQ(m.SendOneMail(Record("次のメール", "本文\r\n", "受取人 鈴木", "b@example.jp")), 0)
      << m.GetTranscript();
  EXPECT_EQ(m.SmtpQuit(), 0);

  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Check(messages[0]).Get("subject"), "次のメール");
  EXPECT_EQ(First(Envelope(messages[0]), "rcpt_to"), "b@example.jp");
}

INSTANTIATE_TEST_SUITE_P(Peers, RejectedAttachmentTest, ::testing::ValuesIn(kRejectedFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkaro::testing
