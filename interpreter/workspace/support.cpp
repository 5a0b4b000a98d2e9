#include "interpreter/workspace/support.h"

#include <algorithm>
#include <cstring>

#include "host/charset.h"
#include "host/clock.h"
#include "host/services.h"
#include "interpreter/workspace/entry.h"

namespace zema {

namespace {
// A processor served by the host: 3 (a share inside the task) or 100 and above.
bool served(int processor) { return processor == 3 || processor >= 100; }
}  // namespace

// Elapsed times (⎕DL, connect and keying time) are differences of this
// count: a monotonic clock, so that nothing ends early or late at midnight.
std::uint32_t gtime() { return static_cast<std::uint32_t>(monotonic_ms()); }

std::uint32_t ftime(std::uint32_t* date) {
  const std::uint32_t* t = get_system_time();
  *date = t[1];
  return t[0];
}

std::uint32_t sup_tds(std::uint32_t* date, Ws ws) { return ftime(date); }

void sup_qai(std::int32_t* out, Ws ws) {
  const LowGlobals& lg = lowglobals(ws);
  auto cpu = static_cast<std::int32_t>(get_cpu_time());
  auto connect = static_cast<std::int32_t>(gtime() - lg.start_time);
  out[0] = static_cast<std::int32_t>(lg.user_number);
  out[1] = cpu;
  out[2] = connect;
  out[3] = static_cast<std::int32_t>(lg.keying_time);
  out[4] = 700;
  out[5] = cpu;
  out[6] = connect;
}

std::uint32_t sup_dl(std::uint32_t ms, Ws ws) {
  std::uint32_t start = gtime();
  std::uint32_t elapsed = 0;
  for (;;) {
    poll_attention(ws);
    std::uint32_t now = gtime();
    elapsed = now - start;
    if (state_has(st::AttentionSeen, ws)) break;
    if (elapsed >= ms) break;
    sleep_a_while(static_cast<int>(ms - elapsed));
  }
  return elapsed;
}

std::uint32_t sup_id(Ws ws) { return lowglobals(ws).task_id; }
std::uint32_t sup_tt(Ws ws) { return lowglobals(ws).term_type; }
std::uint32_t sup_i29rd(Ws ws) { return lowglobals(ws).user_number; }
int sup_ul() { return user_load(); }
void sup_qpw(std::uint16_t width, Ws ws) { lowglobals(ws).pw_default = width; }
void sup_qpr(std::int16_t ch, Ws ws) { lowglobals(ws).pr_char = ch; }
void sup_settfmt(std::uint16_t word, Ws ws) { lowglobals(ws).term_format = word; }
std::uint8_t* sup_getdspacename(Ws ws) { return lowglobals(ws).dataspace; }
std::uint8_t* sup_tabs(Ws ws) { return lowglobals(ws).tab_stops; }

void sup_ltrn(int, const std::uint8_t* source, std::uint8_t* destination, Ws) { std::memcpy(destination, source, 128); }

int sup_sprm(std::uint32_t value, Ws) { return static_cast<int>(value & 0xFF); }
void sup_blot(Ws) {}
void sup_dupl(Ws) {}

void sup_logch(int c, Ws ws) {
  c &= 0xFF;
  if (c == 0x0D)
    wr16(ws, hdr::OutColumn, 0);
  else if (c >= 0x10)
    wr16(ws, hdr::OutColumn, rd16(ws, hdr::OutColumn) + 1);
}

void sup_qmt(int n, const std::uint8_t* source, std::uint8_t* destination, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  if (n > 0) std::memcpy(&lg.mount[0][0], source, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof lg.mount));
  std::memcpy(destination, lg.mount, sizeof lg.mount);
}

void sup_new_wsid(Ws) { new_wsid(); }

int sup_hc(int code) { return quadhc(code); }

