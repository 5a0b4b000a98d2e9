#include "host/settings.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/charset.h"
#include "host/paths.h"

namespace zema {

const SettingRow setting_rows[kSettingRows] = {
#include "host/settings_rows.inc"
};

namespace {

constexpr std::int32_t kAutoIdDefault = 1415598;

// A whole decimal number within the 32-bit signed range, or (after 0x or
// 0X) a hexadecimal one of at most 32 bits (colour words use all of them).
enum class NumberRead { Ok, NotNumber, OutOfRange };
NumberRead read_number(const std::string& s, std::int32_t* out) {
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  const char* start = s.c_str() + (hex ? 2 : 0);
  if (!*start || std::isspace(static_cast<unsigned char>(*start))) return NumberRead::NotNumber;
  char* end = nullptr;
  errno = 0;
  const long long v = hex ? std::strtoll(start, &end, 16) : std::strtoll(start, &end, 10);
  if (end == start || *end) return NumberRead::NotNumber;
  const bool fits = hex ? v >= 0 && v <= 0xFFFFFFFFLL : v >= -2147483648LL && v <= 2147483647LL;
  if (errno == ERANGE || !fits) return NumberRead::OutOfRange;
  *out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  return NumberRead::Ok;
}

// What is wrong with a value read_number refused.
const char* number_fault(NumberRead r) { return r == NumberRead::OutOfRange ? "out of range" : "not a number"; }

}  // namespace

int Settings::row_of(const char* name) const {
  for (int r = 0; r < kSettingRows; ++r)
    if (std::strcmp(setting_rows[r].name, name) == 0) return r;
  throw std::out_of_range(std::string("no setting ") + name);
}

bool Settings::set_value(int row, const std::string& value, std::string* error) {
  Value& v = values_[row];
  switch (setting_rows[row].kind) {
    case SettingKind::Text: v.text = value; return true;
    case SettingKind::Number:
      if (const NumberRead r = read_number(value, &v.number); r != NumberRead::Ok) {
        if (error) *error = std::string("setting ") + setting_rows[row].name + ": " + number_fault(r) + ": " + value;
        return false;
      }
      return true;
    case SettingKind::Flag:
      if (value.rfind("True", 0) == 0) v.number = 1;
      else if (value.rfind("False", 0) == 0) v.number = 0;
      return true;
  }
  return true;
}

Settings::Settings() {
  for (int r = 0; r < kSettingRows; ++r) set_value(r, setting_rows[r].default_text, nullptr);
  Value& help = values_[row_of("help_file")];
  if (help.text.empty()) help.text = get_apl_path("help", "aplhelp.afl");
  Value& lib10 = values_[row_of("library10")];
  if (lib10.text.empty()) lib10.text = get_apl_path("ws", "");
}

int Settings::set_resource(const std::string& line, std::string* error) {
  std::size_t i = 0;
  auto after_prefix = [&](const std::string& prefix) {
    if (prefix.empty() || line.compare(0, prefix.size(), prefix) != 0) return false;
    i = prefix.size();
    if (i < line.size() && (line[i] == '.' || line[i] == '*')) ++i;
    return true;
  };
  if (!line.empty() && line[0] == '*') i = 1;
  else if (!after_prefix("ZEMA") && !after_prefix(progname_)) return -1;
  const std::size_t name_start = i;
  while (i < line.size() && line[i] != '*' && line[i] != ':') ++i;
  const std::string name = line.substr(name_start, i - name_start);
  bool pattern = false;
  if (i < line.size() && line[i] == '*') {
    pattern = true;
    ++i;
  }
  if (i >= line.size() || line[i] != ':' || name.empty()) return -1;
  ++i;
  while (i < line.size() && line[i] == ' ') ++i;
  const std::string value = line.substr(i);
  for (int r = 0; r < kSettingRows; ++r) {
    const std::string row_name = setting_rows[r].name;
    const bool match = pattern ? row_name.rfind(name, 0) == 0 : row_name == name;
    if (!match || values_[r].matched > name.size()) continue;
    if (!set_value(r, value, error)) return -2;
    values_[r].matched = name.size();
  }
  return 0;
}

bool Settings::process(const std::vector<std::string>& args, std::string* error) {
  // The program name and the two files: the first occurrence wins.
  for (std::size_t k = 0; k + 1 < args.size(); ++k) {
    if (args[k] == "-name" && progname_.empty()) progname_ = args[k + 1];
    if (args[k] == "-preferences" && preference_file_.empty()) preference_file_ = args[k + 1].substr(0, 259);
    if (args[k] == "-desktop" && desktop_file_.empty()) desktop_file_ = args[k + 1].substr(0, 259);
  }
  if (preference_file_.empty()) preference_file_ = get_home_path(".zema_preferences");
  if (desktop_file_.empty()) desktop_file_ = get_home_path(".zema_desktop");

  static const struct {
    const char* option;
    const char* setting;  // null: handled here
  } kOptions[] = {{"-name", nullptr},         {"-preferences", nullptr}, {"-desktop", nullptr},
                  {"-xrm", nullptr},          {"-wssize", "wssize"},     {"-loadws", "loadws"},
                  {"-charset", "charset"},    {"-id", "id"},             {"-socket", "socket"},
                  {"-port", "port"},          {"-host", "host"},         {"-kbd", "std_keymap"},
                  {"-ukbd", "unified_keymap"}};
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& a = args[k];
    if (a.empty() || a[0] != '-') continue;
    const auto* found = std::find_if(std::begin(kOptions), std::end(kOptions),
                                     [&](const auto& o) { return a == o.option; });
    if (found == std::end(kOptions)) {
      if (error) *error = "unknown option " + a;
      return false;
    }
    if (k + 1 >= args.size()) break;  // an option without its value is ignored
    const std::string& value = args[++k];
    if (a == "-xrm") {
      if (set_resource(value, error) == -2) return false;
    } else if (found->setting) {
      if (!set_value(row_of(found->setting), value, error)) {
        std::int32_t ignored = 0;
        if (error) *error = "option " + a + ": " + number_fault(read_number(value, &ignored)) + ": " + value;
        return false;
      }
      if (a == "-port" || a == "-host") values_[row_of("default_apl")].number = 2;
    }
  }
  if (values_[row_of("auto_id")].number != kAutoIdDefault)
    values_[row_of("id")].number = static_cast<std::int32_t>(::getuid()) + 1000;
  return true;
}

