// The thin support layer between the interpreter and its host: time,
// identities, settings kept outside the workspace, shared variables, shell
// commands, hard copy, the full-screen editor and cursor control. Results
// are 0 or an ErrorCode unless stated.
#pragma once

#include <cstdint>
#include <string>

#include "interpreter/workspace/workspace.h"

namespace zema {

std::uint32_t gtime();
std::uint32_t ftime(std::uint32_t* date);
std::uint32_t sup_tds(std::uint32_t* date, Ws ws);
void sup_qai(std::int32_t* out7, Ws ws);
std::uint32_t sup_dl(std::uint32_t ms, Ws ws);
std::uint32_t sup_id(Ws ws);
std::uint32_t sup_tt(Ws ws);
std::uint32_t sup_i29rd(Ws ws);
int sup_ul();
void sup_qpw(std::uint16_t width, Ws ws);
void sup_qpr(std::int16_t ch, Ws ws);
void sup_settfmt(std::uint16_t word, Ws ws);
std::uint8_t* sup_getdspacename(Ws ws);
std::uint8_t* sup_tabs(Ws ws);
void sup_ltrn(int spare, const std::uint8_t* source, std::uint8_t* destination, Ws ws);
int sup_sprm(std::uint32_t value, Ws ws);
void sup_blot(Ws ws);
void sup_dupl(Ws ws);
void sup_logch(int c, Ws ws);
void sup_qmt(int n, const std::uint8_t* source, std::uint8_t* destination, Ws ws);
void sup_new_wsid(Ws ws);
int sup_hc(int code);
int sup_fse(const std::uint8_t* name, int length, int line_word, Ws ws);
// ⎕CC: `code` in and out; `numbers`/`count` the request's numbers; a, b, c
// the result words. Answers 4 for request -1, else 0.
int sup_qccadr(int* code, std::int32_t** record, const std::int32_t* numbers, int count, std::int32_t* a,
               std::int32_t* b, std::int32_t* c, Ws ws);
// ⎕HOST: runs `command` (internal characters) and leaves its output in
// `buffer`; `capacity` in: the buffer's size, out: the output's length.
int sup_qhost(const std::uint8_t* command, int length, char* buffer, int* capacity, int time_limit, Ws ws);
// )HOST: runs a command with its output sent to the session.
int sup_host(const std::uint8_t* command, int length, char* buffer, int capacity, int spare, Ws ws);
int my_error_text(int host_error, std::string* text);
int sup_svo(int processor, int name_length, const std::uint8_t* name, int spare, std::uint32_t* handle, Ws ws);
int sup_svr(int processor, std::uint32_t handle);
int sup_svqs(int processor);
int sup_svc(int processor, int spare1, int spare2, Ws ws);
int sup_svcq(int processor, int spare, Ws ws);
int sup_svtf(const std::int32_t** list, Ws ws);
int sup_svref(int processor, std::uint32_t handle, void* result, int room);
int sup_svspc(int processor, std::uint32_t handle, const void* value);

}  // namespace zema
