// How the program presents itself to the desktop: the main window's title
// (the body file and the program, with the change mark), the window icon
// and the desktop entry name the window manager and the task bar use.
#pragma once

#include <QIcon>
#include <QString>
#include <string>

namespace velkaro::ui {

// "案内.txt[*] - Velkaro" for a body file (path in file-system bytes),
// "無題[*] - Velkaro" without one; the "[*]" is Qt's placeholder that
// shows "*" while the window is marked modified.
QString MainWindowTitle(const std::string& bodyFilePath);

// The program's icon from the resource files that exist (16, 32, 48 and
// 256 pixel PNGs); an empty icon when none does.
QIcon ApplicationIcon();

// Sets the icon of every window and the desktop file name ("velkaro").
// Needs the QGuiApplication.
void SetApplicationIdentity();

}  // namespace velkaro::ui