int sup_fse(const std::uint8_t* name, int length, int line_word, Ws ws) {
  LowGlobals& lg = lowglobals(ws);
  int n = std::min(length, 99);
  for (int i = 0; i < n; ++i) lg.editor_name[i] = fontout(name[i]);
  lg.editor_name[n] = 0;
  int mode = state_has(st::NotFunctionLine, ws) ? 0 : -1;
  return start_fse(reinterpret_cast<const char*>(lg.editor_name), line_word, mode);
}

int sup_qccadr(int* code, std::int32_t** record, const std::int32_t* numbers, int count, std::int32_t* a,
               std::int32_t* b, std::int32_t* c, Ws) {
  int req = *code;
  if (req == -1) return 4;
  if (req == 20) {
    std::int32_t* rec = get_cursor_add();
    *record = rec;
    if (rec) {
      *b = rec[0];
      *a = rec[1];
      *c = rec[2];
    }
    *code = 0;
  } else if (req > 0) {
    *code = quadcc(req);
    *b = 0;
  } else if (req == 0) {
    if (count < 2) {
      *code = 20;
    } else {
      *code = cursor_add(numbers[1], numbers[0]);
      *b = 2;
    }
  } else {
    *code = 12;
  }
  return 0;
}

int sup_qhost(const std::uint8_t* command, int length, char* buffer, int* capacity, int time_limit, Ws) {
  if (length == 0) {
    if (static_cast<unsigned>(*capacity) <= 5) return 4;
    std::string linux_text = utf8_to_internal("LINUX");
    std::memcpy(buffer, linux_text.data(), 5);
    *capacity = 5;
    return 0;
  }
  *capacity -= 8;
  if (length >= *capacity) return 20;
  std::memcpy(buffer, command, static_cast<std::size_t>(length));
  buffer[length] = 0;
  const int got = exec_cmd(buffer, buffer, *capacity, time_limit);
  *capacity = got;
  if (got < 0) return -got;
  return 0;
}

int sup_host(const std::uint8_t* command, int length, char* buffer, int capacity, int, Ws ws) {
  if (length == 0) {
    std::string text = utf8_to_internal("IS LINUX");
    sup_lnout(static_cast<int>(text.size()), text.data(), ws);
    sup_snd1c(0x0D, ws);
    return 0;
  }
  if (length >= capacity - 8) {
    print_message(utf8_to_internal("WS FULL"), ws);
    return 4;
  }
  std::memcpy(buffer, command, static_cast<std::size_t>(length));
  buffer[length] = 0;
  exec_cmd(buffer, nullptr, 0, 10000);
  return 0;
}

int my_error_text(int host_error, std::string* text) {
  *text = error_text(host_error);
  return static_cast<int>(text->size());
}

int sup_svo(int processor, int name_length, const std::uint8_t* name, int, std::uint32_t* handle, Ws) {
  if (!served(processor)) {
    *handle = 0x80000000u;
    return 1;
  }
  char buf[31];
  int n = std::min(name_length, 30);
  std::memcpy(buf, name, static_cast<std::size_t>(n));
  buf[n] = 0;
  return svar_offer(processor, handle, buf);
}

int sup_svr(int processor, std::uint32_t handle) { return served(processor) ? svar_retract(processor, handle) : 1; }
int sup_svqs(int processor) { return served(processor) ? 2 : 1; }
int sup_svc(int processor, int, int, Ws) { return served(processor) ? 15 : 0; }
int sup_svcq(int processor, int, Ws) { return served(processor) ? 15 : 0; }

int sup_svtf(const std::int32_t** list, Ws) {
  static const std::int32_t processors[1] = {3};
  *list = processors;
  return 1;
}

int sup_svref(int processor, std::uint32_t handle, void* result, int room) {
  return served(processor) ? svar_referenced(processor, handle, result, room) : 28;
}

int sup_svspc(int processor, std::uint32_t handle, const void* value) {
  return served(processor) ? svar_specified(processor, handle, value) : 28;
}

}  // namespace zema
