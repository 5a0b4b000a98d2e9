#include "host/services_channel.h"

#include <string>

#include "host/charset.h"
#include "host/services.h"
#include "host/task.h"
#include "host/values.h"

namespace zema {

namespace {

// Longest object name a code-1 write takes, and property name a code-2
// write takes.
constexpr int kLongestObjectName = 1000;
constexpr int kLongestPropertyName = 105;

// The text of a name value (internal characters), or the error of get_raw_text.
int read_name(const void* value, int max, std::string* out) {
  std::string buffer(static_cast<std::size_t>(max) + 1, '\0');
  if (const int code = get_raw_text(value, buffer.data(), max)) return code;
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  *out = std::move(buffer);
  return 0;
}

// Small letters (internal characters) made capitals; anything else stays.
std::string in_capitals(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    const std::uint16_t u = convert_to_unicode(static_cast<std::uint8_t>(c));
    if (u >= 'a' && u <= 'z') c = static_cast<char>(convert_from_unicode(u - 'a' + 'A'));
  }
  return out;
}

const char* path_or_null(const ServerSideTaskVars& v) { return v.qwi_path.empty() ? nullptr : v.qwi_path.c_str(); }

int write_properties(APLTask& task, int code, int count, const void* value) {
  ServerSideTaskVars& v = task.hostVars;
  switch (code) {
    case 1: {
      std::string name;
      if (const int e = read_name(value, kLongestObjectName, &name)) return e;
      const std::size_t dot = name.find('.');
      v.qwi_name = name;
      v.qwi_object = name.substr(0, dot);
      v.qwi_path = dot == std::string::npos ? std::string() : name.substr(dot + 1);
      return 0;
    }
    case 2: {
      std::string name;
      if (const int e = read_name(value, kLongestPropertyName, &name)) return e;
      v.qwi_property = in_capitals(name);
      v.qwi_item_count = count;
      return 0;
    }
    case 3: return qwi_set_property(v.qwi_property.c_str(), v.qwi_object.c_str(), path_or_null(v), value);
    default: return 12;
  }
}

int read_properties(APLTask& task, int code, void* result, int room) {
  ServerSideTaskVars& v = task.hostVars;
  switch (code) {
    case 2: return qwi_get_property(v.qwi_property.c_str(), v.qwi_object.c_str(), path_or_null(v), result, room);
    case 3: return qwi_get_property(nullptr, v.qwi_object.c_str(), path_or_null(v), result, room);
    case 4: return task.QwiSelf(result, room);
    case 5: return task.QwiWindowVisible(v.qwi_name.c_str(), result, room);
    default: return 12;
  }
}

}  // namespace

int services_write(int component, int code, int count, const void* value) {
  APLTask* task = find_my_task();
  if (!task) return 88;
  if (component == kServicesProperties) return write_properties(*task, code, count, value);
  return 24;
}

int services_read(int component, int code, int count, void* result, int room) {
  APLTask* task = find_my_task();
  if (!task) return 88;
  if (component == kServicesProperties) return read_properties(*task, code, result, room);
  if (component == kServicesEvents) return task->QwiEvents(code, count, result, room);
  return 24;
}

}  // namespace zema
