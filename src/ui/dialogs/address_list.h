// The list both address book dialogs show: the entries in the ten columns
// of the file's field order. The entries stay Shift_JIS in the model and
// are converted only for the rows on screen, so a large address book opens
// in one go without converting or measuring every row.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "data/address_book.h"

class QTableView;
class QWidget;

namespace velkaro::ui::dialogs {

// The entries of an address book text (line 0, the header, skipped; every
// other line one entry, read in one pass).
std::vector<AddressEntry> EntriesOfAddressBook(const std::string& text);

// An address book text of the entries: the header line, then one line per
// entry in the given order.
std::string AddressBookOfEntries(const std::vector<AddressEntry>& entries);

class AddressTableModel : public QAbstractTableModel {
 public:
  explicit AddressTableModel(QObject* parent = nullptr);

  void SetEntries(std::vector<AddressEntry> entries);
  const std::vector<AddressEntry>& Entries() const { return entries_; }
  const AddressEntry& Entry(int row) const { return entries_.at(static_cast<std::size_t>(row)); }
  void InsertEntry(int row, AddressEntry entry);
  // After the last row, in the given order.
  void AppendEntries(std::vector<AddressEntry> entries);
  void ReplaceEntry(int row, AddressEntry entry);
  void RemoveEntry(int row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<AddressEntry> entries_;
};

// Column titles and initial widths in pixels, in field order.
QString AddressColumnTitle(int column);
int AddressColumnWidth(int column);

// A report-style list: full-row selection, headers that do not sort, no
// in-place editing, rows of one fixed height.
QTableView* MakeReportList(QWidget* parent, QAbstractItemModel* model, bool multiSelect);

}  // namespace velkaro::ui::dialogs
