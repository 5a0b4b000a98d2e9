#include "windows/session_window.h"

#include <QEvent>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QShowEvent>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

#include "components/rich_edit.h"
#include "host/charset.h"
#include "host/task.h"
#include "platform/message_box.h"

namespace zema {

namespace {

constexpr int kReplayChunk = 376;  // type-ahead characters shown per replay
constexpr const char* kPrompt = "      ";
// Output arrives in many small chunks; the text is painted at most once
// per this many milliseconds, so that a stream of output costs a few
// paints a second rather than one per chunk, while a typed key still
// shows well within a frame.
constexpr int kPaintInterval = 10;

// The internal-character form of a display-font text.
std::string to_internal(const std::string& font_text) {
  std::string s(font_text.size(), '\0');
  for (std::size_t i = 0; i < font_text.size(); ++i) s[i] = static_cast<char>(fontin(static_cast<unsigned char>(font_text[i])));
  return s;
}

bool only_blanks_and_line_ends(const char* text) {
  for (; *text; ++text)
    if (*text != ' ' && *text != '\r' && *text != '\n') return false;
  return true;
}

}  // namespace

TAPLSessionWin::TAPLSessionWin(const std::string& executable_name, APLTask* task, QWidget* owner, bool packaged)
    : TAPLShellText(owner), packaged_(packaged), task_(task) {
  window_kind = kind_session;
  output_colour = pref_number("session_apl_output_color");
  Contents->SetMaxLength(20000000);
  Contents->SetColor(pref_number("session_background_color"));
  resize(692, 455);
  if (pref_number("session_win_default_w") > 0) {
    setGeometry(pref_number("session_win_default_x"), pref_number("session_win_default_y"),
                pref_number("session_win_default_w"), pref_number("session_win_default_h"));
  } else {
    const QRect screen = screen_client_rect();
    move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
  }
  BuildSessionMenus();
  undo.undo_enabled = false;
  Contents->SetPaintInterval(kPaintInterval);
  Contents->SelectAll();
  Contents->SetSelTextBuf("");
  Contents->OnSelectionChange = [this](MRichEdit*) { ContentsSelectionChange(); };
  Contents->installEventFilter(this);
  SetWindowTitle(executable_name);
}

TAPLSessionWin::~TAPLSessionWin() {
  if (Contents) {
    Contents->OnSelectionChange = nullptr;
    Contents->removeEventFilter(this);
  }
}

void TAPLSessionWin::AcceptMsg(int msg, int arg, void* ptr) {
  switch (msg) {
    case msg_prefs_windows:
      if (pref_number("session_win_default_w") != 0)
        setGeometry(pref_number("session_win_default_x"), pref_number("session_win_default_y"),
                    pref_number("session_win_default_w"), pref_number("session_win_default_h"));
      UpdateRecentFileMenus();
      Contents->SetFontSize(apl_text_font().pointSize());
      RethinkPrintWidth(true);
      break;
    case msg_font_changed:
      TAPLShellText::AcceptMsg(msg, arg, ptr);
      RethinkPrintWidth(true);
      break;
    case msg_colours_changed:
      Contents->SetColor(pref_number("session_background_color"));
      output_colour = pref_number("session_apl_output_color");
      break;
    case msg_print_width_changed:
      RethinkPrintWidth(true);
      break;
    case msg_wsid_changed:
      break;
    case msg_apl_busy:
      Contents->setCursor(Qt::WaitCursor);
      RethinkPrintWidth(false);
      break;
    case msg_apl_ready:
      setEnabled(true);
      Contents->setCursor(Qt::IBeamCursor);
      Contents->SetNewColour(pref_number("session_user_input_color"));
      colour_state = 0;
      ReplayTypeahead();
      break;
    default:
      TAPLShellText::AcceptMsg(msg, arg, ptr);
      break;
  }
}

// ---------------------------------------------------------------- output

void TAPLSessionWin::AppendSession(const char* text) {
  if (!text || !*text) return;
  try {
    if (!overwrite) {
      CheckSessionLength();
      const int end = Contents->GetTextLen();
      Contents->SetSelectionRange(end, end);
    } else {
      const int p = Contents->Caret();
      const int line = Contents->CharToLineNum(p);
      const int column = p - Contents->LineToChar(line);
      const int n = std::max(0, std::min(static_cast<int>(std::strlen(text)), Contents->LineLength(line) - column));
      Contents->SetSelectionRange(p, p + n);
    }
    const int state = colour_state.load();
    Contents->SetNewColour(state == 2 ? pref_number("session_error_message_color") : output_colour);
    Contents->SetSelTextBuf(text);
    if (state == 0) Contents->SetNewColour(pref_number("session_user_input_color"));
  } catch (const std::exception&) {
    ShowMessageBox("Out of memory updating window", "ZEMA Error", 16);
  }
  // The output changed the caret's line: what a later restore puts back is
  // the line with it.
  if (!restoring) TakeLine(Contents->CharToLineNum(Contents->Caret()));
  if (!isVisible() && !only_blanks_and_line_ends(text)) show();
  if (!overwrite) Contents->ShowCharPosition(Contents->GetTextLen());
}

void TAPLSessionWin::SetErrorColour(bool on) {
  const int wanted = on ? 2 : 1;
  if (colour_state.load() == wanted) return;
  if (flush_output) flush_output();
  colour_state = wanted;
}

void TAPLSessionWin::CheckSessionLength() {
  const int n = Contents->GetTextLen();
  if (n <= pref_number("session_length") - 100) return;
  const int third = n / 3;
  int lines_gone = Contents->CharToLineNum(third);
  int cut = Contents->LineToChar(lines_gone);
  if (cut <= 0) {
    // The first line holds a third of the session: it is cut there, or
    // one line without an end would grow without bound.
    cut = third;
    lines_gone = 0;
    if (line_no == 0) line_no = -1;
  }
  if (cut <= 0) return;
  const bool was_restoring = restoring;
  restoring = true;
  Contents->DeleteText(0, cut, false);
  restoring = was_restoring;
  if (line_no >= 0) line_no = line_no < lines_gone ? -1 : line_no - lines_gone;
  if (line_no < 0) line_text.clear();
}

void TAPLSessionWin::RethinkPrintWidth(bool force) {
  const bool fixed = pref_flag("fixed_print_width");
  if (fixed && !force) return;
  APLTask* t = Task();
  if (!t) return;
  int w = fixed ? pref_number("quad_pw") : Contents->width() / std::max(1, Contents->WidthOfM()) - 1;
  t->SetQuadPW(std::clamp(w, 40, 390));
}

void TAPLSessionWin::InputRequested() {
  if (!isVisible()) show();
}

void TAPLSessionWin::resizeEvent(QResizeEvent* e) {
  TAPLShellText::resizeEvent(e);
  RethinkPrintWidth(false);
}

void TAPLSessionWin::showEvent(QShowEvent* e) {
  TAPLShellText::showEvent(e);
  RethinkPrintWidth(false);
}

// ---------------------------------------------------------------- input

bool TAPLSessionWin::eventFilter(QObject* watched, QEvent* e) {
  if (watched == Contents) {
    if (e->type() == QEvent::Resize) {
      // The control's own width sets ⎕PW: the window's resize comes before
      // its layout has sized the control.
      RethinkPrintWidth(false);
    } else if (e->type() == QEvent::KeyPress) {
      auto* k = static_cast<QKeyEvent*>(e);
      const bool ctrl = k->modifiers() & Qt::ControlModifier;
      if (ctrl && SessionKeyDown(k->key(), true)) return true;
      if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) return ContentsKeyPress(kCR, ctrl);
      if (ctrl && k->key() == Qt::Key_Period) return true;
      const QString t = k->text();
      bool consumed = false;
      for (const QChar q : t) {
        const char16_t u = q.unicode();
        if ((u < 0x20 && u != '\t') || u == 0x7F) continue;
        const unsigned char c = u < 0x80 ? static_cast<unsigned char>(u) : fontout(convert_from_unicode(u));
        if (!ContentsKeyPress(static_cast<char>(c), ctrl)) return false;
        consumed = true;
      }
      if (consumed) return true;
    }
  }
  return TAPLShellText::eventFilter(watched, e);
}

