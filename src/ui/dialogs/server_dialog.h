// The server dialog "メールサーバと差出人情報の設定": the POP3 and SMTP
// servers, the POP3 account and the sender, written into the settings
// record on OK.
#pragma once

#include <QDialog>
#include <array>

#include "data/settings_record.h"

class QLineEdit;
class QPushButton;

namespace velkaro::ui::dialogs {

class ServerDialog : public QDialog {
 public:
  // The fields in the order of the server block.
  enum Field {
    PopServer,
    PopPort,
    PopUser,
    PopPassword,
    SmtpServer,
    SmtpPort,
    SenderName,
    SenderAddress,
    kFields
  };
  // Every text of the block is stored in 127 Shift_JIS bytes.
  static constexpr int kTextLimit = 127;
  // A port outside this range cannot be connected to.
  static constexpr int kPortLow = 1;
  static constexpr int kPortHigh = 65535;

  ServerDialog(QWidget* parent, SettingsRecord& record);

  QLineEdit* FieldEdit(Field field) const { return fields_.at(field); }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

  // Copies the fields into the record and closes, unless a port is not
  // acceptable (the framework's message, the dialog stays open).
  void accept() override;

 private:
  SettingsRecord& record_;
  std::array<QLineEdit*, kFields> fields_{};
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace velkaro::ui::dialogs
