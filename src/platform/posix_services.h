// Host services that need no window system, shared by the Qt platform, the
// headless front end and the test platform.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "platform/stream_socket.h"

namespace velkaro {

class Platform;

namespace posix {

void SleepMs(int ms);
// The running program's path as the kernel knows it (/proc/self/exe).
std::string ExecutablePath();
// The program folder: $VELKARO_HOME when set; else the executable's folder
// when it is writable and not that of an installed program (under /usr/ or
// /usr/local/); else $XDG_DATA_HOME/velkaro (~/.local/share/velkaro).
// Created on first use. Never ends in a separator (except for "/").
std::string ProgramFolder(const std::string& executablePath);

// What the choice of the program folder depends on, besides the path.
struct FolderEnvironment {
  std::string velkaroHome{};  // $VELKARO_HOME
  std::string xdgDataHome{};  // $XDG_DATA_HOME
  std::string home{};         // $HOME
};
// Whether the executable is one of an installed program (/usr/…).
bool IsInstalledExecutable(const std::string& executablePath);
// The decision of ProgramFolder without touching the file system.
std::string ChooseProgramFolder(const std::string& executablePath, const FolderEnvironment& env,
                                bool executableFolderWritable);
std::tm LocalTime(std::time_t t);
// The version the build was made with, "major.minor.patch.0".
std::string BuildVersion();
// This host's fully qualified domain name (for EHLO, RFC 5321 4.1.4): its
// canonical name, or the name it was given when it has none; empty unless
// that has a dot in it and is not a loopback name ("localhost.localdomain").
std::string FullyQualifiedHostName();
// `name` when it qualifies as such a name (see above), else empty.
std::string QualifiedHostNameOrEmpty(std::string name);

// A TCP socket whose connect waits in 1 ms sleep-and-pump steps on
// `platform` (at most `connectTimeoutMs`), so the window stays alive.
std::unique_ptr<StreamSocket> NewTcpSocket(Platform& platform, int connectTimeoutMs = 20000);

}  // namespace posix
}  // namespace velkaro
