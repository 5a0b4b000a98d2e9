// ⎕WI, ⎕WE, ⎕EV and the event functions ⎕WSELF, ⎕WARG (⎕EVA), ⎕EVN and
// ⎕EVT: requests about ⎕WI objects and their events, sent to the task's
// ⎕WI system over the services channel (host/services_channel.h). Replies
// are written by the host in the free space above the heap top and adopted
// as the result.
//
// ⎕WE waits on the execution stack: above its call's entries it keeps one
// value entry, its frame, holding the time-out word (−1 without limit,
// −2 waiting on a window, else milliseconds). A callback expression
// arrives as a character vector, pushed above the frame and run at an
// evaluation level of its own (start_window_callback); when it ends the
// engine comes back through sfwe_return, which drops the text and waits
// again. ⎕WE's result replaces the frame.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/services.h"
#include "host/services_channel.h"
#include "interpreter/engine/evaluation.h"
#include "interpreter/primitives/args.h"
#include "interpreter/primitives/nested_results.h"
#include "interpreter/sysfns/class_functions.h"
#include "interpreter/sysfns/handlers.h"
#include "interpreter/sysfns/host_results.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/support.h"
#include "interpreter/workspace/symtab.h"

namespace zema {

namespace {

// Free bytes a reply needs at least.
constexpr std::uint32_t kReplyRoom = 100;
// Kept free above a value built in the free space (as host_result_area keeps).
constexpr std::int64_t kBuildMargin = 128;
// The callback flag's values.
constexpr int kWaiting = -1;
constexpr int kInCallback = 1;
// The event source of a ⎕WI event.
constexpr std::uint32_t kSourceWi = 1;
// The frame's time-out word: no limit, and waiting on a window.
constexpr std::int32_t kNoLimit = -1;
constexpr std::int32_t kWindowMode = -2;
// Subcodes of the events component.
constexpr int kAllEvents = 3;
constexpr int kNextEvent = 7;
constexpr int kCurrentEvent = 8;
constexpr int kEventArgument = 9;
constexpr int kEventName = 10;
// Codes of the properties component.
constexpr int kObjectName = 1;
constexpr int kPropertyName = 2;
constexpr int kValue = 3;
constexpr int kSelfName = 4;
constexpr int kWindowVisible = 5;

ServerSideTaskVars& host_vars() { return *get_server_side_task_vars(); }

// Whether an event of the ⎕WI system is being handled by a callback.
bool in_wi_callback() { return host_vars().qwi_callback_flag == kInCallback && host_vars().event_source == kSourceWi; }

std::int64_t free_bytes(Ws ws) {
  return std::int64_t(rd32(ws, hdr::StackPointer)) - rd32(ws, hdr::HeapTop) - kBuildMargin;
}

// The reply area: compacts when no more than `compact_at` bytes are free,
// then wants `least` (WS FULL).
std::uint8_t* reply_area(std::uint32_t compact_at, std::uint32_t least, std::int32_t* room, Ws ws) {
  if (free_bytes(ws) <= compact_at) force_gcol(ws);
  return host_result_area(least, room, ws);
}

// The word that holds the array a value entry stands for.
std::uint32_t value_slot(std::uint32_t entry, Ws ws) {
  if (rd8(ws, entry + se::Class) & kOwnsObject) return entry + se::Value;
  return entry_of_token(rd16(ws, entry + se::Value)) + sym::Value;
}

// Item i of the nested array at `a`.
std::uint32_t item_at(std::uint32_t a, std::uint32_t i, Ws ws) { return a + rd32(ws, array_data(a, ws) + 4 * i); }

// The characters of a simple character array (internal codes), or empty.
std::string chars_of(std::uint32_t a, Ws ws) {
  if (array_type(a, ws) != ET_CHAR) return {};
  return std::string(reinterpret_cast<const char*>(ws + array_data(a, ws)), array_count(a, ws));
}

// `text` equals `word` (small ASCII letters) with case ignored.
bool is_word(const std::string& text, const char* word) {
  if (text.size() != std::strlen(word)) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint16_t u = convert_to_unicode(static_cast<std::uint8_t>(text[i]));
    if (u >= 'A' && u <= 'Z') u = static_cast<std::uint16_t>(u - 'A' + 'a');
    if (u != static_cast<std::uint8_t>(word[i])) return false;
  }
  return true;
}

}  // namespace