bool TAPLSessionWin::SessionKeyDown(int key, bool ctrl) {
  if (!ctrl) return false;
  switch (key) {
    case Qt::Key_Period:
    case Qt::Key_Delete:
      if (attention) {
        attention();
      } else if (APLTask* t = task_ ? task_ : Task()) {
        t->attnPending = true;
      }
      {
        std::lock_guard<std::mutex> lock(typeahead_lock_);
        typeahead_added_.notify_all();
      }
      return true;
    case Qt::Key_Up:
      RecallLastLine(true);
      return true;
    case Qt::Key_Down:
      RecallLastLine(false);
      return true;
    default:
      return false;
  }
}

bool TAPLSessionWin::AwaitingInput() const {
  APLTask* t = Task();
  return t && t->IsAwaitingInput();
}

bool TAPLSessionWin::OrdinaryInput() const {
  APLTask* t = Task();
  return t && t->IsAwaitingInput() && (t->GetWSState() & 0x6004) == 0;
}

bool TAPLSessionWin::ContentsKeyPress(char key, bool ctrl) {
  if (ctrl && key == '.') return true;
  if (!Task()) return false;
  if (!AwaitingInput()) {
    bool added = false;
    {
      std::lock_guard<std::mutex> lock(typeahead_lock_);
      if (typeahead_count_ < kTypeaheadSize) {
        typeahead_[(typeahead_pos_ + typeahead_count_) % kTypeaheadSize] = key;
        ++typeahead_count_;
        added = true;
      }
    }
    if (added)
      typeahead_added_.notify_all();
    else
      Contents->MBeep(1);
    return true;
  }
  Contents->SetNewColour(pref_number("session_user_input_color"));
  if (key != kCR || ctrl) return false;
  EnterLine();
  return true;
}

