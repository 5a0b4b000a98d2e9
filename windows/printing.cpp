// The printer lock, ⎕HC hard copy, the window-print formatter and the
// printing dialogs.
#include "windows/printing.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPageLayout>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>

#include "components/rich_edit.h"
#include "host/services.h"
#include "host/task.h"
#include "platform/message_box.h"
#include "platform/synchronize.h"
#include "windows/shell.h"

namespace zema {

// ---------------------------------------------------------------- the lock

namespace {

std::mutex printer_critical_section;
std::atomic<bool> printer_busy{false};

}  // namespace

bool initialise_printer_lock() {
  printer_busy.store(false);
  return true;
}

bool lock_printer() {
  std::lock_guard<std::mutex> hold(printer_critical_section);
  if (printer_busy.load()) return false;
  printer_busy.store(true);
  return true;
}

void unlock_printer() { printer_busy.store(false); }

bool is_printer_busy() { return printer_busy.load(); }

// ---------------------------------------------------------------- printers

namespace {

std::mutex output_file_mutex;
std::string output_file;

// Points the printer at the test output file, when one is set.
void apply_output_file(QPrinter& p) {
  const std::string path = print_output_file();
  if (path.empty()) return;
  p.setOutputFormat(QPrinter::PdfFormat);
  p.setOutputFileName(QString::fromStdString(path));
}

}  // namespace

void set_print_output_file(const std::string& path) {
  std::lock_guard<std::mutex> hold(output_file_mutex);
  output_file = path;
}

std::string print_output_file() {
  std::lock_guard<std::mutex> hold(output_file_mutex);
  return output_file;
}

// Never destroyed: its destructor must not run after the application
// object is gone.
QPrinter& the_printer() {
  static QPrinter* printer = new QPrinter(QPrinter::HighResolution);
  return *printer;
}

int print_margin_thousandths(std::int32_t hundredths_mm) {
  return static_cast<int>(std::trunc(hundredths_mm * 10 * 0.0393700787 + 0.5));
}

// ---------------------------------------------------------------- ⎕HC

namespace {

// The open ⎕HC job and its page state, in printer pixels. Owned and touched
// by the GUI thread only.
struct QhcJob {
  std::unique_ptr<QPrinter> printer;
  QPainter painter;
  int qhc_lMargin = 0, qhc_rMargin = 0, qhc_tMargin = 0, qhc_bMargin = 0;
  int qhc_width = 0, qhc_height = 0;
  int qhc_X = 0, qhc_Y = 0;
  int line_height = 0, ascent = 0, width_m = 0;
  bool after_cr = false;  // the last character written was a CR
};

std::unique_ptr<QhcJob> qhc_job;  // GUI thread
std::atomic<bool> qhc_open{false};

// Opens the job (GUI thread): a printer like the_printer() (or the test
// file), the font and margins; false when the printer cannot be opened.
bool begin_job() {
  auto job = std::make_unique<QhcJob>();
  job->printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  QPrinter& p = *job->printer;
  if (print_output_file().empty()) {
    QPrinter& setup = the_printer();
    p.setOutputFormat(setup.outputFormat());
    p.setPrinterName(setup.printerName());
    p.setOutputFileName(setup.outputFileName());
    p.setPageLayout(setup.pageLayout());
  } else {
    apply_output_file(p);
  }
  p.setDocName(QStringLiteral("APL hard copy"));
  if (!job->painter.begin(&p)) return false;
  QPainter& c = job->painter;
  c.setPen(QPen(Qt::black, 1, Qt::SolidLine));
  c.setBrush(QBrush(Qt::white, Qt::SolidPattern));
  QFont font(MRichEdit::AplFontFamily());
  font.setPointSize(std::max(1, static_cast<int>(pref_number("text_font_size"))));
  c.setFont(font);
  const QFontMetrics fm = c.fontMetrics();
  job->line_height = fm.height();
  job->ascent = fm.ascent();
  job->width_m = fm.horizontalAdvance(QLatin1Char('M'));

  const int res = p.resolution();
  auto to_pixels = [res](const char* setting) {
    return print_margin_thousandths(pref_number(setting)) * res / 1000;
  };
  job->qhc_lMargin = to_pixels("print_margin_left");
  job->qhc_rMargin = to_pixels("print_margin_right");
  job->qhc_tMargin = to_pixels("print_margin_top");
  job->qhc_bMargin = to_pixels("print_margin_bottom");
  const QRect page = p.pageLayout().paintRectPixels(res);
  const QRect paper = p.pageLayout().fullRectPixels(res);
  job->qhc_width = page.width() - job->qhc_lMargin - job->qhc_rMargin;
  job->qhc_height = page.height() - job->qhc_tMargin - job->qhc_bMargin;
  job->qhc_lMargin = std::max(0, job->qhc_lMargin - (page.left() - paper.left()));
  job->qhc_tMargin = std::max(0, job->qhc_tMargin - (page.top() - paper.top()));
  job->qhc_X = job->qhc_Y = 0;
  qhc_job = std::move(job);
  qhc_open.store(true);
  return true;
}

// Ends the job's document (GUI thread).
void end_job() {
  if (qhc_job) qhc_job->painter.end();
  qhc_job.reset();
  qhc_open.store(false);
}

void new_page(QhcJob& j) {
  j.printer->newPage();
  j.qhc_X = 0;
  j.qhc_Y = 0;
}

// Draws `text` on the job (GUI thread).
void paint_text(const char* text) {
  if (!qhc_job) return;
  QhcJob& j = *qhc_job;
  QPainter& c = j.painter;
  std::int32_t colour = pref_number("session_apl_output_color");
  APLShell* first = first_apl_shell();
  if (first && first->task() && first->task()->IsAwaitingInput()) colour = pref_number("session_user_input_color");
  c.setPen(QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));

