// The form's file commands: new, open, save and save as for the body text,
// adding attachments, and reading and writing send setup files. The file
// dialogs and questions go through the platform, so tests can answer them.
#include <sys/stat.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <cerrno>
#include <climits>
#include <optional>

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/send_setup.h"
#include "ui/dialogs/dialogs.h"
#include "ui/velkaro_view.h"

namespace velkaro::ui {
namespace {

const char* const kBodyFilter = "本文テキスト(*.txt)|*.txt|全て(*.*)|*.*||";
const char* const kSetupFilter = "送信データセットアップ情報(*.vlk2)|*.vlk2|全て(*.*)|*.*||";
const char* const kAnyFilter = "全て(*.*)|*.*||";

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasContent(const std::string& path) {
  return !path.empty() && Zentool().ZenGetFileSize(path) > 0;
}

std::string NameOf(const std::string& path) {
  return Zentool().ZenSplitPath(PathPart::NameExtension, path);
}

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

// The dialogs may change the process's current folder on some platforms;
// the program's relative paths must not follow them.
class CurrentDirectoryKeeper {
 public:
  CurrentDirectoryKeeper() : saved_(CurrentDirectory()) {}
  ~CurrentDirectoryKeeper() {
    if (!saved_.empty() && CurrentDirectory() != saved_ && ::chdir(saved_.c_str()) != 0) {
      errno = 0;  // the folder went away meanwhile; nothing to go back to
    }
  }
  CurrentDirectoryKeeper(const CurrentDirectoryKeeper&) = delete;
  CurrentDirectoryKeeper& operator=(const CurrentDirectoryKeeper&) = delete;

