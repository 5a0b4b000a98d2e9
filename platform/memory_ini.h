// INI files held in memory: sections of "key=value" lines, read from a file
// once and written back whole. Section and key names are compared exactly;
// sections and keys keep the order in which they were first written. Not
// synchronised: one thread (the GUI thread) uses a file at a time.
#pragma once

#include <string>
#include <vector>

namespace zema {

class MemIniFile {
 public:
  // An empty file that Save writes to `path`.
  explicit MemIniFile(std::string path = {});

  const std::string& path() const { return path_; }
  // Replaces the content by the parsed `text` ("[section]" lines, then
  // "key=value" lines; blank lines, lines starting with ';' and lines
  // before the first section are ignored; a line without '=' is a key with
  // an empty value; a CR before the line end is dropped).
  void SetText(const std::string& text);
  // The content as text, one "[section]" line and its "key=value" lines
  // per section, a blank line between sections.
  std::string GetText() const;
  // Reads `path`: false (the content emptied) when it cannot be read.
  bool Load();
  // Writes the content to `path` through a new file in the same folder,
  // flushed and renamed over it, so that a failure leaves the old file as
  // it was. False, with `*error` naming the file and the fault.
  bool Save(std::string* error) const;

  bool SectionExists(const std::string& section) const;
  // The section names in order.
  std::vector<std::string> ReadSections() const;
  // The key names of `section` in order (empty when there is none).
  std::vector<std::string> ReadSection(const std::string& section) const;
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);
  bool ValueExists(const std::string& section, const std::string& key) const;

  // The value, or `fallback` when the key is absent; ReadInteger also when
  // the value is no decimal (or 0x hexadecimal) 32-bit integer; ReadBool
  // reads "1"/"0" and "true"/"false" in any case.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
  int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
  bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;
  // Sets the value (a new section or key goes at the end). Line ends in a
  // value are replaced by blanks, so that the text reads back the same.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

 private:
  struct Entry {
    std::string key, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* Find(const std::string& section);
  const Section* Find(const std::string& section) const;
  std::string path_;
  std::vector<Section> sections_;
};

}  // namespace zema
