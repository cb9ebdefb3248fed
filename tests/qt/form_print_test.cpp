// The printed page of the body text.
#include <gtest/gtest.h>

#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

#include "core/encoding.h"
#include "support/test_support.h"
#include "ui/print_page.h"

namespace velkaro::ui {
namespace {

struct Line {
  int page, x, y;
  const char* text;
};

std::vector<Line> Simplified(const std::vector<PrintedLine>& lines,
                             std::vector<std::string>& texts) {
  std::vector<Line> out;
  texts.clear();
  for (const PrintedLine& l : lines) texts.push_back(l.text.toStdString());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out.push_back({lines[i].page, lines[i].at.x(), lines[i].at.y(), texts[i].c_str()});
  }
  return out;
}

TEST(PrintPage, PlacesThePathLineAndTheBodyLinesAsDesigned) {
  const struct {
    const char* name;
    const char* body;
    std::string path;
    int pageHeight;
    std::vector<Line> expected;
  } cases[] = {
      {"no path: body from the top",
       "件名\r\n本文\r\n最後の行",
       "",
       3300,
       {{0, 300, 150, "件名"}, {0, 300, 220, "本文"}}},
      {"path line first",
       "件名\r\n本文\r\n",
       "/home/u/案内.txt",
       3300,
       {{0, 300, 150, "本文パス名: /home/u/案内.txt"},
        {0, 300, 220, "件名"},
        {0, 300, 290, "本文"}}},
      {"a long body goes on over the next page",
       "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n",
       "",
       600,
       {{0, 300, 150, "1"},
        {0, 300, 220, "2"},
        {0, 300, 290, "3"},
        {0, 300, 360, "4"},
        {1, 300, 150, "5"},
        {1, 300, 220, "6"}}},
      {"empty lines keep their place",
       "a\r\n\r\nb\r\n",
       "",
       3300,
       {{0, 300, 150, "a"}, {0, 300, 220, ""}, {0, 300, 290, "b"}}},
      {"nothing without a line end", "only", "", 3300, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> texts;
    const std::vector<Line> got =
        Simplified(LayOutBodyPages(Utf8ToSjis(c.body), c.path, c.pageHeight), texts);
    ASSERT_EQ(got.size(), c.expected.size()) << c.name;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].page, c.expected[i].page) << c.name << " " << i;
      EXPECT_EQ(got[i].x, c.expected[i].x) << c.name << " " << i;
      EXPECT_EQ(got[i].y, c.expected[i].y) << c.name << " " << i;
      EXPECT_STREQ(got[i].text, c.expected[i].text) << c.name << " " << i;
    }
  }
}

TEST(PrintPage, ScalesToThePrintersResolution) {
  const struct {
    int dpi;
    QPoint expected;
  } cases[] = {{300, {300, 150}}, {600, {600, 300}}, {1200, {1200, 600}}, {72, {72, 36}}};
  for (const auto& c : cases) EXPECT_EQ(ToDevice({300, 150}, c.dpi, c.dpi), c.expected) << c.dpi;
  EXPECT_EQ(ToDevice({300, 220}, 600, 300), QPoint(600, 220));
}

TEST(PrintPage, DrawsEveryPageOnTheDevice) {
  velkaro::testing::TempDir dir;
  const QString file = QString::fromStdString(dir.File("body.pdf"));
  QPdfWriter writer(file);
  writer.setResolution(600);
  std::string body;
  for (int i = 0; i < 100; ++i) body += Utf8ToSjis("行 ") + std::to_string(i) + "\r\n";
  const std::vector<PrintedLine> lines = LayOutBodyPages(body, "", PageHeightUnits(writer));
  ASSERT_GT(lines.back().page, 0);
  {
    QPainter painter(&writer);
    DrawBodyPages(painter, writer, lines);
  }
  const std::string pdf = velkaro::testing::ReadBytes(dir.File("body.pdf"));
  const QRegularExpression page(QStringLiteral("/Type\\s*/Page[^s]"));
  EXPECT_EQ(QString::fromLatin1(pdf.data(), static_cast<qsizetype>(pdf.size())).count(page),
            lines.back().page + 1);
}

}  // namespace
}  // namespace velkaro::ui
