#include "peers/process_figures.h"

#include <dirent.h>
#include <malloc.h>

#include <fstream>
#include <sstream>

namespace velkaro::testing {
namespace {

int CountOpenFds() {
  DIR* folder = ::opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(folder);
  return count - 1;  // the listing's own descriptor
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

ProcessFigures ReadProcessFigures() {
  ProcessFigures figures;
  figures.openFds = CountOpenFds();
  figures.rssKb = ResidentKb();
  // Small blocks live in the arenas (uordblks); large ones, such as a long
  // string's buffer, are mapped on their own (hblkhd).
  const struct mallinfo2 info = ::mallinfo2();
  figures.heapBytes = info.uordblks + info.hblkhd;
  return figures;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace velkaro::testing
