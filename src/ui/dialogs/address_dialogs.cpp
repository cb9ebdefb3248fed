#include "ui/dialogs/address_dialogs.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <algorithm>

#include "core/atomic_file.h"
#include "core/encoding.h"
#include "core/zentool.h"
#include "data/address_import.h"
#include "platform/platform.h"
#include "platform/qt/qt_platform.h"
#include "ui/dialogs/address_list.h"
#include "ui/dialogs/csv_import_dialog.h"

namespace velkaro::ui::dialogs {
namespace {

void SetColumnWidths(QTableView* list) {
  for (int c = 0; c < AddressEntry::kFieldCount; ++c)
    list->setColumnWidth(c, AddressColumnWidth(c));
}

// Both dialogs: the dialog font, a resizable frame, the template's size.
void SetUpFrame(QDialog* dialog, const QString& title, int width, int height) {
  dialog->setWindowTitle(title);
  dialog->setFont(DialogFont());
  dialog->setModal(true);
  dialog->resize(Units().X(width), Units().Y(height));
}

// Shows the list and takes the opening size as the smallest one; the list
// then follows the window in both directions.
void FinishFrame(QDialog* dialog, QWidget* parent, QTableView* list, GrowWithWindow& grow) {
  grow.Follow(list, GrowWithWindow::Width | GrowWithWindow::Height);
  grow.TakeBase(dialog);
  PlaceBelowMainWindow(dialog, parent);
}

// The edit boxes of the editing dialog: field, label, template rectangle.
struct FieldPlace {
  int field;
  const char16_t* label;
  int x, y, width;
};
constexpr FieldPlace kFieldPlaces[] = {
    {1, u"登録名", 8, 20, 60},          {2, u"氏名", 72, 20, 40},  {0, u"読み", 116, 20, 60},
    {3, u"メールアドレス", 8, 52, 104}, {4, u"電話", 116, 52, 60}, {5, u"住所", 8, 82, 168},
};
constexpr int kDataRows[] = {24, 42, 60, 78};
constexpr const char16_t* kDataLabels[] = {u"１", u"２", u"３", u"４"};

const char* const kCsvFilter = "CSVファイル(*.csv)|*.csv|全て(*.*)|*.*||";

void Tell(const std::string& utf8) {
  CurrentPlatform().MessageBox(Utf8ToSjis(utf8), MsgButtons::Ok, MsgIcon::Exclamation);
}

}  // namespace

// --- selection -------------------------------------------------------------

AddressSelectDialog::AddressSelectDialog(QWidget* parent, const std::string& addressBook)
    : QDialog(parent), model_(new AddressTableModel(this)) {
  SetUpFrame(this, QStringLiteral("アドレス帳"), 218, 114);
  const DialogUnits u = Units();

  MakeLabel(this, QStringLiteral("メールの宛先を選択してください。"), u.Rect(8, 10, 98, 8));
  MakeLabel(this, QStringLiteral("[Ctrl]キー併用で複数選択できます。"), u.Rect(8, 20, 107, 8));
  cancel_ = MakeButton(this, QStringLiteral("ｷｬﾝｾﾙ"), u.Rect(120, 7, 34, 14));
  ok_ = MakeButton(this, QStringLiteral("OK"), u.Rect(162, 6, 50, 14));
  ok_->setDefault(true);

  // Every line is offered, also one with empty fields: choosing it is the
  // user's decision.
  std::vector<AddressEntry> entries = EntriesOfAddressBook(addressBook);
  SortByReading(entries);
  model_->SetEntries(std::move(entries));
  list_ = MakeReportList(this, model_, true);
  list_->setGeometry(u.Rect(4, 30, 208, 80));
  SetColumnWidths(list_);

  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  FinishFrame(this, parent, list_, grow_);
}

void AddressSelectDialog::accept() {
  QModelIndexList rows = list_->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  result_.clear();
  for (const QModelIndex& row : rows) result_ += FormatEntryLine(model_->Entry(row.row()));
  QDialog::accept();
}

void AddressSelectDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  grow_.Apply(size());
}

// --- editing ---------------------------------------------------------------

