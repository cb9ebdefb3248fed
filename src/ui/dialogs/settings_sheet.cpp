#include "ui/dialogs/settings_sheet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <utility>

#include "core/encoding.h"
#include "core/zentool.h"
#include "data/velkaro_ini.h"
#include "platform/platform.h"
#include "ui/dialogs/dialog_frame.h"
#include "ui/dialogs/settings_mail_page.h"

namespace velkaro::ui::dialogs {
namespace {

constexpr int kPageWidth = 235;
constexpr int kPageHeight = 156;

// The name the folder dialog's name box starts with: the user walks to the
// wanted folder and confirms with it left in place.
constexpr char kCurrentFolderName[] = "(現在開いているフォルダを指定する)";

constexpr const char16_t* kFolderCaptions[] = {u"本文フォルダ", u"添付フォルダ", u"設定フォルダ"};
constexpr int kFolderRows[] = {78, 96, 114};

struct SoundRow {
  const char16_t* caption;
  int boxY, boxWidth, rowY;
};
constexpr SoundRow kSoundRows[] = {
    {u"全てのメール送信が正常終了したときサウンドを鳴らす", 6, 174, 18},
    {u"メール送信でエラーが発生したときサウンドを鳴らす", 42, 165, 54},
    {u"途中経過音を１通ごとに鳴らす", 76, 105, 88},
    {u"途中経過音をこまめに鳴らす", 108, 101, 120},
};

QCheckBox* MakeCheck(QWidget* parent, const QString& caption, const QRect& rect) {
  auto* box = new QCheckBox(caption, parent);
  box->setGeometry(rect);
  // The caption is never cut off; the height stays the template's, which
  // holds the box and one line of text.
  const int wanted = box->sizeHint().width();
  if (wanted > rect.width()) box->resize(wanted, rect.height());
  return box;
}

// A page as large as its template, or larger where the captions need more
// room in the face that stands in for the designed one.
void FitPage(QWidget* page) {
  const DialogUnits u = Units();
  QSize size(u.X(kPageWidth), u.Y(kPageHeight));
  for (const QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    size = size.expandedTo(
        QSize(child->geometry().right() + 1 + u.X(4), child->geometry().bottom() + 1 + u.Y(4)));
  }
  page->setFixedSize(size);
}

QLineEdit* MakePathEdit(QWidget* parent, const QRect& rect) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(rect);
  edit->setValidator(
      new FieldValidator(FieldValidator::PathBytes, SettingsSheet::kPathLimit, edit));
  return edit;
}

using PathSlot = char[256];

PathSlot& FolderSlot(SettingsRecord& record, int i) {
  switch (i) {
    case 0: return record.bodyFolder;
    case 1: return record.attachFolder;
    default: return record.setupFolder;
  }
}

// The record's folder and sound path slots all hold 256 bytes.
void StorePath(PathSlot& slot, const QString& text) {
  SetFieldText(slot, FieldToPath(text));
}

}  // namespace

// --- integer edit -------------------------------------------------------------

IntegerSpinEdit::IntegerSpinEdit(int low, int high, QWidget* parent)
    : QAbstractSpinBox(parent), low_(low), high_(high) {
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
}

void IntegerSpinEdit::SetText(const QString& text) {
  lineEdit()->setText(text);
}

void IntegerSpinEdit::stepBy(int steps) {
  // Whatever was typed, a step lands inside the range.
  const std::optional<int> typed = ParseDialogInteger(text());
  const long long from = typed ? std::clamp(*typed, low_, high_) : low_;
  const long long to = std::clamp<long long>(from + steps, low_, high_);
  lineEdit()->setText(QString::number(to));
}

QAbstractSpinBox::StepEnabled IntegerSpinEdit::stepEnabled() const {
  const std::optional<int> value = ParseDialogInteger(text());
  if (!value) return StepUpEnabled | StepDownEnabled;
  StepEnabled enabled = StepNone;
  if (*value < high_) enabled |= StepUpEnabled;
  if (*value > low_) enabled |= StepDownEnabled;
  return enabled;
}

std::string FolderOfChosenPath(const std::string& path) {
  if (path.empty()) return {};
  const QString chosen = PathToField(path);
  const QFileInfo info(chosen);
  const QString folder = info.isDir() ? QDir::cleanPath(info.absoluteFilePath())
                                      : QDir::cleanPath(info.absolutePath());
  // cleanPath keeps "/" for the root and drops every other trailing one.
  return FieldToPath(folder);
}

// --- sheet ------------------------------------------------------------------

SettingsSheet::SettingsSheet(QWidget* parent, const SettingsRecord& record,
                             std::string programFolder, const VelkaroIni* ini)
    : QDialog(parent),
      record_(record),
      programFolder_(std::move(programFolder)),
      ini_(ini),
      tabs_(new QTabWidget(this)) {
  setWindowTitle(QStringLiteral("環境設定"));
  setFont(DialogFont());
  setModal(true);

  tabs_->addTab(BuildGeneralPage(), QStringLiteral("全体"));
  tabs_->addTab(BuildSoundPage(), QStringLiteral("サウンド"));
  if (ini_ != nullptr) {
    mailPage_ = new MailSettingsPage;
    tabs_->addTab(mailPage_, QStringLiteral("メール"));
  }
  tabs_->setCurrentIndex(General);

  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  cancel_ = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  apply_ = buttons->addButton(QStringLiteral("適用(&A)"), QDialogButtonBox::ApplyRole);
  // No page reports a change to the sheet: every value takes effect on OK.
  apply_->setEnabled(false);
  ok_->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { PageChanged(index); });

  // The sheet opens on the general page.
  InitGeneralPage();
}

