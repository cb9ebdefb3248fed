#include "job/send_setup.h"

#include <sys/stat.h>

#include "core/atomic_file.h"
#include "core/encoding.h"
#include "core/text_file.h"
#include "core/zentool.h"
#include "data/address_book.h"
#include "job/overwrite_question.h"

namespace velkaro {
namespace {

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

std::string TrimSpace(const std::string& s) {
  const char* space = " \t\r\n\v\f";
  const auto first = s.find_first_not_of(space);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(space) - first + 1);
}

void SetOnce(int& option, int value) {
  if (option == -1) option = value;
}

// The setup file's paths are Shift_JIS text; the file system spells them
// in UTF-8.
std::string PathValue(const std::string& line, std::size_t skip) {
  return SjisToUtf8(TrimOptionValue(line.substr(skip)));
}

class SetupReader {
 public:
  SetupReader(SendJob& job, const std::string& addressBook) : job_(job), book_(addressBook) {}

  void Line(const std::string& line) {
    if (line.empty()) return;
    if (inBlock_) {
      BlockLine(line);
    } else {
      CommandLine(line);
    }
  }

 private:
  void CommandLine(const std::string& line) {
    if (StartsWith(line, "/quit=on")) {
      SetOnce(job_.quitOption, 1);
    } else if (StartsWith(line, "/quit=off")) {
      SetOnce(job_.quitOption, 0);
    } else if (StartsWith(line, "/send=on")) {
      SetOnce(job_.sendOption, 1);
    } else if (StartsWith(line, "/send=off")) {
      SetOnce(job_.sendOption, 0);
    } else if (StartsWith(line, "/text=")) {
      if (job_.textOption.empty()) job_.LoadBodyFile(PathValue(line, 6));
    } else if (StartsWith(line, "/binfile=")) {
      // Rejected files leave no gap in the rows.
      if (job_.AddAttachment(attachments_, PathValue(line, 9)) == 0) ++attachments_;
    } else if (StartsWith(line, "/sendto-begin")) {
      entry_ = AddressEntry{};
      inBlock_ = true;
    }
  }

  void BlockLine(const std::string& line) {
    static const struct {
      const char* key;
      std::string AddressEntry::*field;
    } kKeys[] = {
        {"name=", &AddressEntry::name},         {"kana=", &AddressEntry::kana},
        {"mailaddr=", &AddressEntry::mailaddr}, {"telephone=", &AddressEntry::telephone},
        {"realaddr=", &AddressEntry::realaddr}, {"data1=", &AddressEntry::data1},
        {"data2=", &AddressEntry::data2},       {"data3=", &AddressEntry::data3},
        {"data4=", &AddressEntry::data4},
    };
    if (StartsWith(line, "/sendto-end")) {
      job_.recipientLines += FormatEntryLine(entry_);
      inBlock_ = false;
      return;
    }
    if (StartsWith(line, "regist=")) {
      Regist(TrimSpace(line.substr(7)));
      return;
    }
    for (const auto& k : kKeys) {
      if (StartsWith(line, k.key)) {
        entry_.*k.field = TrimSpace(line.substr(std::char_traits<char>::length(k.key)));
        return;
      }
    }
  }

  // A known registered name brings its whole entry (the last one of that
  // name); lines after it in the block can still change each value.
  void Regist(const std::string& name) {
    entry_.regist = name;
    const auto found = FindEntryByRegist(book_, name, RegistMatch::Last);
    if (!found) return;
    AddressEntry known;
    if (ParseEntryLine(*found, 0, known) > 1) return;
    known.regist = name;
    entry_ = known;
  }

  SendJob& job_;
  const std::string& book_;
  bool inBlock_ = false;
  int attachments_ = 0;
  AddressEntry entry_;
};

}  // namespace