AddressEditDialog::AddressEditDialog(QWidget* parent, const std::string& addressBook)
    : QDialog(parent), model_(new AddressTableModel(this)) {
  SetUpFrame(this, QStringLiteral("アドレス帳の編集画面"), 290, 234);
  const DialogUnits u = Units();

  const auto makeField = [&](int field, const QRect& rect) {
    auto* edit = new QLineEdit(this);
    edit->setGeometry(rect);
    edit->setValidator(new FieldValidator(FieldValidator::SjisCharacters, kFieldLimit, edit));
    fields_.at(static_cast<std::size_t>(field)) = edit;
  };
  for (const FieldPlace& p : kFieldPlaces) {
    MakeLabel(this, QString::fromUtf16(p.label), u.Rect(p.x, p.y - 10, p.width, 8));
    makeField(p.field, u.Rect(p.x, p.y, p.width, 14));
  }
  auto* group = new QGroupBox(QStringLiteral("その他の登録者データ"), this);
  group->setGeometry(u.Rect(182, 8, 104, 90));
  for (int i = 0; i < 4; ++i) {
    MakeLabel(this, QString::fromUtf16(kDataLabels[i]), u.Rect(184, kDataRows[i] + 3, 8, 8));
    makeField(6 + i, u.Rect(192, kDataRows[i], 88, 14));
  }

  struct Place {
    Button which;
    const char16_t* caption;
    int x, y, width;
  };
  constexpr Place kButtonPlaces[] = {
      {ClearButton, u"↑クリア", 8, 108, 28},
      {EditButton, u"↑編集", 40, 108, 28},
      {UpdateButton, u"↓更新", 72, 108, 28},
      {AddButton, u"↓+追加", 104, 108, 28},
      {DeleteButton, u"↓削除", 148, 108, 28},
      {CancelButton, u"ｷｬﾝｾﾙ", 184, 108, 42},
      {SaveButton, u"保存・終了", 232, 108, 50},
      {ImportButton, u"CSVから読み込み…", 8, 126, 72},
      {ExportButton, u"CSVに書き出し…", 84, 126, 72},
  };
  for (const Place& p : kButtonPlaces) {
    QPushButton* button =
        MakeButton(this, QString::fromUtf16(p.caption), u.Rect(p.x, p.y, p.width, 14));
    // Enter in an edit box must never save and close the dialog: no button
    // takes Enter unless it has the focus itself.
    button->setAutoDefault(false);
    buttons_.at(p.which) = button;
  }

  std::vector<AddressEntry> entries = EntriesOfAddressBook(addressBook);
  // Only entries that can be sent to are edited; the others are dropped
  // from the book when it is saved.
  std::erase_if(entries,
                [](const AddressEntry& e) { return e.name.empty() || e.mailaddr.empty(); });
  SortByReading(entries);
  model_->SetEntries(std::move(entries));
  list_ = MakeReportList(this, model_, false);
  list_->setGeometry(u.Rect(8, 146, 276, 84));
  SetColumnWidths(list_);

  connect(buttons_[ClearButton], &QPushButton::clicked, this, [this] { ClearFields(); });
  connect(buttons_[EditButton], &QPushButton::clicked, this, [this] { EditMarkedRow(); });
  connect(buttons_[UpdateButton], &QPushButton::clicked, this, [this] { UpdateMarkedRow(); });
  connect(buttons_[AddButton], &QPushButton::clicked, this, [this] { AddAtTop(); });
  connect(buttons_[DeleteButton], &QPushButton::clicked, this, [this] { DeleteMarkedRow(); });
  connect(buttons_[SaveButton], &QPushButton::clicked, this, [this] { SaveAndEnd(); });
  connect(buttons_[CancelButton], &QPushButton::clicked, this, &QDialog::reject);
  connect(buttons_[ImportButton], &QPushButton::clicked, this, [this] { ImportCsv(); });
  connect(buttons_[ExportButton], &QPushButton::clicked, this, [this] { ExportCsv(); });
  connect(list_, &QTableView::doubleClicked, this, [this] { EditMarkedRow(); });
  FinishFrame(this, parent, list_, grow_);
}

void AddressEditDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  grow_.Apply(size());
}

void AddressEditDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

