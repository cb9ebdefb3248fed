// The main form's controls as they were designed: ids, template rectangles
// in dialog units, and how each one follows a change of the window size.
// Kept apart from the widgets so that the rules can be checked on their own.
#pragma once

#include <QRect>
#include <QSize>
#include <array>

namespace velkaro::ui {

// Control ids of the form (they also name the widgets, see CVelkaroView).
enum FormControl : int {
  kOpenBodyButton = 1062,
  kBodyPathField = 1006,
  kExitButton = 1004,
  kBodyEditor = 1002,
  kSendButton = 1003,
  kAutoQuitBox = 1061,
  kTitleInBox = 1072,
  kPreviewButton = 1055,
  kAddAttachmentsButton = 1046,
  kRemoveAttachmentButton = 1058,
  kLayoutAnchor = 1060,
  kAddRecipientsButton = 1007,
  kRemoveRecipientButton = 1059,
  kAttachmentList = 1005,
  kRecipientList = 1001,
  // Added to the form later, so not in the template: it goes in the tab
  // order after the send button, below which it sits, and follows it.
  kTestSendButton = 1081,
};

// The test send button's rectangle, in dialog units (between the
// title-in box and the preview button).
inline constexpr QRect kTestSendUnits{256, 80, 44, 14};

struct ControlTemplate {
  int id;
  QRect units;  // x, y, width, height in dialog units
};

// The form is 310 × 188 dialog units.
inline constexpr QSize kFormUnits{310, 188};

// Every control in template order (which is also the tab order).
const std::array<ControlTemplate, 15>& FormTemplate();

// How a size change of dW × dH pixels is shared out. The editor grows only
// once the window is at least 100 pixels taller, and then takes half; the
// lists take the rest. The right-hand list takes the odd pixel across.
struct ResizeShares {
  int dW = 0;
  int dH = 0;
  int eH = 0;  // editor height
  int lH = 0;  // list height
  int hW = 0;  // half width, rounded toward zero
};
ResizeShares SharesFor(int dW, int dH);

// The rectangle of control `id` for a window changed by `shares`, from its
// rectangle at the start size. Controls without a rule (the open button,
// the anchor) stay where they are.
QRect PlaceControl(int id, const QRect& base, const ResizeShares& shares);

}  // namespace velkaro::ui
