// The program's one document: what lives as long as the process does. It
// is never replaced; opening a body text changes the form, not the document.
#pragma once

#include <string>

#include "data/command_line.h"
#include "data/settings_file.h"

namespace velkaro::ui {

class CVelkaroDoc {
 public:
  // Loads the settings (a missing file leaves the defaults), makes sure the
  // default sounds are in the program folder and reads the address book.
  // Needs the platform installed: the paths come from it.
  explicit CVelkaroDoc(CommandLine commandLine);

  // The program folder, "/", and the address book file name of the settings.
  std::string AddressBookPath() const;

  Settings settings;
  CommandLine commandLine;
  std::string addressBook;  // Shift_JIS, CR LF: header line and entry lines
  // Characters of the address book file that Shift_JIS cannot hold (now 〓);
  // the user is told once the window is up, before an edit could save them.
  int addressBookUnmappable = 0;
  // A body file handed to the running program to be loaded by the form.
  std::string pendingBodyPath;
  // Set by the exit command: the close that follows asks no exit question.
  bool exitWithoutQuestion = false;
  // Default sound files that could not be written into the program folder.
  int missingSounds = 0;
};

}  // namespace velkaro::ui
