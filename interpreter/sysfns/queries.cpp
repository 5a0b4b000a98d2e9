// The niladic system functions of the interpreter's own state, the clock
// and the session (⎕LC ⎕TS ⎕AI ⎕UL ⎕ID ⎕WA ⎕TT ⎕LER ⎕CL ⎕ET ⎕WSSIZE
// ⎕SYMB), and the character and name constants (⎕AV ⎕A ⎕D ⎕TC …).
// Characters are internal codes.
#include <array>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/output/timestamp.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/sysfns/handlers.h"

namespace zema {

namespace {

void result_int(std::int32_t v, Ws ws) { push_result(new_int_scalar(v, ws), ws); }
void result_ints(const std::vector<std::int32_t>& v, Ws ws) {
  push_result(new_int_vector(v.data(), static_cast<std::uint32_t>(v.size()), ws), ws);
}
void result_char(std::uint8_t c, Ws ws) { push_result(new_char_scalar(c, ws), ws); }
void result_chars(std::string_view chars, Ws ws) { push_result(new_char_vector(chars, ws), ws); }
// `count` consecutive codes from `first`.
void result_run(std::uint8_t first, int count, Ws ws) {
  std::string s;
  for (int i = 0; i < count; ++i) s.push_back(static_cast<char>(first + i));
  result_chars(s, ws);
}
// Names as the rows of a blank-padded matrix of upper-case letters.
void result_names(const std::vector<const char*>& names, Ws ws) {
  std::size_t width = 0;
  for (const char* n : names) width = std::max(width, std::string_view(n).size());
  std::string rows;
  for (const char* n : names) {
    std::string row = utf8_to_internal(n);
    row.resize(width, ' ');
    rows += row;
  }
  push_result(new_char_matrix(static_cast<std::uint32_t>(names.size()), static_cast<std::uint32_t>(width), rows, ws),
              ws);
}

// State-indicator frames as ⎕LC reads them, relative to a frame's link
// word: the caller's running-function word, state word and line number.
constexpr std::uint32_t kFrameFunction = 40;
constexpr std::uint32_t kFrameState = 38;
constexpr std::uint32_t kFrameLine = 20;

}  // namespace

// ---- state and accounting ------------------------------------------------------------

void sflc(Ws ws) {
  std::vector<std::int32_t> lines;
  if (rd16(ws, hdr::RunningToken) != 0) {
    // The running level first, then each suspended or pendent level down
    // to the one called from immediate execution; ⎕ input levels are left out.
    if (!state_has(st::ValueAwaited, ws)) lines.push_back(rdi32(ws, hdr::FnLineNumber));
    for (std::uint32_t link = rd32(ws, hdr::SiLink); rd32(ws, link) != 0; link = rd32(ws, link)) {
      if (rd16(ws, link - kFrameFunction) == 0) break;
      if (!(rd16(ws, link - kFrameState) & st::ValueAwaited)) lines.push_back(rdi32(ws, link - kFrameLine));
    }
  }
  result_ints(lines, ws);
}

void sfts(Ws ws) {
  std::uint32_t date = 0;
  const std::uint32_t ms = sup_tds(&date, ws);
  const auto yy = static_cast<std::int32_t>(date % 100);
  const std::int32_t year = full_year(static_cast<std::uint32_t>(yy));
  result_ints({year, static_cast<std::int32_t>(date / 10000), static_cast<std::int32_t>(date / 100 % 100),
               static_cast<std::int32_t>(ms / 3600000), static_cast<std::int32_t>(ms / 60000 % 60),
               static_cast<std::int32_t>(ms / 1000 % 60), static_cast<std::int32_t>(ms % 1000)},
              ws);
}

void sfai(Ws ws) {
  std::int32_t ai[7];
  sup_qai(ai, ws);
  result_ints({ai, ai + 7}, ws);
}

void sful(Ws ws) { result_int(sup_ul(), ws); }
void sfid(Ws ws) { result_int(static_cast<std::int32_t>(sup_id(ws)), ws); }
void sftt(Ws ws) { result_int(static_cast<std::int32_t>(sup_tt(ws)), ws); }

void sfwa(Ws ws) {
  result_int(static_cast<std::int32_t>(rd32(ws, hdr::StackPointer) - rd32(ws, hdr::HeapTop) + rd32(ws, hdr::Garbage)),
             ws);
}

void sfler(Ws ws) { result_ints({rdi32(ws, hdr::ErrorNumber), rd16(ws, hdr::ErrorLine)}, ws); }
void sfcl(Ws ws) { result_int(rdi32(ws, hdr::FnLineNumber), ws); }
void sfet(Ws ws) { result_ints({rdi16(ws, hdr::EtMajor), rdi16(ws, hdr::EtMinor)}, ws); }

void sfwssize(Ws ws) { result_int(static_cast<std::int32_t>(lowglobals(ws).ws_size), ws); }

void sfsymb(Ws ws) {
  const std::uint32_t entries = rd16(ws, hdr::BucketEntries);
  std::int32_t used = 0;
  for (std::uint32_t i = 0; i < entries; ++i)
    if (rd8(ws, kBucketArea + kSymtabEntrySize * i + sym::Length) != 0) ++used;
  result_ints({used, static_cast<std::int32_t>(entries)}, ws);
}

// ---- constants ---------------------------------------------------------------------------

void sfav(Ws ws) {
  std::string all(256, '\0');
  for (int c = 0; c < 256; ++c) all[static_cast<std::size_t>(c)] = static_cast<char>(c);
  result_chars(all, ws);
}
void sfa(Ws ws) { result_run(0x61, 26, ws); }
void sfau(Ws ws) { result_run(0xE1, 26, ws); }
void sfd(Ws ws) { result_run(0x30, 10, ws); }
void sfb(Ws ws) { result_char(0x08, ws); }
void sfbu(Ws ws) { result_char(0x88, ws); }
void sfi(Ws ws) { result_char(0x00, ws); }
void sfiu(Ws ws) { result_char(0x80, ws); }
void sfl(Ws ws) { result_char(0x0A, ws); }
void sfr(Ws ws) { result_char(0x0D, ws); }
void sft(Ws ws) { result_char(0x89, ws); }
void sfn(Ws ws) { result_char(0x01, ws); }
void sfyu(Ws ws) { result_chars("\x05\x06", ws); }
void sf_c(Ws ws) {
  std::string s;
  for (int c = 0x80; c <= 0x9F; ++c) s.push_back(static_cast<char>(c));
  s.push_back(static_cast<char>(0xFF));
  result_chars(s, ws);
}
void sftc(Ws ws) { result_chars("\x08\x0D\x0A", ws); }
void sftcbel(Ws ws) { result_char(0x87, ws); }
void sftcbs(Ws ws) { result_char(0x08, ws); }
void sftcdel(Ws ws) { result_char(0xFF, ws); }
void sftcesc(Ws ws) { result_char(0x9B, ws); }
void sftcff(Ws ws) { result_char(0x8C, ws); }
void sftclf(Ws ws) { result_char(0x0A, ws); }
void sftcnl(Ws ws) { result_char(0x0D, ws); }
void sftcnul(Ws ws) { result_char(0x00, ws); }
void sftcht(Ws ws) { result_char(0x89, ws); }

void sfw(Ws ws) { result_names({"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"}, ws); }
void sfm(Ws ws) {
  result_names({"JANUARY", "FEBRUARY", "MARCH", "APRIL", "MAY", "JUNE", "JULY", "AUGUST", "SEPTEMBER", "OCTOBER",
                "NOVEMBER", "DECEMBER"},
               ws);
}

}  // namespace zema