// ---- results and failures ------------------------------------------------------------

[[noreturn]] void sfwi_error(int code, Ws ws) {
  switch (code) {
    case E_WS_FULL: ws_full(ws);
    case 12: domner(ws);
    case 16: ranker(ws);
    case 20: lener(ws);
    default: error(code, 0, 1, ws);
  }
}

// Adopts the reply written at the heap top as the result; a nested reply
// whose items are all simple scalars becomes a simple array of their kind.
void sfwi_fixup(std::int32_t room, Ws ws, bool quiet) {
  adopt_host_result(room, ws, quiet);
  const std::uint32_t z = rd32(ws, stack_entry_at(0, ws) + se::Value);
  if (array_type(z, ws) != ET_NESTED) return;
  const std::uint8_t type = check_simple(z, ws);
  if (type == ET_NESTED) return;
  const std::uint32_t shape_at = oprslt(array_count(z, ws), 4 * array_rank(z, ws), type, 0, ws);
  write_simple_image(rd32(ws, stack_entry_at(1, ws) + se::Value), type, shape_at - 4, ws);
  StackEntry simple;
  unstack(simple, ws);
  if (quiet) simple.flags |= kSeNoDisplay;
  settle_entry(stack_entry_at(0, ws), simple, ws);  // the nested one goes
}

