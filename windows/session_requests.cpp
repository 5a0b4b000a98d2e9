// The session window's ⎕CC and cursor requests: the interpreter moves the
// caret, edits the text around it, changes the typing face and the output
// colour.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>

#include "components/rich_edit.h"
#include "platform/message_box.h"
#include "windows/session_window.h"

namespace zema {

namespace {

constexpr int kMaxColumn = 254;

// Output colours of codes 101…108 (0x00BBGGRR).
constexpr std::int32_t kQuadCCColours[] = {
    0x000000,  // black
    0xFFFFFF,  // white
    0x0000FF,  // red
    0x008000,  // green
    0xFF0000,  // blue
    0xFFFF00,  // cyan
    0x000080,  // dark red
    0x00FFFF,  // yellow
};

// Turns face bit `bit` of the typing style on or off; text already in the
// control keeps its face, and a selection is left alone.
void set_typing_face(MRichEdit* e, int bit, bool on) {
  const int face = e->StyleRow(e->TypingStyle()).face;
  e->SetTextStyle(e->Caret(), 0, on ? (face | bit) : (face & ~bit));
}

}  // namespace

void TAPLSessionWin::QuadCC(int code, bool hard_copy) {
  MRichEdit* e = Contents;
  const int p = e->Caret();
  const int l = e->CharToLineNum(p);
  const int c = p - e->LineToChar(l);
  try {
    switch (code) {
      case 1:
        e->Clear();
        if (hard_copy && print_hard_copy) print_hard_copy(std::string(1, '\f'));
        break;
      case 2:
        e->SetSelectionRange(0, 0);
        break;
      case 3: {
        const int start = e->LineToChar(l);
        e->SetSelectionRange(start, start);
        break;
      }
      case 4:
        // Line 0 has no line above: the caret stays on it (−1 would mean
        // the caret's own line, which is the same).
        CursorAdd(c, std::max(0, l - 1));
        break;
      case 5:
        CursorAdd(c, l + 1);
        break;
      case 6:
        CursorAdd(c - 1, l);
        break;
      case 7:
        CursorAdd(c + 1, l);
        break;
      case 10:
        e->DeleteText(p, e->LineLength(l) - c, false);
        e->SetSelectionRange(p, p);
        break;
      case 11:
        e->DeleteText(p, e->GetTextLen() - p, false);
        e->SetSelectionRange(p, p);
        break;
      case 16:
        e->DeleteLine(l);
        CursorAdd(c, l);
        break;
      case 17: {
        const int start = e->LineToChar(l);
        e->SetSelectionRange(start, start);
        e->SetSelTextBuf("\r");
        CursorAdd(c, l);
        break;
      }
      case 18:
        e->DeleteText(p, 1, false);
        e->SetSelectionRange(p, p);
        break;
      case 19:
        e->SetSelectionRange(p, p);
        e->SetSelTextBuf(" ");
        e->SetSelectionRange(p, p);
        break;
      case 29:
      case 30:
        set_typing_face(e, face_underline, code == 29);
        break;
      case 35:
        e->MBeep(1);
        break;
      case 36:
      case 37:
        set_typing_face(e, face_bold, code == 36);
        break;
      case 38:
      case 39:
        set_typing_face(e, face_italic, code == 38);
        break;
      default:
        if (code >= 101 && code <= 108) output_colour = kQuadCCColours[code - 101];
        break;
    }
  } catch (const std::exception&) {
    ShowMessageBox("Out of memory updating window", "ZEMA Error", 16);
  }
  // The text changed under the remembered line: it is taken again as it
  // now stands, so that restoring it later puts back no stale text.
  if (!restoring) TakeLine(e->CharToLineNum(e->Caret()));
}

void TAPLSessionWin::CursorAdd(int column, int line) {
  MRichEdit* e = Contents;
  column = std::clamp(column, 0, kMaxColumn);
  const int caret = e->Caret();
  e->SetSelectionRange(caret, caret);
  if (line == -1) line = e->CharToLineNum(caret);
  line = std::max(line, 0);
  try {
    // Lines 0 … last exist (the empty line after a final line end too).
    const int last = e->CharToLineNum(e->GetTextLen());
    if (last < line) {
      long long wanted = static_cast<long long>(line) - last;
      if (e->MaxLength() > 0) wanted = std::min<long long>(wanted, e->MaxLength() - e->GetTextLen());
      if (wanted > 0) {
        const std::string ends(static_cast<std::size_t>(wanted), kCR);
        e->SetSelectionRange(e->GetTextLen(), e->GetTextLen());
        e->SetSelTextBuf(ends.c_str());
      }
    }
    const int start = e->LineToChar(line);
    const int length = e->LineLength(line);
    if (length < column) {
      e->SetSelectionRange(start + length, start + length);
      const std::string blanks(static_cast<std::size_t>(column - length), ' ');
      e->SetSelTextBuf(blanks.c_str());
    }
    // Where the length limit stopped the padding, the caret stays on the
    // line, at its end.
    const int at = start + std::min(column, e->LineLength(line));
    e->SetSelectionRange(at, at);
  } catch (const std::exception&) {
    ShowMessageBox("Out of memory updating window", "ZEMA Error", 16);
  }
  if (!restoring) TakeLine(e->CharToLineNum(e->Caret()));
}

}  // namespace zema
