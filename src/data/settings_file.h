// The settings file "Velkaro.cfg" in the program folder and the one record
// the program keeps in memory for its whole life. The record is loaded once
// at start-up and written back whole (never field by field) when a settings
// dialog ends with OK and at exit.
#pragma once

#include <string>

#include "data/settings_record.h"
#include "data/velkaro_ini.h"

namespace velkaro {

class Settings {
 public:
  static constexpr const char* kFileName = "Velkaro.cfg";

  // Every field at its default; the paths come from the installed platform.
  // The file is not read here.
  Settings();

  // 0 the file was read (the current size or an older one, converted);
  // 1 the file is missing, empty, not a plain file or could not be read;
  // 11 its size is neither the current nor an older one. Unless the result
  // is 0 the record is left as it was. Fields an older file does not have
  // get their defaults. A port outside 1..65535 becomes the protocol's
  // usual port, a speed outside 1..100 the nearest of the two.
  int LoadSettings();

  // Writes the record with `recordMark` 1, then pauses 2000 ms. 0 written;
  // -1 the disk reported an input/output error; 1 any other failure. A
  // failure leaves both the old file and the in-memory record unchanged.
  // The file is readable by its owner only: it holds the POP3 password.
  int SaveSettings();

  // "Velkaro.ini" beside the settings file, with `ini`'s results; no pause
  // after a save (the record's pause belongs to the record's save).
  int LoadIni() { return ini.Load(); }
  int SaveIni() { return ini.Save(); }

  // The folder of the settings, the address book, "Log" and "Text", without
  // a trailing separator.
  const std::string& GetProgramFolder() const { return programFolder_; }
  const std::string& ExecutablePath() const { return executablePath_; }
  const std::string& SettingsFilePath() const { return settingsFilePath_; }

  SettingsRecord record;
  // The settings beyond the record (TLS, SMTP AUTH); not read here.
  VelkaroIni ini;

 private:
  std::string executablePath_;
  std::string programFolder_;
  std::string settingsFilePath_;
};

}  // namespace velkaro