namespace {

// Reads `code` of `component` into the free space and adopts the reply;
// a failure is raised as sfwi_error raises it.
void read_reply(int component, int code, int count, Ws ws) {
  std::int32_t room = 0;
  void* area = host_result_area(kReplyRoom, &room, ws);
  if (const int e = services_read(component, code, count, area, room)) sfwi_error(e, ws);
  sfwi_fixup(room, ws);
}

// ---- the value of a ⎕WI request with several items ----
//
// An item of the value: an item of the argument copied whole (`whole`, its
// offset from the argument's start in `at`), or a nested vector of such
// items (their offsets in `parts`).
struct ValueItem {
  bool whole = true;
  std::uint32_t at = 0;
  std::vector<std::uint32_t> parts;
};

std::uint64_t item_size(const ValueItem& p, std::uint32_t a, Ws ws) {
  if (p.whole) return rd32(ws, a + p.at + obj::Size);
  std::uint64_t n = 16 + 4ull * p.parts.size();
  for (std::uint32_t part : p.parts) n += rd32(ws, a + part + obj::Size);
  return n;
}

// Writes the nested vector of `items` at `dest` (each a copy with its owner
// word 0); answers its size.
std::uint32_t write_vector(const std::vector<ValueItem>& items, std::uint32_t a, std::uint32_t dest, Ws ws);

std::uint32_t write_item(const ValueItem& p, std::uint32_t a, std::uint32_t dest, Ws ws) {
  if (!p.whole) {
    std::vector<ValueItem> items;
    for (std::uint32_t part : p.parts) items.push_back(ValueItem{true, part, {}});
    return write_vector(items, a, dest, ws);
  }
  const std::uint32_t size = rd32(ws, a + p.at + obj::Size);
  std::memmove(ws + dest, ws + a + p.at, size);
  wr32(ws, dest, 0);
  return size;
}

std::uint32_t write_vector(const std::vector<ValueItem>& items, std::uint32_t a, std::uint32_t dest, Ws ws) {
  const std::uint32_t n = static_cast<std::uint32_t>(items.size());
  wr32(ws, dest, 0);
  wr8(ws, dest + obj::Type, ET_NESTED);
  wr8(ws, dest + obj::Flags9, 0);
  wr16(ws, dest + obj::Rank4, 4);
  wr32(ws, dest + obj::Shape, n);
  std::uint32_t at = dest + 16 + 4 * n;
  for (std::uint32_t i = 0; i < n; ++i) {
    wr32(ws, dest + 16 + 4 * i, at - dest);
    at += write_item(items[i], a, at, ws);
  }
  wr32(ws, dest + obj::Size, at - dest);
  return at - dest;
}

// Item `i` of the argument as a property pair: its first item, then its
// value (its second item when it has two, else the vector of the rest).
// DOMAIN ERROR unless it is a nested vector of at least two items.
void add_pair(std::uint32_t a, std::uint32_t i, std::vector<ValueItem>& out, Ws ws) {
  const std::uint32_t at = rd32(ws, array_data(a, ws) + 4 * i);
  const std::uint32_t pair = a + at;
  if (array_type(pair, ws) != ET_NESTED || array_rank(pair, ws) != 1 || array_count(pair, ws) < 2) domner(ws);
  const std::uint32_t m = array_count(pair, ws);
  auto sub = [&](std::uint32_t k) { return at + rd32(ws, array_data(pair, ws) + 4 * k); };
  out.push_back(ValueItem{true, sub(0), {}});
  if (m == 2) {
    out.push_back(ValueItem{true, sub(1), {}});
    return;
  }
  ValueItem rest{false, 0, {}};
  for (std::uint32_t k = 1; k < m; ++k) rest.parts.push_back(sub(k));
  out.push_back(rest);
}

// The request of a nested right argument (n items): the name with code 2,
// the value with code 3, then the reply.
void nested_request(SfArg right, Ws ws) {
  std::uint32_t a = right.array(ws);
  if (array_rank(a, ws) > 1) ranker(ws);
  const std::uint32_t n = array_count(a, ws);
  if (n < 2) lener(ws);
  const std::uint32_t name = item_at(a, 0, ws);
  if (const int e = services_write(kServicesProperties, kPropertyName, static_cast<int>(n), ws + name))
    sfwi_error(e, ws);
  a = right.array(ws);
  const std::string word = chars_of(item_at(a, 0, ws), ws);
  const bool set = is_word(word, "set");
  const bool make = is_word(word, "create") || is_word(word, "new");
  if (n == 2 && !set) {
    if (const int e = services_write(kServicesProperties, kValue, 0, ws + item_at(a, 1, ws))) sfwi_error(e, ws);
  } else {
    std::vector<ValueItem> items;
    std::uint32_t first_pair = 1;
    if (make) {
      items.push_back(ValueItem{true, rd32(ws, array_data(a, ws) + 4), {}});
      first_pair = 2;
    }
    if (make || set) {
      for (std::uint32_t i = first_pair; i < n; ++i) add_pair(a, i, items, ws);
    } else {
      for (std::uint32_t i = 1; i < n; ++i) items.push_back(ValueItem{true, rd32(ws, array_data(a, ws) + 4 * i), {}});
    }
    std::uint64_t size = 16 + 4ull * items.size();
    for (const ValueItem& p : items) size += item_size(p, a, ws);
    if (free_bytes(ws) < std::int64_t(size)) {
      force_gcol(ws);
      if (free_bytes(ws) < std::int64_t(size)) ws_full(ws);
      a = right.array(ws);
    }
    const std::uint32_t dest = rd32(ws, hdr::HeapTop);
    write_vector(items, a, dest, ws);
    if (const int e = services_write(kServicesProperties, kValue, 0, ws + dest)) sfwi_error(e, ws);
  }
  read_reply(kServicesProperties, kValue, 0, ws);
}

}  // namespace

// ---- ⎕WI ------------------------------------------------------------------------------

void sfwi_monadic(SfArg right, Ws ws) {
  const std::uint32_t a = right.array(ws);
  switch (array_type(a, ws)) {
    case ET_CHAR:
      if (const int e = services_write(kServicesProperties, kPropertyName, 1, ws + a)) sfwi_error(e, ws);
      read_reply(kServicesProperties, kPropertyName, 0, ws);
      return;
    case ET_NESTED: nested_request(right, ws); return;
    default: domner(ws);
  }
}

void sfwi_dyadic(SfArg left, SfArg right, Ws ws) {
  force_gcol(ws);
  if (const int e = services_write(kServicesProperties, kObjectName, 0, ws + left.array(ws))) sfwi_error(e, ws);
  sfwi_monadic(right, ws);
}

// ---- ⎕WE ------------------------------------------------------------------------------

std::uint32_t sfwe_get_ms(Ws ws) {
  std::int32_t ai[7] = {};
  sup_qai(ai, ws);
  return static_cast<std::uint32_t>(ai[2]);
}

