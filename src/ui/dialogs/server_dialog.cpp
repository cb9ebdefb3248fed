#include "ui/dialogs/server_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "core/encoding.h"
#include "data/settings_file.h"
#include "job/smtp_credentials.h"
#include "platform/platform.h"
#include "platform/qt/qt_platform.h"
#include "ui/dialogs/dialog_frame.h"
#include "ui/dialogs/server_check_panel.h"

namespace velkaro::ui::dialogs {
namespace {

// A label whose right edge stands just left of its field, centred on it.
QLabel* LabelLeftOf(QWidget* parent, const QString& text, const QRect& field) {
  QLabel* label = MakeLabel(parent, text, QRect());
  label->adjustSize();
  const int gap = Units().X(2);
  const int x = std::max(gap, field.left() - gap - label->width());
  label->move(x, field.center().y() - label->height() / 2);
  return label;
}

// One choice box: its settings key, and per item the caption, the
// settings' word and, for a security mode, the port it usually runs on
// (0: the mode has none of its own and leaves the port alone).
struct ChoiceItem {
  const char16_t* caption;
  const char* word;
  int port;
};
struct ChoiceSpec {
  const char* key;
  std::vector<ChoiceItem> items;
  // The ports a user gets by choosing a mode; a port field holding one of
  // them was not typed on purpose and follows the mode.
  std::vector<int> usualPorts;
};

const ChoiceSpec& Spec(ServerDialog::Choice choice) {
  static const ChoiceSpec kSpecs[ServerDialog::kChoices] = {
      {"popSecurity",
       {{u"なし", "none", 110}, {u"STARTTLS(STLS)", "stls", 110}, {u"SSL/TLS", "tls", 995}},
       {110, 995}},
      // Without TLS the port stays: 587 without STARTTLS is a server's
      // own choice as much as 25 is.
      {"smtpSecurity",
       {{u"なし", "none", 0}, {u"STARTTLS", "starttls", 587}, {u"SSL/TLS", "tls", 465}},
       {25, 587, 465}},
      {"smtpAuth",
       {{u"なし", "none", 0},
        {u"自動", "auto", 0},
        {u"PLAIN", "plain", 0},
        {u"LOGIN", "login", 0},
        {u"XOAUTH2", "xoauth2", 0}},
       {}},
  };
  return kSpecs[choice];
}

constexpr SmtpSecurity kSmtpSecurity[] = {SmtpSecurity::None, SmtpSecurity::StartTls,
                                          SmtpSecurity::Tls};
constexpr SmtpAuthMode kSmtpAuth[] = {SmtpAuthMode::None, SmtpAuthMode::Auto, SmtpAuthMode::Plain,
                                      SmtpAuthMode::Login, SmtpAuthMode::XOAuth2};
constexpr PopSecurity kPopSecurity[] = {PopSecurity::None, PopSecurity::Stls, PopSecurity::Tls};

const QString kInsecureText = QStringLiteral(
    "暗号化なしで認証すると、パスワードが読める形で\n"
    "ネットワークを流れます。このため認証は、この\n"
    "コンピュータ上のサーバに対してだけ行います。");

}  // namespace

ServerDialog::ServerDialog(QWidget* parent, Settings& settings)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("メールサーバと差出人情報の設定"));
  setFont(DialogFont());
  setModal(true);
  const DialogUnits u = Units();
  setFixedSize(u.X(222), u.Y(346));

  cancel_ = MakeButton(this, QStringLiteral("ｷｬﾝｾﾙ"), u.Rect(108, 6, 50, 14));
  ok_ = MakeButton(this, QStringLiteral("OK"), u.Rect(164, 6, 50, 14));
  ok_->setDefault(true);

  auto* sender = new QGroupBox(QStringLiteral("差出人情報"), this);
  sender->setGeometry(u.Rect(4, 100, 214, 50));
  auto* security = new QGroupBox(QStringLiteral("暗号化と送信(SMTP)の認証"), this);
  security->setGeometry(u.Rect(4, 154, 214, 120));
  PlaceFields();
  PlaceChoices();
  insecureWarning_ = MakeLabel(this, kInsecureText, u.Rect(10, 246, 204, 24));

  check_ = std::make_unique<ServerCheckPanel>(
      this, u.Rect(4, 278, 56, 14), u.Rect(4, 296, 214, 44),
      [this]() -> std::optional<std::pair<ServerSettings, SecuritySettings>> {
        const std::optional<ServerSettings> server = ServerFromFields();
        if (!server) return std::nullopt;
        return std::make_pair(*server, SecurityFromFields(*server));
      });

  ShowValues();
  for (Choice c : {PopSecurityChoice, SmtpSecurityChoice, SmtpAuthChoice}) {
    connect(ChoiceBox(c), &QComboBox::currentIndexChanged, this, [this, c] {
      OnSecurityChosen(c);
      UpdateInsecureWarning();
    });
  }
  UpdateInsecureWarning();
  // Tab goes down the dialog as it reads, the AUTH account after its
  // choices although the fields were made first.
  QWidget* const order[] = {FieldEdit(SenderAddress),
                            ChoiceBox(PopSecurityChoice),
                            ChoiceBox(SmtpSecurityChoice),
                            ChoiceBox(SmtpAuthChoice),
                            FieldEdit(SmtpUser),
                            FieldEdit(SmtpPassword),
                            CheckButton()};
  for (std::size_t i = 1; i < std::size(order); ++i) {
    setTabOrder(order[i - 1], order[i]);
  }

  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

