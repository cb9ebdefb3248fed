// Send setup files (ReadSendSetup in src/job/send_setup.*) of arbitrary
// bytes, read from a file as the program reads them.
//
// The scratch folder holds a body text "本文.txt" and an attachment
// "地図.pdf"; every "<fixtures>" in the input is replaced by that folder's
// path, so seed files can name them ("/text=<fixtures>/本文.txt" in
// Shift_JIS). An address book of two entries backs the "regist=" lookups.
#include <algorithm>

#include "core/encoding.h"
#include "core/text_file.h"
#include "core/zentool.h"
#include "data/address_book.h"
#include "job/send_setup.h"
#include "support.h"

using namespace velkaro;

namespace {

constexpr char kToken[] = "<fixtures>";
constexpr std::size_t kMaxInput = 64 * 1024;

const std::string& Fixtures() {
  static const std::string folder = [] {
    const std::string f = fuzz::ScratchFolder();
    fuzz::WriteFile(f + "/本文.txt", Sjis("ご案内\r\n((name)) 様\r\nｶﾀｶﾅ も 漢字 も\r\n"));
    fuzz::WriteFile(f + "/地図.pdf", "%PDF-1.4\n\x80\x81\x82\n%%EOF\n");
    return f;
  }();
  return folder;
}

const std::string& Book() {
  static const std::string book =
      AddressBookHeaderLine() +
      Sjis("やまだ\t山田\t山田 太郎\tyamada@example.jp\t03-1234-5678\t東京都\t\t\t\t\r\n") +
      Sjis("すずき\t鈴木\t鈴木 花子\tsuzuki@example.jp\t\t大阪府\tA\tB\tC\tD\r\n");
  return book;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t p = text.find(from); p != std::string::npos;
       p = text.find(from, p + to.size())) {
    text.replace(p, from.size(), to);
  }
  return text;
}

// What the job holds after a setup text: whole entry lines of ten fields,
// attachments that have a name and a folder.
void CheckJob(const SendJob& job) {
  const Zentool z;
  const std::string& lines = job.recipientLines;
  FUZZ_CHECK(lines.empty() || lines.compare(lines.size() - 2, 2, "\r\n") == 0);
  const int count = z.ZenCountLines(lines);
  FUZZ_CHECK(count == std::count(lines.begin(), lines.end(), '\n'));
  FUZZ_CHECK(std::count(lines.begin(), lines.end(), '\t') == 9 * count);
  for (const AttachmentRow& row : job.attachments) {
    FUZZ_CHECK(!row.name.empty() && !row.folder.empty());
  }
}

// Read into a fresh job the way the program starts one from a setup file.
std::string ReadAndBuild(const std::string& setupText) {
  Settings settings;
  SendJob job(settings);
  FUZZ_CHECK(ReadSendSetupText(job, setupText, Book()) == (setupText.empty() ? 1 : 0));
  job.autoQuit = job.quitOption == 1;
  CheckJob(job);
  return BuildSendSetupText(job);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return -1;
  TestPlatform& platform = fuzz::Platform();
  platform.SetProgramFolder(fuzz::ScratchFolder());
  const std::string path = Fixtures() + "/setup.vlk2";
  fuzz::WriteFile(path, ReplaceAll(fuzz::Bytes(data, size), kToken, Fixtures()));

  Settings settings;
  SendJob job(settings);
  job.sendinfOption = path;
  // 1 only when the file holds no text (nothing, or a byte-order mark).
  const bool noText = ReadTextFile(path).sjis.empty();
  FUZZ_CHECK(ReadSendSetup(job, Book()) == (noText ? 1 : 0));
  job.autoQuit = job.quitOption == 1;
  CheckJob(job);

  // The setup text the job gives describes the same job: read again it
  // gives itself back.
  const std::string built = BuildSendSetupText(job);
  FUZZ_CHECK(ReadAndBuild(built) == built);
  return 0;
}
