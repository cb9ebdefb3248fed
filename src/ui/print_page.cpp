#include "ui/print_page.h"

#include <QFile>
#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <algorithm>

#include "core/encoding.h"
#include "core/zentool.h"
#include "platform/qt/fonts.h"
#include "platform/qt/qt_platform.h"

namespace velkaro::ui {
namespace {

constexpr int kLeft = 300;
constexpr int kTop = 150;
constexpr int kPathGap = 70;  // from the path line to the first body line
constexpr int kLineStep = 70;
// 10.5 point lines fit the 70-unit step with room between them.
constexpr double kFontPoints = 10.5;

}  // namespace

std::vector<PrintedLine> LayOutBodyPages(const std::string& sjisBody, const std::string& bodyPath,
                                         int pageHeightUnits) {
  std::vector<PrintedLine> lines;
  int y = kTop;
  if (!bodyPath.empty()) {
    lines.push_back({0,
                     {kLeft, y},
                     qt::FromSjis(Sjis("本文パス名: ")) +
                         QFile::decodeName(QByteArray(bodyPath.data(),
                                                      static_cast<qsizetype>(bodyPath.size())))});
    y += kPathGap;
  }
  // A page holds at least one line, however small it is.
  const int bottom = std::max(pageHeightUnits - kTop, kTop + kLineStep);
  Zentool z;
  const int count = z.ZenCountLines(sjisBody);
  int page = 0;
  for (int i = 0; i < count; ++i) {
    if (y + kLineStep > bottom) {
      ++page;
      y = kTop;
    }
    lines.push_back({page, {kLeft, y}, qt::FromSjis(z.ZenGetLine(sjisBody, i))});
    y += kLineStep;
  }
  return lines;
}

QPoint ToDevice(const QPoint& units, int dpiX, int dpiY) {
  return QPoint(units.x() * dpiX / kPageUnitsPerInch, units.y() * dpiY / kPageUnitsPerInch);
}

int PageHeightUnits(const QPagedPaintDevice& device) {
  const int dpi = device.logicalDpiY();
  if (dpi <= 0) return 0;
  return device.height() * kPageUnitsPerInch / dpi;
}

void DrawBodyPages(QPainter& painter, QPagedPaintDevice& device,
                   const std::vector<PrintedLine>& lines) {
  QFont font = qt::JapaneseFixedFont(0);
  font.setPointSizeF(kFontPoints);
  painter.setFont(font);
  const int dpiX = device.logicalDpiX();
  const int dpiY = device.logicalDpiY();
  int page = 0;
  for (const PrintedLine& line : lines) {
    while (page < line.page) {
      device.newPage();
      ++page;
    }
    const QPoint at = ToDevice(line.at, dpiX, dpiY);
    // Positions name the top left of the text, as on the old printer;
    // tabs expand as in the editor.
    const QRect box(at, QSize(device.width() - at.x(), painter.fontMetrics().height()));
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs,
                     line.text);
  }
}

}  // namespace velkaro::ui
