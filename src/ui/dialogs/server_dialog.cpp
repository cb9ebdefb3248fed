#include "ui/dialogs/server_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <optional>

#include "platform/qt/qt_platform.h"
#include "ui/dialogs/dialog_frame.h"

namespace velkaro::ui::dialogs {
namespace {

// A label whose right edge stands just left of its field, centred on it.
void LabelLeftOf(QWidget* parent, const QString& text, const QRect& field) {
  QLabel* label = MakeLabel(parent, text, QRect());
  label->adjustSize();
  const int gap = Units().X(2);
  const int x = std::max(gap, field.left() - gap - label->width());
  label->move(x, field.center().y() - label->height() / 2);
}

}  // namespace

ServerDialog::ServerDialog(QWidget* parent, SettingsRecord& record)
    : QDialog(parent), record_(record) {
  setWindowTitle(QStringLiteral("メールサーバと差出人情報の設定"));
  setFont(DialogFont());
  setModal(true);
  const DialogUnits u = Units();
  setFixedSize(u.X(222), u.Y(157));

  cancel_ = MakeButton(this, QStringLiteral("ｷｬﾝｾﾙ"), u.Rect(108, 6, 50, 14));
  ok_ = MakeButton(this, QStringLiteral("OK"), u.Rect(164, 6, 50, 14));
  ok_->setDefault(true);

  auto* sender = new QGroupBox(QStringLiteral("差出人情報"), this);
  sender->setGeometry(u.Rect(4, 100, 214, 50));

  struct Place {
    Field field;
    const char16_t* label;
    bool labelAbove;
    int x, y, width;
  };
  constexpr Place kPlaces[] = {
      {PopServer, u"受信(POP)サーバ", true, 4, 28, 124},
      {PopPort, u"ポート番号(通常110)", false, 196, 28, 20},
      {PopUser, u"ユーザ ID", false, 36, 46, 68},
      {PopPassword, u"パスワード", false, 148, 46, 68},
      {SmtpServer, u"送信(SMTP)サーバ", true, 4, 78, 124},
      {SmtpPort, u"ポート番号(通常25)", false, 196, 78, 20},
      {SenderName, u"氏名", false, 60, 112, 112},
      {SenderAddress, u"メールアドレス", false, 60, 130, 152},
  };
  for (const Place& p : kPlaces) {
    const QRect rect = u.Rect(p.x, p.y, p.width, 14);
    const QString label = QString::fromUtf16(p.label);
    if (p.labelAbove) {
      MakeLabel(this, label, u.Rect(p.x, p.y - 10, 0, 8));
    } else {
      LabelLeftOf(this, label, rect);
    }
    auto* edit = new QLineEdit(this);
    edit->setGeometry(rect);
    if (p.field != PopPort && p.field != SmtpPort) {
      edit->setValidator(new FieldValidator(FieldValidator::SjisBytes, kTextLimit, edit));
    }
    fields_.at(p.field) = edit;
  }

  const ServerSettings& s = record_.server;
  FieldEdit(PopServer)->setText(qt::FromSjis(FieldText(s.popServer)));
  FieldEdit(PopPort)->setText(QString::number(s.popPort));
  FieldEdit(PopUser)->setText(qt::FromSjis(FieldText(s.popUser)));
  FieldEdit(PopPassword)->setText(qt::FromSjis(FieldText(s.popPassword)));
  FieldEdit(SmtpServer)->setText(qt::FromSjis(FieldText(s.smtpServer)));
  FieldEdit(SmtpPort)->setText(QString::number(s.smtpPort));
  FieldEdit(SenderName)->setText(qt::FromSjis(FieldText(s.senderName)));
  FieldEdit(SenderAddress)->setText(qt::FromSjis(FieldText(s.senderAddress)));

  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void ServerDialog::accept() {
  const auto port = [this](Field field) {
    return TakeInteger(FieldEdit(field), FieldEdit(field)->text(), kPortLow, kPortHigh);
  };
  const std::optional<int> popPort = port(PopPort);
  if (!popPort) return;
  const std::optional<int> smtpPort = port(SmtpPort);
  if (!smtpPort) return;

  ServerSettings& s = record_.server;
  SetFieldText(s.popServer, FieldToSjis(FieldEdit(PopServer)->text()));
  s.popPort = *popPort;
  SetFieldText(s.popUser, FieldToSjis(FieldEdit(PopUser)->text()));
  SetFieldText(s.popPassword, FieldToSjis(FieldEdit(PopPassword)->text()));
  SetFieldText(s.smtpServer, FieldToSjis(FieldEdit(SmtpServer)->text()));
  s.smtpPort = *smtpPort;
  SetFieldText(s.senderName, FieldToSjis(FieldEdit(SenderName)->text()));
  SetFieldText(s.senderAddress, FieldToSjis(FieldEdit(SenderAddress)->text()));
  QDialog::accept();
}

}  // namespace velkaro::ui::dialogs
