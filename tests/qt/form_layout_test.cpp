// How the form's controls follow the window's size.
#include "ui/form_layout.h"

#include <gtest/gtest.h>

#include "form_fixture.h"
#include "ui/dialog_units.h"

namespace velkaro::ui::testing {
namespace {

TEST(FormResize, SharesTheHeightBetweenEditorAndListsAndTheWidthInHalves) {
  const struct {
    int dW, dH;
    int eH, lH, hW;
  } cases[] = {
      {0, 99, 0, 99, 0},      // below 100 everything goes to the lists
      {0, 100, 50, 50, 0},    // from 100 on the editor takes half
      {0, 101, 50, 51, 0},    // the lists take the odd pixel
      {0, 250, 125, 125, 0},  //
      {0, -40, 0, -40, 0},    // smaller than the start: only the lists shrink
      {41, 0, 0, 0, 20},      // the right-hand list gets the odd pixel across
      {-31, 0, 0, 0, -15},    // half widths round toward zero
      {-1, -1, 0, -1, 0},     //
  };
  for (const auto& c : cases) {
    const ResizeShares s = SharesFor(c.dW, c.dH);
    EXPECT_EQ(s.eH, c.eH) << c.dW << "x" << c.dH;
    EXPECT_EQ(s.lH, c.lH) << c.dW << "x" << c.dH;
    EXPECT_EQ(s.hW, c.hW) << c.dW << "x" << c.dH;
  }
}

TEST(FormResize, MovesAndStretchesEachControlByItsRule) {
  const QRect base(10, 20, 100, 30);
  const ResizeShares s = SharesFor(-31, 120);  // eH 60, lH 60, hW -15
  const struct {
    int id;
    QRect placed;
  } cases[] = {
      {kOpenBodyButton, base},
      {kLayoutAnchor, base},
      {kBodyPathField, {10, 20, 69, 30}},
      {kBodyEditor, {10, 20, 69, 90}},
      {kExitButton, {-21, 20, 100, 30}},
      {kSendButton, {-21, 20, 100, 30}},
      {kAutoQuitBox, {-21, 20, 100, 30}},
      {kTitleInBox, {-21, 20, 100, 30}},
      {kPreviewButton, {-21, 80, 100, 30}},
      {kAddAttachmentsButton, {10, 80, 100, 30}},
      {kRemoveAttachmentButton, {10, 80, 100, 30}},
      {kAddRecipientsButton, {-5, 80, 100, 30}},
      {kRemoveRecipientButton, {-5, 80, 100, 30}},
      {kAttachmentList, {10, 80, 85, 90}},
      {kRecipientList, {-5, 80, 84, 90}},
  };
  for (const auto& c : cases) EXPECT_EQ(PlaceControl(c.id, base, s), c.placed) << c.id;
}

class FormWindowResize : public FrameTest {};

TEST_F(FormWindowResize, TheWindowStartsAtTheFormsSizeWithTheControlsOfTheTemplate) {
  Start();
  EXPECT_EQ(view().size(), view().FormSize());
  const DialogUnits units(view().font());
  for (const ControlTemplate& t : FormTemplate()) {
    if (t.id == kLayoutAnchor) continue;
    EXPECT_EQ(view().Control(t.id)->geometry(),
              units.Rect(t.units.x(), t.units.y(), t.units.width(), t.units.height()))
        << t.id;
  }
  EXPECT_FALSE(view().Control(kLayoutAnchor)->isVisible());
}

TEST_F(FormWindowResize, FollowsTheWindowTallerNarrowerAndBack) {
  Start();
  const QSize start = frame->size();
  const struct {
    int dW, dH;
  } sizes[] = {{0, 99}, {0, 100}, {0, 101}, {-31, 0}, {-31, -20}, {60, 140}, {0, 0}};
  for (const auto& change : sizes) {
    frame->resize(start.width() + change.dW, start.height() + change.dH);
    QCoreApplication::processEvents();
    ASSERT_EQ(view().size() - view().FormSize(), QSize(change.dW, change.dH));
    const ResizeShares s = SharesFor(change.dW, change.dH);
    for (const ControlTemplate& t : FormTemplate()) {
      if (t.id == kLayoutAnchor) continue;
      EXPECT_EQ(view().Control(t.id)->geometry(), PlaceControl(t.id, view().BaseRect(t.id), s))
          << t.id << " at " << change.dW << "x" << change.dH;
    }
  }
  // Spot checks in pixels, independent of the rule's own code.
  frame->resize(start.width(), start.height() + 100);
  QCoreApplication::processEvents();
  EXPECT_EQ(editor().height(), view().BaseRect(kBodyEditor).height() + 50);
  EXPECT_EQ(view().RecipientList()->height(), view().BaseRect(kRecipientList).height() + 50);
  frame->resize(start.width(), start.height() + 99);
  QCoreApplication::processEvents();
  EXPECT_EQ(editor().height(), view().BaseRect(kBodyEditor).height());
  EXPECT_EQ(view().AttachmentList()->height(), view().BaseRect(kAttachmentList).height() + 99);
  frame->resize(start.width() - 31, start.height());
  QCoreApplication::processEvents();
  EXPECT_EQ(view().SendButton()->x(), view().BaseRect(kSendButton).x() - 31);
  EXPECT_EQ(view().RecipientList()->x(), view().BaseRect(kRecipientList).x() - 15);
  EXPECT_EQ(view().RecipientList()->width(), view().BaseRect(kRecipientList).width() - 16);
  EXPECT_EQ(view().AttachmentList()->width(), view().BaseRect(kAttachmentList).width() - 15);
  EXPECT_EQ(view().Control(kOpenBodyButton)->pos(), view().BaseRect(kOpenBodyButton).topLeft());
}

TEST_F(FormWindowResize, HasNoMinimumSize) {
  Start();
  const QSize start = frame->size();
  frame->resize(start.width() / 2, start.height() / 2);
  QCoreApplication::processEvents();
  EXPECT_EQ(frame->size(), QSize(start.width() / 2, start.height() / 2));
}

}  // namespace
}  // namespace velkaro::ui::testing
