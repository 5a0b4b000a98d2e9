// The keyboard choice, the font pair named by the charset setting, and
// writing the settings back without ever leaving a half-written file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "host/settings.h"

namespace zema {

const FontPair* Settings::font_pair() const { return font_pair_for_charset(text("charset")); }

void Settings::set_keyboard_layout(int mode) {
  std::int32_t& apl = values_[row_of("apl_keyboard")].number;
  std::int32_t& unified = values_[row_of("unified_keyboard")].number;
  switch (mode) {
    case 1: apl = 1; unified = 0; break;
    case 2: apl = 1; unified = 1; break;
    case 3: apl = 1; break;
    case 4: apl = 0; break;
    default: break;
  }
}

namespace {

// Writes all of `text` to `fd`; false with errno on failure.
bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool Settings::save(const std::string& path, std::string* error) const {
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    return false;
  };
  // The lines, all made before anything is written.
  const Settings defaults;
  std::string lines;
  for (int r = 0; r < kSettingRows; ++r) {
    const SettingRow& row = setting_rows[r];
    const Value& v = values_[r];
    const Value& d = defaults.values_[r];
    std::string value;
    switch (row.kind) {
      case SettingKind::Text:
        if (v.text == d.text) continue;
        if (v.text.find_first_of("\r\n") != std::string::npos)
          return fail(std::string("setting ") + row.name + ": a line end cannot be saved");
        value = v.text;
        break;
      case SettingKind::Number:
        if (v.number == d.number) continue;
        value = std::to_string(v.number);
        break;
      case SettingKind::Flag:
        if ((v.number != 0) == (d.number != 0)) continue;
        value = v.number ? "True" : "False";
        break;
    }
    lines += std::string("ZEMA*") + row.name + ": " + value + "\n";
  }

  // The new file lies beside the old one, so that the rename replaces it
  // within one file system.
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return fail(path + ": " + std::strerror(errno));
  int failure = 0;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) failure = errno;
  if (!failure && !write_all(fd, lines)) failure = errno ? errno : EIO;
  if (!failure && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && !failure) failure = errno;
  if (!failure && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
  if (failure) {
    ::unlink(temporary.c_str());
    return fail(path + ": " + std::strerror(failure));
  }
  // The rename itself is made lasting by flushing the directory.
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool save_resources(const Settings& settings, bool packaged, std::string* error) {
  if (packaged) return true;
  return settings.save(settings.preference_file(), error);
}

}  // namespace zema
