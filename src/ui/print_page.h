// The printed body text. Positions are in the device units of the printer
// the page was laid out for, a 300 dpi one: the body path line at (300, 150),
// the body lines from y = 220 (150 without a path line), 70 apart. Other
// printers get the same page, scaled to their resolution.
#pragma once

#include <QPoint>
#include <QString>
#include <string>
#include <vector>

class QPainter;
class QPagedPaintDevice;

namespace velkaro::ui {

inline constexpr int kPageUnitsPerInch = 300;

struct PrintedLine {
  int page = 0;  // counted from 0
  QPoint at;     // top left of the text, in page units
  QString text;
};

// The lines of the page for a body (Shift_JIS, CR LF; a last line without
// a line end is not printed) and its file path (file-system bytes). A body
// longer than a page of `pageHeightUnits` goes on over further pages,
// starting at the top margin again.
std::vector<PrintedLine> LayOutBodyPages(const std::string& sjisBody, const std::string& bodyPath,
                                         int pageHeightUnits);

// Page units to device pixels at a resolution of dpiX × dpiY.
QPoint ToDevice(const QPoint& units, int dpiX, int dpiY);

// Draws the lines on `device` (a printer or a preview), one page after the
// other; the painter must be active on it.
void DrawBodyPages(QPainter& painter, QPagedPaintDevice& device,
                   const std::vector<PrintedLine>& lines);

// The page height of `device` in page units.
int PageHeightUnits(const QPagedPaintDevice& device);

}  // namespace velkaro::ui
