// Printing: the process-wide printer lock, ⎕HC hard copy (the session's
// output printed line by line while a job is open), the formatter that
// prints a text window's text, and the copies and printer set-up dialogs.
//
// Threads. The lock may be taken and released on any thread. Everything
// that touches a printer or the ⎕HC page state runs on the GUI thread: the
// task threads hand their page work there through `synchronize` and wait,
// so that job, page state and painting have one owner and need no lock of
// their own (a window print on the GUI thread and a task's ⎕HC output are
// thereby serialised; the printer lock keeps them from sharing a printer).
#pragma once

#include <QDialog>

#include <string>

#include "windows/shell_text.h"

class QPrinter;
class QSpinBox;
class QPushButton;
class QLabel;

namespace zema {

// ---- printer lock ----
// Readies the lock; true (the lock is a plain mutex and flag, which cannot
// fail to be made). Call once at start-up before any task runs.
bool initialise_printer_lock();
// Takes the printer for the caller: false when it is already taken (the
// caller is refused at once, never made to wait), else marks it taken.
bool lock_printer();
// Marks the printer free.
void unlock_printer();
// Whether the printer is taken (menus disable their print items).
bool is_printer_busy();

// ---- printers ----
// Tests: while `path` is not empty, every printer that printing makes or
// uses prints to that PDF file instead of a real printer (set from any
// thread before printing; the empty text turns it off).
void set_print_output_file(const std::string& path);
std::string print_output_file();
// The printer of Print Setup and window printing, made on first use and
// kept (GUI thread). The output file above, when set, is applied on each
// print.
QPrinter& the_printer();
// A margin setting (hundredths of a millimetre) in thousandths of an inch:
// trunc(value × 10 × 0.0393700787 + 0.5); 2540 → 1000, 1270 → 500.
int print_margin_thousandths(std::int32_t hundredths_mm);

// ---- ⎕HC hard copy ----
// The ⎕HC request `code` of the calling thread's task (a task thread):
// flushes the task's output first; 1 without a task. 1 or −1 opens a job
// (0; 7 when the printer is taken or cannot be opened) or, with one open,
// changes its echo (0); 0 closes (close_qhc, 0); 99 answers the task's
// hardCopyMode; 1000 sets the task's noEcho (6 when no job is open);
// −1000 clears it (0); anything else 1. Reads and writes the task's
// hardCopyMode and noEcho; the page work runs on the GUI thread.
int qhc_request(int code);
// Makes quadhc (host/services.h) answer through qhc_request.
void install_quadhc_handler();
// For the calling thread's task: clears noEcho; with a job open ends the
// document (the PDF or print job is complete), sets hardCopyMode 0 and
// frees the printer. Always 0; nothing else without a task. Also to be
// called when a task ends.
int close_qhc();
// Prints `text` (display-font characters, NUL-terminated) on the open ⎕HC
// job from the current position: LF, CR and CR LF end a line (a new page
// below the printable area), FF starts a page, backspace steps back one
// "M" so that the next character overprints. Colour: the
// session_user_input_color setting while the first shell's task awaits
// input, else session_apl_output_color. `mode` is not consulted. Nothing
// when no job is open. Any thread; the drawing runs on the GUI thread.
void write_printer(const char* text, int mode);
// Whether a ⎕HC job is open (any thread).
bool qhc_job_open();

// ---- the copies dialog ----
// "Print Document": "Copies:" with a spin edit (minimum 1), OK (result 1)
// and Cancel (result 2), centred on the screen. GUI thread.
class TPrintDialog : public QDialog {
 public:
  explicit TPrintDialog(QWidget* owner = nullptr);
  // Runs the dialog modally (RunModal) with the spin edit at `copies`;
  // on OK stores the spin edit's value in `copies` and answers true.
  bool Execute();

  int copies = 1;
  QLabel* LabelCopies = nullptr;
  QSpinBox* SpinEditCopies = nullptr;
  QPushButton* ButtonOK = nullptr;
  QPushButton* ButtonCancel = nullptr;
};

// ---- the printer set-up dialog ----
// The printer's own set-up dialog for the_printer(). GUI thread.
class TPrinterSetupDialog {
 public:
  explicit TPrinterSetupDialog(QWidget* owner) : owner_(owner) {}
  // Runs the dialog modally (RunModal) on the_printer(); true on OK, when
  // the choices made are kept in the printer.
  bool Execute();

 private:
  QWidget* owner_;
};

// ---- the formatter ----
enum TPrintHeaderStyle : int { header_none = 0, header_title = 1, header_workspace = 2 };
enum TPrintFooterStyle : int { footer_none = 0, footer_page_numbers = 1 };

// A hidden text window whose text control is filled with what is to be
// printed, laid out for the page and printed through MRichEdit::Print.
// Built on the text-window base (the function editor, whose header and
// label parsing and colouring a coloured print would run, does not exist
// yet). One instance for the process. GUI thread.
class TAPLPrinter : public TAPLShellText {
 public:
  // The formatter, made on first use (never shown, undo off); null after
  // reporting "Cannot create printer information" when it cannot be made.
  static TAPLPrinter* getInstance(TAPLShellWindow* w);
  // Keeps the instance: nothing.
  static void freeInstance() {}

  // Prints the whole text of `w` (Window Contents, Print Window): takes the
  // printer (else warns "Cannot open printer - it is already in use" under
  // "ZEMA Warning" and prints nothing), asks for the copies, prints each
  // copy with no header or footer, wrapped, with the margin settings, and
  // frees the printer.
  static void PrintWindow(TAPLShellText* w);

  // The engine: margins in thousandths of an inch; `font` the printed
  // window's text font, printed 2 points smaller. Answers the number of
  // copies printed (0 when the copies dialog was cancelled).
  int DoPrint(bool listing, const char* name, TAPLShellText* window, const QFont& font, TPrintHeaderStyle header,
              TPrintFooterStyle footer, bool line_numbers, bool colour, bool wrap, int left, int right, int top,
              int bottom);
  // Fills the text control from `window` (the listing and class prints need
  // the task's object texts and are not built yet). With line_numbers every
  // line i (from 0) starts with "[i]\t".
  void FormatText(bool listing, const char* name, TAPLShellText* window, bool line_numbers, bool colour);

  TPrintDialog* print_dialog = nullptr;

 private:
  TAPLPrinter();
};

}  // namespace zema
