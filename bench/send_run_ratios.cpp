// A whole send run: 100 recipients with a 2 KB body to a local aiosmtpd,
// against the waits the run takes by design (the Wait calls of the dialogue
// and the composition, measured by the same run against an instantly
// answering scripted server on the virtual clock); and the peak memory of
// velkaro-send sending a 20 MB attachment, against its Base64 size.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "core/encoding.h"
#include "job/send_job.h"
#include "peers/peer_process.h"
#include "platform/headless_platform.h"
#include "platform/test_platform.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace {

using velkaro::SendJob;
using velkaro::Settings;

constexpr int kRecipients = 100;

std::string Body() {
  std::string body = velkaro::Utf8ToSjis("((name))様へのご案内\r\n");
  const std::string line = velkaro::Utf8ToSjis("本文の行です。ご確認ください。ABC 123\r\n");
  while (body.size() < 2048) body += line;
  return body;
}

void Prepare(SendJob& job) {
  job.bodyText = Body();
  for (int i = 0; i < kRecipients; ++i) {
    job.recipientLines += velkaro::Utf8ToSjis("よみ\t登録\t宛先 " + std::to_string(i) + "\tuser" +
                                              std::to_string(i) + "@example.jp\t\t\t\t\t\t\r\n");
  }
}

void PointAt(Settings& settings, const char* host, int port) {
  velkaro::SetFieldText(settings.record.server.smtpServer, host);
  settings.record.server.smtpPort = port;
  velkaro::SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  for (auto& on : settings.record.soundOn) on = 0;
}

// The run against a server that answers at once: the virtual clock then
// holds exactly the waits the run takes by design.
long long DesignedWaitMs(const std::string& folder) {
  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope(platform);
  platform.SetProgramFolder(folder);
  velkaro::testing::ScriptedServer server;
  server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
  for (int i = 0; i < kRecipients; ++i) {
    server.ExpectThrough("\r\n").Send("250 ok\r\n").ExpectThrough("\r\n").Send("250 ok\r\n");
    server.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
  }
  server.Expect("QUIT\r\n").Send("221 bye\r\n");
  platform.SetSocketFactory([&] { return server.NewSocket(); });
  Settings settings;
  PointAt(settings, "scripted", 25);
  SendJob job(settings);
  Prepare(job);
  const int result = job.RunSendJob();
  if (result != 0) std::fprintf(stderr, "scripted run failed: %d\n", result);
  return platform.VirtualMs();
}

double RealRunMs(const std::string& folder, int port) {
  velkaro::HeadlessPlatform platform;
  velkaro::ScopedPlatform scope(platform);
  Settings settings;
  PointAt(settings, "127.0.0.1", port);
  SendJob job(settings);
  Prepare(job);
  const auto start = std::chrono::steady_clock::now();
  const int result = job.RunSendJob();
  const auto end = std::chrono::steady_clock::now();
  if (result != 0) std::fprintf(stderr, "real run failed: %d\n", result);
  (void)folder;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

// Peak resident memory of velkaro-send sending one mail with a 20 MB
// attachment, in bytes.
long PeakMemoryOfLargeSend(const std::string& folder, int port) {
  const std::string home = folder + "/home";
  std::filesystem::create_directories(home);
  const std::string attachment = folder + "/big.bin";
  std::string bytes(20 * 1024 * 1024, '\0');
  std::mt19937 rng(7);
  for (auto& c : bytes) c = static_cast<char>(rng());
  velkaro::testing::WriteBytes(attachment, bytes);
  velkaro::testing::WriteBytes(folder + "/body.txt", velkaro::Utf8ToSjis("件名\r\n本文\r\n"));
  const std::string setup =
      "VELKARO_HOME='" + home +
      "' '" VELKARO_SEND_PROGRAM "' --set smtpServer=127.0.0.1 --set smtpPort=" +
      std::to_string(port) + " --set senderAddress=a@example.jp >/dev/null 2>&1";
  if (std::system(setup.c_str()) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("VELKARO_HOME", home.c_str(), 1);
    const int quiet = ::open("/dev/null", O_WRONLY);
    ::dup2(quiet, STDOUT_FILENO);
    ::dup2(quiet, STDERR_FILENO);
    const std::string body = folder + "/body.txt";
    ::execl(VELKARO_SEND_PROGRAM, VELKARO_SEND_PROGRAM, "--to", "x <x@example.jp>", "--text",
            body.c_str(), "--attach", attachment.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "large send failed: status %d\n", status);
  }
  return usage.ru_maxrss * 1024L;
}

}  // namespace

int main() {
  velkaro::testing::TempDir dir;
  velkaro::testing::PeerProcess receiver;
  if (!receiver.Start({"/usr/bin/python3", VELKARO_SOURCE_DIR "/tests/peers/smtp_receiver.py",
                       dir.File("received")},
                      dir.File("receiver.log"), 10000)) {
    std::fprintf(stderr, "cannot start the receiver: %s\n", receiver.error().c_str());
    return 1;
  }
  const long long designed = DesignedWaitMs(dir.path());
  const double wall = RealRunMs(dir.path(), receiver.port());
  std::printf("100-recipient run, 2 KB body: %.0f ms wall, %lld ms of designed waits\n", wall,
              designed);
  std::printf("  wall / designed waits = %.2f (goal <= 1.10)\n", wall / designed);

  const long peak = PeakMemoryOfLargeSend(dir.path(), receiver.port());
  const double base64 = 4.0 * ((20.0 * 1024 * 1024 + 2) / 3);
  std::printf("20 MB attachment: peak memory %.1f MB, Base64 %.1f MB\n", peak / 1048576.0,
              base64 / 1048576.0);
  std::printf("  peak memory / Base64 size = %.2f (goal <= 2.50)\n", peak / base64);
  return 0;
}
