#include "ui/dialogs/version_dialog.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "platform/qt/qt_platform.h"
#include "ui/dialogs/dialog_frame.h"

namespace velkaro::ui::dialogs {
namespace {

std::string FormatVersion(const char* product, const std::array<int, 4>& v) {
  char line[96];
  std::snprintf(line, sizeof line, "%s Version : %d.%02d.%d .%d", product, v[0], v[1], v[2], v[3]);
  return line;
}

}  // namespace

std::string ProgramVersionLine(const std::string& versionText) {
  std::array<int, 4> v{};
  std::size_t pos = 0;
  const auto skipBlanks = [&] {
    while (pos < versionText.size() && versionText[pos] == ' ') ++pos;
  };
  for (std::size_t i = 0; i < v.size(); ++i) {
    skipBlanks();
    const bool digit =
        pos < versionText.size() && std::isdigit(static_cast<unsigned char>(versionText[pos]));
    if (!digit) {
      if (i == 0) return {};
      break;
    }
    long long n = 0;
    while (pos < versionText.size() && std::isdigit(static_cast<unsigned char>(versionText[pos]))) {
      n = std::min<long long>(n * 10 + (versionText[pos++] - '0'), 999999999);
    }
    v[i] = static_cast<int>(n);
    const std::size_t separator = versionText.find_first_of(".,", pos);
    if (separator == std::string::npos) break;
    pos = separator + 1;
  }
  return FormatVersion("Velkaro", v);
}

std::string LibraryVersionLines() {
  const MailConnection mail;
  const Zentool tool;
  std::array<int, 4> mailVersion{};
  std::array<int, 4> toolVersion{};
  for (int i = 0; i < 4; ++i) {
    mailVersion[static_cast<std::size_t>(i)] = mail.GetVersionPart(i);
    toolVersion[static_cast<std::size_t>(i)] = tool.ZenGetVersion(i);
  }
  return FormatVersion("Wirepost2", mailVersion) + "\r\n" + FormatVersion("Zentool", toolVersion);
}

QString NoticeLine() {
  return QStringLiteral("Velkaro - 差し込みメール送信（無保証）");
}

VersionDialog::VersionDialog(QWidget* parent, const std::string& versionText) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Velkaroのﾊﾞｰｼﾞｮﾝ情報"));
  setFont(DialogFont());
  setModal(true);
  const DialogUnits u = Units();
  setFixedSize(u.X(198), u.Y(69));

  auto* icon = new QLabel(this);
  const QIcon programIcon = QApplication::windowIcon().isNull()
                                ? style()->standardIcon(QStyle::SP_MessageBoxInformation)
                                : QApplication::windowIcon();
  const QRect iconRect = u.Rect(152, 24, 18, 21);
  icon->setGeometry(iconRect);
  icon->setPixmap(programIcon.pixmap(std::min(iconRect.width(), iconRect.height())));

  ok_ = MakeButton(this, QStringLiteral("OK"), u.Rect(136, 4, 50, 14));
  ok_->setDefault(true);
  program_ = new QLineEdit(QString::fromStdString(ProgramVersionLine(versionText)), this);
  program_->setReadOnly(true);
  program_->setGeometry(u.Rect(12, 6, 116, 14));
  libraries_ = new QPlainTextEdit(qt::FromSjis(LibraryVersionLines()), this);
  libraries_->setReadOnly(true);
  libraries_->setLineWrapMode(QPlainTextEdit::NoWrap);
  libraries_->setGeometry(u.Rect(12, 20, 116, 30));
  notice_ = new QLineEdit(NoticeLine(), this);
  notice_->setReadOnly(true);
  notice_->setCursorPosition(0);
  notice_->setGeometry(u.Rect(12, 54, 168, 14));

  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace velkaro::ui::dialogs
