// The preview "差替え後の本文表示": for a chosen recipient, the subject and
// the body exactly as the send run makes them (the same PersonaliseMail),
// so what is shown is what will be sent; the character set that mail goes
// out in, and why. Every mail of the job can be saved as .eml files, to be
// looked at in the user's own mail program before sending.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "job/personalise.h"
#include "mail/message_writer.h"
#include "ui/dialogs/dialog_frame.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace velkaro {
class SendJob;
class Settings;
}  // namespace velkaro

namespace velkaro::ui::dialogs {

class RecipientTableModel;

// The character set line: "文字コード: ISO-2022-JP", or with the characters
// ISO-2022-JP cannot carry when there are any: as the reason for UTF-8, or
// as a warning when the setting keeps ISO-2022-JP all the same.
QString CharsetLineText(CharsetSetting setting, const CharsetChoice& choice);

class PreviewDialog : public QDialog {
 public:
  PreviewDialog(QWidget* parent, const SendJob& job, const Settings& settings);

  // Shows the mail of recipient line `row`; -1 shows the text without any
  // recipient's data.
  void ShowForRow(int row);

  QTableView* List() const { return list_; }
  QLineEdit* SubjectEdit() const { return subject_; }
  QPlainTextEdit* BodyEdit() const { return body_; }
  QPushButton* SubstituteButton() const { return substitute_; }
  QPushButton* CloseButton() const { return close_; }
  QLineEdit* CharsetEdit() const { return charset_; }
  QPushButton* EmlButton() const { return eml_; }
  // The shown mail's own attachments (file names; the paths in the tool
  // tip) and, in red, why that recipient cannot get the mail.
  QLineEdit* AttachmentsEdit() const { return attachments_; }
  QLabel* ProblemLabel() const { return problem_; }
  // A warning above the body (characters the send would refuse); empty
  // takes it away and gives the body its room back.
  void SetWarning(const QString& text);
  QPlainTextEdit* WarningEdit() const { return warning_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  int SelectedRow() const;
  // Asks for a folder and writes every mail of the job into it.
  void SaveAsEml();

  const SendJob& job_;
  CharsetSetting charsetSetting_;
  PlaceholderWordList words_;
  std::string bodyText_;
  bool titleIn_;
  RecipientTableModel* model_;
  QTableView* list_;
  QLineEdit* subject_;
  QPlainTextEdit* body_;
  QPushButton* close_;
  QPushButton* substitute_;
  QLineEdit* charset_;
  QPushButton* eml_;
  QLineEdit* attachments_;
  QLabel* problem_;
  QPlainTextEdit* warning_;
  // The folder chosen last while the dialog is open; the folder dialog
  // starts there the next time.
  std::string emlFolder_;
  GrowWithWindow grow_;
};

}  // namespace velkaro::ui::dialogs
