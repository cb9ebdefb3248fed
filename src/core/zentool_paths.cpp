// Paths. "/" is the native separator; "\" and a leading "X:" drive are
// understood too, so paths written by the program's Windows ancestors (and
// setup files made by other programs) still split sensibly. UTF-8 never
// holds the byte 0x5C inside a character, so testing the last byte is safe.
#include <string>

#include "core/zentool.h"

namespace velkaro {
namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

struct SplitPath {
  std::string drive, folder, name, extension;
};

SplitPath Split(const std::string& path) {
  SplitPath parts;
  std::size_t pos = 0;
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.size() >= 2 && path[1] == ':' && isLetter(path[0])) {
    parts.drive = path.substr(0, 2);
    pos = 2;
  }
  const std::size_t lastSeparator = path.find_last_of("/\\");
  std::size_t fileStart = pos;
  if (lastSeparator != std::string::npos && lastSeparator >= pos) {
    parts.folder = path.substr(pos, lastSeparator + 1 - pos);
    fileStart = lastSeparator + 1;
  }
  const std::string file = path.substr(fileStart);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string::npos) {
    parts.name = file;
  } else {
    parts.name = file.substr(0, dot);
    parts.extension = file.substr(dot);
  }
  return parts;
}

std::string WithoutTrailingSeparator(std::string folder) {
  if (folder.size() >= 2 && IsSeparator(folder.back())) folder.pop_back();
  return folder;
}

}  // namespace

std::string Zentool::ZenJoinPath(const std::string& folder, const std::string& name) const {
  if (folder.empty()) return name;
  if (IsSeparator(folder.back())) return folder + name;
  return folder + "/" + name;
}

std::string Zentool::ZenSplitPath(PathPart part, const std::string& path) const {
  const SplitPath parts = Split(path);
  switch (part) {
    case PathPart::Drive: return parts.drive;
    case PathPart::Folder: return WithoutTrailingSeparator(parts.folder);
    case PathPart::Name: return parts.name;
    case PathPart::Extension:
      return parts.extension.empty() ? std::string() : parts.extension.substr(1);
    case PathPart::DriveFolder: return parts.drive + WithoutTrailingSeparator(parts.folder);
    case PathPart::NameExtension: return parts.name + parts.extension;
  }
  return {};
}

int Zentool::ZenGetFolder(const std::string& path, std::string& folder) const {
  const std::string driveFolder = ZenSplitPath(PathPart::DriveFolder, path);
  if (driveFolder.empty()) return 1;
  folder = driveFolder;
  return 0;
}

}  // namespace velkaro