ServerDialog::~ServerDialog() = default;

QPushButton* ServerDialog::CheckButton() const {
  return check_->Button();
}

QListWidget* ServerDialog::CheckLog() const {
  return check_->Log();
}

void ServerDialog::PlaceFields() {
  const DialogUnits u = Units();
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
      {SmtpUser, u"認証ユーザ ID", false, 84, 212, 128},
      {SmtpPassword, u"認証パスワード", false, 84, 228, 128},
  };
  for (const Place& p : kPlaces) {
    QRect rect = u.Rect(p.x, p.y, p.width, 14);
    auto* edit = new QLineEdit(this);
    edit->setGeometry(rect);
    if (p.field != PopPort && p.field != SmtpPort) {
      edit->setValidator(new FieldValidator(FieldValidator::SjisBytes, kTextLimit, edit));
    } else {
      // A port of five digits is shown whole: the field grows to the left,
      // its label with it, and keeps its right edge.
      rect.setLeft(rect.left() - NumberFieldShortfall(edit, kPortHigh));
      edit->setGeometry(rect);
    }
    const QString label = QString::fromUtf16(p.label);
    if (p.labelAbove) {
      MakeLabel(this, label, u.Rect(p.x, p.y - 10, 0, 8));
    } else {
      const QLabel* shown = LabelLeftOf(this, label, rect);
      // The server field on the port's row ends before the port's label.
      const Field server = p.field == PopPort ? PopServer : SmtpServer;
      QLineEdit* left = p.field == PopPort || p.field == SmtpPort ? fields_.at(server) : nullptr;
      if (left != nullptr && left->geometry().right() >= shown->x() - u.X(2)) {
        left->resize(shown->x() - u.X(2) - left->x(), left->height());
      }
    }
    fields_.at(p.field) = edit;
  }
  // A password is never shown, not even the one already kept.
  FieldEdit(PopPassword)->setEchoMode(QLineEdit::Password);
  FieldEdit(SmtpPassword)->setEchoMode(QLineEdit::Password);
  FieldEdit(SmtpUser)->setPlaceholderText(QStringLiteral("(空欄なら POP のユーザ ID)"));
}

void ServerDialog::PlaceChoices() {
  const DialogUnits u = Units();
  const struct {
    Choice choice;
    const char16_t* label;
    int y;
  } kPlaces[] = {
      {PopSecurityChoice, u"受信(POP)の暗号化", 164},
      {SmtpSecurityChoice, u"送信(SMTP)の暗号化", 180},
      {SmtpAuthChoice, u"送信(SMTP)の認証", 196},
  };
  for (const auto& p : kPlaces) {
    const QRect rect = u.Rect(84, p.y, 84, 14);
    LabelLeftOf(this, QString::fromUtf16(p.label), rect);
    auto* box = new QComboBox(this);
    box->setGeometry(rect);
    for (const ChoiceItem& item : Spec(p.choice).items) {
      box->addItem(QString::fromUtf16(item.caption));
    }
    choices_.at(p.choice) = box;
  }
}

