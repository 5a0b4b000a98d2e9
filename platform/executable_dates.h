// The executable's own path and the date and time texts of a date-time
// record, as the session's dialogs and the host modules show them. Pure
// functions of their arguments (the *_of forms) beside the process's own.
#pragma once

#include <cstdint>
#include <string>

namespace zema {

// The directory part of `path` with its trailing "/" ("" when the path has
// no "/").
std::string executable_directory_of(const std::string& path);
// The file name of `path` (after the last "/", the whole path when there is
// none); "" when the path is longer than 259 characters.
std::string executable_name_of(const std::string& path);
// The same for the running executable (/proc/self/exe; "" when unreadable).
std::string get_executable_directory();
std::string get_executable_name();

// A date-time record as callers pass it.
struct DateTimeRecord {
  std::uint16_t year, month, day_of_week, day, hour, minute, second, millisecond;
};
// "year-mm-dd" and "h:mm:ss" of the record.
std::string get_local_date_string(const DateTimeRecord& when);
std::string get_local_time_string(const DateTimeRecord& when);

}  // namespace zema