  constexpr std::size_t kRun = 510;
  std::string run;
  auto flush_run = [&] {
    if (run.empty()) return;
    const QString s = font_text_to_unicode(run);
    c.drawText(j.qhc_lMargin + j.qhc_X, j.qhc_tMargin + j.qhc_Y + j.ascent, s);
    j.qhc_X += c.fontMetrics().horizontalAdvance(s);
    run.clear();
  };
  for (const char* p = text; *p; ++p) {
    const unsigned char ch = static_cast<unsigned char>(*p);
    const bool lf_after_cr = ch == '\n' && j.after_cr;
    j.after_cr = ch == '\r';
    if (lf_after_cr) continue;  // CR LF ends one line
    if (ch == '\r' || ch == '\n') {
      flush_run();
      j.qhc_X = 0;
      j.qhc_Y += j.line_height;
      if (j.qhc_Y > j.qhc_height - j.line_height) new_page(j);
    } else if (ch == 8) {
      flush_run();
      j.qhc_X = std::max(0, j.qhc_X - j.width_m);
    } else if (ch == 12) {
      flush_run();
      new_page(j);
    } else {
      run.push_back(static_cast<char>(ch));
      if (run.size() == kRun) flush_run();
    }
  }
  flush_run();
}

}  // namespace

bool qhc_job_open() { return qhc_open.load(); }

int close_qhc() {
  APLTask* t = find_my_task();
  if (!t) return 0;
  t->noEcho = false;
  if (t->hardCopyMode != 0) {
    synchronize([] { end_job(); });
    t->hardCopyMode = 0;
    unlock_printer();
  }
  return 0;
}

int qhc_request(int code) {
  APLTask* t = find_my_task();
  if (!t) return 1;
  t->FlushOutput();
  switch (code) {
    case 0:
      return close_qhc();
    case 99:
      return t->hardCopyMode;
    case 1000:
      if (t->hardCopyMode == 0) return 6;
      t->noEcho = true;
      return 0;
    case -1000:
      t->noEcho = false;
      return 0;
    case 1:
    case -1: {
      const int m = t->hardCopyMode;
      if (m == -code) {
        t->hardCopyMode = code;
        return 0;
      }
      if (m == code) return 0;
      if (!lock_printer()) return 7;
      bool opened = false;
      synchronize([&opened] {
        try {
          opened = begin_job();
        } catch (const std::bad_alloc&) {
          opened = false;
        }
      });
      if (!opened) {
        unlock_printer();
        return 7;
      }
      t->hardCopyMode = code;
      return 0;
    }
    default:
      return 1;
  }
}

void install_quadhc_handler() { set_quadhc_handler(&qhc_request); }

void write_printer(const char* text, int mode) {
  (void)mode;
  if (!text || !qhc_open.load()) return;
  synchronize([text] {
    try {
      paint_text(text);
    } catch (const std::bad_alloc&) {
      // The line is lost from the paper; the job goes on.
    }
  });
}

// ---------------------------------------------------------------- dialogs

TPrintDialog::TPrintDialog(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QStringLiteral("Print Document"));
  LabelCopies = new QLabel(QStringLiteral("Copies:"), this);
  SpinEditCopies = new QSpinBox(this);
  SpinEditCopies->setMinimum(1);
  SpinEditCopies->setMaximum(9999);
  SpinEditCopies->setValue(1);
  ButtonOK = new QPushButton(QStringLiteral("OK"), this);
  ButtonOK->setDefault(true);
  ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(ButtonOK, &QPushButton::clicked, this, [this] { done(1); });
  connect(ButtonCancel, &QPushButton::clicked, this, [this] { done(2); });
  auto* row = new QHBoxLayout;
  row->addWidget(LabelCopies);
  row->addWidget(SpinEditCopies);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ButtonOK);
  buttons->addWidget(ButtonCancel);
  auto* all = new QVBoxLayout(this);
  all->addLayout(row);
  all->addLayout(buttons);
}

bool TPrintDialog::Execute() {
  SpinEditCopies->setValue(copies);
  adjustSize();
  const QRect screen = screen_client_rect();
  move(screen.center() - rect().center());
  QPointer<TPrintDialog> self(this);
  const int result = RunModal(this);
  if (!self || result != 1) return false;
  copies = SpinEditCopies->value();
  return true;
}

