// What the run's journal costs per mail: a run of 1,000 recipients with its
// journal against the same run without it. A run cannot go without its
// journal (and one that cannot write it changes the path it takes), so the
// journal is measured on its own as a run writes it (Open, then per mail
// the end-of-data record and the outcome, each on the disk before the call
// returns, then the end record) and taken out of the time of a whole run of
// 1,000 small mails to an instantly answering scripted server. That run's
// time is its working time (wall clock, journal included) plus the waits it
// takes by design (the Wait calls of the dialogue, on the virtual clock).
// Goal: run / (run - journal) <= 1.05. Figures only; nothing is asserted.
#include <stdlib.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "job/run_journal.h"
#include "job/send_job.h"
#include "platform/test_platform.h"
#include "support/scripted_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMails = 1000;
constexpr int kRepeats = 3;

std::string RecipientLine(int i) {
  const std::string n = std::to_string(i);
  return velkaro::Utf8ToSjis("やまだ\t山田" + n + "\t山田 太郎" + n + "\tuser" + n +
                             "@example.jp\t\t\t\t\t\t\r\n");
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string FileSystemOf(const std::string& folder) {
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) return "unknown";
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53UL: return "ext2/3/4";
    case 0x58465342UL: return "xfs";
    case 0x9123683EUL: return "btrfs";
    case 0x01021994UL: return "tmpfs (not a disk: the figures say little)";
    case 0x794C7630UL: return "overlayfs";
    default: break;
  }
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(fs.f_type));
  return hex;
}

// The journal of a 1,000-recipient run written as the run writes it.
double JournalMs(const std::string& folder, std::time_t start) {
  velkaro::TestPlatform platform;  // the journal's name takes the local time
  velkaro::ScopedPlatform scope(platform);
  velkaro::JournalHeader header;
  header.start = start;
  header.bodyFilePath = folder + "/body.txt";
  header.bodySha256 = velkaro::Sha256Hex("body");
  for (int i = 0; i < kMails; ++i) header.recipientLines.push_back(RecipientLine(i));
  velkaro::RecipientResult accepted;
  accepted.outcome = velkaro::MailOutcome::Sent;
  accepted.reply = "250 2.0.0 Ok: queued as 4Xk2Lm0QzZ";
  const Clock::time_point begin = Clock::now();
  velkaro::JournalWriter journal;
  bool ok = journal.Open(folder, header);
  for (int i = 0; ok && i < kMails; ++i) {
    ok = journal.EndOfDataGoing(i) && journal.Outcome(i, accepted);
  }
  ok = ok && journal.Finished(0);
  const double ms = MsSince(begin);
  if (!ok) std::fprintf(stderr, "the journal could not be written in %s\n", folder.c_str());
  return ms;
}

struct RunFigures {
  double wallMs = 0;     // working time, journal included
  long long waitMs = 0;  // waits by design (virtual clock)
  bool journalKept = false;
};

// The whole run against a server that answers at once.
RunFigures ScriptedRun(const std::string& folder) {
  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope(platform);
  platform.SetProgramFolder(folder);
  velkaro::testing::ScriptedServer server;
  server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
  for (int i = 0; i < kMails; ++i) {
    server.ExpectThrough("\r\n").Send("250 ok\r\n").ExpectThrough("\r\n").Send("250 ok\r\n");
    server.Expect("DATA\r\n")
        .Send("354 go\r\n")
        .ExpectThrough("\r\n.\r\n")
        .Send("250 2.0.0 Ok: queued\r\n");
  }
  server.Expect("QUIT\r\n").Send("221 bye\r\n");
  platform.SetSocketFactory([&] { return server.NewSocket(); });
  velkaro::Settings settings;
  velkaro::SetFieldText(settings.record.server.smtpServer, "scripted");
  settings.record.server.smtpPort = 25;
  velkaro::SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  for (auto& on : settings.record.soundOn) on = 0;
  velkaro::SendJob job(settings);
  job.bodyText =
      velkaro::Utf8ToSjis("((name))様へのご案内\r\n((name))様\r\n短いお知らせです。\r\n");
  for (int i = 0; i < kMails; ++i) job.recipientLines += RecipientLine(i);
  RunFigures figures;
  const Clock::time_point begin = Clock::now();
  const int result = job.RunSendJob();
  figures.wallMs = MsSince(begin);
  figures.waitMs = platform.VirtualMs();
  figures.journalKept = !job.journalPath.empty();
  if (result != 0) std::fprintf(stderr, "the scripted run failed: %d\n", result);
  return figures;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  char pattern[] = "/tmp/bench_journal_XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string folder = pattern;

  std::vector<double> journal;
  std::vector<double> wall;
  std::vector<double> waits;
  bool kept = true;
  for (int r = 0; r < kRepeats; ++r) {
    const std::string runFolder = folder + "/run" + std::to_string(r);
    std::filesystem::create_directories(runFolder);
    const RunFigures run = ScriptedRun(runFolder);
    wall.push_back(run.wallMs);
    waits.push_back(static_cast<double>(run.waitMs));
    kept = kept && run.journalKept;
    journal.push_back(JournalMs(folder, std::time(nullptr) + r));
  }
  const double journalMs = Median(journal);
  const double wallMs = Median(wall);
  const double waitMs = Median(waits);
  const double runMs = wallMs + waitMs;

  std::printf(
      "journal of %d mails on %s (%s): %.1f ms, %.3f ms per mail (%d records, each "
      "synced)\n",
      kMails, folder.c_str(), FileSystemOf(folder).c_str(), journalMs, journalMs / kMails,
      2 * kMails + 2);
  std::printf(
      "run of %d mails (scripted server%s): %.0f ms working + %.0f ms of designed "
      "waits = %.0f ms\n",
      kMails, kept ? ", journal kept" : ", NO JOURNAL KEPT", wallMs, waitMs, runMs);
  if (runMs > journalMs) {
    std::printf("  run with journal / run without = %.4f (goal <= 1.05)\n",
                runMs / (runMs - journalMs));
  }
  if (wallMs > journalMs) {
    std::printf(
        "  working time alone, with / without journal = %.2f (no goal: the waits "
        "are left out)\n",
        wallMs / (wallMs - journalMs));
  } else {
    std::printf("  working time alone (%.0f ms) is less than the journal (%.0f ms)\n", wallMs,
                journalMs);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
