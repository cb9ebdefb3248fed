#include "ui/window_identity.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

namespace velkaro::ui {

QString MainWindowTitle(const std::string& bodyFilePath) {
  QString name = QStringLiteral("無題");
  if (!bodyFilePath.empty()) {
    const QString path = QFile::decodeName(
        QByteArray(bodyFilePath.data(), static_cast<qsizetype>(bodyFilePath.size())));
    const QString fileName = QFileInfo(path).fileName();
    if (!fileName.isEmpty()) name = fileName;
  }
  // A "[*]" of the file's own name is doubled, which Qt shows as it is,
  // instead of taking it for the change mark.
  name.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  return name + QStringLiteral("[*] - Velkaro");
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (const char* size : {"16", "32", "48", "256"}) {
    const QString file = QStringLiteral(":/icons/velkaro-%1.png").arg(QLatin1String(size));
    if (QFile::exists(file)) icon.addFile(file);
  }
  return icon;
}

void SetApplicationIdentity() {
  const QIcon icon = ApplicationIcon();
  if (!icon.isNull()) QGuiApplication::setWindowIcon(icon);
  // Lets the desktop match the windows with velkaro.desktop (its icon and
  // name in the task bar).
  QGuiApplication::setDesktopFileName(QStringLiteral("velkaro"));
}

}  // namespace velkaro::ui
