#include "ui/dialogs/result_dialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "job/send_job.h"
#include "platform/qt/qt_platform.h"
#include "ui/dialogs/dialog_frame.h"

namespace velkaro::ui::dialogs {
namespace {

// Every item keeps the recipient's place in the list: rows that compare
// equal in the sorted column stay in list order.
constexpr int kSortKeyRole = Qt::UserRole;
constexpr int kListIndexRole = Qt::UserRole + 1;

struct ColumnInfo {
  const char16_t* title;
  int width;  // dialog units
};
constexpr std::array<ColumnInfo, ResultDialog::kColumnCount> kColumns = {{
    {u"No", 20},
    {u"名前", 60},
    {u"アドレス", 90},
    {u"結果", 56},
    {u"コード", 26},
    {u"サーバーの応答", 120},
    {u"添付ファイル", 120},
}};

// The order the list starts in: what needs the user's attention first.
int OutcomeRank(MailOutcome outcome) {
  switch (outcome) {
    case MailOutcome::Refused: return 0;
    case MailOutcome::InDoubt: return 1;
    case MailOutcome::NotSent: return 2;
    case MailOutcome::Sent: return 3;
  }
  return 4;
}

// A cell that sorts by its key when it has one (numbers as numbers, the
// outcome by its rank), else by its text; ties by list order.
class ResultItem : public QTableWidgetItem {
 public:
  ResultItem(const QString& text, int listIndex) : QTableWidgetItem(text, UserType) {
    setData(kListIndexRole, listIndex);
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  }
  ResultItem(const QString& text, int listIndex, qlonglong key) : ResultItem(text, listIndex) {
    setData(kSortKeyRole, key);
  }

  bool operator<(const QTableWidgetItem& other) const override {
    const QVariant key = data(kSortKeyRole);
    const QVariant otherKey = other.data(kSortKeyRole);
    if (key.isValid() && otherKey.isValid()) {
      if (key.toLongLong() != otherKey.toLongLong())
        return key.toLongLong() < otherKey.toLongLong();
    } else if (const int byText = text().compare(other.text()); byText != 0) {
      return byText < 0;
    }
    return data(kListIndexRole).toInt() < other.data(kListIndexRole).toInt();
  }
};

// One line of text: a TAB or line break would split a row of the copied
// list (and a cell of the table) in two.
QString OneLine(QString text) {
  for (QChar& c : text) {
    if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n') ||
        c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
      c = QLatin1Char(' ');
    }
  }
  return text;
}

struct RowTexts {
  QString no, name, address, outcome, code, reply, attachments;
};

bool AnyAttachments(const std::vector<RecipientResult>& results) {
  return std::any_of(results.begin(), results.end(),
                     [](const RecipientResult& r) { return !r.attachments.empty(); });
}

RowTexts TextsOf(const RecipientResult& r, std::size_t index) {
  return {QString::number(index + 1),
          OneLine(qt::FromSjis(r.name)),
          OneLine(qt::FromSjis(r.address)),
          OutcomeText(r.outcome),
          r.code != 0 ? QString::number(r.code) : QString(),
          OneLine(qt::FromSjis(r.reply)),
          OneLine(QString::fromUtf8(r.attachments))};
}

}  // namespace

QString OutcomeText(MailOutcome outcome) {
  switch (outcome) {
    case MailOutcome::Sent: return QStringLiteral("送信済み");
    case MailOutcome::Refused: return QStringLiteral("拒否");
    case MailOutcome::InDoubt: return QStringLiteral("不明(届いたか分からない)");
    case MailOutcome::NotSent: return QStringLiteral("未送信");
  }
  return {};
}

QString ResultSummaryText(const std::vector<RecipientResult>& results) {
  const auto count = [&results](MailOutcome outcome) {
    return std::count_if(results.begin(), results.end(),
                         [outcome](const RecipientResult& r) { return r.outcome == outcome; });
  };
  return QStringLiteral("送信済み %1 / 拒否 %2 / 不明 %3 / 未送信 %4")
      .arg(count(MailOutcome::Sent))
      .arg(count(MailOutcome::Refused))
      .arg(count(MailOutcome::InDoubt))
      .arg(count(MailOutcome::NotSent));
}

QString ResultCsvText(const std::string& csvPath) {
  if (csvPath.empty()) return QStringLiteral("結果一覧を書き込めませんでした。");
  return QStringLiteral("結果一覧: ") + PathToField(csvPath);
}

