#include "ui/dialogs/csv_import_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>
#include <algorithm>
#include <numeric>

#include "data/address_columns.h"
#include "ui/dialogs/address_list.h"

namespace velkaro::ui::dialogs {
namespace {

constexpr int kMailaddr = 3;

enum TableColumn { NumberColumn, HeaderColumn, SampleColumn, FieldColumn, kTableColumns };

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString SeparatorName(char separator) {
  switch (separator) {
    case '\t': return QStringLiteral("タブ");
    case ';': return QStringLiteral("セミコロン");
    default: return QStringLiteral("カンマ");
  }
}

QString EncodingText(const std::string& described) {
  if (described == "UTF-8 with BOM") return QStringLiteral("UTF-8 (BOM付き)");
  return FromUtf8(described);
}

QString FieldTitles(const std::vector<int>& fields) {
  QStringList titles;
  for (int field : fields) titles << AddressColumnTitle(field);
  return titles.join(QStringLiteral("、"));
}

}  // namespace

QString DescribeImportNote(const ImportNote& note) {
  const QString address = FromUtf8(note.address);
  QString what;
  switch (note.kind) {
    case ImportNote::AddressUnmappable:
      what = QStringLiteral("メールアドレス「%1」に CP932 で表せない文字があります").arg(address);
      break;
    case ImportNote::NoAddress: what = QStringLiteral("メールアドレスがありません"); break;
    case ImportNote::UnusableAddress:
      what = QStringLiteral("メールアドレス「%1」には送れません").arg(address);
      break;
    case ImportNote::Unmappable:
      what = QStringLiteral("%1 に CP932 で表せない文字があります").arg(FieldTitles(note.fields));
      break;
    case ImportNote::InBook:
      what = QStringLiteral("「%1」はアドレス帳に登録済みです").arg(address);
      break;
    case ImportNote::RepeatedInFile:
      what =
          QStringLiteral("「%1」は %2 行目と同じアドレスです").arg(address).arg(note.earlierLine);
      break;
    case ImportNote::Replaced:
      what =
          QStringLiteral("%1 の CP932 で表せない文字を〓にしました").arg(FieldTitles(note.fields));
      break;
  }
  return QStringLiteral("%1 行目: %2").arg(note.line).arg(what);
}

CsvImportDialog::CsvImportDialog(QWidget* parent, const std::string& fileName, std::string csvBytes,
                                 std::string addressBook, ImportResult first)
    : QDialog(parent),
      csvBytes_(std::move(csvBytes)),
      addressBook_(std::move(addressBook)),
      current_(std::move(first)) {
  setWindowTitle(QStringLiteral("CSVから読み込み"));
  setFont(DialogFont());
  setModal(true);
  const DialogUnits u = Units();
  resize(u.X(290), u.Y(228));

  MakeLabel(this, QStringLiteral("ファイル: ") + FromUtf8(fileName), u.Rect(8, 8, 170, 8));
  encoding_ = MakeLabel(this,
                        QStringLiteral("文字コード: %1　区切り: %2")
                            .arg(EncodingText(DescribeCsvEncoding(csvBytes_, current_.encoding)),
                                 SeparatorName(current_.separator)),
                        u.Rect(8, 20, 170, 8));
  cancel_ = MakeButton(this, QStringLiteral("ｷｬﾝｾﾙ"), u.Rect(184, 6, 42, 14));
  ok_ = MakeButton(this, QStringLiteral("OK"), u.Rect(232, 6, 50, 14));
  ok_->setDefault(true);

  MakeLabel(this, QStringLiteral("各列の取り込み先を選んでください。"), u.Rect(8, 34, 200, 8));
  const int columnCount = static_cast<int>(current_.headers.size());
  columns_ = new QTableWidget(columnCount, kTableColumns, this);
  columns_->setGeometry(u.Rect(8, 44, 274, 96));
  columns_->setHorizontalHeaderLabels({QStringLiteral("列"), QStringLiteral("見出し"),
                                       QStringLiteral("内容の例"), QStringLiteral("取り込み先")});
  columns_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  columns_->setSelectionMode(QAbstractItemView::NoSelection);
  columns_->setTabKeyNavigation(false);
  columns_->setWordWrap(false);
  columns_->verticalHeader()->hide();
  columns_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (const auto& [column, width] : {std::pair{NumberColumn, 30}, std::pair{HeaderColumn, 120},
                                      std::pair{SampleColumn, 200}, std::pair{FieldColumn, 120}}) {
    columns_->setColumnWidth(column, width);
  }
  for (int col = 0; col < columnCount; ++col) {
    const auto at = static_cast<std::size_t>(col);
    columns_->setItem(col, NumberColumn, new QTableWidgetItem(QString::number(col + 1)));
    columns_->setItem(col, HeaderColumn, new QTableWidgetItem(FromUtf8(current_.headers[at])));
    QStringList samples;
    if (at < current_.samples.size()) {
      for (const std::string& value : current_.samples[at]) samples << FromUtf8(value);
    }
    columns_->setItem(col, SampleColumn, new QTableWidgetItem(samples.join(QStringLiteral(" / "))));
    auto* box = new QComboBox(columns_);
    box->addItem(QStringLiteral("取り込まない"), -1);
    for (int field = 0; field < AddressEntry::kFieldCount; ++field)
      box->addItem(AddressColumnTitle(field), field);
    const int field = at < current_.columnField.size() ? current_.columnField[at] : -1;
    box->setCurrentIndex(field + 1);
    columns_->setCellWidget(col, FieldColumn, box);
    connect(box, &QComboBox::currentIndexChanged, this, [this] { Reread(); });
  }
  if (columnCount > 0) {
    columns_->verticalHeader()->setDefaultSectionSize(FieldBox(0)->sizeHint().height());
  }

  importAll_ = new QCheckBox(QStringLiteral("CP932で表せない文字を〓にして取り込む"), this);
  importAll_->setGeometry(u.Rect(8, 144, 200, 10));
  connect(importAll_, &QCheckBox::toggled, this, [this] { Reread(); });
  count_ = MakeLabel(this, QString(), u.Rect(8, 158, 274, 8));
  MakeLabel(this, QStringLiteral("取り込まない行・〓にした行"), u.Rect(8, 170, 100, 8));
  notes_ = new QListWidget(this);
  notes_->setGeometry(u.Rect(8, 180, 274, 44));

  // Several columns for one field join in the automatic order (family name
  // first), whatever their places in the file.
  std::vector<ColumnTarget> automatic;
  MapColumns(current_.headers, {}, automatic);
  joinOrder_.resize(current_.headers.size());
  std::iota(joinOrder_.begin(), joinOrder_.end(), 0);
  std::stable_sort(joinOrder_.begin(), joinOrder_.end(), [&automatic](int a, int b) {
    return automatic.at(static_cast<std::size_t>(a)).order <
           automatic.at(static_cast<std::size_t>(b)).order;
  });

  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  ShowResult();

  grow_.Follow(columns_, GrowWithWindow::Width);
  grow_.Follow(count_, GrowWithWindow::Width);
  grow_.Follow(notes_, GrowWithWindow::Width | GrowWithWindow::Height);
  grow_.Follow(cancel_, GrowWithWindow::MoveRight);
  grow_.Follow(ok_, GrowWithWindow::MoveRight);
  grow_.TakeBase(this);
  PlaceBelowMainWindow(this, parent);
}

QComboBox* CsvImportDialog::FieldBox(int column) const {
  return qobject_cast<QComboBox*>(columns_->cellWidget(column, FieldColumn));
}

void CsvImportDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  grow_.Apply(size());
}

