// "個別の添付ファイルを追加": asks for the path of an attachment that differs
// per recipient, written with the placeholder words of the body (e.g.
// /home/u/請求書/請求書_((regist)).pdf); the run attaches each recipient's
// own file. The text is taken as file-system bytes (UTF-8).
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace velkaro::ui::dialogs {

class PersonalAttachmentDialog : public QDialog {
 public:
  // `folder`: where the field starts (a folder, UTF-8; empty for none).
  PersonalAttachmentDialog(QWidget* parent, const std::string& folder);

  // After OK: the path pattern, blanks around it dropped.
  std::string Pattern() const;

  void accept() override;

  QLineEdit* PatternEdit() const { return pattern_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  QLineEdit* pattern_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

// The text the pattern field starts with: the folder with one separator
// after it, so that only the file name remains to be typed.
std::string PatternStart(const std::string& folder);

}  // namespace velkaro::ui::dialogs