namespace {

// The time-out word of ⎕WE's right argument at `a`.
std::int32_t time_out_of(std::uint32_t a, Ws ws) {
  const std::uint8_t type = array_type(a, ws);
  if (type == ET_CHAR) return kWindowMode;
  if (type == ET_OBJREF) {
    if (array_rank(a, ws) > 1 || array_count(a, ws) != 1) domner(ws);
    // Only an instance of the ⎕WI architecture names a window, and this
    // interpreter makes none: every reference is refused.
    domner(ws);
  }
  if (!is_numeric_type(type)) domner(ws);
  if (array_count(a, ws) != 1) ranker(ws);
  double seconds = 0;
  const std::uint32_t d = array_data(a, ws);
  if (type == ET_BOOL)
    seconds = (rd32(ws, d) >> 31);
  else if (type == ET_INT)
    seconds = rdi32(ws, d);
  else
    std::memcpy(&seconds, ws + d, 8);
  if (seconds < 0) return kNoLimit;
  const double ms = std::floor(seconds * 1000.0);
  if (!(ms <= 2147483647.0)) domner(ws);
  return static_cast<std::int32_t>(ms);
}

// Drops ⎕WE's frame (on top) and pushes `result`.
void end_wait(std::uint32_t result, Ws ws) {
  StackEntry frame;
  unstack(frame, ws);
  release_entry(frame, ws);
  push_result(result, ws);
}
void end_wait_empty(Ws ws) {
  const std::uint32_t z = new_int_vector(nullptr, 0, ws);
  end_wait(z, ws);
}

// The visibility of the window ⎕WE waits on (its call's right argument,
// under the frame: frame, left, ⎕WE, right).
bool window_visible(Ws ws) {
  const std::uint32_t a = rd32(ws, value_slot(stack_entry_at(3, ws), ws));
  if (const int e = services_write(kServicesProperties, kObjectName, 0, ws + a)) sfwi_error(e, ws);
  std::int32_t room = 0;
  auto* area = reply_area(kReplyRoom, kReplyRoom, &room, ws);
  if (services_read(kServicesProperties, kWindowVisible, 0, area, room) != 0) domner(ws);
  const std::uint32_t z = rd32(ws, hdr::HeapTop);
  if (array_count(z, ws) != 1 || !is_numeric_type(array_type(z, ws))) return false;
  const std::uint32_t d = array_data(z, ws);
  if (array_type(z, ws) == ET_BOOL) return (rd32(ws, d) >> 31);
  if (array_type(z, ws) == ET_INT) return rdi32(ws, d) != 0;
  double x = 0;
  std::memcpy(&x, ws + d, 8);
  return x != 0;
}

}  // namespace

int sfwe_wait(Ws ws) {
  host_vars().qwi_callback_flag = kWaiting;
  force_gcol(ws);
  const std::int32_t time_out = rdi32(ws, array_data(rd32(ws, stack_entry_at(0, ws) + se::Value), ws));
  const std::uint32_t started = sfwe_get_ms(ws);
  for (;;) {
    poll_attention(ws);
    if (lowglobals(ws).attn_count != 0) {  // noted, to be taken at the statement's end
      end_wait_empty(ws);
      return ES_FINISH_APPLICATION;
    }
    std::int32_t room = 0;
    void* area = host_result_area(kReplyRoom, &room, ws);
    if (services_read(kServicesEvents, kNextEvent, time_out, area, room) != 0) domner(ws);
    const std::uint32_t reply = rd32(ws, hdr::HeapTop);
    const std::uint8_t type = array_type(reply, ws);
    if (type == ET_CHAR) {
      // A callback: it runs above the frame, and ⎕WE waits again after it.
      adopt_host_result(room, ws, true);
      host_vars().qwi_callback_flag = kInCallback;
      host_vars().event_source = kSourceWi;
      if (start_window_callback(stack_entry_at(0, ws) + se::Value, ws)) return ES_FINISH_APPLICATION;
      StackEntry text;
      unstack(text, ws);
      release_entry(text, ws);
      host_vars().qwi_callback_flag = kWaiting;
      continue;
    }
    if (time_out == kWindowMode) {
      if (!window_visible(ws)) {
        end_wait_empty(ws);
        return ES_FINISH_APPLICATION;
      }
      continue;
    }
    if (type != ET_INT && type != ET_BOOL) noncer_1(ws);
    if (array_count(reply, ws) != 0) {
      adopt_host_result(room, ws);
      StackEntry event;
      unstack(event, ws);
      end_wait(event.value, ws);
      return ES_FINISH_APPLICATION;
    }
    if (time_out == 0 || (time_out > 0 && sfwe_get_ms(ws) - started >= static_cast<std::uint32_t>(time_out))) {
      end_wait_empty(ws);
      return ES_FINISH_APPLICATION;
    }
  }
}