void CsvImportDialog::Reread() {
  // Every column is named by its number, so the boxes on screen are the
  // whole choice: nothing automatic is left to move behind them.
  ImportOptions options;
  options.importAll = importAll_->isChecked();
  for (int col : joinOrder_) {
    const int field = FieldBox(col)->currentData().toInt();
    options.maps.emplace_back(std::to_string(col + 1),
                              field < 0 ? std::string("-") : AddressFieldNames()[field]);
  }
  current_ = ImportAddresses(csvBytes_, addressBook_, options);
  ShowResult();
}

void CsvImportDialog::ShowResult() {
  notes_->clear();
  if (!current_.error.empty()) {
    const bool hasAddress = std::find(current_.columnField.begin(), current_.columnField.end(),
                                      kMailaddr) != current_.columnField.end();
    count_->setText(hasAddress ? FromUtf8(current_.error)
                               : QStringLiteral("メールアドレスの列を選んでください。"));
    current_.entries.clear();
    ok_->setEnabled(false);
    return;
  }
  count_->setText(QStringLiteral("追加するエントリ: %1 件（データ %2 行のうち）")
                      .arg(current_.entries.size())
                      .arg(current_.rows));
  for (const ImportNote& note : current_.refused) notes_->addItem(DescribeImportNote(note));
  for (const ImportNote& note : current_.replaced) notes_->addItem(DescribeImportNote(note));
  ok_->setEnabled(!current_.entries.empty());
}

}  // namespace velkaro::ui::dialogs
