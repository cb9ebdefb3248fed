#include "ui/dialogs/settings_mail_page.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include "data/velkaro_ini.h"
#include "ui/dialogs/dialog_frame.h"

namespace velkaro::ui::dialogs {
namespace {

// A header field's value is folded into lines of at most 998 octets
// (RFC 5322 2.1.1); a setting longer than that is a mistake.
constexpr int kValueLimit = 998;

constexpr char kCopyToSelfKey[] = "copyToSelf";

QLineEdit* MakeValueEdit(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  // Line breaks and TABs never get in: the ini holds one line per value.
  edit->setValidator(new FieldValidator(FieldValidator::PathBytes, kValueLimit, edit));
  edit->setMinimumWidth(Units().X(170));
  return edit;
}

}  // namespace

MailSettingsPage::MailSettingsPage()
    : copyToSelf_(new QCheckBox(QStringLiteral("自分にも送る(送信控え)"), this)),
      replyTo_(MakeValueEdit(this)),
      cc_(MakeValueEdit(this)),
      listUnsubscribe_(MakeValueEdit(this)) {
  setFont(DialogFont());
  auto* form = new QFormLayout(this);
  form->addRow(copyToSelf_);
  form->addRow(QStringLiteral("Reply-To"), replyTo_);
  form->addRow(QStringLiteral("Cc"), cc_);
  form->addRow(QStringLiteral("List-Unsubscribe"), listUnsubscribe_);
  auto* note = new QLabel(
      QStringLiteral("空欄の項目はメールに付けません。送信控えは差出人アドレスに届きます。"), this);
  note->setWordWrap(true);
  form->addRow(note);
  replyTo_->setPlaceholderText(QStringLiteral("reply@example.jp"));
  listUnsubscribe_->setPlaceholderText(
      QStringLiteral("mailto:unsubscribe@example.jp または https://…"));
}

std::vector<MailSettingsPage::Field> MailSettingsPage::Fields() const {
  return {{"replyTo", u"Reply-To", replyTo_},
          {"cc", u"Cc", cc_},
          {"listUnsubscribe", u"List-Unsubscribe", listUnsubscribe_}};
}

std::vector<std::pair<std::string, std::string>> MailSettingsPage::Values() const {
  std::vector<std::pair<std::string, std::string>> values;
  values.emplace_back(kCopyToSelfKey, copyToSelf_->isChecked() ? "1" : "0");
  for (const Field& f : Fields()) values.emplace_back(f.key, FieldToPath(f.edit->text().trimmed()));
  return values;
}

void MailSettingsPage::Init(const VelkaroIni& ini) {
  copyToSelf_->setChecked(ini.Get(kCopyToSelfKey) == "1");
  for (const Field& f : Fields()) f.edit->setText(PathToField(ini.Get(f.key)));
}

std::vector<QString> MailSettingsPage::Refused(const VelkaroIni& ini) const {
  VelkaroIni trial = ini;
  std::vector<QString> refused;
  for (const auto& [key, value] : Values()) {
    if (trial.Set(key, value) == 0) continue;
    QString caption = copyToSelf_->text();
    for (const Field& f : Fields()) {
      if (key == f.key) caption = QString::fromUtf16(f.caption);
    }
    refused.push_back(caption);
  }
  return refused;
}

QWidget* MailSettingsPage::FirstRefusedField(const VelkaroIni& ini) const {
  VelkaroIni trial = ini;
  if (trial.Set(kCopyToSelfKey, copyToSelf_->isChecked() ? "1" : "0") != 0) return copyToSelf_;
  for (const Field& f : Fields()) {
    if (trial.Set(f.key, FieldToPath(f.edit->text().trimmed())) != 0) return f.edit;
  }
  return nullptr;
}

bool MailSettingsPage::TakeBack(VelkaroIni& ini) const {
  // Tried whole first: a refused value must not leave half the page stored.
  if (!Refused(ini).empty()) return false;
  for (const auto& [key, value] : Values()) ini.Set(key, value);
  return true;
}

}  // namespace velkaro::ui::dialogs
