// The test send "テスト送信": asks for the address the test mail goes to
// and for whose mail it is (a recipient line, shown with its name and
// address), so that the user sees one personalised mail as it arrives
// before the run sends them all. The mail itself is the job's business.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace velkaro::ui::dialogs {

class TestSendDialog : public QDialog {
 public:
  // `recipientLines`: the job's entry lines (Shift_JIS, CR LF), at least
  // one; `address` the address to offer; `index` the recipient line to
  // offer (0-based, taken into range).
  TestSendDialog(QWidget* parent, const std::string& recipientLines, const std::string& address,
                 int index);

  // After OK: the address (as typed, blanks around it dropped) and the
  // recipient line (0-based).
  std::string Address() const;
  int Index() const;

  void accept() override;

  QLineEdit* AddressEdit() const { return address_; }
  QSpinBox* RecipientSpin() const { return recipient_; }
  QLabel* RecipientLabel() const { return recipientText_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  void ShowRecipient(int number);

  // Each recipient line as the dialog shows it: "name <address>".
  std::vector<QString> recipients_;
  QLineEdit* address_;
  QSpinBox* recipient_;
  QLabel* recipientText_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

// Whether a typed test address can be handed to the server as it stands:
// one addr-spec (local@domain, printable ASCII, no blanks, no angle
// brackets, commas or semicolons that would make it a list or smuggle in
// a second recipient).
bool IsUsableTestAddress(const std::string& address);

}  // namespace velkaro::ui::dialogs
