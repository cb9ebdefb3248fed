// The Secret Service through secret-tool (libsecret-tools): the same items
// any libsecret program sees, under the attributes service=velkaro and
// account=ACCOUNT, without linking GLib into the program.
#include "platform/secret_store.h"

#include <cstdlib>

#include "platform/platform.h"

namespace velkaro::posix {
namespace {

constexpr const char* kSecretTool = "secret-tool";
constexpr const char* kService = "velkaro";
// An unlock prompt may be on the screen; a store that takes longer than
// this is not answering.
constexpr int kSecretToolTimeoutMs = 20000;

// secret-tool asks the session bus; without its address libsecret would
// try to autolaunch a bus, which does not reach the user's keyring anyway.
bool HaveSessionBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return address != nullptr && *address != '\0';
}

std::vector<std::string> Attributes(const std::string& account) {
  return {"service", kService, "account", account};
}

// secret-tool exits 1 for every failure; what it says tells a bus or a
// service that is not there from a store that answered and said no.
bool SaysUnreachable(const std::string& err) {
  for (const char* fragment : {"connect", "autolaunch", "org.freedesktop.secrets", "ServiceUnknown",
                               "NoReply", "Timeout", "No such file", "not provided"}) {
    if (err.find(fragment) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> LookupSecret(Platform& platform, const std::string& account) {
  if (!HaveSessionBus()) return std::nullopt;
  ChildRequest request;
  request.argv = {kSecretTool, "lookup"};
  for (std::string& word : Attributes(account)) request.argv.push_back(std::move(word));
  request.captureStderr = true;
  request.timeoutMs = kSecretToolTimeoutMs;
  ChildResult run = RunChild(platform, request);
  if (run.exitStatus != 0) return std::nullopt;
  // On a terminal secret-tool adds a line end; on a pipe it prints the
  // secret as stored, but an item written by another tool may carry one.
  while (!run.out.empty() && (run.out.back() == '\n' || run.out.back() == '\r')) run.out.pop_back();
  if (run.out.empty()) return std::nullopt;
  return run.out;
}

int StoreSecret(Platform& platform, const std::string& account, const std::string& secret) {
  if (!HaveSessionBus()) return 1;
  ChildRequest request;
  request.argv = {kSecretTool, "store", "--label=Velkaro SMTP (" + account + ")"};
  for (std::string& word : Attributes(account)) request.argv.push_back(std::move(word));
  // On its standard input only: a command line is visible to every user
  // of the host in /proc.
  request.input = secret;
  request.captureStderr = true;
  request.timeoutMs = kSecretToolTimeoutMs;
  const ChildResult run = RunChild(platform, request);
  if (!run.started || run.timedOut) return 1;
  if (run.exitStatus == 0) return 0;
  return SaysUnreachable(run.err) ? 1 : 2;
}

}  // namespace velkaro::posix
