// Where printing puts the text on the page: word boxes read back from the PDF.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QMarginsF>
#include <QPrinter>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "components/rich_edit.h"

namespace zema {
namespace {

std::string run(const std::string& command) {
  std::string out;
  if (std::FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

// The top (in points) of the first word box holding word, or -1.
double top_of(const std::string& pdf, const std::string& word) {
  const std::string html = run("pdftotext -bbox '" + pdf + "' - 2>/dev/null");
  const auto at = html.find(">" + word + "</word>");  // not the document's <title>
  if (at == std::string::npos) return -1;
  const auto tag = html.rfind("<word", at);
  const auto y = html.find("yMin=\"", tag);
  return y == std::string::npos || y > at ? -1 : std::atof(html.c_str() + y + 6);
}

TEST(RichEditPrint, ATitleStartsTheTextTwoTitleHeightsLower) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  MRichEdit e;
  e.resize(300, 200);
  e.InsertString("Alpha line\rBeta line", -1);
  double title_height_pt = 0;
  auto print = [&](const std::string& title, const std::string& name) {
    const std::string pdf = dir.filePath(QString::fromStdString(name)).toStdString();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));  // the control's own margins rule
    QFont helvetica("Helvetica");
    helvetica.setPointSize(8);
    title_height_pt = QFontMetrics(helvetica, &printer).height() * 72.0 / printer.resolution();
    e.Print(title, &printer);
    return pdf;
  };
  const std::string plain = print("", "plain.pdf");
  const std::string titled = print("Heading", "titled.pdf");
  const double y0 = top_of(plain, "Alpha"), y1 = top_of(titled, "Alpha"), yt = top_of(titled, "Heading");
  ASSERT_GE(y0, 0);
  ASSERT_GE(y1, 0);
  ASSERT_GE(yt, 0);
  EXPECT_NEAR(y1 - y0, 2 * title_height_pt, 1.0);
  EXPECT_LT(yt, y1);  // the title above the text
  EXPECT_NEAR(top_of(titled, "Beta") - top_of(plain, "Beta"), 2 * title_height_pt, 1.0);
}

}  // namespace
}  // namespace zema
