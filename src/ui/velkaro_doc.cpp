#include "ui/velkaro_doc.h"

#include <utility>

#include "core/zentool.h"
#include "data/address_book.h"
#include "job/default_sounds.h"

namespace velkaro::ui {

CVelkaroDoc::CVelkaroDoc(CommandLine line) : commandLine(std::move(line)) {
  settings.LoadSettings();
  // A file that cannot be read leaves the defaults, which reach the servers
  // as before; its own save refuses to replace it.
  settings.LoadIni();
  missingSounds = EnsureDefaultSounds(settings.GetProgramFolder());
  EnsureAddressBook(AddressBookPath());
  addressBook = LoadAddressBook(AddressBookPath(), &addressBookUnmappable);
}

std::string CVelkaroDoc::AddressBookPath() const {
  return Zentool().ZenJoinPath(settings.GetProgramFolder(),
                               FieldText(settings.record.addressFileName));
}

}  // namespace velkaro::ui
