// velkaro-send --check-server: the server check of the settings as they
// are saved, one line per step on standard output.
#pragma once

#include "data/settings_file.h"
#include "platform/headless_platform.h"

namespace velkaro::cli {

// 0 when every step passed, else the code a send run would have ended
// with (10 SMTP, 105 POP before SMTP, 20 QUIT). Ctrl-C cancels.
int CheckServer(Settings& settings, HeadlessPlatform& platform);

}  // namespace velkaro::cli
