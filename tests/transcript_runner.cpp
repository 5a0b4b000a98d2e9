// Runs a transcript against the console driver and reports every line that
// differs.
//
// A transcript is a session as a person reads it: input lines are indented by
// six blanks, every other line is output expected from the line before. Lines
// that begin with "⍝⍝" are comments. The driver runs with --input-marker, so
// it says when it waits for input; the next transcript line must then be an
// input line, which is fed to it. That settles which six-blank lines are
// input (a line echoed in an error report, say, is output); a line of six
// blanks alone, met where input is asked for, is an empty input line. A
// prompt other than six blanks (the ∇ editor's [n], a ⍞ prompt) comes with
// the request, and the input line is the transcript line after that prompt.
// A comment line "⍝⍝ args: …" gives further arguments for the driver.
//
// When ZEMA_TRANSCRIPT_MEMORY_MB is set, the driver runs with its address
// space limited to that many megabytes: an APL line that asks for host memory
// beyond its workspace then aborts the driver instead of passing unnoticed.
//
//   transcript_runner CONSOLE TRANSCRIPT [CONSOLE-ARGS...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kMarker = "\x1e";
const std::string kIndent = "      ";

bool is_input(const std::string& line) { return line.compare(0, kIndent.size(), kIndent) == 0 && line.size() > 6; }

struct Line {
  int number;
  std::string text;
  bool pattern = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: transcript_runner CONSOLE TRANSCRIPT [ARGS...]\n";
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  if (!file) {
    std::cerr << "cannot open " << argv[2] << "\n";
    return 2;
  }
  std::vector<Line> lines;
  std::vector<std::string> extra_args;
  std::string text;
  int number = 0;
  const std::string args_directive = "⍝⍝ args:";
  const std::string fresh_directive = "⍝⍝ fresh directory";
  const std::string pattern_prefix = "⍝⍝~ ";
  std::string fresh;
  while (std::getline(file, text)) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.rfind(args_directive, 0) == 0) {
      std::istringstream words(text.substr(args_directive.size()));
      for (std::string w; words >> w;) extra_args.push_back(w);
      continue;
    }
    if (text.rfind(fresh_directive, 0) == 0) {
      std::string pattern = (std::filesystem::temp_directory_path() / "transcript-XXXXXX").string();
      if (!mkdtemp(pattern.data())) return 2;
      fresh = pattern;
      continue;
    }
    if (text.rfind(pattern_prefix, 0) == 0) {
      lines.push_back({number, text.substr(pattern_prefix.size()), true});
      continue;
    }
    if (text.rfind("⍝⍝", 0) == 0) continue;
    lines.push_back({number, text});
  }

  // The driver is named by an absolute path: it may run in another directory.
  const std::string console = std::filesystem::absolute(argv[1]).string();
  int to_child[2], from_child[2];
  if (pipe(to_child) || pipe(from_child)) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    close(to_child[0]);
    close(to_child[1]);
    close(from_child[0]);
    close(from_child[1]);
    if (!fresh.empty() && (chdir(fresh.c_str()) != 0 || setenv("HOME", fresh.c_str(), 1) != 0)) _exit(127);
    if (const char* mb = std::getenv("ZEMA_TRANSCRIPT_MEMORY_MB")) {
      const rlim_t bytes = static_cast<rlim_t>(std::strtoul(mb, nullptr, 10)) << 20;
      const rlimit limit{bytes, bytes};
      if (bytes == 0 || setrlimit(RLIMIT_AS, &limit) != 0) {
        std::perror("memory limit");
        _exit(127);
      }
    }
    std::vector<char*> args{const_cast<char*>(console.c_str()), const_cast<char*>("--input-marker")};
    for (int i = 3; i < argc; ++i) args.push_back(argv[i]);
    for (std::string& a : extra_args) args.push_back(a.data());
    args.push_back(nullptr);
    execv(console.c_str(), args.data());
    std::perror("exec");
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  std::FILE* out = fdopen(from_child[0], "r");
  int in_fd = to_child[1];

  std::size_t at = 0;
  int failures = 0;
  auto fail = [&](const std::string& what) {
    ++failures;
    std::cout << argv[2] << ":" << what << "\n";
  };
  auto read_line = [&](std::string& s) {
    s.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(out)) != EOF) {
      any = true;
      if (c == '\n') return true;
      s.push_back(static_cast<char>(c));
    }
    return any;
  };

  std::string got;
  while (read_line(got)) {
    if (got.compare(0, kMarker.size(), kMarker) == 0) {
      // The session waits for input after the prompt that follows the
      // marker (six blanks when none): the transcript line must begin
      // with it. Expected output not produced is missing.
      std::string prompt = got.substr(kMarker.size());
      if (prompt.empty()) prompt = kIndent;
      auto is_answer = [&](const Line& l) {
        if (l.pattern) return false;
        // Six blanks alone, asked for, are an empty answer.
        return prompt == kIndent ? (is_input(l.text) || l.text == kIndent)
                                 : l.text.compare(0, prompt.size(), prompt) == 0;
      };
      while (at < lines.size() && !is_answer(lines[at])) {
        fail(std::to_string(lines[at].number) + ": expected output missing: " + lines[at].text);
        ++at;
      }
      if (at == lines.size()) {
        close(in_fd);
        in_fd = -1;
        continue;
      }
      std::string input = lines[at].text.substr(prompt.size()) + "\n";
      ++at;
      if (write(in_fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) break;
      continue;
    }
    auto matches = [&](const Line& l) { return l.pattern ? std::regex_match(got, std::regex(l.text)) : l.text == got; };
    if (at < lines.size() && matches(lines[at])) {
      ++at;
    } else if (at < lines.size() && (lines[at].pattern || !is_input(lines[at].text))) {
      fail(std::to_string(lines[at].number) + ": expected: " + lines[at].text + "\n      got: " + got);
      ++at;
    } else {
      fail(std::to_string(at < lines.size() ? lines[at].number : number) + ": unexpected output: " + got);
    }
  }
  for (; at < lines.size(); ++at) fail(std::to_string(lines[at].number) + ": never reached: " + lines[at].text);
  if (in_fd >= 0) close(in_fd);
  std::fclose(out);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail(" the console ended with status " + std::to_string(status));
  if (!fresh.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(fresh, ec);
  }
  std::cout << (lines.size()) << " lines, " << failures << " differences\n";
  return failures ? 1 : 0;
}