int TAPLSessionWin::TypeaheadCount() const {
  std::lock_guard<std::mutex> lock(typeahead_lock_);
  return typeahead_count_;
}

bool TAPLSessionWin::PopTypeahead(char* c) {
  if (typeahead_count_ == 0) return false;
  *c = typeahead_[typeahead_pos_];
  typeahead_pos_ = (typeahead_pos_ + 1) % kTypeaheadSize;
  if (--typeahead_count_ == 0) typeahead_pos_ = 0;
  return true;
}

int TAPLSessionWin::GetOneKeystroke() {
  std::unique_lock<std::mutex> lock(typeahead_lock_);
  for (;;) {
    char c;
    if (PopTypeahead(&c)) return fontin(static_cast<unsigned char>(c));
    if (keys_closed_ || (task_ && task_->attnPending && task_->attnEnabled)) return 0;
    typeahead_added_.wait_for(lock, std::chrono::milliseconds(100));
  }
}

void TAPLSessionWin::CloseKeystrokes() {
  {
    std::lock_guard<std::mutex> lock(typeahead_lock_);
    keys_closed_ = true;
  }
  typeahead_added_.notify_all();
}

void TAPLSessionWin::ReplayTypeahead() {
  std::string text;
  bool enter_next = false;
  {
    std::lock_guard<std::mutex> lock(typeahead_lock_);
    while (typeahead_count_ > 0 && static_cast<int>(text.size()) < kReplayChunk) {
      if (typeahead_[typeahead_pos_] == kCR) {
        enter_next = true;
        break;
      }
      char c;
      PopTypeahead(&c);
      text.push_back(c);
    }
  }
  if (!text.empty()) AddAtEnd(text, pref_number("session_user_input_color"));
  if (enter_next && AwaitingInput()) {
    {
      std::lock_guard<std::mutex> lock(typeahead_lock_);
      char c;
      PopTypeahead(&c);
    }
    EnterLine();
  }
}

std::string TAPLSessionWin::LineTextOf(int line) const {
  const int n = Contents->LineLength(line);
  if (n <= 0) return {};
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  const int got = Contents->GetTextRange(Contents->LineToChar(line), n + 1, s.data());
  s.resize(static_cast<std::size_t>(got));
  return s;
}

void TAPLSessionWin::TakeLine(int line) {
  line_no = line;
  line_text = LineTextOf(line);
  line_colour = Contents->GetTextColour(Contents->Caret());
}

void TAPLSessionWin::ContentsSelectionChange() {
  if (restoring) return;
  const int line = Contents->CharToLineNum(Contents->Caret());
  if (line == line_no && !line_text.empty()) return;
  TakeLine(line);
}

void TAPLSessionWin::RestoreLine() {
  if (line_text.empty() || line_no < 0) return;
  if (line_no > Contents->CharToLineNum(Contents->GetTextLen())) {
    line_no = -1;
    line_text.clear();
    return;
  }
  restoring = true;
  const bool redraw = Contents->SetRedraw(false);
  const int start = Contents->LineToChar(line_no);
  Contents->SetSelectionRange(start, start + Contents->LineLength(line_no));
  Contents->SetNewColour(line_colour);
  Contents->SetRedraw(redraw);
  try {
    Contents->SetSelTextBuf(line_text.c_str());
  } catch (const std::exception&) {
    ShowMessageBox("Out of memory updating window", "ZEMA Error", 16);
  }
  restoring = false;
}

void TAPLSessionWin::AddAtEnd(const std::string& text, std::int32_t colour) {
  const int end = Contents->GetTextLen();
  Contents->SetSelectionRange(end, end);
  Contents->SetNewColour(colour);
  try {
    Contents->SetSelTextBuf(text.c_str());
  } catch (const std::exception&) {
    ShowMessageBox("Out of memory updating window", "ZEMA Error", 16);
  }
}

