#include "ui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace velkaro::ui {

QTranslator* InstallQtJapanese(QObject* owner, const QString& folder) {
  const QString from =
      folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  auto translator = std::make_unique<QTranslator>(owner);
  // qt_ja is the meta catalogue of older installs; qtbase_ja holds the
  // standard buttons and dialogs themselves.
  for (const char* name : {"qtbase_ja", "qt_ja"}) {
    if (translator->load(QLatin1String(name), from)) {
      if (!QCoreApplication::installTranslator(translator.get())) return nullptr;
      return translator.release();
    }
  }
  return nullptr;
}

}  // namespace velkaro::ui
