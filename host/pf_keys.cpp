// The programmable function keys 1-45: texts in display code, set by a task
// thread and read by the GUI thread's key handling, under one lock.
#include <mutex>
#include <string>

#include "host/services.h"
#include "host/values.h"

namespace zema {

namespace {
constexpr int kKeys = 45;
constexpr int kTextMax = 499;
std::mutex keys_lock;
std::string keys[kKeys];  // empty: unset
}  // namespace

int set_pf_key(int n, const void* value) {
  char text[kTextMax + 1];
  if (const int rc = get_translated_text(value, text, kTextMax)) return rc;
  if (n < 1 || n > kKeys) return 12;
  std::lock_guard<std::mutex> lock(keys_lock);
  keys[n - 1] = text;
  return 0;
}

int get_pf_key(int n, void* result, int room) {
  if (n < 1 || n > kKeys) return 12;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(keys_lock);
    text = keys[n - 1];
  }
  return return_translated_text(result, text.c_str(), room);
}

std::string pf_key_text(int n) {
  if (n < 1 || n > kKeys) return {};
  std::lock_guard<std::mutex> lock(keys_lock);
  return keys[n - 1];
}

}  // namespace zema