void TAPLSessionWin::EnterLine() {
  const std::int32_t input = pref_number("session_user_input_color");
  int start = 0, end = 0;
  Contents->GetSelectionRange(start, end);
  const int caret_line = Contents->CharToLineNum(Contents->Caret());
  std::string line;
  if (start != end) {
    line.resize(static_cast<std::size_t>(end - start) + 1);
    line.resize(static_cast<std::size_t>(Contents->GetTextRange(start, end - start + 1, line.data())));
  } else {
    line = LineTextOf(caret_line);
  }
  // The line ends at its first line end: what is shown again is what is sent.
  const std::size_t stop = line.find_first_of("\r\n");
  if (stop != std::string::npos) line.resize(stop);
  if (input_line_limit != 0 && line.size() > input_line_limit) {
    Contents->MBeep(1);
    ShowMessageBox("The line is too long to enter (" + std::to_string(line.size()) + " characters; at most " +
                       std::to_string(input_line_limit) + ")",
                   "ZEMA Error", 16);
    return;
  }
  bool at_prompt = false;
  if (start != end) {
    RestoreLine();
    AddAtEnd(line, input);
  } else if (caret_line == Contents->CharToLineNum(Contents->GetTextLen())) {
    at_prompt = true;
  } else {
    RestoreLine();
    const int last = Contents->CharToLineNum(Contents->GetTextLen());
    if (LineTextOf(last) == kPrompt)
      Contents->DeleteText(Contents->LineToChar(last), 6, false);
    else
      AddAtEnd("\r", input);
    AddAtEnd(line, input);
  }
  const std::size_t first = line.find_first_not_of(" \t");
  if (first != std::string::npos) {
    try {
      recall[recall_next] = line.substr(first);
      recall_next = (recall_next + 1) % kRecallSize;
    } catch (const std::bad_alloc&) {
      recall[recall_next].clear();
    }
  }
  recall_index = -1;
  APLTask* t = Task();
  if (t && t->hardCopyMode > 0 && print_hard_copy) {
    std::size_t skip = 0;
    if (at_prompt)
      while (skip < 6 && skip < line.size() && line[skip] == ' ') ++skip;
    print_hard_copy(line.substr(skip) + "\r\n");
  }
  AddAtEnd("\r", input);
  const std::string internal = to_internal(line);
  if (submit_line && !submit_line(internal)) Contents->MBeep(1);
}

void TAPLSessionWin::RecallLastLine(bool back) {
  if (!OrdinaryInput()) return;
  int slot;
  if (recall_index == -1) {
    if (!back) return;
    slot = (recall_next + kRecallSize - 1) % kRecallSize;
  } else {
    slot = back ? (recall_index + kRecallSize - 1) % kRecallSize : (recall_index + 1) % kRecallSize;
  }
  if (recall[slot].empty()) return;
  recall_index = slot;
  RestoreLine();
  AddAtEnd(recall[slot], pref_number("session_user_input_color"));
  Contents->ShowCharPosition(Contents->GetTextLen());
}

void TAPLSessionWin::FakeInputLine(const char* line) {
  if (submit_line) submit_line(line ? std::string(line) : std::string());
  const int end = Contents->GetTextLen();
  Contents->SetSelectionRange(end, end);
  const int last = Contents->CharToLineNum(end);
  const std::string current = LineTextOf(last);
  if (current.empty()) return;
  if (current.find_first_not_of(' ') != std::string::npos) {
    APLTask* t = Task();
    if (t && t->hardCopyMode > 0 && print_hard_copy) print_hard_copy("\r\n");
    return;
  }
  Contents->DeleteText(Contents->LineToChar(last), static_cast<int>(current.size()), false);
  TakeLine(Contents->CharToLineNum(Contents->GetTextLen()));
}

void TAPLSessionWin::FakeSyscmd(const char* command, const char* path, const char* extension) {
  (void)extension;
  if (!path || !*path) return;
  const std::string cmd = command ? command : "";
  bool workspace = false;
  for (const char* c : {")LOAD ", ")SAVE ", ")SLOAD ", ")SSAVE "})
    if (cmd == to_internal(c)) workspace = true;
  if (file_selected) file_selected(path, workspace);
  const char quote = static_cast<char>(fontin('\''));
  std::string line = cmd;
  line.push_back(quote);
  for (const char* p = path; *p; ++p) {
    const char c = static_cast<char>(fontin(static_cast<unsigned char>(*p)));
    line.push_back(c);
    if (c == quote) line.push_back(quote);
  }
  line.push_back(quote);
  FakeInputLine(line.c_str());
}

}  // namespace zema
