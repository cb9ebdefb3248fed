// The result list "送信結果" of the last send run: every recipient with its
// outcome, the server's last reply and the code of a failed mail, the
// counts and the CSV file the list was written to. It is modeless: the
// main window keeps one and refreshes it after each run, so a run started
// from a timer or the command line never waits on it. From it the user can
// make the refused recipients the form's recipients (to send to them again
// in a new run) and copy the list for a spreadsheet or a mail.
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "job/run_results.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace velkaro {
class SendJob;
}  // namespace velkaro

namespace velkaro::ui::dialogs {

// "送信済み", "拒否", "不明(届いたか分からない)", "未送信".
QString OutcomeText(MailOutcome outcome);

// "送信済み 3 / 拒否 1 / 不明 0 / 未送信 2".
QString ResultSummaryText(const std::vector<RecipientResult>& results);

// "結果一覧: PATH" for the CSV file of the run (a file-system path), or the
// note that it could not be written.
QString ResultCsvText(const std::string& csvPath);

// The list as TAB-separated text: the header row, then one row per
// recipient in list order, each ended by "\n". A TAB or line break inside a
// field becomes a space, so that every recipient stays one row.
QString ResultListText(const std::vector<RecipientResult>& results);

// The entry lines (each with its CR LF) of the refused recipients, in list
// order. Mails in doubt are left out: they may have arrived, and sending
// them again could give the recipient a second copy.
std::string RefusedLines(const std::vector<RecipientResult>& results);

class ResultDialog : public QDialog {
 public:
  // The attachments column is shown only for a run with personal
  // attachments, where each recipient's files differ.
  enum Column {
    kNoColumn,
    kNameColumn,
    kAddressColumn,
    kOutcomeColumn,
    kCodeColumn,
    kReplyColumn,
    kAttachmentsColumn
  };
  static constexpr int kColumnCount = 7;

  // `job` receives the recipients of the replace button; it must outlive
  // the dialog.
  ResultDialog(QWidget* parent, SendJob& job);

  // Shows a run's list (a copy: the next run starts a new one in the job)
  // sorted the refused first, then those in doubt, the not sent and the
  // sent, each group in list order.
  void ShowResults(const std::vector<RecipientResult>& results, const std::string& csvPath);
  const std::vector<RecipientResult>& Results() const { return results_; }

  QTableWidget* Table() const { return table_; }
  QLabel* SummaryLabel() const { return summary_; }
  QLabel* CsvLabel() const { return csv_; }
  QPushButton* ResendButton() const { return resend_; }
  QPushButton* CopyButton() const { return copy_; }
  QPushButton* CloseButton() const { return close_; }

 private:
  void UseRefusedAsRecipients();
  void CopyToClipboard() const;

  SendJob& job_;
  std::vector<RecipientResult> results_;
  QTableWidget* table_;
  QLabel* summary_;
  QLabel* csv_;
  QPushButton* resend_;
  QPushButton* copy_;
  QPushButton* close_;
  bool placed_ = false;
};

}  // namespace velkaro::ui::dialogs
