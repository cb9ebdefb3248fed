// Send setup files ("*.vlk2"): a plain text naming the body file, the
// attachments and the recipients of a run, and whether to send and quit by
// itself. Other programs write them to have a run carried out.
#pragma once

#include <string>

#include "data/command_line.h"
#include "job/send_job.h"

namespace velkaro {

// Reads the setup text named by `job.sendinfOption` (a file, or "<clip>"
// for the clipboard's text) into the job: body, attachments, recipients
// (added to those already there) and the quit and send options. 1 when
// there was no text to read, else 0.
int ReadSendSetup(SendJob& job, const std::string& addressBook);

// The same, from a text at hand (Shift_JIS; CR LF or LF line ends).
int ReadSendSetupText(SendJob& job, const std::string& setupText, const std::string& addressBook);

// The setup text that describes the job (Shift_JIS, CR LF).
std::string BuildSendSetupText(const SendJob& job);

// Writes a setup text: 0 written (or the user cancelled); 1 the user wants
// another name; 2 the path is a folder; 10 an input/output error; 11 any
// other file error. Asks before replacing a non-empty file unless
// `noQuestion`; pauses 1000 ms after writing.
int SaveSetupText(const std::string& path, const std::string& text, bool noQuestion);

// Applies the command line to the job at start-up, in the program's order:
// setup file, quit and send words ("off" wins), body files named on their
// own, "/text=", "/to=". Returns the body files that could not be opened
// (the caller reports them and ends with a failure status).
std::vector<std::string> ApplyCommandLine(SendJob& job, const CommandLine& line,
                                          const std::string& addressBook);

}  // namespace velkaro