void Settings::validate() {
  auto clamp = [&](const char* name, std::int32_t lo, std::int32_t hi) {
    std::int32_t& n = values_[row_of(name)].number;
    n = n < lo ? lo : n > hi ? hi : n;
  };
  clamp("quad_pw", 40, 390);
  clamp("session_length", 2000, 10000000);
  std::int32_t& size = values_[row_of("text_font_size")].number;
  if (size < 6 || size > 100) size = 12;
}

const std::string& Settings::text(const char* name) const { return values_[row_of(name)].text; }
std::int32_t Settings::number(const char* name) const { return values_[row_of(name)].number; }
bool Settings::flag(const char* name) const { return values_[row_of(name)].number != 0; }

PrefsRecord Settings::prefs() const {
  PrefsRecord p;
  const std::int32_t pw = number("quad_pw");
  p.pw = static_cast<std::uint16_t>(pw < 40 || pw > 390 ? 80 : pw);
  const std::string& t = text("time_fmt");
  auto digit = [&](std::size_t k) { return k < t.size() ? t[k] - '0' : 0; };
  int code = digit(0) + 256 * digit(1);
  if (t.size() > 2 && t[2] == '1') code += 0x8000;
  p.term_format = static_cast<std::uint16_t>(code);
  p.user_number = static_cast<std::uint32_t>(number("id"));
  p.term_type = 0;
  return p;
}

NamesRecord Settings::names(const std::string& temp1, const std::string& temp2) const {
  NamesRecord n;
  n.temp_name1 = temp1;
  n.temp_name2 = temp2;
  n.help_file = text("help_file");
  for (const char c : text("apl_file").substr(0, 120)) n.dataspace.push_back(static_cast<char>(fontin(c)));
  for (int k = 0; k < 10; ++k) n.libraries[k] = text(("library" + std::to_string(k)).c_str());
  return n;
}

}  // namespace zema
