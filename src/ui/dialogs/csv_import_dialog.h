// "CSVから読み込み": which column of a CSV file fills which field of the
// address book. It opens with the automatic choice, shows what each column
// holds, and reads the file again after every change, so the number of
// entries to add and the rows left out are always those of the choice on
// screen.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "data/address_import.h"
#include "ui/dialogs/dialog_frame.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace velkaro::ui::dialogs {

class CsvImportDialog : public QDialog {
 public:
  // `csvBytes` the file as read, `addressBook` the book the entries are to
  // join (its addresses are not taken twice), `first` the file read with
  // the automatic choice (it has headers).
  CsvImportDialog(QWidget* parent, const std::string& fileName, std::string csvBytes,
                  std::string addressBook, ImportResult first);

  // The file read with the choice on screen; its entries are what OK adds.
  const ImportResult& Current() const { return current_; }

  QTableWidget* Columns() const { return columns_; }
  // The field chosen for a column: item 0 is 「取り込まない」, then the
  // fields in file order.
  QComboBox* FieldBox(int column) const;
  QCheckBox* ImportAllBox() const { return importAll_; }
  QLabel* EncodingLabel() const { return encoding_; }
  QLabel* CountLabel() const { return count_; }
  QListWidget* Notes() const { return notes_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Reread();
  void ShowResult();

  std::string csvBytes_;
  std::string addressBook_;
  // The columns in the order their pairs are handed over, so that several
  // columns for one field join as the automatic choice joins them.
  std::vector<int> joinOrder_;
  ImportResult current_;
  QLabel* encoding_;
  QTableWidget* columns_;
  QCheckBox* importAll_;
  QLabel* count_;
  QListWidget* notes_;
  QPushButton* ok_;
  QPushButton* cancel_;
  GrowWithWindow grow_;
};

// A note on a row as the dialog lists it: "12 行目: …".
QString DescribeImportNote(const ImportNote& note);

}  // namespace velkaro::ui::dialogs