QString ResultListText(const std::vector<RecipientResult>& results) {
  const bool files = AnyAttachments(results);
  QStringList header;
  for (const ColumnInfo& column : kColumns) header << QString::fromUtf16(column.title);
  if (!files) header.removeLast();
  QString text = header.join(QLatin1Char('\t')) + QLatin1Char('\n');
  for (std::size_t i = 0; i < results.size(); ++i) {
    const RowTexts t = TextsOf(results[i], i);
    QStringList row{t.no, t.name, t.address, t.outcome, t.code, t.reply};
    if (files) row << t.attachments;
    text += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  return text;
}

std::string RefusedLines(const std::vector<RecipientResult>& results) {
  std::string lines;
  for (const RecipientResult& r : results) {
    if (r.outcome == MailOutcome::Refused) lines += r.line;
  }
  return lines;
}

ResultDialog::ResultDialog(QWidget* parent, SendJob& job)
    : QDialog(parent),
      job_(job),
      table_(new QTableWidget(0, kColumnCount, this)),
      summary_(new QLabel(this)),
      csv_(new QLabel(this)),
      resend_(new QPushButton(QStringLiteral("失敗した宛先だけを送信先にする"), this)),
      copy_(new QPushButton(QStringLiteral("クリップボードにコピー"), this)),
      close_(new QPushButton(QStringLiteral("閉じる"), this)) {
  setWindowTitle(QStringLiteral("送信結果"));
  setFont(DialogFont());
  setModal(false);
  const DialogUnits u = Units();

  QStringList titles;
  for (const ColumnInfo& column : kColumns) titles << QString::fromUtf16(column.title);
  table_->setHorizontalHeaderLabels(titles);
  for (int c = 0; c < kColumnCount; ++c) {
    table_->setColumnWidth(c, u.X(kColumns[static_cast<std::size_t>(c)].width));
  }
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->setVisible(false);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setWordWrap(false);

  // Paths and replies are shown as they are, never as markup.
  for (QLabel* label : {summary_, csv_}) {
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  csv_->setWordWrap(true);
  close_->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(resend_);
  buttons->addWidget(copy_);
  buttons->addStretch(1);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(csv_);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  resize(u.X(400), u.Y(200));

  connect(resend_, &QPushButton::clicked, this, [this] { UseRefusedAsRecipients(); });
  connect(copy_, &QPushButton::clicked, this, [this] { CopyToClipboard(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::close);

  ShowResults({}, {});
  PlaceBelowMainWindow(this, parent);
}

void ResultDialog::ShowResults(const std::vector<RecipientResult>& results,
                               const std::string& csvPath) {
  results_ = results;
  // Rows inserted while sorting is on would move under the loop.
  table_->setSortingEnabled(false);
  table_->clearContents();
  table_->setRowCount(static_cast<int>(results_.size()));
  for (std::size_t i = 0; i < results_.size(); ++i) {
    const RecipientResult& r = results_[i];
    const RowTexts t = TextsOf(r, i);
    const int row = static_cast<int>(i);
    const int index = static_cast<int>(i);
    table_->setItem(row, kNoColumn, new ResultItem(t.no, index, index + 1));
    table_->setItem(row, kNameColumn, new ResultItem(t.name, index));
    table_->setItem(row, kAddressColumn, new ResultItem(t.address, index));
    table_->setItem(row, kOutcomeColumn, new ResultItem(t.outcome, index, OutcomeRank(r.outcome)));
    table_->setItem(row, kCodeColumn, new ResultItem(t.code, index, r.code));
    auto* reply = new ResultItem(t.reply, index);
    reply->setToolTip(t.reply);
    table_->setItem(row, kReplyColumn, reply);
    auto* files = new ResultItem(t.attachments, index);
    files->setToolTip(t.attachments);
    table_->setItem(row, kAttachmentsColumn, files);
  }
  table_->setColumnHidden(kAttachmentsColumn, !AnyAttachments(results_));
  table_->setSortingEnabled(true);
  table_->sortByColumn(kOutcomeColumn, Qt::AscendingOrder);
  if (!results_.empty()) table_->scrollToTop();

  summary_->setText(ResultSummaryText(results_));
  csv_->setText(results_.empty() ? QString() : ResultCsvText(csvPath));
  resend_->setEnabled(std::any_of(results_.begin(), results_.end(), [](const RecipientResult& r) {
    return r.outcome == MailOutcome::Refused;
  }));
}

void ResultDialog::UseRefusedAsRecipients() {
  const std::string lines = RefusedLines(results_);
  if (lines.empty()) return;
  // What the user typed into the form and has not been taken yet stays.
  job_.PullFromView();
  job_.recipientLines = lines;
  job_.RebuildRecipientList();
}

void ResultDialog::CopyToClipboard() const {
  QGuiApplication::clipboard()->setText(ResultListText(results_));
}

}  // namespace velkaro::ui::dialogs
