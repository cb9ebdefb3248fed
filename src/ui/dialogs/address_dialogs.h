// The address book selection "アドレス帳" and editing "アドレス帳の編集画面"
// dialogs. Both list the entries sorted by reading when they open and
// follow the window's size with their list. The editing dialog also reads
// entries from CSV files and writes its rows to one; both work on the rows
// on screen, which are saved only through "保存・終了".
#pragma once

#include <QDialog>
#include <array>
#include <optional>
#include <string>

#include "data/address_book.h"
#include "ui/dialogs/dialog_frame.h"

class QLineEdit;
class QPushButton;
class QTableView;

namespace velkaro::ui::dialogs {

class AddressTableModel;

class AddressSelectDialog : public QDialog {
 public:
  AddressSelectDialog(QWidget* parent, const std::string& addressBook);

  // The chosen entry lines, each ended by CR LF, from the top of the list
  // down; set when the dialog ends with OK.
  const std::string& Result() const { return result_; }

  QTableView* List() const { return list_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  const AddressTableModel& Model() const { return *model_; }

  void accept() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  AddressTableModel* model_;
  QTableView* list_;
  QPushButton* ok_;
  QPushButton* cancel_;
  GrowWithWindow grow_;
  std::string result_;
};

class AddressEditDialog : public QDialog {
 public:
  // The edit boxes, in the field order of an entry.
  static constexpr int kFieldLimit = 255;

  enum Button {
    ClearButton,
    EditButton,
    UpdateButton,
    AddButton,
    DeleteButton,
    CancelButton,
    SaveButton,
    ImportButton,  // 「CSVから読み込み…」
    ExportButton,  // 「CSVに書き出し…」
    kButtons
  };

  AddressEditDialog(QWidget* parent, const std::string& addressBook);

  // The new address book text (header line and one line per row, from the
  // top); set when the dialog ends through "保存・終了".
  const std::string& Result() const { return result_; }

  QTableView* List() const { return list_; }
  QLineEdit* Field(int field) const { return fields_.at(static_cast<std::size_t>(field)); }
  QPushButton* ButtonOf(Button which) const { return buttons_.at(static_cast<std::size_t>(which)); }
  const AddressTableModel& Model() const { return *model_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ClearFields();
  void EditMarkedRow();
  void UpdateMarkedRow();
  void AddAtTop();
  void DeleteMarkedRow();
  void SaveAndEnd();
  // A CSV file chosen through the platform, its columns matched in
  // CsvImportDialog; OK there appends the entries below the last row.
  void ImportCsv();
  // The rows on screen to a CSV file, UTF-8 with BOM or Shift_JIS.
  void ExportCsv();
  // The row the user marked last, or -1.
  int MarkedRow() const;
  // The edit boxes as an entry; nothing (after the framework's message)
  // when one holds more than the limit.
  std::optional<AddressEntry> TakeFields();

  AddressTableModel* model_;
  QTableView* list_;
  std::array<QLineEdit*, AddressEntry::kFieldCount> fields_{};
  std::array<QPushButton*, kButtons> buttons_{};
  GrowWithWindow grow_;
  std::string result_;
};

}  // namespace velkaro::ui::dialogs
