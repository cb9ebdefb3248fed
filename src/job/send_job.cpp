// The job's state, its body and attachment operations and its timers.
#include "job/send_job.h"

#include <sys/stat.h>

#include "core/atomic_file.h"
#include "core/encoding.h"
#include "core/zentool.h"
#include "data/address_book.h"
#include "job/overwrite_question.h"
#include "job/personal_files.h"
#include "job/personalise.h"

namespace velkaro {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Permissions of an existing file, so that saving keeps them.
mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
}

}  // namespace

SendJob::SendJob(Settings& settings) : settings_(settings) {
  titleIn = settings.record.titleIn == 1;
  sendButtonCaption = Sjis("送信");
  windowTitle = Sjis("無題 - Velkaro");
}

SendJob::~SendJob() {
  Platform& platform = CurrentPlatform();
  platform.StopTimer(this, kAutoSendTimerId);
  platform.StopTimer(this, kProgressTimerId);
  platform.StopTimer(this, MailConnection::kReplyTimerId);
}

void SendJob::PullFromView() {
  if (view_ != nullptr) view_->PullFromControls();
}

void SendJob::NotifyChanged() {
  if (view_ != nullptr) view_->JobChanged();
}

int SendJob::LoadBodyFile(const std::string& path) {
  PullFromView();
  Zentool z;
  if (z.ZenGetFileSize(path) <= 0) return 1;
  const TextFileContent content = ReadTextFile(path);
  // A NUL byte means this is no text file; loading it would lose data the
  // moment the body is saved again.
  if (!content.ok || content.sjis.empty() || content.sjis.find('\0') != std::string::npos) {
    return 2;
  }
  bodyText = content.sjis;
  bodyFilePath = path;
  bodyEncoding = content.encoding;
  bodyLineEnds = content.lineEnds;
  bodyModified = false;
  windowTitle = Utf8ToSjis(z.ZenSplitPath(PathPart::NameExtension, path));
  NotifyChanged();
  if (content.unmappable > 0) {
    CurrentPlatform().MessageBox(
        Sjis("本文ファイルに Shift_JIS で表せない文字が ") + std::to_string(content.unmappable) +
            Sjis(" 文字あります。\r\nそれらの文字は 〓 に置き換えました。"),
        MsgButtons::Ok, MsgIcon::Exclamation);
  }
  return 0;
}

int SendJob::AddAttachment(int index, const std::string& path) {
  PullFromView();
  Zentool z;
  if (path.empty()) return 1;
  // A personal row names each recipient's own file: whether those exist is
  // for the checks before a run, when the recipients are known.
  const bool personal = IsPersonalPattern(PlaceholderWordsOf(settings_.record), path);
  if (!personal && z.ZenGetFileSize(path) <= 0) return 2;
  const std::string name = z.ZenSplitPath(PathPart::NameExtension, path);
  const std::string folder = z.ZenSplitPath(PathPart::DriveFolder, path);
  if (name.empty() || folder.empty()) return 3;
  const std::size_t at = std::min<std::size_t>(index < 0 ? 0 : index, attachments.size());
  attachments.insert(attachments.begin() + static_cast<std::ptrdiff_t>(at), {name, folder});
  NotifyChanged();
  return 0;
}

int SendJob::SaveBodyFile(const std::string& path, bool noQuestion) {
  Zentool z;
  if (z.ZenGetFileSize(path) <= 0) {
    if (IsFolder(path)) return 3;
  } else if (!noQuestion) {
    const MsgAnswer answer = AskOverwrite(path);
    if (answer == MsgAnswer::No) return 1;
    if (answer != MsgAnswer::Yes) return 2;
  }
  // The file goes back in the encoding and line-end style it was read in;
  // written atomically so a failed save never costs the old file.
  const std::string bytes = EncodeTextForFile(bodyText, bodyEncoding, bodyLineEnds);
  if (AtomicWriteFile(path, bytes, ModeOf(path)) != 0) return -1;
  bodyModified = false;
  NotifyChanged();
  return 0;
}

void SendJob::ClearBody() {
  bodyFilePath.clear();
  bodyText.clear();
  bodyModified = false;
  bodyEncoding = TextEncoding::ShiftJis;
  bodyLineEnds = LineEnds::CrLf;
  windowTitle = Sjis("無題 - Velkaro");
  NotifyChanged();
}

std::string SendJob::AttachmentPath(std::size_t row) const {
  if (row >= attachments.size()) return {};
  return Zentool().ZenJoinPath(attachments[row].folder, attachments[row].name);
}