QWidget* SettingsSheet::BuildGeneralPage() {
  const DialogUnits u = Units();
  auto* page = new QWidget;
  // Measured below before the sheet adopts the page: in the sheet's font.
  page->setFont(DialogFont());

  confirmExit_ = MakeCheck(page, QStringLiteral("終了を確認する"), u.Rect(4, 8, 62, 10));
  titleIn_ = MakeCheck(
      page, QStringLiteral("タイトル・イン : テキスト第１行目 も本文に含める。 起動時のみ参照"),
      u.Rect(4, 24, 210, 10));
  MakeLabel(page, QStringLiteral("送信速度調整"), u.Rect(4, 40, 42, 8));
  // The edit and its attached arrows share the edit's template rectangle.
  speed_ = new IntegerSpinEdit(kSpeedLow, kSpeedHigh, page);
  speed_->setGeometry(u.Rect(52, 38, 32, 14));
  // The largest speed is shown whole next to its arrows.
  speed_->resize(speed_->width() + NumberFieldShortfall(speed_, kSpeedHigh), speed_->height());
  MakeLabel(page, QStringLiteral("1～100(初期値=5) 大きいほど速くなるが"), u.Rect(88, 38, 118, 8));
  MakeLabel(page, QStringLiteral("受信サーバで取りこぼしが発生しやすくなる"),
            u.Rect(100, 48, 127, 8));
  MakeLabel(page, QStringLiteral("デフォルト・フォルダ"), u.Rect(8, 62, 59, 8));
  for (int i = 0; i < kFolders; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    folderButtons_[slot] =
        MakeButton(page, QString::fromUtf16(kFolderCaptions[i]), u.Rect(4, kFolderRows[i], 50, 14));
    folderEdits_[slot] = MakePathEdit(page, u.Rect(60, kFolderRows[i], 168, 14));
    connect(folderButtons_[slot], &QPushButton::clicked, this, [this, i] { BrowseFolder(i); });
  }
  FitPage(page);
  return page;
}

QWidget* SettingsSheet::BuildSoundPage() {
  const DialogUnits u = Units();
  auto* page = new QWidget;
  for (int i = 0; i < kSounds; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    const SoundRow& row = kSoundRows[i];
    soundBoxes_[slot] =
        MakeCheck(page, QString::fromUtf16(row.caption), u.Rect(4, row.boxY, row.boxWidth, 10));
    soundBrowse_[slot] =
        MakeButton(page, QStringLiteral("外部音源参照"), u.Rect(12, row.rowY, 50, 14));
    soundPaths_[slot] = MakePathEdit(page, u.Rect(64, row.rowY, 140, 14));
    soundTest_[slot] = MakeButton(page, QStringLiteral("呼鈴"), u.Rect(208, row.rowY, 24, 14));
    connect(soundBrowse_[slot], &QPushButton::clicked, this, [this, i] { BrowseSound(i); });
    connect(soundTest_[slot], &QPushButton::clicked, this, [this, i] { TestSound(i); });
  }
  FitPage(page);
  return page;
}

void SettingsSheet::InitGeneralPage() {
  confirmExit_->setChecked(record_.confirmExit == 1);
  titleIn_->setChecked(record_.titleIn == 1);
  speed_->SetText(QString::number(record_.speed));
  for (int i = 0; i < kFolders; ++i) {
    FolderEdit(i)->setText(PathToField(FieldText(FolderSlot(record_, i))));
  }
  generalInitialized_ = true;
}

void SettingsSheet::InitSoundPage() {
  for (int i = 0; i < kSounds; ++i) {
    SoundBox(i)->setChecked(record_.soundOn[i] == 1);
    SoundPathEdit(i)->setText(PathToField(FieldText(record_.soundPath[i])));
  }
  soundInitialized_ = true;
}

bool SettingsSheet::PageInitialized(Page page) const {
  switch (page) {
    case General: return generalInitialized_;
    case Sound: return soundInitialized_;
    default: return mailInitialized_;
  }
}

void SettingsSheet::ShowPage(Page page) {
  if (tabs_->currentIndex() == page) return;
  revertingPage_ = true;
  tabs_->setCurrentIndex(page);
  revertingPage_ = false;
  shownPage_ = page;
}

