#include "ui/app.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <vector>

#include "cli/man_page.h"
#include "core/encoding.h"
#include "data/command_line.h"
#include "platform/posix_services.h"
#include "platform/qt/qt_platform.h"
#include "ui/main_frame.h"
#include "ui/translations.h"
#include "ui/velkaro_doc.h"
#include "ui/window_identity.h"

namespace velkaro::ui {
namespace {

std::vector<std::string> Arguments(int argc, char* argv[]) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

// Undoes the installation of the platform's hooks into the window when the
// window goes, whichever way start-up ends.
class PlatformHooks {
 public:
  PlatformHooks(qt::QtPlatform& platform, CMainFrame& frame) : platform_(platform) {
    platform_.SetMainWindow(&frame);
    platform_.SetStatusSink([&frame](const QString& text) { frame.ShowStatus(text); });
  }
  ~PlatformHooks() {
    platform_.SetStatusSink(nullptr);
    platform_.SetMainWindow(nullptr);
  }
  PlatformHooks(const PlatformHooks&) = delete;
  PlatformHooks& operator=(const PlatformHooks&) = delete;

 private:
  qt::QtPlatform& platform_;
};

int RunWindow(qt::QtPlatform& platform, const CommandLine& line) {
  if (!platform.StartSockets()) {
    platform.MessageBox(Sjis("Windows ｿｹｯﾄの初期化に失敗しました。"), MsgButtons::Ok,
                        MsgIcon::Exclamation);
    return 1;
  }
  CVelkaroDoc doc(line);
  CMainFrame frame(doc);
  PlatformHooks hooks(platform, frame);
  const std::vector<std::string> failed = frame.InitialUpdate();
  if (!failed.empty()) {
    // A body file named on the command line that cannot be opened ends the
    // start, as it always did; said on standard error too, for scripts.
    std::string message = Sjis("本文テキストファイルを開けません。\r\n");
    for (const std::string& file : failed) {
      std::fprintf(stderr, "velkaro: cannot open body file %s\n", file.c_str());
      message += "  " + Utf8ToSjis(file) + "\r\n";
    }
    // A start meant to run unattended must not wait for a click.
    if (!line.sendOn && !line.quitOn) {
      platform.MessageBox(message, MsgButtons::Ok, MsgIcon::Exclamation);
    }
    return 1;
  }
  frame.show();
  // Asked from the event loop, over the window as the user sees it; a
  // start with work of its own on the command line is not asked.
  QTimer::singleShot(0, &frame, [&frame] { frame.OfferUnfinishedRun(); });
  return QApplication::exec();
}

}  // namespace

std::string UsageText() {
  return R"(Usage: velkaro [OPTION]... [BODY-FILE]
Velkaro sends one personalised mail per recipient of a Japanese body text.
The first line of the body text is the subject.

  BODY-FILE            a body text to open (Shift_JIS or UTF-8)
  /text=FILE           the body text to load
  /to=RECIPIENT        a registered name of the address book, or
                         "Display Name <address>"
  /sendinf=FILE        a send setup file (*.vlk2) naming the body, the
                         attachments and the recipients; <clip> takes the
                         same text from the clipboard
  /send=on, /send=off  send two seconds after the window has appeared
  /quit=on, /quit=off  end the program after a successful send
  -h, --help           display this help and exit
      --version        output version information and exit

The settings, the address book, the send log and the copies of the sent
texts live in the program folder ($VELKARO_HOME when set).
A body file that cannot be opened ends the program with exit status 1.
)";
}

namespace {

// velkaro(1), made from the help text so that the two say the same.
std::string ManPageText() {
  cli::ManPageSource source;
  source.name = "velkaro";
  source.summary = "send personalised Japanese mails to the recipients of an address book";
  source.version = posix::BuildVersion();
  source.help = UsageText();
  source.exitStatus = {
      {"0", "the window was closed (also after --help and --version)"},
      {"1",
       "a body file named on the command line could not be opened, or the "
       "network could not be started"},
  };
  source.extraEnvironment = {
      {"DISPLAY, WAYLAND_DISPLAY", "the display the window opens on."},
      {"QT_QPA_PLATFORM", "Qt's platform plugin (xcb, wayland; offscreen for no display)."},
  };
  source.examples = {
      {"velkaro 案内.txt", "Open a body text in the window:"},
      {"velkaro /sendinf=monthly.vlk2 /send=on /quit=on",
       "Send what a send setup file names, two seconds after the window appears, and "
       "end after a successful run:"},
      {"VELKARO_HOME=~/velkaro-test velkaro",
       "Start with a separate program folder, e.g. to try other settings:"},
  };
  return cli::ManPage(source);
}

}  // namespace

int RunApplication(int argc, char* argv[]) {
  // The build writes the manual page with this hidden option.
  if (argc == 2 && std::string(argv[1]) == "--man-page") {
    std::fputs(ManPageText().c_str(), stdout);
    return 0;
  }
  // Help and version need no display.
  const CommandLine early = ParseCommandLine(Arguments(argc, argv));
  if (early.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (early.version) {
    std::printf("velkaro %s\n", posix::BuildVersion().c_str());
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velkaro"));
  InstallQtJapanese(&app);
  SetApplicationIdentity();
  // Qt has taken its own options (-platform, -display, …) out of argv by now.
  const CommandLine line = ParseCommandLine(Arguments(argc, argv));
  qt::QtPlatform platform;
  ScopedPlatform installed(platform);
  return RunWindow(platform, line);
}

}  // namespace velkaro::ui
