#include "ui/dialogs/dialog_frame.h"

#include <QAbstractSpinBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QStyleOptionSpinBox>
#include <QWidget>
#include <algorithm>
#include <limits>

#include "core/encoding.h"
#include "platform/platform.h"
#include "platform/qt/fonts.h"
#include "platform/qt/qt_platform.h"

namespace velkaro::ui::dialogs {
namespace {

// 9 points at 96 dots per inch.
constexpr int kDialogFontPixels = 12;
// The designed distance of a dialog below the main window's top edge.
constexpr int kBelowMainWindow = 48;

bool IsLineBreakOrTab(QChar c) {
  return c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r') ||
         c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

void ShowFieldMessage(const QString& text) {
  CurrentPlatform().MessageBox(Utf8ToSjis(text.toStdString()), MsgButtons::Ok,
                               MsgIcon::Exclamation);
}

}  // namespace

QFont DialogFont() {
  return qt::JapaneseProportionalFont(kDialogFontPixels);
}

DialogUnits Units() {
  static const DialogUnits units(DialogFont());
  return units;
}

void PlaceBelowMainWindow(QWidget* dialog, QWidget* parent) {
  if (parent == nullptr) return;
  const QPoint corner = parent->window()->frameGeometry().topLeft();
  QPoint target = corner + QPoint(0, kBelowMainWindow);
  // A main window near the bottom or right edge must not push the dialog
  // off the screen, where it could neither be seen nor moved back.
  if (const QScreen* screen = parent->window()->screen()) {
    const QRect avail = screen->availableGeometry();
    const QSize size = dialog->frameGeometry().size();
    target.setX(std::max(avail.left(), std::min(target.x(), avail.right() + 1 - size.width())));
    target.setY(std::max(avail.top(), std::min(target.y(), avail.bottom() + 1 - size.height())));
  }
  dialog->move(target);
}

void GrowWithWindow::Follow(QWidget* control, int how) {
  items_.push_back({control, how, QRect()});
}

void GrowWithWindow::TakeBase(QWidget* dialog) {
  base_ = dialog->size();
  for (Item& item : items_) item.base = item.control->geometry();
  dialog->setMinimumSize(base_);
}

void GrowWithWindow::Apply(const QSize& clientSize) const {
  if (!HasBase()) return;
  const int dW = std::max(0, clientSize.width() - base_.width());
  const int dH = std::max(0, clientSize.height() - base_.height());
  for (const Item& item : items_) {
    QRect r = item.base;
    if (item.how & Width) r.setWidth(r.width() + dW);
    if (item.how & Height) r.setHeight(r.height() + dH);
    if (item.how & MoveRight) r.moveLeft(r.left() + dW);
    item.control->setGeometry(r);
  }
}

std::optional<int> ParseDialogInteger(const QString& text) {
  // Full-width digits and signs are what a Japanese input method types.
  const QString s = text.normalized(QString::NormalizationForm_KC).trimmed();
  if (s.isEmpty()) return std::nullopt;
  int i = 0;
  bool negative = false;
  if (s[0] == QLatin1Char('+') || s[0] == QLatin1Char('-')) {
    negative = s[0] == QLatin1Char('-');
    ++i;
  }
  if (i == s.size()) return std::nullopt;
  long long value = 0;
  for (; i < s.size(); ++i) {
    const QChar c = s[i];
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - '0');
    if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

std::optional<int> TakeInteger(QLineEdit* field, const QString& text, int low, int high) {
  const std::optional<int> value = ParseDialogInteger(text);
  if (!value) {
    ShowFieldMessage(QStringLiteral("整数を入力してください。"));
  } else if (*value < low || *value > high) {
    ShowFieldMessage(
        QStringLiteral("%1 から %2 までの整数を入力してください。").arg(low).arg(high));
  } else {
    return value;
  }
  if (field != nullptr) {
    field->setFocus();
    field->selectAll();
  }
  return std::nullopt;
}

FieldValidator::FieldValidator(Storage storage, int limit, QObject* parent)
    : QValidator(parent), storage_(storage), limit_(limit) {}

QValidator::State FieldValidator::validate(QString& input, int& /*pos*/) const {
  std::replace_if(input.begin(), input.end(), IsLineBreakOrTab, QLatin1Char(' '));
  return Fits(input) ? Acceptable : Invalid;
}

bool FieldValidator::Fits(const QString& text) const {
  switch (storage_) {
    case SjisCharacters: {
      if (text.size() > limit_) return false;
      int unmappable = 0;
      Utf8ToSjis(text.toStdString(), &unmappable);
      return unmappable == 0;
    }
    case SjisBytes: {
      int unmappable = 0;
      const std::string sjis = Utf8ToSjis(text.toStdString(), &unmappable);
      return unmappable == 0 && sjis.size() <= static_cast<std::size_t>(limit_);
    }
    case PathBytes: return QFile::encodeName(text).size() <= limit_;
  }
  return false;
}

std::string FieldToSjis(const QString& text) {
  return qt::ToSjis(text);
}

QString PathToField(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string FieldToPath(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

QPushButton* MakeButton(QWidget* parent, const QString& caption, const QRect& rect) {
  auto* button = new QPushButton(caption, parent);
  button->setGeometry(rect);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& rect) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(rect);
  // The templates were measured for another face; a text is never cut off.
  const int wanted = label->sizeHint().width();
  if (wanted > rect.width()) label->resize(wanted, rect.height());
  return label;
}

namespace {

// What a line edit keeps free around its text besides the style's frame:
// its own margin on either side (2 pixels in Qt) and the cursor.
constexpr int kLineEditInnerMargins = 2 * 2 + 1;

int TextNeed(const QWidget* field, const QMargins& textMargins, int largest) {
  return field->fontMetrics().horizontalAdvance(QString::number(largest)) + kLineEditInnerMargins +
         textMargins.left() + textMargins.right();
}

}  // namespace

int NumberFieldShortfall(const QLineEdit* field, int largest) {
  QStyleOptionFrame option;
  option.initFrom(field);
  option.rect = QRect(QPoint(0, 0), field->size());
  option.lineWidth = field->hasFrame()
                         ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field)
                         : 0;
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  option.features = QStyleOptionFrame::None;
  const QRect room = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
  return std::max(0, TextNeed(field, field->textMargins(), largest) - room.width());
}

int NumberFieldShortfall(const QAbstractSpinBox* field, int largest) {
  QStyleOptionSpinBox option;
  option.initFrom(field);
  option.rect = QRect(QPoint(0, 0), field->size());
  option.buttonSymbols = field->buttonSymbols();
  option.frame = field->hasFrame();
  option.subControls = QStyle::SC_SpinBoxFrame | QStyle::SC_SpinBoxEditField;
  if (field->buttonSymbols() != QAbstractSpinBox::NoButtons) {
    option.subControls |= QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
  }
  const QRect room = field->style()->subControlRect(QStyle::CC_SpinBox, &option,
                                                    QStyle::SC_SpinBoxEditField, field);
  return std::max(0, TextNeed(field, QMargins(), largest) - room.width());
}

}  // namespace velkaro::ui::dialogs
