// Qt's own texts (standard buttons 「はい」「いいえ」, the file dialogs, the
// print dialogs) in Japanese, like the program's own texts, whatever the
// desktop's locale is.
#pragma once

#include <QString>

class QObject;
class QTranslator;

namespace velkaro::ui {

// Loads Qt's Japanese catalogue (qtbase_ja.qm, or the older qt_ja.qm) from
// `folder` (empty: Qt's translations folder) and installs it in the
// application; the translator, owned by `owner`, or null when no catalogue
// could be loaded (Qt then speaks English, nothing else changes).
QTranslator* InstallQtJapanese(QObject* owner, const QString& folder = {});

}  // namespace velkaro::ui