int AddressEditDialog::MarkedRow() const {
  const QModelIndexList rows = list_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

std::optional<AddressEntry> AddressEditDialog::TakeFields() {
  AddressEntry entry;
  // In the order the boxes are laid out, so the message names the first
  // over-long box the user sees.
  std::vector<int> order;
  for (const FieldPlace& p : kFieldPlaces) order.push_back(p.field);
  for (int i = 6; i < AddressEntry::kFieldCount; ++i) order.push_back(i);
  for (int k : order) {
    QLineEdit* edit = Field(k);
    if (edit->text().size() > kFieldLimit) {
      CurrentPlatform().MessageBox(
          Utf8ToSjis(
              QStringLiteral("%1 文字以内で入力してください。").arg(kFieldLimit).toStdString()),
          MsgButtons::Ok, MsgIcon::Exclamation);
      edit->setFocus();
      edit->selectAll();
      return std::nullopt;
    }
    entry[k] = SanitizeField(FieldToSjis(edit->text()));
  }
  return entry;
}

void AddressEditDialog::ClearFields() {
  for (QLineEdit* edit : fields_) edit->clear();
}

void AddressEditDialog::EditMarkedRow() {
  const int row = MarkedRow();
  if (row < 0) return;
  const AddressEntry& entry = model_->Entry(row);
  for (int k = 0; k < AddressEntry::kFieldCount; ++k) Field(k)->setText(qt::FromSjis(entry[k]));
}

void AddressEditDialog::UpdateMarkedRow() {
  std::optional<AddressEntry> entry = TakeFields();
  if (!entry) return;
  const int row = MarkedRow();
  if (row < 0) return;
  model_->ReplaceEntry(row, std::move(*entry));
}

void AddressEditDialog::AddAtTop() {
  std::optional<AddressEntry> entry = TakeFields();
  if (!entry || entry->name.empty() || entry->mailaddr.empty()) return;
  model_->InsertEntry(0, std::move(*entry));
  list_->scrollToTop();
}

void AddressEditDialog::DeleteMarkedRow() {
  const int row = MarkedRow();
  if (row < 0) return;
  model_->RemoveEntry(row);
  // Deleting asks nothing, so a second press must not take the next row
  // that the list would otherwise mark by itself.
  list_->clearSelection();
}

void AddressEditDialog::SaveAndEnd() {
  result_ = AddressBookOfEntries(model_->Entries());
  accept();
}

void AddressEditDialog::ImportCsv() {
  FileDialogRequest request;
  request.kind = FileDialogRequest::Open;
  request.defaultExtension = "csv";
  request.filter = Sjis(kCsvFilter);
  const std::vector<std::string> chosen = CurrentPlatform().FileDialog(request);
  if (chosen.empty()) return;
  const std::string& path = chosen.front();
  const std::string bytes = ReadImportFile(path);
  if (bytes.empty()) {
    Tell("CSVファイルが見つからないか、空です。\r\n" + path);
    return;
  }
  // Addresses already on screen are not taken twice, also rows added or
  // changed since the dialog opened.
  const std::string book = AddressBookOfEntries(model_->Entries());
  ImportResult first = ImportAddresses(bytes, book, {});
  if (first.headers.empty()) {
    Tell("CSVファイルとして読み込めません。\r\n" + path + "\r\n" + first.error);
    return;
  }
  CsvImportDialog mapping(this, Zentool().ZenSplitPath(PathPart::NameExtension, path), bytes, book,
                          std::move(first));
  if (mapping.exec() != QDialog::Accepted || mapping.Current().entries.empty()) return;
  const int firstNew = model_->rowCount();
  model_->AppendEntries(mapping.Current().entries);
  list_->scrollTo(model_->index(firstNew, 0));
}

void AddressEditDialog::ExportCsv() {
  const MsgAnswer which =
      CurrentPlatform().MessageBox(Sjis("CSVファイルの文字コードを選んでください。\r\n\r\n"
                                        "はい: UTF-8 (BOM付き) - Excel、Googleコンタクトなど\r\n"
                                        "いいえ: Shift_JIS - 古い表計算ソフトなど"),
                                   MsgButtons::YesNoCancel, MsgIcon::Question);
  if (which == MsgAnswer::Cancel) return;
  const bool sjis = which == MsgAnswer::No;
  FileDialogRequest request;
  request.kind = FileDialogRequest::Save;
  request.defaultExtension = "csv";
  request.initialName = "address.csv";
  request.filter = Sjis(kCsvFilter);
  request.overwritePrompt = true;
  const std::vector<std::string> chosen = CurrentPlatform().FileDialog(request);
  if (chosen.empty()) return;
  const std::string& path = chosen.front();
  int rows = 0;
  const std::string csv =
      ExportAddresses(AddressBookOfEntries(model_->Entries()),
                      sjis ? ExportEncoding::ShiftJis : ExportEncoding::Utf8Bom, &rows);
  if (AtomicWriteFile(path, csv) != 0) {
    Tell("CSVファイルを書き出せませんでした。\r\n" + path);
    return;
  }
  CurrentPlatform().MessageBox(
      Utf8ToSjis(std::to_string(rows) + " 件を " + (sjis ? "Shift_JIS" : "UTF-8 (BOM付き)") +
                 " で書き出しました。\r\n" + path),
      MsgButtons::Ok, MsgIcon::Information);
}

}  // namespace velkaro::ui::dialogs
