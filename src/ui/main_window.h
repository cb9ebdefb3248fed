// The program's main window: for now the frame (title, status bar) and a
// text area for the body. The status bar's first pane shows the texts the
// rest of the program sets through the platform.
#pragma once

#include <QMainWindow>

class QLabel;
class QPlainTextEdit;

namespace velkaro::ui {

class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(QWidget* parent = nullptr);

  // Shows `text` in the first status pane and paints it at once, so that
  // progress shows even while a long operation keeps the event loop busy.
  void ShowStatus(const QString& text);
  QString StatusText() const;
  QPlainTextEdit* Editor() const { return editor_; }

 private:
  QLabel* statusPane_;
  QPlainTextEdit* editor_;
};

}  // namespace velkaro::ui