void ServerDialog::ShowValues() {
  const ServerSettings& s = settings_.record.server;
  FieldEdit(PopServer)->setText(qt::FromSjis(FieldText(s.popServer)));
  FieldEdit(PopPort)->setText(QString::number(s.popPort));
  FieldEdit(PopUser)->setText(qt::FromSjis(FieldText(s.popUser)));
  FieldEdit(PopPassword)->setText(qt::FromSjis(FieldText(s.popPassword)));
  FieldEdit(SmtpServer)->setText(qt::FromSjis(FieldText(s.smtpServer)));
  FieldEdit(SmtpPort)->setText(QString::number(s.smtpPort));
  FieldEdit(SenderName)->setText(qt::FromSjis(FieldText(s.senderName)));
  FieldEdit(SenderAddress)->setText(qt::FromSjis(FieldText(s.senderAddress)));

  const VelkaroIni& ini = settings_.ini;
  for (int c = 0; c < kChoices; ++c) {
    const ChoiceSpec& spec = Spec(static_cast<Choice>(c));
    const std::string word = ini.Get(spec.key);
    const auto found = std::find_if(spec.items.begin(), spec.items.end(),
                                    [&](const ChoiceItem& item) { return word == item.word; });
    choices_.at(c)->setCurrentIndex(
        found == spec.items.end() ? 0 : static_cast<int>(found - spec.items.begin()));
  }
  FieldEdit(SmtpUser)->setText(QString::fromStdString(ini.Get("smtpUser")));

  // The field stays empty: what it holds on OK is a new password.
  const std::string server = SjisToUtf8(FieldText(s.smtpServer));
  const bool stored =
      !ini.StoredPassword().empty() ||
      (!server.empty() && CurrentPlatform().LookupSecret(SecretAccount(AuthUser(), server)));
  if (stored) FieldEdit(SmtpPassword)->setPlaceholderText(QStringLiteral("(保存済み)"));
}

void ServerDialog::OnSecurityChosen(Choice choice) {
  const ChoiceSpec& spec = Spec(choice);
  const int index = ChoiceBox(choice)->currentIndex();
  if (index < 0 || spec.usualPorts.empty()) return;
  const int port = spec.items.at(index).port;
  if (port == 0) return;
  QLineEdit* field = FieldEdit(choice == PopSecurityChoice ? PopPort : SmtpPort);
  // A port the user typed is the server's own; only a usual one (or none)
  // is replaced by the one the mode usually runs on.
  const std::optional<int> current = ParseDialogInteger(field->text());
  const bool usual =
      field->text().trimmed().isEmpty() ||
      (current && std::count(spec.usualPorts.begin(), spec.usualPorts.end(), *current) > 0);
  if (usual) field->setText(QString::number(port));
}

void ServerDialog::UpdateInsecureWarning() {
  const bool authOn = ChoiceBox(SmtpAuthChoice)->currentIndex() > 0;
  const bool plain = ChoiceBox(SmtpSecurityChoice)->currentIndex() == 0;
  const bool allowed = settings_.ini.Get("allowInsecureAuth") == "1";
  insecureWarning_->setVisible(authOn && plain && !allowed);
}

std::optional<ServerSettings> ServerDialog::ServerFromFields() {
  const auto port = [this](Field field) {
    return TakeInteger(FieldEdit(field), FieldEdit(field)->text(), kPortLow, kPortHigh);
  };
  const std::optional<int> popPort = port(PopPort);
  if (!popPort) return std::nullopt;
  const std::optional<int> smtpPort = port(SmtpPort);
  if (!smtpPort) return std::nullopt;

  ServerSettings s = settings_.record.server;
  SetFieldText(s.popServer, FieldToSjis(FieldEdit(PopServer)->text()));
  s.popPort = *popPort;
  SetFieldText(s.popUser, FieldToSjis(FieldEdit(PopUser)->text()));
  SetFieldText(s.popPassword, FieldToSjis(FieldEdit(PopPassword)->text()));
  SetFieldText(s.smtpServer, FieldToSjis(FieldEdit(SmtpServer)->text()));
  s.smtpPort = *smtpPort;
  SetFieldText(s.senderName, FieldToSjis(FieldEdit(SenderName)->text()));
  SetFieldText(s.senderAddress, FieldToSjis(FieldEdit(SenderAddress)->text()));
  return s;
}

