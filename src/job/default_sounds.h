// The four event sounds the program brings along. They are synthesised
// here (short sine chimes with soft attack and decay) rather than shipped
// as files, and written into the program folder when missing there, so a
// sound event always finds a file to play.
#pragma once

#include <string>

namespace velkaro {

// The bytes of default sound `event` (1..4: all mails sent, a mail failed,
// one mail sent, progress during a transfer) as a PCM wave file; empty for
// any other event. The file names are kDefaultSoundNames of the settings.
std::string DefaultSoundWave(int event);

// Writes every default sound that is missing (or empty) in `folder`.
// Returns how many files could not be written.
int EnsureDefaultSounds(const std::string& folder);

// Writes an empty address book (its header line only) at `path` when no
// file is there yet, so that a new program folder shows the user where
// the book lives. An existing file, even an empty one, is never touched.
// Returns 0 when the file is there afterwards.
int EnsureAddressBook(const std::string& path);

}  // namespace velkaro
