// The settings sheet "環境設定": the general page "全体" (exit question,
// title-in, sending speed, default folders), the sound page "サウンド"
// (four sound events, each with its own file and a test button) and, when
// the sheet is given the ini, the mail page "メール" (see
// settings_mail_page.h). The sheet
// works on a copy of the record; OK takes back the values of the pages that
// were shown, so a page never seen cannot overwrite anything.
#pragma once

#include <QAbstractSpinBox>
#include <QDialog>
#include <array>
#include <string>

#include "data/settings_record.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace velkaro {
class VelkaroIni;
}  // namespace velkaro

namespace velkaro::ui::dialogs {

class MailSettingsPage;

// An integer edit with arrows. Unlike a spin box it keeps whatever the user
// typed, so that the sheet can say what is wrong with it; the arrows and
// the arrow keys step within the range.
class IntegerSpinEdit : public QAbstractSpinBox {
 public:
  IntegerSpinEdit(int low, int high, QWidget* parent);
  void SetText(const QString& text);
  QLineEdit* Edit() const { return lineEdit(); }
  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override;

 private:
  int low_;
  int high_;
};

// The folder a folder dialog's confirmed path names: the path itself when
// it is an existing folder, otherwise the folder it lies in (the name box
// keeps its placeholder text). Without a trailing separator, except the
// root itself.
std::string FolderOfChosenPath(const std::string& path);

class SettingsSheet : public QDialog {
 public:
  enum Page { General = 0, Sound = 1, Mail = 2 };
  static constexpr int kSpeedLow = 1;
  static constexpr int kSpeedHigh = 100;
  static constexpr int kPathLimit = 255;
  static constexpr int kFolders = 3;  // body, attachments, setup files

  // Without `ini` the sheet has no mail page; with it, `ini` must outlive
  // the sheet (it is only read: OK tries the page's values on a copy).
  SettingsSheet(QWidget* parent, const SettingsRecord& record, std::string programFolder,
                const VelkaroIni* ini = nullptr);

  // The values of every page that was shown, into `record`; the fields of
  // a page never shown are left alone.
  void TakeBack(SettingsRecord& record) const;
  // The mail page's values into `ini`, when the page was shown.
  void TakeBackMail(VelkaroIni& ini) const;
  MailSettingsPage* MailPage() const { return mailPage_; }
  bool PageInitialized(Page page) const;

  void accept() override;

  QTabWidget* Tabs() const { return tabs_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* ApplyButton() const { return apply_; }
  QCheckBox* ConfirmExitBox() const { return confirmExit_; }
  QCheckBox* TitleInBox() const { return titleIn_; }
  IntegerSpinEdit* SpeedEdit() const { return speed_; }
  QLineEdit* FolderEdit(int i) const { return folderEdits_.at(static_cast<std::size_t>(i)); }
  QPushButton* FolderButton(int i) const { return folderButtons_.at(static_cast<std::size_t>(i)); }
  QCheckBox* SoundBox(int i) const { return soundBoxes_.at(static_cast<std::size_t>(i)); }
  QLineEdit* SoundPathEdit(int i) const { return soundPaths_.at(static_cast<std::size_t>(i)); }
  QPushButton* SoundBrowseButton(int i) const {
    return soundBrowse_.at(static_cast<std::size_t>(i));
  }
  QPushButton* SoundTestButton(int i) const { return soundTest_.at(static_cast<std::size_t>(i)); }

 private:
  static constexpr int kSounds = SettingsRecord::kSoundEvents;

  QWidget* BuildGeneralPage();
  QWidget* BuildSoundPage();
  void InitGeneralPage();
  void InitSoundPage();
  void PageChanged(int index);
  // The speed, after the framework's message when it is not acceptable.
  bool SpeedAcceptable();
  // Names the mail page's refused values and goes to the page; false then.
  bool MailAcceptable();
  void ShowPage(Page page);
  void BrowseFolder(int i);
  void BrowseSound(int i);
  void TestSound(int i);
  // Puts a chosen path into a path field unless it cannot be stored whole.
  void SetPathField(QLineEdit* edit, const std::string& path);

  SettingsRecord record_;
  std::string programFolder_;
  bool generalInitialized_ = false;
  bool soundInitialized_ = false;
  bool mailInitialized_ = false;
  const VelkaroIni* ini_ = nullptr;
  MailSettingsPage* mailPage_ = nullptr;
  int shownPage_ = General;
  bool revertingPage_ = false;

  QTabWidget* tabs_;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* apply_ = nullptr;
  QCheckBox* confirmExit_ = nullptr;
  QCheckBox* titleIn_ = nullptr;
  IntegerSpinEdit* speed_ = nullptr;
  std::array<QLineEdit*, kFolders> folderEdits_{};
  std::array<QPushButton*, kFolders> folderButtons_{};
  std::array<QCheckBox*, kSounds> soundBoxes_{};
  std::array<QLineEdit*, kSounds> soundPaths_{};
  std::array<QPushButton*, kSounds> soundBrowse_{};
  std::array<QPushButton*, kSounds> soundTest_{};
};

}  // namespace velkaro::ui::dialogs