bool TPrinterSetupDialog::Execute() {
  // Not on the stack: the owner may be deleted while it runs.
  QPointer<QPrintDialog> dialog = new QPrintDialog(&the_printer(), owner_);
  dialog->setWindowTitle(QStringLiteral("Print Setup"));
  const int result = RunModal(dialog);
  delete dialog.data();
  return result == QDialog::Accepted;
}

// ---------------------------------------------------------------- formatter

namespace {
TAPLPrinter* printer_instance = nullptr;  // kept for the process's life
}  // namespace

TAPLPrinter::TAPLPrinter() : TAPLShellText(nullptr) {
  SetWindowTitle("APLPrinter");
  undo.undo_enabled = false;
  print_dialog = new TPrintDialog(this);
}

TAPLPrinter* TAPLPrinter::getInstance(TAPLShellWindow* w) {
  (void)w;
  if (printer_instance) return printer_instance;
  try {
    printer_instance = new TAPLPrinter;
  } catch (const std::bad_alloc&) {
    out_of_memory("Cannot create printer information", 2);
    return nullptr;
  }
  return printer_instance;
}

void TAPLPrinter::PrintWindow(TAPLShellText* w) {
  if (!lock_printer()) {
    ShowMessageBox("Cannot open printer - it is already in use", "ZEMA Warning", 48);
    return;
  }
  struct Unlock {
    ~Unlock() { unlock_printer(); }
  } unlock;
  TAPLPrinter* p = getInstance(w);
  if (!p) return;
  const QFont font = w->Contents->font();
  try {
    p->DoPrint(false, nullptr, w, font, header_none, footer_none, false, false, true,
               print_margin_thousandths(pref_number("print_margin_left")),
               print_margin_thousandths(pref_number("print_margin_right")),
               print_margin_thousandths(pref_number("print_margin_top")),
               print_margin_thousandths(pref_number("print_margin_bottom")));
  } catch (const std::bad_alloc&) {
    out_of_memory("Cannot print window", 2);
  }
}

int TAPLPrinter::DoPrint(bool listing, const char* name, TAPLShellText* window, const QFont& font,
                         TPrintHeaderStyle header, TPrintFooterStyle footer, bool line_numbers, bool colour, bool wrap,
                         int left, int right, int top, int bottom) {
  QPrinter& printer = the_printer();
  apply_output_file(printer);
  const int res = printer.resolution();
  const QRect page = printer.pageLayout().paintRectPixels(res);
  const QRect paper = printer.pageLayout().fullRectPixels(res);
  const int l = std::max(0, left * res / 1000 - (page.left() - paper.left()));
  const int r = right * res / 1000;
  const int t = std::max(0, top * res / 1000 - (page.top() - paper.top()));
  const int b = bottom * res / 1000;

  owner_shell = window ? window->owner_shell : nullptr;
  struct Release {
    TAPLPrinter* self;
    ~Release() { self->owner_shell = nullptr; }
  } release{this};

  Contents->SetRedraw(false);
  Contents->Clear();
  QFont f = font;
  int points = f.pointSize() > 0 ? f.pointSize() : static_cast<int>(pref_number("text_font_size"));
  points = std::max(1, points - 2);
  f.setPointSize(points);
  Contents->setFont(f);
  Contents->SetTextFontName(0, 0, f.family().toStdString());
  Contents->SetFontSize(points);
  Contents->SetWordWrap(false);
  Contents->SetMargins(t, l, b, r);
  FormatText(listing, name, window, line_numbers, colour);
  Contents->SetFontSize(points);
  if (line_numbers) {
    int d = 1;
    for (int n = std::max(0, Contents->GetLineCount() - 1); n >= 10; n /= 10) ++d;
    Contents->SetTabStop(d + 4);
    Contents->SetHangingIndent(d + 3);
  } else {
    Contents->SetTabStop(8);
    Contents->SetHangingIndent(0);
  }
  Contents->SetWordWrap(wrap);
  Contents->SetRedraw(true);

  std::string title;
  if (header == header_title && window) title = window->GetWindowTitle();
  if (header == header_workspace) {
    APLTask* task = window ? window->Task() : nullptr;
    title = "Workspace Listing: " + (task ? task->GetWSName() : std::string());
  }
  Contents->PrintPageNumbers(footer == footer_page_numbers);

  if (!print_dialog->Execute()) return 0;
  int printed = 0;
  for (; printed < print_dialog->copies; ++printed) Contents->Print(title, &printer);
  return printed;
}

void TAPLPrinter::FormatText(bool listing, const char* name, TAPLShellText* window, bool line_numbers, bool colour) {
  (void)colour;
  if (name || listing || !window) return;
  const std::string text = window->Contents->GetTextCopy();
  if (!line_numbers) {
    Contents->SetTextBuf(text.c_str());
    return;
  }
  std::string numbered;
  numbered.reserve(text.size() + 16);
  int line = 0;
  bool at_start = true;
  for (char ch : text) {
    if (at_start) {
      numbered += "[" + std::to_string(line++) + "]\t";
      at_start = false;
    }
    numbered.push_back(ch);
    if (ch == '\r') at_start = true;
  }
  Contents->SetTextBuf(numbered.c_str());
}

}  // namespace zema
