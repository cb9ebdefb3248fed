// The preview "差替え後の本文表示": for a chosen recipient, the subject and
// the body exactly as the send run makes them (the same PersonaliseMail),
// so what is shown is what will be sent.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "job/personalise.h"
#include "ui/dialogs/dialog_frame.h"

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

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  int SelectedRow() const;

  PlaceholderWordList words_;
  std::string bodyText_;
  bool titleIn_;
  RecipientTableModel* model_;
  QTableView* list_;
  QLineEdit* subject_;
  QPlainTextEdit* body_;
  QPushButton* close_;
  QPushButton* substitute_;
  GrowWithWindow grow_;
};

}  // namespace velkaro::ui::dialogs
