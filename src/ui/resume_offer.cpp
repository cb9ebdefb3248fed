#include "ui/resume_offer.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "job/resume_run.h"
#include "job/run_journal.h"

namespace velkaro::ui {
namespace {

// A message box with hundreds of addresses helps nobody: the first are
// listed, the rest counted.
constexpr std::size_t kListedAddresses = 20;

// How the journal's recipients stand, as the question tells them.
struct RunCounts {
  int total = 0;
  int accepted = 0;
  std::vector<std::string> inDoubt;  // addresses, Shift_JIS
  int left() const { return total - accepted - static_cast<int>(inDoubt.size()); }
};

RunCounts CountMails(const JournalState& journal) {
  RunCounts counts;
  counts.total = static_cast<int>(journal.mails.size());
  for (const RecipientResult& mail : journal.mails) {
    if (mail.outcome == MailOutcome::Sent) ++counts.accepted;
    if (mail.outcome == MailOutcome::InDoubt) counts.inDoubt.push_back(mail.address);
  }
  return counts;
}

// "2026年12月06日 09:30" in the local time of the platform.
std::string StartText(std::time_t start) {
  const std::tm t = CurrentPlatform().LocalTime(start);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d年%02d月%02d日 %02d:%02d", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
  return Utf8ToSjis(buffer);
}

template <typename N>
std::string Number(N n) {
  return std::to_string(n);
}

std::string AddressList(const std::vector<std::string>& addresses) {
  std::string text;
  for (std::size_t i = 0; i < addresses.size() && i < kListedAddresses; ++i) {
    text += "  " + (addresses[i].empty() ? Sjis("(アドレスなし)") : addresses[i]) + "\r\n";
  }
  if (addresses.size() > kListedAddresses) {
    text += Sjis("  ほか ") + Number(addresses.size() - kListedAddresses) + Sjis(" 件\r\n");
  }
  return text;
}

std::string InDoubtNotice(const std::vector<std::string>& addresses) {
  return Sjis("次の ") + Number(addresses.size()) +
         Sjis(
             " 通は送信できたか分かりません(届いている可能性があるため、宛先に含めません)。"
             "届いたかどうかを確かめてください:\r\n") +
         AddressList(addresses);
}

std::string Question(const JournalState& journal, const RunCounts& counts) {
  std::string text = Sjis("前回の送信(") + StartText(journal.header.start) +
                     Sjis(" 開始)は途中で終わっています。\r\n全") + Number(counts.total) +
                     Sjis("通のうち") + Number(counts.accepted) + Sjis("通は送信済みです。\r\n");
  if (!counts.inDoubt.empty()) {
    text += Number(counts.inDoubt.size()) +
            Sjis(
                "通は送信できたか分からないため(届いている可能性があります)、宛先に含めません。"
                "\r\n");
  }
  text += Sjis("残りの宛先 ") + Number(counts.left()) +
          Sjis(
              " 通への送信を準備しますか？\r\n\r\n"
              "  [はい]: 本文・添付ファイル・残りの宛先を読み込みます(送信はまだしません)。\r\n"
              "  [いいえ]: この送信については今後尋ねません。\r\n"
              "  [キャンセル]: 今回は何もしません(次回の起動時にまた尋ねます)。");
  return text;
}

std::string DifferenceText(const ResumeDifference& d) {
  const std::string path = Utf8ToSjis(d.path);
  switch (d.kind) {
    case ResumeDifference::BodyNotInAFile:
      return Sjis("本文がファイルに保存されていなかったため、同じ本文を読み込めません。");
    case ResumeDifference::BodyMissing: return Sjis("本文ファイルを読めません: ") + path;
    case ResumeDifference::BodyChanged:
      return Sjis("本文ファイルが前回の送信の後に変更されています: ") + path;
    case ResumeDifference::AttachmentMissing: return Sjis("添付ファイルを読めません: ") + path;
    case ResumeDifference::AttachmentChanged:
      return Sjis("添付ファイルが前回の送信の後に変更されています: ") + path;
  }
  return {};
}

void TellRefusal(const ResumePlan& plan) {
  std::string text = Sjis("前回の送信を再開できません。\r\n\r\n");
  for (const ResumeDifference& d : plan.differences) text += "  " + DifferenceText(d) + "\r\n";
  text += Sjis(
      "\r\n何も読み込んでいません。同じ内容で送るには、ファイルを送信時の内容に戻してから"
      "次回の起動時にもう一度お試しください。");
  CurrentPlatform().MessageBox(text, MsgButtons::Ok, MsgIcon::Exclamation);
}

// What the job holds that a resume would replace.
bool FormIsEmpty(const SendJob& job) {
  return job.bodyText.empty() && job.bodyFilePath.empty() && job.recipientLines.empty() &&
         job.attachments.empty();
}

bool CommandLineLoadsTheForm(const CommandLine& line) {
  return line.sendinf || line.text || line.to || !line.files.empty() || line.sendOn;
}

// Loads the run into a job of its own first, so that a refused run leaves
// the form exactly as it was and the form never shows a half-loaded run.
ResumeOffer Load(CVelkaroView& view, CVelkaroDoc& doc, const JournalState& journal) {
  SendJob scratch(doc.settings);
  const ResumePlan plan =
      PrepareResume(scratch, journal, /*force=*/false, /*includeInDoubt=*/false);
  if (plan.refused) {
    TellRefusal(plan);
    return ResumeOffer::Refused;
  }
  SendJob& job = view.job();
  job.bodyText = scratch.bodyText;
  job.bodyFilePath = scratch.bodyFilePath;
  job.bodyModified = false;
  job.bodyEncoding = scratch.bodyEncoding;
  job.bodyLineEnds = scratch.bodyLineEnds;
  job.windowTitle = scratch.windowTitle;
  job.attachments = scratch.attachments;
  job.titleIn = scratch.titleIn;
  job.recipientLines = scratch.recipientLines;
  job.substitutionTime = scratch.substitutionTime;
  job.resumesJournal = scratch.resumesJournal;
  view.JobChanged();
  CurrentPlatform().SetStatusText(Sjis("前回の送信の残り ") + Number(plan.toSend) +
                                  Sjis(" 通の宛先を読み込みました。内容を確かめてから[送信]"
                                       "を押してください。"));
  if (!plan.inDoubt.empty()) {
    CurrentPlatform().MessageBox(InDoubtNotice(plan.inDoubt), MsgButtons::Ok, MsgIcon::Information);
  }
  return ResumeOffer::Loaded;
}

}  // namespace

ResumeOffer OfferUnfinishedRun(CVelkaroView& view, CVelkaroDoc& doc) {
  SendJob& job = view.job();
  if (CommandLineLoadsTheForm(doc.commandLine) || job.autoSend || job.Running()) {
    return ResumeOffer::NotAsked;
  }
  view.PullFromControls();
  if (!FormIsEmpty(job)) return ResumeOffer::NotAsked;
  const std::vector<std::string> unfinished = UnfinishedJournals(doc.settings.GetProgramFolder());
  if (unfinished.empty()) return ResumeOffer::NotAsked;
  const std::string& path = unfinished.front();
  const std::optional<JournalState> journal = ReadJournal(path, nullptr);
  if (!journal) return ResumeOffer::NotAsked;

  const RunCounts counts = CountMails(*journal);
  if (counts.left() <= 0) {
    // The run ended after its last mail: there is nothing to take up, and
    // asking at every start would only be in the way.
    std::string text = Sjis("前回の送信(") + StartText(journal->header.start) +
                       Sjis(" 開始)は途中で終わりましたが、残りの宛先はありません。\r\n");
    if (!counts.inDoubt.empty()) text += "\r\n" + InDoubtNotice(counts.inDoubt);
    CurrentPlatform().MessageBox(text, MsgButtons::Ok, MsgIcon::Information);
    MarkJournal(path, "no-offer");
    return ResumeOffer::NothingLeft;
  }
  switch (CurrentPlatform().MessageBox(Question(*journal, counts), MsgButtons::YesNoCancel,
                                       MsgIcon::Question)) {
    case MsgAnswer::Yes: return Load(view, doc, *journal);
    // Never asking again takes a deliberate No: Esc and the close box
    // answer Cancel, which only puts the question off.
    case MsgAnswer::No:
      if (!MarkJournal(path, "no-offer")) {
        CurrentPlatform().MessageBox(
            Sjis("送信記録(ジャーナル)に書き込めませんでした。次回の起動時にまた尋ねます。\r\n") +
                Utf8ToSjis(path),
            MsgButtons::Ok, MsgIcon::Exclamation);
        return ResumeOffer::Declined;
      }
      return ResumeOffer::Silenced;
    default: return ResumeOffer::Declined;
  }
}

void ForgetResumedRun(SendJob& job) {
  job.resumesJournal.clear();
  job.substitutionTime = 0;
}

}  // namespace velkaro::ui