 private:
  std::string saved_;
};

// A dialog starts in the folder chosen in the settings when it exists, and
// in the current folder when none is chosen.
template <std::size_t N>
std::string StartFolder(const char (&configured)[N]) {
  const std::string folder = FieldText(configured);
  if (!folder.empty()) return IsFolder(folder) ? folder : std::string();
  const std::string current = CurrentDirectory();
  return IsFolder(current) ? current : std::string();
}

void Tell(const std::string& sjisText) {
  CurrentPlatform().MessageBox(sjisText, MsgButtons::Ok, MsgIcon::Exclamation);
}

}  // namespace

// --- body ---

void CVelkaroView::NewBodyCommand() {
  ClearBodyAfterQuestion();
}

bool CVelkaroView::ClearBodyAfterQuestion() {
  if (!OfferToSaveChangedBody()) return false;
  job_.ClearBody();
  return true;
}

// A changed text is offered for saving before anything replaces it, also a
// typed one that never had a file: replacing it unasked would lose it.
bool CVelkaroView::OfferToSaveChangedBody() {
  if (!job_.bodyModified || job_.bodyText.empty()) return true;
  const std::string question =
      job_.bodyFilePath.empty()
          ? Sjis("本文が新規に書き込まれています。保存しますか?")
          : Sjis("本文が変更されています。保存しますか?\r\nオリジナルファイル:") +
                Utf8ToSjis(job_.bodyFilePath);
  if (CurrentPlatform().MessageBox(question, MsgButtons::YesNo, MsgIcon::Question) !=
      MsgAnswer::Yes) {
    return true;
  }
  // Yes always asks for the name: a silent overwrite is not what was asked.
  return SaveBodyAs() != SaveOutcome::Failed;
}

bool CVelkaroView::LoadBodyReported(const std::string& path) {
  const int result = job_.LoadBodyFile(path);
  if (result == 0) return true;
  Tell((result == 1 ? Sjis("本文テキストファイルが見つからないか、空です。\r\n")
                    : Sjis("本文テキストとして読み込めないファイルです。\r\n")) +
       Utf8ToSjis(path));
  return false;
}

void CVelkaroView::OpenBody() {
  CurrentDirectoryKeeper keep;
  FileDialogRequest request;
  request.kind = FileDialogRequest::Open;
  request.defaultExtension = "txt";
  request.initialName = "*.txt";
  request.filter = Sjis(kBodyFilter);
  request.startFolder = StartFolder(doc_.settings.record.bodyFolder);
  const std::vector<std::string> chosen = CurrentPlatform().FileDialog(request);
  if (chosen.empty()) return;
  if (!OfferToSaveChangedBody()) return;
  // A file that cannot be loaded leaves the body as it was.
  LoadBodyReported(chosen.front());
}

void CVelkaroView::SaveBody() {
  if (job_.bodyText.empty()) {
    CurrentPlatform().MessageBox(Sjis("保存すべき本文テキストがありません。"), MsgButtons::Ok,
                                 MsgIcon::Information);
    return;
  }
  if (!HasContent(job_.bodyFilePath)) {
    SaveBodyAs();
    return;
  }
  WriteBody(job_.bodyFilePath, true);
}

void CVelkaroView::SaveBodyAsCommand() {
  if (job_.bodyText.empty()) {
    CurrentPlatform().MessageBox(Sjis("保存すべき本文テキストがありません。"), MsgButtons::Ok,
                                 MsgIcon::Information);
    return;
  }
  SaveBodyAs();
}

SaveOutcome CVelkaroView::WriteBody(const std::string& path, bool noQuestion) {
  if (!BodyFitsShiftJis(false)) return SaveOutcome::Failed;
  const int result = job_.SaveBodyFile(path, noQuestion);
  if (result == 0) return SaveOutcome::Saved;
  if (result == -1) {
    Tell(Sjis("本文テキストを保存できませんでした。\r\n") + Utf8ToSjis(path));
    return SaveOutcome::Failed;
  }
  return SaveOutcome::NotSaved;
}

SaveOutcome CVelkaroView::SaveBodyAs() {
  if (!BodyFitsShiftJis(false)) return SaveOutcome::Failed;
  CurrentDirectoryKeeper keep;
  for (;;) {
    FileDialogRequest request;
    request.kind = FileDialogRequest::Save;
    request.defaultExtension = "txt";
    request.initialName = HasContent(job_.bodyFilePath) ? NameOf(job_.bodyFilePath) : "";
    request.filter = Sjis(kBodyFilter);
    request.startFolder = StartFolder(doc_.settings.record.bodyFolder);
    // The overwrite question is the program's own three-way one.
    request.overwritePrompt = false;
    const std::vector<std::string> chosen = CurrentPlatform().FileDialog(request);
    if (chosen.empty()) return SaveOutcome::NotSaved;
    const std::string& path = chosen.front();
    const int result = job_.SaveBodyFile(path, false);
    if (result == 1) continue;  // No: another name
    if (result == 0) {
      job_.bodyFilePath = path;
      job_.windowTitle = Utf8ToSjis(NameOf(path));
      job_.NotifyChanged();
      return SaveOutcome::Saved;
    }
    if (result == -1) {
      Tell(Sjis("本文テキストを保存できませんでした。\r\n") + Utf8ToSjis(path));
      return SaveOutcome::Failed;
    }
    return SaveOutcome::NotSaved;  // Cancel, or a folder was chosen
  }
}

bool CVelkaroView::AskToSaveBeforeExit() {
  if (!job_.bodyModified) return true;
  if (job_.bodyFilePath.empty()) {
    if (job_.bodyText.empty()) return true;  // nothing typed that could be lost
    if (CurrentPlatform().MessageBox(Sjis("本文が新規に書き込まれています。保存しますか?"),
                                     MsgButtons::YesNo, MsgIcon::Question) != MsgAnswer::Yes) {
      return true;
    }
    return SaveBodyAs() != SaveOutcome::Failed;
  }
  const std::string question =
      Sjis("本文が変更されています。保存しますか?\r\nオリジナルファイル:") +
      Utf8ToSjis(job_.bodyFilePath);
  if (CurrentPlatform().MessageBox(question, MsgButtons::YesNo, MsgIcon::Question) ==
      MsgAnswer::Yes) {
    return WriteBody(job_.bodyFilePath, true) != SaveOutcome::Failed;
  }
  // No keeps the original file and offers another name; cancelling that
  // dialog lets the changes go.
  return SaveBodyAs() != SaveOutcome::Failed;
}

// --- attachments ---

void CVelkaroView::AddAttachments() {
  CurrentDirectoryKeeper keep;
  FileDialogRequest request;
  request.kind = FileDialogRequest::OpenMany;
  request.mustExist = true;
  request.filter = Sjis(kAnyFilter);
  request.startFolder = StartFolder(doc_.settings.record.attachFolder);
  const std::vector<std::string> chosen = CurrentPlatform().FileDialog(request);
  if (!chosen.empty()) AddAttachmentFiles(chosen);
}

// Files are added in the order given, after the rows already there. A file
// that cannot be attached (empty, missing, a folder) is named to the user:
// a mail must not go out silently without it.
void CVelkaroView::AddAttachmentFiles(const std::vector<std::string>& files) {
  const int start = static_cast<int>(job_.attachments.size());
  int added = 0;
  std::string skipped;
  for (const std::string& file : files) {
    if (job_.AddAttachment(start + added, file) == 0) {
      ++added;
    } else {
      skipped += "  " + Utf8ToSjis(file) + "\r\n";
    }
  }
  if (!skipped.empty()) {
    Tell(Sjis("次のファイルは空か、ファイルでないため添付しませんでした。\r\n") + skipped);
  }
}

// A path with placeholder words names a file per recipient; the run
// attaches each one's own. The field starts in the folder of the last row
// (the user's files usually sit together), else in the attachments folder
// of the settings.
void CVelkaroView::AddPersonalAttachment() {
  const std::string folder = job_.attachments.empty() ? FieldText(doc_.settings.record.attachFolder)
                                                      : job_.attachments.back().folder;
  const std::optional<std::string> pattern = RunPersonalAttachmentDialog(window(), folder);
  if (!pattern) return;
  const int index = static_cast<int>(job_.attachments.size());
  const int result = job_.AddAttachment(index, *pattern);
  if (result != 0) {
    Tell((result == 3 ? Sjis("ファイル名かフォルダのないパスは添付できません。\r\n")
                      : Sjis("ファイルが見つからないか空のため、添付しませんでした。\r\n")) +
         Utf8ToSjis(*pattern));
    return;
  }
  if (!job_.IsPersonalAttachment(static_cast<std::size_t>(index))) {
    CurrentPlatform().MessageBox(
        Sjis("パスに差し込みの語がないため、全員に同じファイルを添付します。\r\n") +
            Utf8ToSjis(*pattern),
        MsgButtons::Ok, MsgIcon::Information);
  }
}

// --- send setup files ---

void CVelkaroView::OpenSetupFile() {
  FileDialogRequest request;
  request.kind = FileDialogRequest::Open;
  request.defaultExtension = "vlk2";
  request.initialName = "*.vlk2";
  request.filter = Sjis(kSetupFilter);
  request.startFolder = StartFolder(doc_.settings.record.setupFolder);
  std::vector<std::string> chosen;
  {
    CurrentDirectoryKeeper keep;
    chosen = CurrentPlatform().FileDialog(request);
  }
  if (chosen.empty()) return;
  if (!ClearBodyAfterQuestion()) return;
  job_.recipientLines.clear();
  job_.attachments.clear();
  attachmentHit_ = false;
  job_.NotifyChanged();
  PullFromControls();  // the auto-quit box keeps its tick
  job_.quitOption = -1;
  job_.sendOption = -1;
  job_.textOption.clear();
  job_.sendinfOption = chosen.front();
  // Reading never starts a run: the send option counts at start-up only.
  ReadSendSetup(job_, doc_.addressBook);
  if (job_.quitOption == 1) job_.autoQuit = true;
  job_.NotifyChanged();
}

void CVelkaroView::WriteSetupFile() {
  const std::string text = BuildSendSetupText(job_);
  for (;;) {
    FileDialogRequest request;
    request.kind = FileDialogRequest::Save;
    request.defaultExtension = "vlk2";
    request.filter = Sjis(kSetupFilter);
    request.startFolder = StartFolder(doc_.settings.record.setupFolder);
    // One overwrite question, the program's own: it can send the user back
    // to the dialog for another name.
    request.overwritePrompt = false;
    std::vector<std::string> chosen;
    {
      CurrentDirectoryKeeper keep;
      chosen = CurrentPlatform().FileDialog(request);
    }
    if (chosen.empty()) return;
    const int result = SaveSetupText(chosen.front(), text, false);
    if (result == 1) continue;
    if (result == 10 || result == 11) {
      Tell(Sjis("送信セットアップファイルを保存できませんでした。\r\n") +
           Utf8ToSjis(chosen.front()));
    }
    return;
  }
}

}  // namespace velkaro::ui
