#include "platform/memory_ini.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zema {

namespace {

// `text` with each CR and LF replaced by a blank, so that it stays on one line.
std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

bool blank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Writes all of `data` to `fd`, through short writes and interruptions.
bool write_all(int fd, const std::string& data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

MemIniFile::MemIniFile(std::string path) : path_(std::move(path)) {}

MemIniFile::Section* MemIniFile::Find(const std::string& section) {
  for (Section& s : sections_)
    if (s.name == section) return &s;
  return nullptr;
}

const MemIniFile::Section* MemIniFile::Find(const std::string& section) const {
  for (const Section& s : sections_)
    if (s.name == section) return &s;
  return nullptr;
}

void MemIniFile::SetText(const std::string& text) {
  sections_.clear();
  Section* current = nullptr;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (blank(line) || line[0] == ';') continue;
    if (line[0] == '[') {
      // The name runs to the last ']' (to the line end without one).
      const auto close = line.rfind(']');
      const std::string name = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      // A section named twice continues the first.
      current = Find(name);
      if (!current) current = &sections_.emplace_back(Section{name, {}});
      continue;
    }
    if (!current) continue;
    const auto equals = line.find('=');
    Entry entry{line.substr(0, equals), equals == std::string::npos ? std::string() : line.substr(equals + 1)};
    // A key named twice keeps its first value, the one a reader finds first.
    bool known = false;
    for (const Entry& e : current->entries) known = known || e.key == entry.key;
    if (!known) current->entries.push_back(std::move(entry));
  }
}

std::string MemIniFile::GetText() const {
  std::string text;
  for (const Section& s : sections_) {
    if (!text.empty()) text += '\n';
    text += '[' + s.name + "]\n";
    for (const Entry& e : s.entries) text += e.key + '=' + e.value + '\n';
  }
  return text;
}

bool MemIniFile::Load() {
  sections_.clear();
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);  // a folder, or a fault while reading
      return false;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  SetText(content);
  return true;
}

bool MemIniFile::Save(std::string* error) const {
  auto fail = [&](const std::string& what, int code) {
    if (error) *error = "Cannot " + what + " " + path_ + ": " + std::strerror(code);
    return false;
  };
  if (path_.empty()) return fail("write", ENOENT);
  // A new file beside the old one, named uniquely within this process and
  // among processes, created with the default permissions (umask applies).
  static std::atomic<unsigned> serial{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path_ + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail("write", errno);
  auto abandon = [&](int code) {
    ::close(fd);
    ::unlink(temp.c_str());
    return fail("write", code);
  };
  struct stat old {};
  if (::stat(path_.c_str(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) return abandon(errno);
  if (!write_all(fd, GetText()) || ::fsync(fd) != 0) return abandon(errno);
  if (::close(fd) != 0) {
    const int code = errno;
    ::unlink(temp.c_str());
    return fail("write", code);
  }
  if (::rename(temp.c_str(), path_.c_str()) != 0) {
    const int code = errno;
    ::unlink(temp.c_str());
    return fail("replace", code);
  }
  // The new name itself reaches the disk with its folder.
  const int dir = ::open(folder_of(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool MemIniFile::SectionExists(const std::string& section) const { return Find(section) != nullptr; }

std::vector<std::string> MemIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> MemIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section))
    for (const Entry& e : s->entries) keys.push_back(e.key);
  return keys;
}

void MemIniFile::EraseSection(const std::string& section) {
  for (auto it = sections_.begin(); it != sections_.end(); ++it)
    if (it->name == section) {
      sections_.erase(it);
      return;
    }
}

void MemIniFile::DeleteKey(const std::string& section, const std::string& key) {
  Section* s = Find(section);
  if (!s) return;
  for (auto it = s->entries.begin(); it != s->entries.end(); ++it)
    if (it->key == key) {
      s->entries.erase(it);
      return;
    }
}

bool MemIniFile::ValueExists(const std::string& section, const std::string& key) const {
  if (const Section* s = Find(section))
    for (const Entry& e : s->entries)
      if (e.key == key) return true;
  return false;
}

std::string MemIniFile::ReadString(const std::string& section, const std::string& key,
                                   const std::string& fallback) const {
  if (const Section* s = Find(section))
    for (const Entry& e : s->entries)
      if (e.key == key) return e.value;
  return fallback;
}

// Decimal with an optional sign within the int range, or 0x hexadecimal of
// at most 32 bits (0x80000000 and above read as the negative int of the same
// bits); blanks around the number are allowed.
int MemIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
  if (!ValueExists(section, key)) return fallback;
  const std::string text = trimmed(ReadString(section, key, {}));
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    unsigned long long value = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
      const char c = text[i];
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else return fallback;
      value = value * 16 + static_cast<unsigned>(digit);
      if (value > 0xFFFFFFFFull) return fallback;
    }
    return static_cast<int>(static_cast<std::uint32_t>(value));
  }
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  if (i == text.size()) return fallback;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return fallback;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return fallback;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return fallback;
  return static_cast<int>(value);
}

bool MemIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
  std::string text = trimmed(ReadString(section, key, {}));
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (text == "1" || text == "true") return true;
  if (text == "0" || text == "false") return false;
  return fallback;
}

void MemIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  // Names stay on their line too.
  const std::string name = one_line(section), field = one_line(key);
  Section* s = Find(name);
  if (!s) s = &sections_.emplace_back(Section{name, {}});
  for (Entry& e : s->entries)
    if (e.key == field) {
      e.value = one_line(value);
      return;
    }
  s->entries.push_back(Entry{field, one_line(value)});
}

void MemIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void MemIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

}  // namespace zema
