// The program's settings: 113 named rows with their defaults, the command
// line (options and X-resource lines given with -xrm), validation, and the
// numbers and names the interpreter takes at the start of a task.
//
// A Settings object is filled on one thread before any task runs and only
// read afterwards; it holds no global state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/task.h"

namespace zema {

enum class SettingKind : std::uint8_t { Text, Number, Flag };

// One row of the settings table.
struct SettingRow {
  const char* name;
  SettingKind kind;
  const char* default_text;  // Number: decimal, or hexadecimal after 0x; Flag: True or False
};
inline constexpr int kSettingRows = 113;
// The rows in table order.
extern const SettingRow setting_rows[kSettingRows];

class Settings {
 public:
  // Every row at its default; help_file and library10 empty become the
  // installation's "help/aplhelp.afl" and "ws/" (get_apl_path).
  Settings();

  // Applies the arguments after argv[0]: -name, -preferences, -desktop
  // (first occurrence), -wssize, -loadws, -charset, -id, -socket, -port
  // (and session kind 2), -host (likewise), -xrm LINE, -kbd, -ukbd, each
  // with the next argument as its value; an option that is the last
  // argument is ignored, an argument not starting with "-" is skipped.
  // Then: unless auto_id holds its default, id ← the real user id + 1000.
  // Answers false at the first unknown option, numeric option that is not
  // a number or lies outside 32 bits (decimal: the signed range; after 0x:
  // 0 … 0xFFFFFFFF), or refused -xrm line, with `*error` ← a message naming
  // it and the fault ("option -wssize: out of range: 99999999999").
  bool process(const std::vector<std::string>& args, std::string* error);

  // One X-resource line "PREFIX NAME: VALUE" (prefix "*", "ZEMA" or the
  // program name, each then "." or "*"; a "*" after the name makes it a
  // prefix pattern). Rows matched by a longer name part than earlier lines
  // keep their value; among equal lengths the later line wins. Answers 0,
  // −1 for a line of another program or a malformed line, −2 (with
  // `*error`) for a number setting whose value is not a number or is out
  // of range.
  int set_resource(const std::string& line, std::string* error);

  // quad_pw within 40–390, session_length within 2000–10,000,000,
  // text_font_size outside 6–100 becomes 12.
  void validate();

  // The values of a row, found by name (an unknown name is a programming
  // fault: it throws std::out_of_range).
  const std::string& text(const char* name) const;
  std::int32_t number(const char* name) const;
  bool flag(const char* name) const;

  // The interpreter's numbers: ⎕PW (80 when quad_pw is outside 40–390),
  // the time-format code from time_fmt, the user number, terminal type 0.
  PrefsRecord prefs() const;
  // The interpreter's names: the temporary names given, help_file,
  // apl_file, library0 … library9 as ⎕MOUNT rows.
  NamesRecord names(const std::string& temp1, const std::string& temp2) const;

  // The font pair the charset setting names (null: keep the current pair).
  const FontPair* font_pair() const;

  // The keyboard choice: 1 APL keyboard on with the standard map
  // (unified_keyboard off), 2 APL keyboard on with the unified map, 3 APL
  // keyboard on (map unchanged), 4 APL keyboard off; other modes change
  // nothing.
  void set_keyboard_layout(int mode);

  // Writes every setting that differs from its default to `path` as
  // X-resource lines ("ZEMA*name: value", numbers in decimal, flags True or
  // False), which set_resource reads back. The file is replaced whole: the
  // lines go to a new file in the same directory (keeping the old file's
  // permissions), are flushed to the disk and renamed over `path`, so a
  // failure at any point leaves the old file as it was. Answers false, with
  // `*error`, when that happens, or when a text value holds a line end.
  bool save(const std::string& path, std::string* error) const;

  const std::string& program_name() const { return progname_; }
  const std::string& preference_file() const { return preference_file_; }
  const std::string& desktop_file() const { return desktop_file_; }

 private:
  struct Value {
    std::string text;
    std::int32_t number = 0;
    std::size_t matched = 0;
  };
  int row_of(const char* name) const;
  bool set_value(int row, const std::string& value, std::string* error);
  Value values_[kSettingRows];
  std::string progname_, preference_file_, desktop_file_;
};

// Saving the settings at the end of the last task: a packaged application
// (the program's only mode) never writes its preference file, and answers
// true at once; otherwise settings.save(settings.preference_file()).
bool save_resources(const Settings& settings, bool packaged, std::string* error);

}  // namespace zema