void sfwe_abandoned(Ws) {
  host_vars().qwi_callback_flag = 0;
  host_vars().event_source = 0;
}

int sfwe_return(Ws ws) {
  StackEntry text;
  unstack(text, ws);
  release_entry(text, ws);
  return sfwe_wait(ws);
}

void sfwe_monadic(SfArg right, Ws ws) {
  const std::int32_t time_out = time_out_of(right.array(ws), ws);
  push_result(new_int_scalar(time_out, ws), ws, true);  // the frame
  sfwe_wait(ws);
}

void sfwe_dyadic(SfArg left, SfArg right, Ws ws) {
  const std::uint32_t a = left.array(ws);
  if (!is_numeric_type(array_type(a, ws))) domner(ws);
  if (array_count(a, ws) != 1) lener(ws);
  const std::uint32_t d = array_data(a, ws);
  bool discard = false;
  if (array_type(a, ws) == ET_BOOL) {
    discard = (rd32(ws, d) >> 31);
  } else if (array_type(a, ws) == ET_INT) {
    discard = rdi32(ws, d) != 0;
  } else {
    double x = 0;
    std::memcpy(&x, ws + d, 8);
    discard = x != 0;
  }
  if (discard) {
    force_gcol(ws);
    std::int32_t room = 0;
    void* area = host_result_area(1700, &room, ws);
    // Read and dropped. Events that do not fit stay queued: WS FULL rather
    // than a wait that looks as if they were gone. (Without a ⎕WI system
    // there is nothing to discard.)
    if (services_read(kServicesEvents, kAllEvents, 0, area, room) == 4) sfwi_error(4, ws);
  }
  sfwe_monadic(right, ws);
}

// ---- ⎕EV and the event functions --------------------------------------------------------

void sfev(Ws ws) {
  std::int32_t room = 0;
  void* area = reply_area(1000, kReplyRoom, &room, ws);
  if (services_read(kServicesEvents, kCurrentEvent, 0, area, room) != 0) domner(ws);
  sfwi_fixup(room, ws);
}

void sfwself(Ws ws) {
  if (!in_wi_callback()) {
    push_result(new_char_vector({}, ws), ws);
    return;
  }
  std::int32_t room = 0;
  void* area = reply_area(1000, kReplyRoom, &room, ws);
  if (services_read(kServicesProperties, kSelfName, 0, area, room) != 0) domner(ws);
  sfwi_fixup(room, ws);
}

namespace {
// ⎕WARG and ⎕EVN: the event's value `subcode`, or `none` outside a callback.
void event_value(int subcode, std::uint8_t none_type, Ws ws) {
  if (!in_wi_callback()) {
    const std::uint32_t zero = 0;
    push_result(new_array(none_type, 1, &zero, ws), ws);
    return;
  }
  force_gcol(ws);
  std::int32_t room = 0;
  void* area = host_result_area(256, &room, ws);
  if (services_read(kServicesEvents, subcode, 0, area, room) != 0) domner(ws);
  sfwi_fixup(room, ws);
}
}  // namespace

void sfwarg(Ws ws) { event_value(kEventArgument, ET_INT, ws); }

void sfevn(Ws ws) { event_value(kEventName, ET_CHAR, ws); }

void sfevt(Ws ws) {
  if (in_wi_callback()) {
    force_gcol(ws);
    std::int32_t room = 0;
    void* area = host_result_area(256, &room, ws);
    if (services_read(kServicesProperties, kSelfName, 0, area, room) != 0) domner(ws);
    // The object is a reference only when it was made as an instance of
    // the ⎕WI architecture, which this interpreter does not make: the
    // name read is dropped and the answer is the null reference.
  }
  sfnull(ws);
}

}  // namespace zema
