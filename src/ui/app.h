// Velkaro's start-up and end, in the order the program always kept: the
// sockets, the document (settings, default sounds, address book), the main
// window with the form, the command line at the form's first update, then
// the window is shown, the offer to take up an unfinished send run is made
// and the event loop runs until the window closes.
#pragma once

#include <string>

namespace velkaro::ui {

// The help text of `velkaro --help`.
std::string UsageText();

// Runs the program; its exit status.
int RunApplication(int argc, char* argv[]);

}  // namespace velkaro::ui
