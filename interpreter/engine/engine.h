// The execution engine: a loop over a state number that reads each
// statement of a token line from right to left and reduces pairs of stack
// entries by a table of binding strengths. Handlers return the next state,
// so work that waits (a defined function, an operand, the next line) is
// resumed from the execution stack alone.
#pragma once

#include <array>
#include <cstdint>

#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/workspace.h"

namespace zema {

// Token classes (TokenClass) are in stack.h, engine states (EngineState)
// in errors.h.

// LabelCodes of the reduce actions (module x 256 + entry).
using LabelCode = std::uint32_t;
namespace lc {
constexpr LabelCode NoRoutine = 0x0300;
constexpr LabelCode Nonce = 0x1200;
constexpr LabelCode Synter = 0x1202;
constexpr LabelCode SynterBadline = 0x1203;
constexpr LabelCode Valence = 0x1204;
constexpr LabelCode SynterNoarray = 0x1206;
constexpr LabelCode SynterClass = 0x1207;
constexpr LabelCode Xmnfn = 0x0D06;
constexpr LabelCode Xdyfn = 0x0D07;
constexpr LabelCode XemptyIndex = 0x0E01;
constexpr LabelCode Xaxis = 0x0E02;
constexpr LabelCode Xindex = 0x0E03;
constexpr LabelCode Xumnop = 0x0F0D;
constexpr LabelCode Xudyop = 0x0F0E;
constexpr LabelCode Xeach = 0x0F0F;
constexpr LabelCode Xprod = 0x0F10;
constexpr LabelCode XprodRes = 0x0F11;
constexpr LabelCode Xrdce = 0x0F12;
constexpr LabelCode Xlarg = 0x1229;
constexpr LabelCode Xnest = 0x122A;
constexpr LabelCode XmnDerfn = 0x122B;
constexpr LabelCode XdyDerfn = 0x122C;
constexpr LabelCode Xasgn = 0x122D;
constexpr LabelCode Syntlp = 0x122E;
constexpr LabelCode Xmnop = 0x122F;
constexpr LabelCode Xdyop = 0x1230;
constexpr LabelCode Xbrnch = 0x123B;
constexpr LabelCode DotNotation = 0x123C;
}  // namespace lc

// The grammar's tables. stran: the class of a name by its symbol type.
// binding[L][R]: how strongly class L binds to class R on its right (0:
// not at all); syntab[L][R]: the reduce action for L above R on the stack.
extern const std::uint8_t stran[20];
extern const std::array<std::array<std::int8_t, 32>, 24> binding;
extern const std::array<std::array<LabelCode, 24>, 24> syntab;
// Class of the one-byte token for internal character code c (0-127).
std::uint8_t optran(std::uint8_t code);

// Runs the engine from `state` until it leaves (state 18); answers what the
// statement-end routine answers on leaving.
int syntax(int state, Ws ws);

// Takes the token to the left of the line cursor into the token register.
void get_token(Ws ws);
// Builds the literal whose tag the line cursor points at in the token
// register (a comment is skipped and the next token taken); answers the tag.
int xconfx(Ws ws);
// Makes the token line at `line` current (hdr::CurrentLine owns it) and
// starts its first statement.
void linsu(std::uint32_t line, Ws ws);
// Starts the token line at `line` without taking ownership: the line
// cursor at its end, the first tag noted, st::StatementStarted set and the
// primer pushed.
void linsusm(std::uint32_t line, Ws ws);
// State 12: the end of a line of a defined function: the next line, or the
// function's end.
int eolfnx(Ws ws);

// Calling a name in function position (a defined or a system function):
// niladic, monadic and dyadic, each answering the next state. The
// system-function layer installs them at start-up; until then each is
// NONCE ERROR.
struct NamedCallRoutes {
  int (*niladic)(Ws ws);
  int (*monadic)(Ws ws);
  int (*dyadic)(Ws ws);
};
void set_named_call_routes(const NamedCallRoutes& routes);

// Reduce actions; each answers the next state.
int do_syntlp(Ws ws);  // shift: the next token (state 10)
int do_xlarg(Ws ws);   // the top value becomes a left argument (class 22); state 9
int do_xnest(Ws ws);   // the top two values joined as a strand; state 9
// Pops the top entry into the token register.
void popst(Ws ws);

// The token register as a stack entry (set_token_register writes it), and
// its class.
StackEntry token_register(Ws ws);
void set_token_register(const StackEntry& e, Ws ws);
inline std::uint8_t register_class(Ws ws) { return rd8(ws, hdr::TokenRegister) & 0x7F; }
// Class of entry k from the top, without the ownership bit.
inline std::uint8_t entry_class(std::uint32_t k, Ws ws) { return rd8(ws, stack_entry_at(k, ws)) & 0x7F; }


// The current token line (0 when none) and the byte at a line offset.
inline std::uint32_t current_line(Ws ws) { return rd32(ws, hdr::CurrentLine); }

}  // namespace zema
