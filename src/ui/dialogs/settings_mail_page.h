// The settings sheet's page "メール": what every mail of a run carries
// besides its text, kept in Velkaro.ini section [mail]: a copy to the
// sender (copyToSelf), Reply-To, Cc and List-Unsubscribe. The values are
// UTF-8 texts of one line; the ini decides which it takes.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;

namespace velkaro {
class VelkaroIni;
}  // namespace velkaro

namespace velkaro::ui::dialogs {

class MailSettingsPage : public QWidget {
 public:
  MailSettingsPage();

  void Init(const VelkaroIni& ini);
  // The captions of the fields whose values `ini` refuses (tried on a
  // copy, so nothing changes); empty when every value can be stored.
  std::vector<QString> Refused(const VelkaroIni& ini) const;
  // The first field `Refused` named (null when none), for the focus.
  QWidget* FirstRefusedField(const VelkaroIni& ini) const;
  // Stores the page's values into `ini`; false when one was refused.
  bool TakeBack(VelkaroIni& ini) const;

  QCheckBox* CopyToSelfBox() const { return copyToSelf_; }
  QLineEdit* ReplyToEdit() const { return replyTo_; }
  QLineEdit* CcEdit() const { return cc_; }
  QLineEdit* ListUnsubscribeEdit() const { return listUnsubscribe_; }

 private:
  struct Field {
    const char* key;
    const char16_t* caption;
    QLineEdit* edit;
  };
  std::vector<Field> Fields() const;
  // Every value of the page, by ini key.
  std::vector<std::pair<std::string, std::string>> Values() const;

  QCheckBox* copyToSelf_;
  QLineEdit* replyTo_;
  QLineEdit* cc_;
  QLineEdit* listUnsubscribe_;
};

}  // namespace velkaro::ui::dialogs
