// The execution engine's state loop, its tables, and taking tokens from the
// current line.
#include "interpreter/engine/selective_assign.h"
#include "interpreter/engine/engine.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "host/charset.h"
#include "interpreter/engine/apply.h"
#include "interpreter/engine/assign.h"
#include "interpreter/engine/assignment_check.h"
#include "interpreter/engine/call.h"
#include "interpreter/engine/current_members.h"
#include "interpreter/engine/derived_operand.h"
#include "interpreter/engine/dot_notation.h"
#include "interpreter/engine/control.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/reader/entry_errors.h"
#include "interpreter/engine/error_path.h"
#include "interpreter/engine/fast_statement.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/engine/indexing.h"
#include "interpreter/engine/user_operator.h"
#include "interpreter/primitives/primitive_call.h"
#include "interpreter/engine/product_operator.h"
#include "interpreter/engine/reduce_operator.h"
#include "interpreter/engine/each_operator.h"
#include "interpreter/engine/operator_frame.h"
#include "interpreter/primitives/structural.h"
#include "interpreter/engine/statement_end.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/engine/sysvars.h"
#include "interpreter/reader/tokeniser.h"

namespace zema {

namespace {
[[noreturn]] int no_named_call(Ws ws) { noncer_1(ws); }
NamedCallRoutes named_calls{no_named_call, no_named_call, no_named_call};
}  // namespace

void set_named_call_routes(const NamedCallRoutes& routes) { named_calls = routes; }

namespace {
// Bit 0 of ⎕CS allows indexing a numeric literal.
constexpr std::uint32_t kCsIndexLiteral = 1;

std::array<std::uint8_t, 128> build_optran() {
  std::array<std::uint8_t, 128> t;
  t.fill(TC_INVALID);
  auto set = [&](const char* glyphs, std::uint8_t cls) {
    std::string codes = utf8_to_internal(glyphs);
    for (char c : codes) t[primitive_code(static_cast<std::uint8_t>(c)) & 0x7F] = cls;
  };
  set("⍐⍗⍇⍈⍱⍲⍒⍋⌽⍉⊖⍟⌶⍫⍎⍕!⌹<≤=>∨^≠÷,+×:¯⍺⊥∩⌊∊_⍳∘|⊤○*?⍴⌈~↓∪⍵⊃↑⊂⊢≥-⊣⍪$", TC_PRIMITIVE);
  for (std::uint8_t c : {0x67, 0x69, 0x6F}) t[c] = TC_PRIMITIVE;  // ≡ ⍷ ⌷
  set("←", TC_ASSIGN);
  set("→", TC_BRANCH);
  for (int c = 0x30; c <= 0x38; ++c) t[c] = TC_BRANCH;  // control keywords
  for (int c = 0x61; c <= 0x66; ++c) t[c] = TC_BRANCH;
  for (int c = 0x70; c <= 0x7B; ++c) t[c] = TC_BRANCH;
  set("]", TC_RBRACKET);
  set(")", TC_RPAREN);
  set(";", TC_SEMICOLON);
  set("⍀⌿/\\", TC_SLASH);
  set(".", TC_DOT);
  for (std::uint8_t c : {1, 2, 3, 4, 5, 8, 10}) t[c] = TC_CONSTANT;  // literal tags
  set("⍞⎕", TC_SPECIAL);
  t[0] = TC_EDGE;
  set("(", TC_LPAREN);
  set("[", TC_LBRACKET);
  set("¨", TC_EACH);
  return t;
}

}  // namespace

// Built once at start-up, outside the token loop (a function-local static
// would test its guard on every token).
const std::array<std::uint8_t, 128> optran_table = build_optran();

std::uint8_t optran(std::uint8_t code) { return optran_table[code & 0x7F]; }

// By symbol type: 0, 6 → niladic; 1, 2, 9 → named function; 3, 4, 15, 16 →
// value; 5, 7 → special variable; 8 → none; 10 → derived; 11, 12 → monadic
// operator; 13, 14 → dyadic operator; 17-19 → primitive.
const std::uint8_t stran[20] = {TC_NILADIC, TC_NAMEDFN, TC_NAMEDFN, TC_VALUE,   TC_VALUE,
                                TC_SPECIAL, TC_NILADIC, TC_SPECIAL, TC_INVALID, TC_NAMEDFN,
                                TC_DERIVED, TC_MONOP,   TC_MONOP,   TC_DYOP,    TC_DYOP,
                                TC_VALUE,   TC_VALUE,   TC_PRIMITIVE, TC_PRIMITIVE, TC_PRIMITIVE};

// ---- the grammar ------------------------------------------------------------
// The state loop compares the top two stack entries T (top) and S (below
// it) with the next token N to the left: T and S reduce, by the action
// syntab[T][S], when binding[T][S] is greater than binding[N][T]; else N is
// shifted. Both tables are written sparsely below, one row per left class,
// and laid out densely at compile time; a cell not written is 0 (binds to
// nothing) or Nonce (not built).
//
// Classes by number: 0 primitive function, 1 value, 2 ←, 3 →, 4 ], 5 ),
// 6 ;, 7 / \ ⌿ ⍀, 8 named function, 9 index list, 10 bound ., 11 ., 12
// literal, 13 niladic, 14 ⎕ ⍞, 15 line edge, 16 (, 17 [, 18 ¨, 19 monadic
// operator, 20 dyadic operator, 21 derived function, 22 left argument.

namespace {

struct GrammarRow {
  std::uint8_t left;
  std::string_view cells;
};

// Binding strengths: "R:strength" pairs. The dot and a defined dyadic
// operator bind whatever stands right of them at once: what is no operand
// there is a SYNTAX ERROR where it stands, before anything left of the
// operator (an assignment above all) is carried out.
constexpr GrammarRow kBindingRows[] = {
    {TC_PRIMITIVE, "1:2 7:6 9:9 10:6 12:2 13:2 14:2 18:6 19:6"},
    {TC_VALUE, "0:4 1:6 3:1 7:6 8:4 9:9 10:7 12:6 13:6 14:6 18:6 19:6 21:4"},
    {TC_ASSIGN, "1:2"},
    {TC_BRANCH, "1:2 7:6 9:9 10:6 12:2 13:2 14:2 18:6 19:6"},
    {TC_RBRACKET, "0:5 1:5 2:5 7:8 8:9 9:9 10:9 12:9 13:9 14:9 18:9 19:9 21:5"},
    {TC_RPAREN, "0:9 1:9 3:9 7:9 8:9 9:9 10:9 12:9 13:9 14:9 18:9 19:9 21:9"},
    {TC_SLASH, "9:9"},
    {TC_NAMEDFN, "1:2 7:6 9:9 10:6 12:2 13:2 14:2 18:6 19:6"},
    {TC_DOT, "0:8 1:8 2:8 3:8 4:8 5:8 6:8 7:8 8:8 9:9 10:8 11:8 13:8 14:8 18:8 19:8 20:8 21:8 23:8"},
    {TC_CONSTANT, "0:4 1:6 3:4 7:6 8:4 9:9 10:6 12:6 13:6 14:6 18:6 19:6 21:4"},
    {TC_NILADIC, "0:4 1:6 3:4 7:6 8:4 9:9 10:6 12:6 13:6 14:6 18:6 19:6 21:4"},
    {TC_SPECIAL, "0:4 1:6 3:4 7:6 8:4 9:9 10:6 12:6 13:6 14:6 18:6 19:6 21:4"},
    {TC_LBRACKET, "4:9"},
    {TC_EACH, "9:9"},
    {TC_MONOP, "9:9"},
    {TC_DYOP, "0:8 1:8 2:8 3:8 4:8 5:8 6:8 7:8 8:8 9:9 10:8 11:8 18:8 19:8 20:8 21:8"},
    {TC_DERIVED, "1:2 7:6 9:9 10:6 12:2 13:2 14:2 18:6 19:6"},
    {TC_LEFTARG, "0:8 8:8 9:9 21:8"},
};

// Reduce actions: "columns=action" groups, columns a list of classes and
// ranges a-b.
constexpr GrammarRow kActionRows[] = {
    {TC_PRIMITIVE, "1=Xmnop 2,5,6=SynterNoarray 3,4=SynterBadline 7=Xrdce 9=Xaxis 10=XprodRes 18=Xeach 19=Xumnop"},
    {TC_VALUE, "0,8,21=Xlarg 1=Xnest 3,11,18=SynterBadline 6=Syntlp 7=Xrdce 9=Xindex 10=DotNotation 19=Xumnop"},
    {TC_ASSIGN, "1=Xasgn 0,2-20,22,23=SynterBadline"},
    {TC_BRANCH, "1=Xbrnch 2-7,9-11,18=SynterBadline"},
    {TC_RBRACKET, "9=SynterBadline 0-8,10,11,18-22=Syntlp"},
    {TC_RPAREN, "0-11,18-22=Syntlp"},
    {TC_SEMICOLON, "1,4,5,6=Syntlp 2,3,7,9,10,11,18=SynterBadline"},
    {TC_SLASH, "1=Syntlp 2-7,11=SynterBadline 9=Xaxis 10=XprodRes 18=Xeach 19=Xumnop"},
    {TC_NAMEDFN,
     "1=Xmnfn 2=SynterClass 3=SynterBadline 4,5,6=Synter 7=Xrdce 9=Xaxis 10=XprodRes 18=Xeach 19=Xumnop"},
    {TC_DOT, "0,1,8,13,19,20,21,23=Xprod 2-7,9-11,14,18=SynterBadline"},
    {TC_SPECIAL, "9=Xindex"},
    {TC_LBRACKET, "4=XemptyIndex"},
    {TC_EACH, "2-7,9-11,18=SynterBadline"},
    {TC_MONOP, "2-7,9-11,18=SynterBadline"},
    {TC_DYOP, "0,1,8,21=Xudyop 2-7,9-11,18-20=SynterBadline"},
    {TC_DERIVED,
     "1=XmnDerfn 2,5,6=SynterNoarray 3,4=SynterBadline 7=Xrdce 9=Xaxis 10=XprodRes 18=Xeach 19=Xumnop"},
    {TC_LEFTARG, "0,7=Xdyop 2,5,6=SynterNoarray 3,4=SynterBadline 8=Xdyfn 10=SynterClass 18=Synter 21=XdyDerfn"},
    {TC_RESERVED, "10=DotNotation"},
};

constexpr struct {
  std::string_view name;
  LabelCode code;
} kActionNames[] = {
    {"Synter", lc::Synter},         {"SynterBadline", lc::SynterBadline}, {"SynterNoarray", lc::SynterNoarray},
    {"SynterClass", lc::SynterClass}, {"Syntlp", lc::Syntlp},             {"Xmnfn", lc::Xmnfn},
    {"Xdyfn", lc::Xdyfn},           {"XemptyIndex", lc::XemptyIndex},     {"Xaxis", lc::Xaxis},
    {"Xindex", lc::Xindex},         {"Xumnop", lc::Xumnop},               {"Xudyop", lc::Xudyop},
    {"Xeach", lc::Xeach},           {"Xprod", lc::Xprod},                 {"XprodRes", lc::XprodRes},
    {"Xrdce", lc::Xrdce},           {"Xlarg", lc::Xlarg},                 {"Xnest", lc::Xnest},
    {"XmnDerfn", lc::XmnDerfn},     {"XdyDerfn", lc::XdyDerfn},           {"Xasgn", lc::Xasgn},
    {"Xmnop", lc::Xmnop},           {"Xdyop", lc::Xdyop},                 {"Xbrnch", lc::Xbrnch},
    {"DotNotation", lc::DotNotation},
};

// A cursor over a row's text; a malformed row stops the compilation (a
// throw is not a constant expression).
struct RowReader {
  std::string_view text;
  std::size_t at = 0;
  constexpr bool done() {
    while (at < text.size() && text[at] == ' ') ++at;
    return at == text.size();
  }
  constexpr int number() {
    int v = 0;
    if (at == text.size() || text[at] < '0' || text[at] > '9') throw "grammar row: a number expected";
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') v = 10 * v + (text[at++] - '0');
    return v;
  }
  constexpr void expect(char c) {
    if (at == text.size() || text[at] != c) throw "grammar row: punctuation expected";
    ++at;
  }
  constexpr std::string_view word() {
    const std::size_t from = at;
    while (at < text.size() && text[at] != ' ') ++at;
    return text.substr(from, at - from);
  }
};

constexpr LabelCode action_named(std::string_view name) {
  for (const auto& a : kActionNames)
    if (a.name == name) return a.code;
  throw "grammar row: unknown action";
}

constexpr std::array<std::array<std::int8_t, 32>, 24> build_binding() {
  std::array<std::array<std::int8_t, 32>, 24> t{};
  for (const GrammarRow& row : kBindingRows) {
    RowReader in{row.cells};
    while (!in.done()) {
      const int right = in.number();
      in.expect(':');
      t[row.left][static_cast<std::size_t>(right)] = static_cast<std::int8_t>(in.number());
    }
  }
  return t;
}

constexpr std::array<std::array<LabelCode, 24>, 24> build_syntab() {
  std::array<std::array<LabelCode, 24>, 24> t{};
  for (auto& row : t)
    for (auto& cell : row) cell = lc::Nonce;
  for (const GrammarRow& row : kActionRows) {
    RowReader in{row.cells};
    while (!in.done()) {
      int columns[24] = {};
      int n = 0;
      for (;;) {
        const int from = in.number();
        int to = from;
        if (in.at < in.text.size() && in.text[in.at] == '-') {
          in.expect('-');
          to = in.number();
        }
        for (int c = from; c <= to; ++c) columns[n++] = c;
        if (in.at < in.text.size() && in.text[in.at] == ',') {
          in.expect(',');
          continue;
        }
        break;
      }
      in.expect('=');
      const LabelCode code = action_named(in.word());
      for (int k = 0; k < n; ++k) t[row.left][static_cast<std::size_t>(columns[k])] = code;
    }
  }
  return t;
}

}  // namespace

constexpr std::array<std::array<std::int8_t, 32>, 24> binding = build_binding();
constexpr std::array<std::array<LabelCode, 24>, 24> syntab = build_syntab();


// ---- the token register --------------------------------------------------------

StackEntry token_register(Ws ws) { return load_entry(hdr::TokenRegister, ws); }
void set_token_register(const StackEntry& e, Ws ws) { store_entry(hdr::TokenRegister, e, ws); }

// ---- taking tokens -----------------------------------------------------------------

void get_token(Ws ws) {
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);
  if (rd8(ws, hdr::TokenRegister) & kOwnsObject) noncer_1(ws);
  set_token_register(null_entry, ws);
  const std::uint32_t line = current_line(ws);
  std::uint32_t cursor = rd32(ws, hdr::LineCursor) - 1;
  const std::uint8_t b = rd8(ws, line + cursor);
  const std::uint8_t before = rd8(ws, line + cursor - 1);
  const std::uint32_t value = (std::uint32_t(before) << 8) | b;
  std::uint8_t cls;
  if (b & 1) {
    cls = optran(static_cast<std::uint8_t>(b >> 1));
  } else {
    --cursor;
    const std::uint32_t sym_entry = entry_of_token(value);
    std::uint8_t type = rd8(ws, sym_entry + sym::Type) & kSymTypeMask;
    if (type == SYM_OPERAND) {
      // An operator's operand name stands for the operand it holds.
      wr32(ws, hdr::LineCursor, cursor);
      set_token_register(operand_entry(sym_entry + sym::Value, ws), ws);
      return;
    }
    // Inside a method a member of the current object comes first (a
    // member name written after a dot belongs to that object instead).
    StackEntry member;
    if (rd32(ws, hdr::CurrentInstance) != 0 && rd8(ws, line + cursor - 1) != kDotTag &&
        current_member_entry(static_cast<std::uint16_t>(value), member, ws)) {
      wr32(ws, hdr::LineCursor, cursor);
      set_token_register(member, ws);
      return;
    }
    // The variable an indexed selective-assignment target indexes: its model.
    if (type == SYM_VAR && (rd8(ws, hdr::SelectBits) & selbits::Deferred) && fetch_selective_model(cursor, ws)) {
      wr32(ws, hdr::LineCursor, cursor);
      return;
    }
    cls = type < sizeof stran ? stran[type] : static_cast<std::uint8_t>(TC_INVALID);
    // A member name after a dot binds as the member is, not as the name is here.
    if (cursor > 0 && rd8(ws, line + cursor - 1) == kDotTag)
      cls = member_name_class(static_cast<std::uint16_t>(value), cls, line, cursor - 1, ws);
  }
  wr32(ws, hdr::LineCursor, cursor);
  if (cls & TC_INVALID) {
    set_token_register(null_entry, ws);
    synter_class(ws);
  }
  set_token_register(StackEntry{cls, 0, value}, ws);
}