bool SettingsSheet::MailAcceptable() {
  if (!mailInitialized_) return true;
  const std::vector<QString> refused = mailPage_->Refused(*ini_);
  if (refused.empty()) return true;
  QString text = QStringLiteral("次の項目の値は使えません。直してください。\r\n");
  for (const QString& caption : refused) text += QStringLiteral("  ") + caption + "\r\n";
  ShowPage(Mail);
  CurrentPlatform().MessageBox(FieldToSjis(text), MsgButtons::Ok, MsgIcon::Exclamation);
  if (QWidget* field = mailPage_->FirstRefusedField(*ini_)) field->setFocus();
  return false;
}

bool SettingsSheet::SpeedAcceptable() {
  return TakeInteger(speed_->Edit(), speed_->text(), kSpeedLow, kSpeedHigh).has_value();
}

void SettingsSheet::PageChanged(int index) {
  if (revertingPage_) return;
  if (shownPage_ == General && index != General) {
    const std::optional<int> speed = ParseDialogInteger(speed_->text());
    if (!speed || *speed < kSpeedLow || *speed > kSpeedHigh) {
      // The general page cannot be left with a speed that OK would refuse.
      revertingPage_ = true;
      tabs_->setCurrentIndex(General);
      revertingPage_ = false;
      SpeedAcceptable();
      return;
    }
  }
  if (index == Sound && !soundInitialized_) InitSoundPage();
  if (index == Mail && mailPage_ != nullptr && !mailInitialized_) {
    mailPage_->Init(*ini_);
    mailInitialized_ = true;
  }
  shownPage_ = index;
}

void SettingsSheet::accept() {
  if (generalInitialized_) {
    const std::optional<int> speed = ParseDialogInteger(speed_->text());
    if (!speed || *speed < kSpeedLow || *speed > kSpeedHigh) {
      if (tabs_->currentIndex() != General) {
        revertingPage_ = true;
        tabs_->setCurrentIndex(General);
        revertingPage_ = false;
        shownPage_ = General;
      }
      SpeedAcceptable();
      return;
    }
  }
  if (!MailAcceptable()) return;
  QDialog::accept();
}

void SettingsSheet::TakeBackMail(VelkaroIni& ini) const {
  if (mailInitialized_) mailPage_->TakeBack(ini);
}

void SettingsSheet::TakeBack(SettingsRecord& record) const {
  if (generalInitialized_) {
    record.confirmExit = confirmExit_->isChecked() ? 1 : 0;
    record.titleIn = titleIn_->isChecked() ? 1 : 0;
    const std::optional<int> speed = ParseDialogInteger(speed_->text());
    if (speed && *speed >= kSpeedLow && *speed <= kSpeedHigh) record.speed = *speed;
    for (int i = 0; i < kFolders; ++i) StorePath(FolderSlot(record, i), FolderEdit(i)->text());
  }
  if (soundInitialized_) {
    for (int i = 0; i < kSounds; ++i) {
      record.soundOn[i] = SoundBox(i)->isChecked() ? 1 : 0;
      StorePath(record.soundPath[i], SoundPathEdit(i)->text());
    }
  }
}

void SettingsSheet::SetPathField(QLineEdit* edit, const std::string& path) {
  const QString text = PathToField(path);
  const auto* validator = static_cast<const FieldValidator*>(edit->validator());
  if (!validator->Fits(text)) {
    // Stored cut short, the path would name another file or folder.
    CurrentPlatform().MessageBox(
        Utf8ToSjis(QStringLiteral("パスが長すぎます。%1 バイト以内の場所を選んでください。")
                       .arg(kPathLimit)
                       .toStdString()),
        MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  edit->setText(text);
}

void SettingsSheet::BrowseFolder(int i) {
  FileDialogRequest request;
  request.kind = FileDialogRequest::Folder;
  request.startFolder = FieldToPath(FolderEdit(i)->text());
  request.initialName = kCurrentFolderName;
  request.mustExist = false;
  const std::vector<std::string> chosen = CurrentPlatform().FileDialog(request);
  if (chosen.empty()) return;
  const std::string folder = FolderOfChosenPath(chosen.front());
  if (!folder.empty()) SetPathField(FolderEdit(i), folder);
}

void SettingsSheet::BrowseSound(int i) {
  FileDialogRequest request;
  request.kind = FileDialogRequest::Open;
  const std::string current = FieldToPath(SoundPathEdit(i)->text());
  if (!current.empty()) request.startFolder = FolderOfChosenPath(current);
  request.initialName = "*.wav";
  request.defaultExtension = "wav";
  request.filter = Sjis("音源(*.wav)|*.wav|全て(*.*)|*.*||");
  request.mustExist = true;
  const std::vector<std::string> chosen = CurrentPlatform().FileDialog(request);
  if (!chosen.empty() && !chosen.front().empty()) SetPathField(SoundPathEdit(i), chosen.front());
}

void SettingsSheet::TestSound(int i) {
  // The file shown, not yet stored; the same choice the send run makes
  // when it plays the event.
  const Zentool z;
  std::string file = FieldToPath(SoundPathEdit(i)->text());
  if (file.empty() || z.ZenGetFileSize(file) <= 0) {
    file = z.ZenJoinPath(programFolder_, FieldText(record_.soundDefaultName[i]));
  }
  CurrentPlatform().PlayWave(file);
}

}  // namespace velkaro::ui::dialogs