int ReadSendSetupText(SendJob& job, const std::string& setupText, const std::string& addressBook) {
  if (setupText.empty()) return 1;
  Zentool z;
  // Text from the clipboard may end its lines in a bare LF.
  const std::string text = LoneLfToCrLf(setupText) + "\r\n";
  const int count = z.ZenCountLines(text);
  SetupReader reader(job, addressBook);
  for (int i = 0; i < count; ++i) reader.Line(z.ZenGetLine(text, i));
  if (!job.recipientLines.empty()) job.RebuildRecipientList();
  return 0;
}

int ReadSendSetup(SendJob& job, const std::string& addressBook) {
  std::string text;
  if (job.sendinfOption == "<clip>") {
    text = CurrentPlatform().ClipboardText().value_or("");
  } else if (!job.sendinfOption.empty()) {
    text = ReadTextFile(job.sendinfOption).sjis;
  }
  return ReadSendSetupText(job, text, addressBook);
}

std::string BuildSendSetupText(const SendJob& job) {
  Zentool z;
  std::string out = Sjis(";; Velkaro: 送信データセットアップ情報ファイル\r\n\r\n");
  if (!job.bodyFilePath.empty()) out += "/text=" + Utf8ToSjis(job.bodyFilePath) + "\r\n";
  for (const AttachmentRow& row : job.attachments) {
    out += "/binfile=" + Utf8ToSjis(row.folder) + "/" + Utf8ToSjis(row.name) + "\r\n";
  }
  if (!job.attachments.empty()) out += "\r\n";
  if (job.autoQuit) out += "/quit=on\r\n\r\n";
  const int count = z.ZenCountLines(job.recipientLines);
  for (int i = 0; i < count; ++i) {
    const std::string line = z.ZenGetLineCrLf(job.recipientLines, i);
    const auto field = [&](int k) { return z.ZenGetTabItem(line, k); };
    out += "/sendto-begin\r\n";
    out += "regist=" + field(1) + "\r\nname=" + field(2) + "\r\nkana=" + field(0) +
           "\r\nmailaddr=" + field(3) + "\r\ntelephone=" + field(4) + "\r\nrealaddr=" + field(5) +
           "\r\n";
    out += "data1=" + field(6) + "\r\ndata2=" + field(7) + "\r\ndata3=" + field(8) +
           "\r\ndata4=" + field(9) + "\r\n";
    out += "/sendto-end\r\n\r\n";
  }
  return out;
}

int SaveSetupText(const std::string& path, const std::string& text, bool noQuestion) {
  Zentool z;
  if (z.ZenGetFileSize(path) <= 0) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 2;
  } else if (!noQuestion) {
    const MsgAnswer answer = AskOverwrite(path);
    if (answer == MsgAnswer::No) return 1;
    if (answer != MsgAnswer::Yes) return 0;
  }
  const int written = AtomicWriteFile(path, text);
  if (written != 0) return written == -1 ? 10 : 11;
  CurrentPlatform().Sleep(1000);
  return 0;
}

std::vector<std::string> ApplyCommandLine(SendJob& job, const CommandLine& line,
                                          const std::string& addressBook) {
  std::vector<std::string> failed;
  if (line.Empty()) return failed;
  if (line.sendinf) job.sendinfOption = *line.sendinf;
  ReadSendSetup(job, addressBook);
  if (line.quitOn) job.quitOption = 1;
  if (line.quitOff) job.quitOption = 0;
  if (line.sendOn) job.sendOption = 1;
  if (line.sendOff) job.sendOption = 0;
  for (const std::string& file : line.files) {
    if (job.LoadBodyFile(file) != 0) failed.push_back(file);
  }
  if (line.text) {
    job.textOption = *line.text;
    if (!job.textOption.empty()) job.LoadBodyFile(job.textOption);
  }
  if (line.to && !line.to->empty()) job.AddRecipientByName(*line.to, addressBook);
  if (job.quitOption == 1) job.autoQuit = true;
  job.autoSend = job.sendOption == 1;
  job.NotifyChanged();
  return failed;
}

}  // namespace velkaro