int xconfx(Ws ws) {
  const std::uint32_t line = current_line(ws);
  std::uint32_t cursor = rd32(ws, hdr::LineCursor);  // at the tag
  const std::uint8_t tag = rd8(ws, line + cursor);
  if (tag == TT_ZILDE) {
    std::uint32_t off = getspc(8, ws);  // type, rank, one shape word
    wr8(ws, off + obj::Type, ET_INT);
    wr16(ws, off + obj::Rank4, 4);
    wr32(ws, off + obj::Shape, 0);
    set_token_register(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, off}, ws);
    return tag;
  }
  std::uint32_t at = line + cursor;
  std::uint32_t count = get_count(ws, at);
  if (tag == TT_COMMENT) {
    wr32(ws, hdr::LineCursor, at - count - line);
    get_token(ws);
    return TT_COMMENT;
  }
  std::uint8_t type;
  std::uint32_t bytes;
  switch (tag) {
    case TT_BOOL: type = ET_BOOL; bytes = ((count - 1) / 32 + 1) * 4; break;
    case TT_INT: type = ET_INT; bytes = 4 * count; break;
    case TT_FLOAT: type = ET_FLOAT; bytes = 8 * count; break;
    case TT_CHARS:
    case TT_DQ_CHARS: type = ET_CHAR; bytes = count; break;
    default: ZEMA_SYSTEM_ERROR(ws);
  }
  if (count == 0) bytes = 0;
  const std::uint32_t data_start = at - bytes - line;
  wr32(ws, hdr::LineCursor, data_start);
  const bool scalar = count == 1;
  const std::uint32_t rank4 = scalar ? 0 : 4;
  std::uint32_t off = getspc(4 + rank4 + bytes, ws);
  wr8(ws, off + obj::Type, type);
  wr8(ws, off + obj::Flags9, 0);  // not the old heap bytes: readers test it
  wr16(ws, off + obj::Rank4, rank4);
  if (!scalar) wr32(ws, off + obj::Shape, count);
  if (type != ET_CHAR) wr8(ws, off + obj::Kind, rd8(ws, off + obj::Kind) | kStrandMark);
  // The line may have moved if getspc compacted: read it again.
  const std::uint32_t src = current_line(ws) + data_start;
  const std::uint32_t dst = off + obj::Shape + rank4;
  if (type == ET_CHAR) {
    std::memcpy(ws + dst, ws + src, bytes);
  } else {
    // Elements are stored in the line most significant byte first.
    if (type == ET_FLOAT) {
      for (std::uint32_t i = 0; i < bytes; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, ws + src + i, 8);
        v = __builtin_bswap64(v);
        std::memcpy(ws + dst + i, &v, 8);
      }
    } else {
      for (std::uint32_t i = 0; i < bytes; i += 4) {
        std::uint32_t v;
        std::memcpy(&v, ws + src + i, 4);
        v = __builtin_bswap32(v);
        std::memcpy(ws + dst + i, &v, 4);
      }
    }
  }
  set_token_register(StackEntry{static_cast<std::uint8_t>(kOwnsObject | TC_VALUE), 0, off}, ws);
  return tag;
}

