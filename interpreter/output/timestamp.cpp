#include "interpreter/output/timestamp.h"

#include <string>

#include "host/charset.h"
#include "interpreter/output/display.h"

namespace zema {

namespace {

std::string two_digits(std::uint32_t n) {
  std::string s = std::to_string(n % 100);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

void fmttd(Ws ws) {
  const std::uint32_t ms = rd32(ws, hdr::SaveTime);
  const std::uint32_t d = rd32(ws, hdr::SaveDate);
  const std::uint8_t time_style = rd8(ws, hdr::TermFormat) & 0x7F;
  const bool date_first = rd8(ws, hdr::TermFormat) & 0x80;
  const std::uint8_t date_style = rd8(ws, hdr::TermFormat + 1);

  std::uint32_t hours = ms / 3600000;
  const std::string sep = (time_style & 1) ? ":" : ".";
  std::string time;
  const bool twelve = time_style >= 2;
  const bool pm = hours >= 12;
  if (twelve && hours >= 13) hours -= 12;
  time = std::to_string(hours) + sep + two_digits(ms / 60000 % 60) + sep + two_digits(ms / 1000 % 60);
  if (twelve) time += pm ? " PM" : " AM";

  const std::uint32_t month = d / 10000, day = d / 100 % 100, yy = d % 100;
  const std::string year4 = std::to_string(full_year(yy));
  std::string date;
  switch (date_style) {
    case 1: date = std::to_string(month) + "/" + two_digits(day) + "/" + year4; break;
    case 2: date = std::to_string(day) + "/" + two_digits(month) + "/" + two_digits(yy); break;
    case 3: date = std::to_string(day) + "/" + two_digits(month) + "/" + year4; break;
    case 4: date = year4 + "-" + two_digits(month) + "-" + two_digits(day); break;
    default: date = std::to_string(month) + "/" + two_digits(day) + "/" + two_digits(yy); break;
  }
  ldprt(utf8_to_internal(date_first ? date + " " + time : time + " " + date), ws);
}

}  // namespace zema