std::string ServerDialog::AuthUser() const {
  const QString typed = FieldEdit(SmtpUser)->text();
  return (typed.isEmpty() ? FieldEdit(PopUser)->text() : typed).toStdString();
}

SecuritySettings ServerDialog::SecurityFromFields(const ServerSettings& server) const {
  const VelkaroIni& ini = settings_.ini;
  SecuritySettings s;
  s.smtpSecurity = kSmtpSecurity[std::max(0, ChoiceBox(SmtpSecurityChoice)->currentIndex())];
  s.smtpAuth = kSmtpAuth[std::max(0, ChoiceBox(SmtpAuthChoice)->currentIndex())];
  s.popSecurity = kPopSecurity[std::max(0, ChoiceBox(PopSecurityChoice)->currentIndex())];
  // As a run takes them (SecurityForRun): the user id and the name sent
  // in EHLO as the ini holds them, UTF-8.
  s.smtpUser = AuthUser();
  s.trustedFingerprint = NormaliseFingerprint(ini.Get("tlsTrustedFingerprint")).value_or("");
  s.heloName = ini.Get("heloName");
  s.allowInsecureAuth = ini.Get("allowInsecureAuth") == "1";
  if (s.smtpAuth != SmtpAuthMode::None) {
    const QString typed = FieldEdit(SmtpPassword)->text();
    s.smtpSecret = typed.isEmpty() ? FindSmtpSecret(ini, AuthUser(), server) : typed.toStdString();
  }
  return s;
}

void ServerDialog::KeepNewPassword(const ServerSettings& server) {
  const std::string password = FieldEdit(SmtpPassword)->text().toStdString();
  if (password.empty()) return;
  Platform& platform = CurrentPlatform();
  const std::string account = SecretAccount(AuthUser(), SjisToUtf8(FieldText(server.smtpServer)));
  VelkaroIni& ini = settings_.ini;
  if (platform.StoreSecret(account, password) == 0) {
    // A copy left in the file would be an older password kept readable
    // for nothing: the store's one is found first.
    ini.SetStoredPassword("");
    return;
  }
  const std::string question = Sjis(
      "パスワードを保存するキーリング(Secret Service)を使えませんでした。\r\n"
      "Velkaro.ini に保存しますか?\r\n"
      "その場合パスワードは暗号化されずに保存されます"
      "(ファイルを読めるのはあなたのユーザだけです)。");
  if (platform.MessageBox(question, MsgButtons::YesNo, MsgIcon::Question) == MsgAnswer::Yes) {
    ini.SetStoredPassword(password);
    return;
  }
  platform.MessageBox(Sjis("パスワードは保存しませんでした。"), MsgButtons::Ok,
                      MsgIcon::Information);
}

void ServerDialog::accept() {
  if (check_->Busy()) {
    check_->StopThen([this] { accept(); });
    return;
  }
  const std::optional<ServerSettings> server = ServerFromFields();
  if (!server) return;
  settings_.record.server = *server;

  VelkaroIni& ini = settings_.ini;
  for (int c = 0; c < kChoices; ++c) {
    const ChoiceSpec& spec = Spec(static_cast<Choice>(c));
    ini.Set(spec.key, spec.items.at(std::max(0, choices_.at(c)->currentIndex())).word);
  }
  ini.Set("smtpUser", FieldEdit(SmtpUser)->text().toStdString());
  KeepNewPassword(*server);
  QDialog::accept();
}

void ServerDialog::reject() {
  if (check_->Busy()) {
    check_->StopThen([this] { reject(); });
    return;
  }
  QDialog::reject();
}

}  // namespace velkaro::ui::dialogs