// ---- lines and statements ------------------------------------------------------

void linsu(std::uint32_t line, Ws ws) {
  wr32(ws, hdr::CurrentLine, line);
  set_owner(line, hdr::CurrentLine, OK_WORD, ws);
  linsusm(line, ws);
}

void linsusm(std::uint32_t line, Ws ws) {
  wr32(ws, hdr::TokensTaken, 0);
  const std::uint32_t s = line + tl::Body;
  wr8(ws, hdr::FirstTag, rd8(ws, s + get_statement_head(ws, s)));
  wr32(ws, hdr::LineCursor, get_statement_length(ws, s) + tl::Body);
  set_state(st::StatementStarted, 0, ws);
  stack(primer, ws);
}

int do_syntlp(Ws) { return ES_NEXT_TOKEN; }

int do_xlarg(Ws ws) {
  const std::uint32_t top = stack_entry_at(0, ws);
  wr8(ws, top, (rd8(ws, top) & kOwnsObject) | TC_LEFTARG);
  return ES_BIND;
}

void popst(Ws ws) {
  if (rd8(ws, hdr::TokenRegister) & kOwnsObject) noncer_1(ws);
  StackEntry e;
  unstack(e, ws);
  set_token_register(e, ws);
  if ((e.cls & kOwnsObject) && e.value != 0) {
    wr32(ws, e.value - 4, hdr::TokenRegister);
    wr8(ws, e.value, OK_STACK);  // written whole: the strand mark goes
  }
}

