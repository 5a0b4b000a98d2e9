// The two temporary files of a task ()COPY saves the workspace to the first
// and writes its transfer records to the second).
#pragma once

#include <string>

namespace zema {

class TaskTempFiles {
 public:
  // Creates two new empty files in $TMPDIR (or /tmp when it is unset or
  // empty) with names no other process can predict; a name stays empty
  // when its file could not be made.
  TaskTempFiles();
  // Removes both files.
  ~TaskTempFiles();
  TaskTempFiles(const TaskTempFiles&) = delete;
  TaskTempFiles& operator=(const TaskTempFiles&) = delete;

  const std::string& first() const { return first_; }
  const std::string& second() const { return second_; }

 private:
  std::string first_, second_;
};

}  // namespace zema
