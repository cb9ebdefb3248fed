// The test send command of the form: the dialog for the address and the
// recipient, the job's one mail, and a failure in a message box.
#include <QApplication>
#include <QTreeWidget>
#include <algorithm>
#include <optional>

#include "core/encoding.h"
#include "core/zentool.h"
#include "ui/dialogs/dialogs.h"
#include "ui/velkaro_view.h"

namespace velkaro::ui {

int CVelkaroView::TestSend() {
  // One run at a time, whether it comes from the button or the menu.
  if (job_.Running()) {
    QApplication::beep();
    return -1;
  }
  if (Zentool().ZenCountLines(job_.recipientLines) <= 0) {
    CurrentPlatform().MessageBox(
        Sjis("送信先がありません。送信先を追加してからテスト送信してください。"), MsgButtons::Ok,
        MsgIcon::Information);
    return -1;
  }
  if (!BodyFitsShiftJis(true)) return -1;
  const std::string address =
      testAddress_.empty() ? FieldText(doc_.settings.record.server.senderAddress) : testAddress_;
  const QList<QTreeWidgetItem*> selected = recipientList_->selectedItems();
  const int row = selected.isEmpty() ? 0 : recipientList_->indexOfTopLevelItem(selected.front());
  const std::optional<TestSendRequest> request =
      RunTestSendDialog(window(), job_.recipientLines, address, std::max(row, 0));
  if (!request) return -1;
  testAddress_ = request->address;
  const int result = job_.RunTestSend(request->index, request->address);
  if (result < 0) QApplication::beep();
  return result;
}

void CVelkaroView::ReportTestSend(int result) {
  // The checks name what they refused in their own box, and a sent mail
  // is told in the status line.
  if (result < 0 || result == run_result::kSent || result == run_result::kChecksFailed) return;
  std::string text = Sjis("テスト送信でエラーが発生しました。 RetCode=") + std::to_string(result);
  if (!job_.failureReason.empty()) text += "\r\n" + job_.failureReason;
  CurrentPlatform().MessageBox(text, MsgButtons::Ok, MsgIcon::Exclamation);
}

}  // namespace velkaro::ui
