// What the program's dialogs share: the dialog font and its units, the
// placement under the main window, the rule that a dialog never shrinks
// below its opening size while chosen controls follow the window, the
// field validation with the framework's messages, and the one way texts
// typed into a field become the system's Shift_JIS.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QValidator>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_units.h"

class QAbstractSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace velkaro::ui::dialogs {

// The dialog font stands in for "ＭＳ Ｐゴシック" at 9 points on a 96 dpi
// screen, the size the templates were drawn for.
QFont DialogFont();
// The units every template rectangle is laid out in.
DialogUnits Units();

// Moves a top-level dialog so that its top-left corner is 48 pixels below
// the top-left corner of `parent`'s window (its frame, as the user sees
// it). Without a parent the window system places it.
void PlaceBelowMainWindow(QWidget* dialog, QWidget* parent);

// Keeps a resizable dialog at least as large as it opened and lets chosen
// controls follow the window: each grows by the extra width and/or height
// or moves right by the extra width.
class GrowWithWindow {
 public:
  enum How { Width = 1, Height = 2, MoveRight = 4 };

  void Follow(QWidget* control, int how);
  // Takes the current client size and control rectangles as the base and
  // sets it as the dialog's minimum size.
  void TakeBase(QWidget* dialog);
  // Call from the dialog's resize event.
  void Apply(const QSize& clientSize) const;
  bool HasBase() const { return base_.isValid(); }
  QSize BaseSize() const { return base_; }

 private:
  struct Item {
    QWidget* control;
    int how;
    QRect base;
  };
  std::vector<Item> items_;
  QSize base_;
};

// A whole decimal integer as the dialogs accept it: optional blanks around
// it, an optional sign, ASCII or full-width digits, within int32.
std::optional<int> ParseDialogInteger(const QString& text);

// Checks an integer field and, when it is not acceptable, shows the
// framework's message ("整数を入力してください。" or "%1 から %2 までの
// 整数を入力してください。"), puts the focus back into the field and
// answers nothing.
std::optional<int> TakeInteger(QLineEdit* field, const QString& text, int low, int high);

// What a text field accepts. TAB and line breaks never get in (they become
// a space: no record or file of the system can hold them); the length is
// limited in characters, or in the bytes of the form the text is stored
// in, so that nothing is cut when it is stored. A Shift_JIS text takes no
// character that Shift_JIS cannot hold, rather than storing it as 〓.
class FieldValidator : public QValidator {
 public:
  enum Storage {
    SjisCharacters,  // Shift_JIS text, at most `limit` characters
    SjisBytes,       // Shift_JIS text, at most `limit` bytes
    PathBytes,       // file-system bytes (UTF-8), at most `limit` bytes
  };
  FieldValidator(Storage storage, int limit, QObject* parent);
  State validate(QString& input, int& pos) const override;
  bool Fits(const QString& text) const;

 private:
  Storage storage_;
  int limit_;
};

// Field text to the system's Shift_JIS, and a path field to file-system
// bytes; and back.
std::string FieldToSjis(const QString& text);
QString PathToField(const std::string& path);
std::string FieldToPath(const QString& text);

// The extra width a number field needs to show `largest` whole (its
// digits in the field's font, inside the frame, the margins and, for a
// spin box, the arrows); 0 when it is wide enough. The field's font and
// style must be set.
int NumberFieldShortfall(const QLineEdit* field, int largest);
int NumberFieldShortfall(const QAbstractSpinBox* field, int largest);

// A push button laid out at a template rectangle.
QPushButton* MakeButton(QWidget* parent, const QString& caption, const QRect& rect);
// A static text at a template rectangle (never markup).
QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& rect);

}  // namespace velkaro::ui::dialogs
