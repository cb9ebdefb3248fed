#include "ui/form_layout.h"

namespace velkaro::ui {

const std::array<ControlTemplate, 15>& FormTemplate() {
  static const std::array<ControlTemplate, 15> controls = {{
      {kOpenBodyButton, {4, 4, 48, 14}},
      {kBodyPathField, {56, 4, 192, 14}},
      {kExitButton, {256, 4, 44, 14}},
      {kBodyEditor, {4, 24, 244, 88}},
      {kSendButton, {256, 30, 44, 14}},
      {kAutoQuitBox, {252, 50, 43, 10}},
      {kTitleInBox, {252, 66, 53, 10}},
      {kPreviewButton, {256, 96, 44, 14}},
      {kAddAttachmentsButton, {4, 116, 72, 14}},
      {kRemoveAttachmentButton, {80, 116, 36, 14}},
      {kLayoutAnchor, {152, 116, 12, 14}},
      {kAddRecipientsButton, {176, 116, 56, 14}},
      {kRemoveRecipientButton, {236, 116, 36, 14}},
      {kAttachmentList, {4, 134, 168, 50}},
      {kRecipientList, {176, 134, 132, 50}},
  }};
  return controls;
}

ResizeShares SharesFor(int dW, int dH) {
  ResizeShares s;
  s.dW = dW;
  s.dH = dH;
  s.eH = dH >= 100 ? dH / 2 : 0;
  s.lH = dH - s.eH;
  s.hW = dW / 2;  // C++ division truncates toward zero, as the rule wants
  return s;
}

QRect PlaceControl(int id, const QRect& base, const ResizeShares& s) {
  int left = 0, top = 0, width = 0, height = 0;
  switch (id) {
    case kBodyPathField: width = s.dW; break;
    case kBodyEditor:
      width = s.dW;
      height = s.eH;
      break;
    case kExitButton:
    case kSendButton:
    case kTestSendButton:
    case kAutoQuitBox:
    case kTitleInBox: left = s.dW; break;
    case kPreviewButton:
      left = s.dW;
      top = s.eH;
      break;
    case kAddAttachmentsButton:
    case kRemoveAttachmentButton: top = s.eH; break;
    case kAddRecipientsButton:
    case kRemoveRecipientButton:
      left = s.hW;
      top = s.eH;
      break;
    case kAttachmentList:
      top = s.eH;
      width = s.hW;
      height = s.lH;
      break;
    case kRecipientList:
      left = s.hW;
      top = s.eH;
      width = s.dW - s.hW;
      height = s.lH;
      break;
    default: break;
  }
  return QRect(base.x() + left, base.y() + top, base.width() + width, base.height() + height);
}

}  // namespace velkaro::ui
