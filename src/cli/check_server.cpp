#include "cli/check_server.h"

#include <csignal>
#include <cstdio>
#include <string>

#include "cli/cli_options.h"
#include "core/encoding.h"
#include "job/server_check.h"
#include "job/smtp_credentials.h"
#include "platform/headless_platform.h"

namespace velkaro::cli {
namespace {

volatile std::sig_atomic_t cancelRequested = 0;

void OnInterrupt(int) {
  cancelRequested = 1;
}

void Print(std::FILE* stream, const std::string& utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

}  // namespace

int CheckServer(Settings& settings, HeadlessPlatform& platform) {
  const ServerSettings& server = settings.record.server;
  ServerCheck check(server, SecurityForRun(settings.ini, server));
  cancelRequested = 0;
  auto previous = std::signal(SIGINT, OnInterrupt);
  // Every wait of the check pumps; that is where a Ctrl-C reaches it.
  platform.SetPumpHook([&check] {
    if (cancelRequested != 0) check.Cancel();
  });
  const int result = check.Run([](const ServerCheckStep& step) {
    Print(stdout, std::string(step.ok ? "OK " : "NG ") + SjisToUtf8(step.name) +
                      (step.detail.empty() ? "" : ": " + SjisToUtf8(step.detail)) + "\n");
  });
  platform.SetPumpHook(nullptr);
  std::signal(SIGINT, previous);
  Print(stderr,
        std::string(kProgramName) + ": " +
            (result == 0 ? std::string("every step passed")
                         : "the check failed (exit status " + std::to_string(result) + ")") +
            "\n");
  return result;
}

}  // namespace velkaro::cli
