// The file dialogs of the Qt platform. The callers describe a dialog the
// way the program always did (a Windows filter string, a start folder, a
// default extension); this turns the description into a QFileDialog.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "platform/qt/qt_platform.h"

namespace velkaro::qt {
namespace {

QString PathToQt(const std::string& path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string PathFromQt(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Qt's dialog refuses a folder that does not exist; choosing a folder to be
// created (a log or archive folder, say) must still be possible.
class FolderDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;

 protected:
  void accept() override {
    const QStringList chosen = selectedFiles();
    if (!chosen.isEmpty() && !QFileInfo::exists(chosen.first())) {
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
  }
};

}  // namespace

QString ToQtFilter(const std::string& sjisFilter) {
  const QStringList parts = FromSjis(sjisFilter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& name = parts[i];
    const QString& windowsPatterns = parts[i + 1];
    if (name.isEmpty() && windowsPatterns.isEmpty()) break;  // the closing "||"
    // Windows separates patterns with ";", Qt with spaces, and Qt reads the
    // patterns from the last parentheses of the name.
    QStringList patterns = windowsPatterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) pattern = pattern.trimmed();
    const QString qtPatterns = patterns.join(QLatin1Char(' '));
    if (qtPatterns.isEmpty()) {
      filters << name;
    } else if (name.endsWith(QLatin1Char('(') + qtPatterns + QLatin1Char(')'))) {
      filters << name;
    } else {
      filters << name + QStringLiteral(" (") + qtPatterns + QLatin1Char(')');
    }
  }
  return filters.join(QStringLiteral(";;"));
}

std::vector<std::string> QtPlatform::FileDialog(const FileDialogRequest& request) {
  const bool folder = request.kind == FileDialogRequest::Folder;
  std::unique_ptr<QFileDialog> dialog = folder ? std::make_unique<FolderDialog>(mainWindow_.data())
                                               : std::make_unique<QFileDialog>(mainWindow_.data());
  dialog->setWindowTitle(QStringLiteral("Velkaro"));
  dialog->setDirectory(request.startFolder.empty() ? QDir::currentPath()
                                                   : PathToQt(request.startFolder));
  switch (request.kind) {
    case FileDialogRequest::Open:
      dialog->setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
      break;
    case FileDialogRequest::OpenMany: dialog->setFileMode(QFileDialog::ExistingFiles); break;
    case FileDialogRequest::Save:
      dialog->setAcceptMode(QFileDialog::AcceptSave);
      dialog->setFileMode(QFileDialog::AnyFile);
      dialog->setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
      break;
    case FileDialogRequest::Folder:
      dialog->setFileMode(QFileDialog::Directory);
      dialog->setOption(QFileDialog::ShowDirsOnly, true);
      // The override of accept() only works on Qt's own dialog.
      dialog->setOption(QFileDialog::DontUseNativeDialog, true);
      break;
  }
  if (!folder) {
    const QString filter = ToQtFilter(request.filter);
    if (!filter.isEmpty()) dialog->setNameFilter(filter);
  }
  if (!request.defaultExtension.empty()) {
    dialog->setDefaultSuffix(QString::fromStdString(request.defaultExtension));
  }
  // A wildcard "name" ("*.txt") only repeats the filter; Qt would take it
  // for a file name.
  const QString initial = PathToQt(request.initialName);
  if (!initial.isEmpty() && !initial.contains(QLatin1Char('*')) &&
      !initial.contains(QLatin1Char('?'))) {
    dialog->selectFile(initial);
  }
  if (dialog->exec() != QDialog::Accepted) return {};
  std::vector<std::string> chosen;
  for (const QString& path : dialog->selectedFiles()) chosen.push_back(PathFromQt(path));
  return chosen;
}

}  // namespace velkaro::qt
