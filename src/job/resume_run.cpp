#include "job/resume_run.h"

#include "core/zentool.h"

namespace velkaro {
namespace {

void LoadBody(SendJob& job, const JournalHeader& header, ResumePlan& plan) {
  const std::string& path = header.bodyFilePath;
  if (path.empty()) {
    plan.differences.push_back({ResumeDifference::BodyNotInAFile, path});
  } else if (job.LoadBodyFile(path) != 0) {
    plan.differences.push_back({ResumeDifference::BodyMissing, path});
  } else if (Sha256Hex(job.bodyText) != header.bodySha256) {
    plan.differences.push_back({ResumeDifference::BodyChanged, path});
  }
}

void LoadAttachments(SendJob& job, const JournalHeader& header, ResumePlan& plan) {
  job.attachments.clear();
  for (const JournalAttachment& a : header.attachments) {
    if (job.AddAttachment(static_cast<int>(job.attachments.size()), a.path) != 0) {
      plan.differences.push_back({ResumeDifference::AttachmentMissing, a.path});
    } else if (Zentool().ZenGetFileSize(a.path) != a.size ||
               FileSha256Hex(a.path).value_or(std::string()) != a.sha256) {
      plan.differences.push_back({ResumeDifference::AttachmentChanged, a.path});
    }
  }
}

}  // namespace

ResumePlan PrepareResume(SendJob& job, const JournalState& journal, bool force,
                         bool includeInDoubt) {
  ResumePlan plan;
  LoadBody(job, journal.header, plan);
  LoadAttachments(job, journal.header, plan);
  job.titleIn = journal.header.titleIn;
  job.substitutionTime = journal.header.start;
  job.recipientLines.clear();
  for (const RecipientResult& mail : journal.mails) {
    if (mail.outcome == MailOutcome::Sent) {
      ++plan.accepted;
      continue;
    }
    if (mail.outcome == MailOutcome::InDoubt) {
      plan.inDoubt.push_back(mail.address);
      if (!includeInDoubt) continue;
    }
    job.recipientLines += mail.line;
    ++plan.toSend;
  }
  for (const ResumeDifference& d : plan.differences) {
    const bool changedOnly =
        d.kind == ResumeDifference::BodyChanged || d.kind == ResumeDifference::AttachmentChanged;
    if (!changedOnly || !force) plan.refused = true;
  }
  job.resumesJournal = journal.path;
  return plan;
}

std::string DescribeDifference(const ResumeDifference& d) {
  switch (d.kind) {
    case ResumeDifference::BodyNotInAFile:
      return "the run's body text was not saved in a file; it cannot be sent again";
    case ResumeDifference::BodyMissing: return "the body file " + d.path + " cannot be read";
    case ResumeDifference::BodyChanged: return "the body file " + d.path + " changed since the run";
    case ResumeDifference::AttachmentMissing: return "the attachment " + d.path + " cannot be read";
    case ResumeDifference::AttachmentChanged:
      return "the attachment " + d.path + " changed since the run";
  }
  return {};
}

}  // namespace velkaro
