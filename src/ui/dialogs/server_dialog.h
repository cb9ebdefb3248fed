// The server dialog "メールサーバと差出人情報の設定": the POP3 and SMTP
// servers, the POP3 account and the sender, written into the settings
// record on OK; how the servers are reached (TLS, SMTP AUTH), written into
// "Velkaro.ini"; and the connection test, which tries the values shown
// before anything is saved.
#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "core/server_settings.h"
#include "mail/security_settings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace velkaro {
class Settings;
}

namespace velkaro::ui::dialogs {

class ServerCheckPanel;

class ServerDialog : public QDialog {
 public:
  // The text fields: the server block's in its order, then the AUTH
  // account.
  enum Field {
    PopServer,
    PopPort,
    PopUser,
    PopPassword,
    SmtpServer,
    SmtpPort,
    SenderName,
    SenderAddress,
    SmtpUser,
    SmtpPassword,
    kFields
  };
  // The choices; their items are in the order of the settings' words.
  enum Choice { PopSecurityChoice, SmtpSecurityChoice, SmtpAuthChoice, kChoices };
  // Every text of the block is stored in 127 Shift_JIS bytes; the AUTH
  // account is held to the same so that it can always be sent as typed.
  static constexpr int kTextLimit = 127;
  // A port outside this range cannot be connected to.
  static constexpr int kPortLow = 1;
  static constexpr int kPortHigh = 65535;

  ServerDialog(QWidget* parent, Settings& settings);
  ~ServerDialog() override;

  QLineEdit* FieldEdit(Field field) const { return fields_.at(field); }
  QComboBox* ChoiceBox(Choice choice) const { return choices_.at(choice); }
  QLabel* InsecureAuthWarning() const { return insecureWarning_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* CheckButton() const;
  QListWidget* CheckLog() const;

  // Copies the fields into the record and "Velkaro.ini", keeps a newly
  // typed SMTP password and closes, unless a port is not acceptable (the
  // framework's message, the dialog stays open). During a connection test
  // both OK and cancel first stop the test and act once it has ended.
  void accept() override;
  void reject() override;

 private:
  void PlaceFields();
  void PlaceChoices();
  void ShowValues();
  void OnSecurityChosen(Choice choice);
  void UpdateInsecureWarning();
  // The block as the fields hold it; nothing (after the message) when a
  // port is not acceptable.
  std::optional<ServerSettings> ServerFromFields();
  SecuritySettings SecurityFromFields(const ServerSettings& server) const;
  // The AUTH user id as typed, else the POP user id (UTF-8).
  std::string AuthUser() const;
  void KeepNewPassword(const ServerSettings& server);

  Settings& settings_;
  std::array<QLineEdit*, kFields> fields_{};
  std::array<QComboBox*, kChoices> choices_{};
  QLabel* insecureWarning_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  std::unique_ptr<ServerCheckPanel> check_;
};

}  // namespace velkaro::ui::dialogs