namespace {

// Runs the reduce action that syntab names.
int dispatch(LabelCode code, Ws ws) {
  switch (code) {
    case lc::Syntlp: return do_syntlp(ws);
    case lc::Xlarg: return do_xlarg(ws);
    case lc::Xnest: return do_xnest(ws);
    case lc::XemptyIndex: return do_xempty_index(ws);
    case lc::Xasgn: return do_xasgn(ws);
    case lc::Xmnop: return do_xmnop(ws);
    case lc::Xdyop: return xdyop_common(0, stack_entry_at(1, ws), ws, true);
    case lc::Synter: synter(ws);
    case lc::SynterBadline: synter_badline(ws);
    case lc::SynterNoarray: synter_noarray(ws);
    case lc::SynterClass: synter_class(ws);
    case lc::Valence: valence_error(ws);
    case lc::Xmnfn: return named_calls.monadic(ws);
    case lc::Xdyfn: return named_calls.dyadic(ws);
    case lc::Xaxis: return do_xaxis(ws);
    case lc::Xindex:
      settle_indexed_target_readers(ws);
      return do_xindex(ws);
    case lc::XmnDerfn: return do_xmn_derfn(ws);
    case lc::XdyDerfn: return do_xdy_derfn(ws);
    case lc::Xrdce: return do_xrdce(ws);
    case lc::Xeach: return do_xeach(ws);
    case lc::Xprod: return do_xprod(ws);
    case lc::XprodRes: return do_xprod_res(ws);
    case lc::Xumnop: return do_xumnop(ws);
    case lc::Xudyop: return do_xudyop(ws);
    case lc::Xbrnch: return do_xbrnch(ws);
    case lc::DotNotation: return do_dot_notation(ws);
    // Actions not built: NONCE ERROR.
    case lc::Nonce: noncer_1(ws);
    default: ZEMA_SYSTEM_ERROR(ws);
  }
}

// State 9: compare bindings and reduce, shift or close brackets.
int bind_step(Ws ws) {
  const std::uint8_t t = entry_class(0, ws);
  const std::uint8_t s = entry_class(1, ws);
  const std::uint8_t n = register_class(ws);
  if (n == TC_DOT) return ES_NEXT_TOKEN;
  if (t == s) {
    if (n == TC_DYOP) return ES_NEXT_TOKEN;  // a dyadic operator to the left takes the top entry as its operand
    if (s == TC_VALUE) return do_xnest(ws);
  }
  // Entries below a statement's primer (frames, operator-frame entries of
  // class 0x20) bind to nothing.
  const int bts = (t < 24 && s < 24) ? binding[t][s] : 0;
  const int bnt = (n < 24 && t < 24) ? binding[n][t] : 0;
  if ((n == TC_BRANCH && t == TC_PRIMITIVE) || (n == TC_RPAREN && t == TC_BRANCH))
    if (const int state = sc_in_early(ws); state >= 0) return state;  // :For … :In
  if (bts > bnt) return dispatch(syntab[t][s], ws);
  if (bts < bnt || bts != 0) return ES_NEXT_TOKEN;
  if (n == TC_LBRACKET) return do_xbuild_index(ws);
  if (n == TC_LPAREN) {
    if (s != TC_RPAREN) return do_xbuild_nest(ws);
    if (is_selective_paren(stack_entry_at(1, ws), ws)) return sel_asgn_return(ws);
    if (is_primer(1, ws)) synter_badline(ws);
    if ((rd8(ws, stack_entry_at(2, ws)) & 0x7F) != kOperatorFrame) {
      // (A): the value stands in the token register in place of the "(".
      popst(ws);
      StackEntry paren;
      unstack(paren, ws);
      return ES_BIND;
    }
    synter_badline(ws);  // an operator frame below the value: SYNTAX ERROR
  }
  if (t == TC_ASSIGN) return s < 24 ? dispatch(syntab[TC_ASSIGN][s], ws) : (synter_badline(ws), ES_BIND);
  if (n == TC_EDGE) return ES_STATEMENT_RESULT;
  if (t == TC_EDGE) synter_badline(ws);
  return ES_NEXT_TOKEN;
}

// State 10: shift the token register and take the next token.
int next_token(Ws ws) {
  check_attention(ws);
  wr8(ws, hdr::ResultBits, rd8(ws, hdr::ResultBits) & ~0x01);
  const std::uint8_t n = register_class(ws);
  const std::uint8_t t = entry_class(0, ws);
  switch (n) {
    case TC_CONSTANT: {
      if (t == TC_ASSIGN) synter_badline(ws);
      const std::uint8_t tag = rd8(ws, current_line(ws) + rd32(ws, hdr::LineCursor));
      if (t == TC_INDEXLIST && !(rd32(ws, sysvar_value_word(sysvar::CS)) & kCsIndexLiteral) && tag != TT_CHARS) {
        wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) - 1);
        error(E_RANK, 5, 2, ws);
      }
      xconfx(ws);
      return ES_AFTER_LINE;
    }
    case TC_NILADIC: {
      // After a dot the name is a member's: it is pushed like any token.
      const std::uint32_t line = current_line(ws);
      if (rd8(ws, line + rd32(ws, hdr::LineCursor) - 1) == kDotTag) break;
      if (t == TC_ASSIGN) return do_xasgn(ws);
      wr32(ws, hdr::CallingInstance, rd32(ws, hdr::CurrentInstance));
      return named_calls.niladic(ws);
    }
    case TC_ASSIGN:
      // Nothing is assigned in a statement already sure to fail.
      refuse_doomed_assignment(ws);
      break;
    case TC_SPECIAL: {
      // Assigned right of a dot it is pushed like a member name, and the
      // dot binds it and refuses it: the assignment leaves a target after a
      // dot to the dot, so handing it this token would bring it back here
      // for ever.
      if (t == TC_ASSIGN) {
        const std::uint32_t cursor = rd32(ws, hdr::LineCursor);
        if (cursor > 0 && rd8(ws, current_line(ws) + cursor - 1) == kDotTag) break;
        return do_xasgn(ws);
      }
      if (t != TC_INDEXLIST || entry_class(1, ws) != TC_ASSIGN) return xsvref(ws);
      // Indexed assignment into ⎕LX or ⎕FC.
      prepare_indexed_special(rd16(ws, hdr::TokenRegister + se::Value), ws);
      break;
    }
    default: break;
  }
  xpushx(ws);
  get_token(ws);
  return ES_BIND;
}