int SendJob::AddRecipientByName(const std::string& value, const std::string& addressBook) {
  const auto first = value.find_first_not_of(" \"");
  if (first == std::string::npos) return 1;
  const std::string name = value.substr(first, value.find_last_not_of(" \"") - first + 1);
  if (const auto entry = FindEntryByRegist(addressBook, name, RegistMatch::First)) {
    recipientLines += *entry;
    NotifyChanged();
    return 0;
  }
  const auto open = name.find('<');
  if (open == std::string::npos || open == 0) return 0;
  const auto close = name.find('>', open);
  if (close == std::string::npos || close == open + 1) return 0;
  AddressEntry entry;
  entry.regist = Sjis("(未登録者)");
  // In "鈴木 花子 <addr>" the space before "<" only separates; kept, it
  // would follow the name into subjects and greetings ("鈴木 花子 様").
  // Quotes of a quoted display name go too.
  const auto trimmed = [](const std::string& text, const char* blanks) {
    const auto from = text.find_first_not_of(blanks);
    if (from == std::string::npos) return std::string();
    return text.substr(from, text.find_last_not_of(blanks) - from + 1);
  };
  entry.name = trimmed(name.substr(0, open), " \t\"");
  entry.mailaddr = trimmed(name.substr(open + 1, close - open - 1), " \t");
  recipientLines += FormatEntryLine(entry);
  NotifyChanged();
  return 0;
}

void SendJob::RequestStop() {
  if (activeConnection_ != nullptr) activeConnection_->RequestStop();
}

std::string SendJob::DetailsText() const {
  return sendDetails.empty() ? Sjis("詳細情報はありません。") : sendDetails;
}

void SendJob::StartAutoSendTimer() {
  CurrentPlatform().StartTimer(this, kAutoSendTimerId, kAutoSendDelayMs);
}

void SendJob::OnTimer(int id) {
  Platform& platform = CurrentPlatform();
  platform.StopTimer(this, id);
  switch (id) {
    case kAutoSendTimerId: platform.PostCommand(kCommandSend); break;
    case kProgressTimerId:
      if (activeConnection_ == nullptr) return;
      ShowProgress();
      platform.StartTimer(this, kProgressTimerId, kProgressPeriodMs);
      break;
    case MailConnection::kReplyTimerId:
      if (activeConnection_ != nullptr) activeConnection_->replyWaiting = 0;
      break;
    default: break;
  }
}

void SendJob::ShowProgress() {
  const std::string text = ProgressText(activeConnection_->GetProgress());
  if (!text.empty()) SetStatus(text);
}

std::string SendJob::ProgressText(const ProgressRecord& p) {
  int stage = -1;
  for (int n = 19; n >= 0; --n) {
    if (p.stage[n] == 1) {
      stage = n;
      break;
    }
  }
  const std::string skipped = p.popDone == 1 ? "" : Sjis("(POP befor SMTP スキップ)");
  const auto bytes = [&](const char* label) {
    return Sjis(label) + ": " + std::to_string(p.dataSent) + "Bytes/ " +
           std::to_string(p.dataSize) + "Bytes";
  };
  const auto attachment = [&](const char* label) {
    return Sjis("添付ファイル[ ") + std::to_string(p.attachmentIndex) + " ]" + Sjis(label) + ": " +
           std::to_string(p.dataSent / 1024) + "KB/ " + std::to_string(p.dataSize / 1024) + "KB( " +
           std::to_string(p.dataSize) + " Bytes)";
  };
  switch (stage) {
    case 0: return Sjis("メール送信を受け付けました。");
    case 1: return Sjis("宛先と差出人情報を送信します。") + skipped;
    case 2: return Sjis("メール送信を開始しました。") + skipped;
    case 3: return Sjis("ヘッダー部の送信完了しました。");
    case 4: return bytes("本文送信開始しました。");
    case 5: return bytes("本文送信完了しました。");
    case 6: return attachment("送信開始しました。");
    case 7: return attachment("送信完了しました。");
    case 8: return Sjis("全ての添付ファイル送信完了しました。");
    default: return {};
  }
}

void SendJob::SetStatus(const std::string& sjisText) {
  CurrentPlatform().SetStatusText(sjisText);
  NotifyChanged();
}

void SendJob::SetSendButton(const std::string& sjisCaption, bool enabled) {
  sendButtonCaption = sjisCaption;
  sendButtonEnabled = enabled;
  NotifyChanged();
}

}  // namespace velkaro
