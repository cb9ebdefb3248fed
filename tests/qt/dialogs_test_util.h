// Helpers for the dialog tests: address books written the readable way,
// mouse clicks on list rows, and acting on a modal dialog while an entry
// point blocks in it.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTableView>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "data/address_book.h"

namespace velkaro::ui::dialogs::testing {

// An address book text: the header line, then the given UTF-8 lines
// (fields joined by TAB), each ended by CR LF, all in Shift_JIS.
inline std::string AddressBook(const std::vector<std::string>& utf8Lines) {
  std::string text = AddressBookHeaderLine();
  for (const std::string& line : utf8Lines) text += Utf8ToSjis(line) + "\r\n";
  return text;
}

// Clicks the middle of a row's first cell, scrolling it into view first.
inline void ClickRow(QTableView* list, int row, Qt::KeyboardModifiers modifiers = {}) {
  const QModelIndex index = list->model()->index(row, 0);
  list->scrollTo(index);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualRect(index).center());
}

inline void DoubleClickRow(QTableView* list, int row) {
  const QModelIndex index = list->model()->index(row, 0);
  list->scrollTo(index);
  const QPoint at = list->visualRect(index).center();
  // A double click is a press, a release and a double-click press.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// Calls `act` with the modal dialog as soon as one is up (the entry point
// under test is blocked in its exec()). A dialog that never comes up is
// left to the test's own expectations, never waited on forever.
inline void WhenModal(std::function<void(QDialog*)> act) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, act, tries] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr && ++*tries < 1000) return;
    timer->stop();
    timer->deleteLater();
    if (dialog == nullptr) return;
    const QPointer<QDialog> guard(dialog);
    act(dialog);
    // A failed expectation must not leave the entry point blocked for ever.
    if (guard != nullptr && guard->isVisible()) guard->reject();
  });
  timer->start();
}

}  // namespace velkaro::ui::dialogs::testing