// State 19: an empty statement ends here.
int after_line(Ws ws) {
  if (register_class(ws) != TC_EDGE) return ES_NEXT_TOKEN;
  if (!is_primer(0, ws)) synter_badline(ws);
  clrstk(ws);
  return ES_NEXT_STATEMENT;
}

}  // namespace

int eolfnx(Ws ws) {
  const std::uint32_t n = rd32(ws, hdr::FnLineNumber) + 1;
  wr32(ws, hdr::FnLineNumber, n);
  const std::uint32_t found = static_cast<std::int32_t>(n) > 0 ? xffndl(n, ws) : 0;
  if (found) {
    // The line runs as a copy, so that the function's own lines are never
    // consumed; the copy holds no symbol uses.
    const std::uint32_t size = rd32(ws, found + obj::Size);
    const std::uint32_t top = rd32(ws, hdr::HeapTop);
    const std::uint32_t copy = getspc(size - 8, ws);
    wr32(ws, hdr::KillSlot, copy);
    set_owner(copy, hdr::KillSlot, OK_WORD, ws);
    std::memset(ws + hdr::TokenRegister, 0, 6);
    // A copy placed at the old heap top means nothing was compacted, so
    // the line is where it was; else look it up again.
    const std::uint32_t line = copy == top ? found : xffndl(n, ws);
    if (line == 0) ZEMA_SYSTEM_ERROR(ws);
    wr16(ws, copy + tl::CsDepth, rd16(ws, line + tl::CsDepth));
    wr8(ws, copy + tl::Marks, rd8(ws, line + tl::Marks) & 0x1A);
    std::memcpy(ws + copy + 8, ws + line + 8, size - 8);
    std::uint8_t& out = ws[hdr::OutputBits];
    if (out & 0x10) {
      out &= ~0x10;
    } else {
      const bool stop = rd8(ws, line + tl::Marks) & 0x08;
      const bool step = (rd8(ws, hdr::StepRequest) & 1) && !stop;
      if ((stop || step) && !state_has(st::PassErrors, ws)) {
        const int answer = sup_break(rd32(ws, hdr::RunningSymbol), static_cast<int>(n), stop ? 0 : 1, 0, ws);
        if (answer != 2) {
          // The stop report, unless the host has shown the stop itself.
          if (answer == 0) {
            fnsub(ws);
            crlm(0, ws);
          }
          set_state(st::NotFunctionLine, 0, ws);
          wr8(ws, hdr::StepRequest, 0);
          return ES_STATEMENT_END;
        }
      }
    }
    if (rd8(ws, line + tl::Marks) & 0x10) out |= 0x08;
    return ES_LINE_START;
  }
  // The function ends.
  ws[hdr::OutputBits] &= ~0x10;
  const int code = xfnclr(ws);
  if (!state_has(st::NotFunctionLine, ws) && static_cast<std::int32_t>(rd32(ws, hdr::FnLineNumber)) < 0)
    noncer_1(ws);  // leaving by a branch: NONCE ERROR
  if (code == 0 || code == 3) {
    popst(ws);
    return ES_NEXT_TOKEN;
  }
  wr32(ws, hdr::TokensTaken, rd32(ws, hdr::TokensTaken) + 1);
  // A function called as an operator's operand: the operator goes on.
  if (entry_class(1, ws) == kClassOperatorFrame) return x_do_next_opr(ws);
  return ES_BIND;
}

