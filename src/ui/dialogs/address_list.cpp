#include "ui/dialogs/address_list.h"

#include <QHeaderView>
#include <QTableView>
#include <array>

#include "platform/qt/qt_platform.h"

namespace velkaro::ui::dialogs {
namespace {

struct Column {
  const char16_t* title;
  int width;
};
constexpr std::array<Column, AddressEntry::kFieldCount> kColumns = {{
    {u"読み", 60},
    {u"登録名", 100},
    {u"氏名", 100},
    {u"メールアドレス", 180},
    {u"電話", 80},
    {u"住所", 180},
    {u"Data-1", 80},
    {u"Data-2", 80},
    {u"Data-3", 80},
    {u"Data-4", 80},
}};

}  // namespace

std::vector<AddressEntry> EntriesOfAddressBook(const std::string& text) {
  // ParseEntryLine walks from the top of the text to its line; handing it
  // one line at a time keeps a large book linear.
  std::vector<AddressEntry> entries;
  std::size_t start = text.find("\r\n");
  if (start == std::string::npos) return entries;
  start += 2;
  for (std::size_t end = text.find("\r\n", start); end != std::string::npos;
       start = end + 2, end = text.find("\r\n", start)) {
    AddressEntry entry;
    ParseEntryLine(text.substr(start, end - start + 2), 0, entry);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string AddressBookOfEntries(const std::vector<AddressEntry>& entries) {
  std::string text = AddressBookHeaderLine();
  for (const AddressEntry& entry : entries) text += FormatEntryLine(entry);
  return text;
}

AddressTableModel::AddressTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void AddressTableModel::SetEntries(std::vector<AddressEntry> entries) {
  beginResetModel();
  entries_ = std::move(entries);
  endResetModel();
}

void AddressTableModel::InsertEntry(int row, AddressEntry entry) {
  beginInsertRows(QModelIndex(), row, row);
  entries_.insert(entries_.begin() + row, std::move(entry));
  endInsertRows();
}

void AddressTableModel::AppendEntries(std::vector<AddressEntry> entries) {
  if (entries.empty()) return;
  const int first = static_cast<int>(entries_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(entries.size()) - 1);
  entries_.insert(entries_.end(), std::make_move_iterator(entries.begin()),
                  std::make_move_iterator(entries.end()));
  endInsertRows();
}

void AddressTableModel::ReplaceEntry(int row, AddressEntry entry) {
  entries_.at(static_cast<std::size_t>(row)) = std::move(entry);
  emit dataChanged(index(row, 0), index(row, AddressEntry::kFieldCount - 1));
}

void AddressTableModel::RemoveEntry(int row) {
  beginRemoveRows(QModelIndex(), row, row);
  entries_.erase(entries_.begin() + row);
  endRemoveRows();
}

int AddressTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int AddressTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : AddressEntry::kFieldCount;
}

QVariant AddressTableModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return qt::FromSjis(Entry(index.row())[index.column()]);
}

QVariant AddressTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return AddressColumnTitle(section);
}

QString AddressColumnTitle(int column) {
  return QString::fromUtf16(kColumns.at(static_cast<std::size_t>(column)).title);
}

int AddressColumnWidth(int column) {
  return kColumns.at(static_cast<std::size_t>(column)).width;
}

QTableView* MakeReportList(QWidget* parent, QAbstractItemModel* model, bool multiSelect) {
  auto* list = new QTableView(parent);
  list->setModel(model);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection
                                     : QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setShowGrid(false);
  list->setWordWrap(false);
  list->setCornerButtonEnabled(false);
  // TAB moves between the dialog's controls, as in any dialog.
  list->setTabKeyNavigation(false);
  list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  QHeaderView* header = list->horizontalHeader();
  header->setSectionsClickable(false);
  header->setHighlightSections(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);

  // One fixed row height: the view never measures rows, however many.
  QHeaderView* rows = list->verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(list->fontMetrics().height() + 4);
  return list;
}

}  // namespace velkaro::ui::dialogs
