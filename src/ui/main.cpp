// Velkaro's entry point: the Qt application with its host services.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "core/encoding.h"
#include "platform/posix_services.h"
#include "platform/qt/qt_platform.h"
#include "ui/main_window.h"

int main(int argc, char* argv[]) {
  using namespace velkaro;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("velkaro %s\n", posix::BuildVersion().c_str());
      return 0;
    }
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velkaro"));
  qt::QtPlatform platform;
  InstallPlatform(&platform);

  if (!platform.StartSockets()) {
    platform.MessageBox(Sjis("Windows ｿｹｯﾄの初期化に失敗しました。"), MsgButtons::Ok,
                        MsgIcon::Exclamation);
    InstallPlatform(nullptr);
    return 1;
  }

  ui::MainWindow window;
  platform.SetMainWindow(&window);
  platform.SetStatusSink([&window](const QString& text) { window.ShowStatus(text); });
  window.show();
  platform.SetStatusText(Sjis("レディ"));

  const int result = QApplication::exec();
  platform.SetStatusSink(nullptr);
  platform.SetMainWindow(nullptr);
  InstallPlatform(nullptr);
  return result;
}