int syntax(int state, Ws ws) {
  for (;;) {
    switch (state) {
      case ES_APPLY_DYADIC:
        check_attention(ws);
        if (entry_class(1, ws) == TC_PRIMITIVE) {
          state = xdyop_common(0, stack_entry_at(1, ws), ws, true);
        } else if (entry_class(1, ws) == TC_NAMEDFN) {
          wr32(ws, hdr::CallingInstance, rd32(ws, hdr::CurrentInstance));
          state = named_calls.dyadic(ws);
        } else if (entry_class(1, ws) == TC_DERIVED) {
          state = do_xdy_derfn(ws);
        } else {
          // Only these three classes are ever applied: the grammar applies
          // primitive, named and derived functions, and operators push their
          // operands as the same (an array operand is never called).
          ZEMA_SYSTEM_ERROR(ws);
        }
        break;
      case ES_APPLY_MONADIC:
        check_attention(ws);
        if (entry_class(0, ws) == TC_PRIMITIVE) {
          state = do_xmnop(ws);
        } else if (entry_class(0, ws) == TC_NAMEDFN) {
          wr32(ws, hdr::CallingInstance, rd32(ws, hdr::CurrentInstance));
          state = named_calls.monadic(ws);
        } else if (entry_class(0, ws) == TC_DERIVED) {
          state = do_xmn_derfn(ws);
        } else {
          // Only these three classes are ever applied: the grammar applies
          // primitive, named and derived functions, and operators push their
          // operands as the same (an array operand is never called).
          ZEMA_SYSTEM_ERROR(ws);
        }
        break;
      case ES_FINISH_APPLICATION: state = do_xmnopd(ws); break;
      case ES_APPLY_PRIMITIVE_DYADIC: state = xdyop_common(0, stack_entry_at(1, ws), ws, true); break;
      case ES_BIND: state = bind_step(ws); break;
      case ES_NEXT_TOKEN: state = next_token(ws); break;
      case ES_FUNCTION_LINE_END: state = eolfnx(ws); break;
      case ES_LINE_START: {
        wr8(ws, hdr::FirstTag, 0);
        set_state(st::Executing, 0, ws);
        const std::uint32_t line = rd32(ws, hdr::KillSlot);
        wr32(ws, hdr::KillSlot, 0);
        linsu(line, ws);
        if (!state_has(st::NotFunctionLine, ws)) poll_line_start(ws);
        state = ES_STATEMENT_START;
        break;
      }
      case ES_STATEMENT_START:
        if (sc_maybe_redundant(rd8(ws, hdr::FirstTag)))
          if (const int next = sc_redundant_clause(ws); next >= 0) {
            state = next;
            break;
          }
        if (const int next = fast_scalar_statement(ws); next >= 0) {
          state = next;
          break;
        }
        wr8(ws, hdr::FirstTag, 0);
        wr16(ws, hdr::AttnCountdown, 1024);
        wr16(ws, hdr::AttnReload, 1024);
        get_token(ws);
        state = ES_AFTER_LINE;
        break;
      case ES_STATEMENT_END: state = eol(ws); break;
      case ES_NEXT_STATEMENT: {
        std::uint32_t next = 0;
        if (!eolck(&next, ws)) {
          state = ES_STATEMENT_END;
          break;
        }
        wr32(ws, hdr::LineCursor, next);
        wr32(ws, hdr::TokensTaken, 0);
        set_state(st::StatementStarted, 0, ws);
        wr32(ws, hdr::StackPointer, rd32(ws, hdr::StackPointer) - kStackEntrySize);
        state = ES_STATEMENT_START;
        break;
      }
      case ES_STATEMENT_RESULT: state = xrsltp(ws); break;
      case ES_LEAVE:
        set_state(0, st::Executing, ws);
        return crlm(0, ws);
      case ES_AFTER_LINE: state = after_line(ws); break;
      default: ZEMA_SYSTEM_ERROR(ws);
    }
  }
}

}  // namespace zema
