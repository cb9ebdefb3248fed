#include "ui/main_window.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QVBoxLayout>

#include "platform/qt/fonts.h"

namespace velkaro::ui {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), statusPane_(new QLabel(this)), editor_(new QPlainTextEdit(this)) {
  setWindowTitle(QStringLiteral("Velkaro"));

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(4, 4, 4, 4);
  editor_->setFont(qt::JapaneseFixedFont(16));
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(editor_);
  setCentralWidget(central);

  statusPane_->setTextFormat(Qt::PlainText);
  statusPane_->setFont(qt::JapaneseProportionalFont(0));
  statusBar()->addWidget(statusPane_, 1);
  resize(640, 480);
}

void MainWindow::ShowStatus(const QString& text) {
  statusPane_->setText(text);
  if (statusPane_->isVisible()) statusPane_->repaint();
}

QString MainWindow::StatusText() const {
  return statusPane_->text();
}

}  // namespace velkaro::ui
