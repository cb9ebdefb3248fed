// The version information "Velkaroのﾊﾞｰｼﾞｮﾝ情報": the program's version,
// the versions of the mail and the tool library, and a notice.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace velkaro::ui::dialogs {

// "Velkaro Version : %d.%02d.%d .%d" of a version text of four numbers
// separated by dots or commas ("1.0.0.0", "1, 3, 0, 0"); missing trailing
// numbers count as 0. Empty when the text does not start with a number.
std::string ProgramVersionLine(const std::string& versionText);
// The mail library's line, CR LF, the tool library's line.
std::string LibraryVersionLines();
QString NoticeLine();

class VersionDialog : public QDialog {
 public:
  // `versionText` is the program's file version as the platform gives it.
  VersionDialog(QWidget* parent, const std::string& versionText);

  QLineEdit* ProgramLine() const { return program_; }
  QPlainTextEdit* LibraryLines() const { return libraries_; }
  QLineEdit* Notice() const { return notice_; }
  QPushButton* OkButton() const { return ok_; }

 private:
  QLineEdit* program_;
  QPlainTextEdit* libraries_;
  QLineEdit* notice_;
  QPushButton* ok_;
};

}  // namespace velkaro::ui::dialogs
