#include "job/eml_export.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/atomic_file.h"
#include "core/encoding.h"
#include "core/zentool.h"
#include "job/personalise.h"
#include "job/run_policy.h"
#include "job/send_job.h"
#include "platform/platform.h"

namespace velkaro {
namespace {

bool KeptInFileName(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '@' || c == '+' || c == '-';
}

}  // namespace

std::string EmlFileName(int number, const std::string& address) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%04d_", number);
  std::string name = prefix;
  for (const char c : address) name += KeptInFileName(c) ? c : '_';
  return name + ".eml";
}

namespace {

std::string MessageOf(const SendJob& job, const MailContent& content, CharsetChoice* choice) {
  const CharsetChoice chosen = ChooseCharset(CharsetSettingOf(job.settings().ini), content);
  if (choice != nullptr) *choice = chosen;
  const MessageWriter writer(content, chosen.charset);
  Platform& platform = CurrentPlatform();
  const std::time_t now = platform.Now();
  const std::tm local = platform.LocalTime(now);
  return writer.Message(now, local, NewMessageId(local, content.senderAddress));
}

}  // namespace

std::string ComposedMessage(const SendJob& job, int index, CharsetChoice* choice) {
  return MessageOf(job, job.MailContentOf(index), choice);
}

EmlExport ExportEml(const SendJob& job, const std::string& folder) {
  EmlExport result;
  // A folder the user typed into the dialog may not exist yet.
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const int count = Zentool().ZenCountLines(job.recipientLines);
  const bool goesOn = RunPolicyOf(job.settings().ini).continueOnFailure;
  for (int i = 0; i < count; ++i) {
    if (const std::string problem = job.PersonalProblemOf(i); goesOn && !problem.empty()) {
      result.skipped.push_back(std::to_string(i + 1) + ": " + SjisToUtf8(problem));
      continue;
    }
    const MailContent content = job.MailContentOf(i);
    const std::string path = folder + "/" + EmlFileName(i + 1, content.recipientAddress);
    const std::string message = MessageOf(job, content, nullptr);
    if (message.empty()) {
      result.error = "an attachment could not be read for " + path;
      return result;
    }
    if (AtomicWriteFile(path, message) != 0) {
      result.error = "cannot write " + path;
      return result;
    }
    ++result.written;
  }
  return result;
}

}  // namespace velkaro
