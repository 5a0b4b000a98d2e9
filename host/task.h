// One interpreter session as the host sees it. The front end (the console
// driver here, the session window in the program) supplies input lines and
// takes output; the interpreter's host calls find the task of the calling
// thread through `current_apl_task`.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace zema {

class APLShell;
class QwiSystem;

// What the front end's windows learn of a name (GetNameInformation).
struct NameInformation {
  int symbol_type = 15;   // 0–2 function kinds, 3 variable, 11–14 operators, 15 no value, 16 class
  int edit_kind = 0;      // 1 variable, 2 class, 0 function or operator
  std::string name;       // display-font characters
};

// The task's block of host-module state. Grows as the host modules arrive.
struct ServerSideTaskVars {
  int seq_fd = -1;             // the task's one sequential file
  int last_errno = 0;          // latest host file error
  int last_afl_errno = 0;      // latest component-file host error
  std::uint32_t event_source = 0;
  std::uint32_t sysobj_counter = 0;
  // ---- ⎕WI requests and event waits (host/services_channel.cpp and the
  // interpreter's ⎕WI, ⎕WE and event functions) ----
  // What the last component-21 writes of the services channel named: the
  // whole object name (internal characters), its part before the first "."
  // and the rest after it (empty: no "."), the property or method name
  // (capitals) and the item count that came with it.
  std::string qwi_name;
  std::string qwi_object;
  std::string qwi_path;
  std::string qwi_property;
  int qwi_item_count = 0;
  // −1 while ⎕WE waits for events, 1 while a callback expression it started
  // runs; 0 before the first ⎕WE. Kept as last set.
  int qwi_callback_flag = 0;
};

// Names and paths handed to the interpreter at start.
struct NamesRecord {
  std::string temp_name1;
  std::string temp_name2;
  std::string help_file;
  std::string dataspace;        // internal characters, at most 120
  std::string libraries[10];    // host paths of ⎕MOUNT rows 0-9
  std::string ws_directory;
  std::uint8_t* parent_ws = nullptr;  // parent task's workspace base, or null
};

// The preference words the interpreter reads at start.
struct PrefsRecord {
  std::uint16_t pw = 80;
  std::uint16_t term_format = 0;
  std::uint32_t user_number = 0;
  std::uint32_t term_type = 0;
};

class APLTask {
 public:
  // Appends the task to the end of the task list; the destructor takes it
  // out again (if CloseDownTask has not).
  APLTask();
  virtual ~APLTask();
  APLTask(const APLTask&) = delete;
  APLTask& operator=(const APLTask&) = delete;

  // Session output, internal characters; collected and flushed by the task.
  virtual void WriteOutput(const char* text, std::size_t n) = 0;
  virtual void FlushOutput() = 0;
  // Blocks until the next input line (internal characters). An attention
  // during the wait gives no line; the end of the session's input ends it.
  enum class Input { Line, Interrupted, Ended };
  virtual Input ReadInputLine(std::string& line) = 0;
  // One keystroke; 3 when there is none to be had.
  virtual int GetOneKeystroke() = 0;
  // Asked at every attention poll: a front end that learns of attentions
  // by itself (not through attnPending) sets attnPending here.
  virtual void CheckFrontEndAttention() {}
  // The session shows the interpreter's own messages in its error colour.
  virtual void SetErrorColour(bool on) { (void)on; }
  // A line of host characters sent by ⎕CC: a carriage return without a
  // line feed is dropped, the rest goes out as session output (the base;
  // host/glue.cpp). A task with a session window writes it over the
  // current line from the caret, and never to the ⎕HC printer.
  virtual void ASCIILineSend(const char* text);
  // A loaded workspace's latent expression is about to run; `error_message`
  // is the error-report word the workspace was loaded with, so that a
  // report made by the expression can be told from the loaded one.
  virtual void LatentExpressionStarting(std::uint32_t error_message) { (void)error_message; }
  // Session requests, each carried by the request fields below and
  // answered in guiResult (an ErrorCode, 0 done). QuadCC: the ⎕CC code in
  // requestCode. CursorAdd: the cursor to (cursorColumn, cursorLine; −1
  // the current line). A session without a movable cursor takes them
  // without effect (the base).
  virtual void QuadCC() { guiResult = 0; }
  virtual void CursorAdd() { guiResult = 0; }
  // ⎕WI property read: the property, method or event propertyName (null:
  // the rest of a result that did not fit) of the object objectTop with
  // the dotted path objectPath; the reply is written to resultBuffer
  // (resultSize bytes, already an empty matrix). Write: the value
  // requestValue. The base has no ⎕WI objects and no way to make one:
  // 88 (LOGICAL UNIT NOT FOUND).
  virtual void QwiGetProperty() { guiResult = 88; }
  virtual void QwiSetProperty() { guiResult = 88; }
  // The ⎕WI reads of the services channel (task thread), each writing one
  // APL value into `result` (`room` bytes) and answering an ErrorCode.
  // QwiEvents: the event queue's read side for `subcode` (3–10) with its
  // integer `argument`. QwiSelf: the full name of the object whose event
  // is being handled (⎕WSELF), an empty text when none. QwiWindowVisible:
  // 1 when the top-level object `name` (internal characters) exists, is
  // opened and visible, else 0. The base has no ⎕WI system: 24, an empty
  // text, and 0.
  virtual int QwiEvents(int subcode, int argument, void* result, int room);
  virtual int QwiSelf(void* result, int room);
  virtual int QwiWindowVisible(const char* name, void* result, int room);
  // Moves the workspace into a block of at least the given size; answers
  // the new size and base, or 0 when no block could be had.
  virtual std::uint32_t ReAllocateTaskMemory(std::uint32_t bytes, std::uint8_t** new_ws) = 0;
  // Ends the task: never returns to the interpreter.
  [[noreturn]] virtual void EndAPLTask() = 0;

  // ---- the front end's questions (GUI thread) ----
  // Each answers as for a task without a workspace unless the task
  // overrides it: not waiting for input, state 0, ⎕PW 80, the name
  // "CLEAR WS", and no name known (12).
  virtual bool IsAwaitingInput() const { return false; }
  // The workspace state word; the bits 0x6004 mark input other than an
  // immediate-execution line.
  virtual int GetWSState() { return 0; }
  virtual int GetQuadPW() { return 80; }
  virtual void SetQuadPW(int pw) { (void)pw; }
  // The workspace name without directory and ".aws", display-font
  // characters.
  virtual std::string GetWSName() { return "CLEAR WS"; }
  // Whether the workspace holds anything (a confirmation guards its loss).
  virtual bool WSNotEmpty() { return false; }
  // The state indicator as )SI lists it; empty when it is clear.
  virtual std::string GetSI() { return {}; }
  // Whether ⎕LX has a value.
  virtual bool CheckQuadLXDefined() { return false; }
  // 0 and `*info` for a known name (display-font characters); 12 for a bad
  // or unknown name.
  virtual int GetNameInformation(const std::string& name, NameInformation* info) {
    (void)name, (void)info;
    return 12;
  }

  // The request fields: a request of the task thread travels in these to
  // the step that carries it out (on the GUI thread, which the task thread
  // waits for), and the answer comes back in guiResult. Only the task
  // thread and that step touch them, one request at a time.
  int requestCode = 0;                    // ⎕CC code
  int cursorColumn = 0, cursorLine = 0;   // cursor request
  int propertyId = -1;                    // ⎕WI: property id (−1 unknown)
  int callbackId = 999;                   // ⎕WI: event id of a callback assignment, 999 none
  const char* propertyName = nullptr;     // ⎕WI: property, method or event name
  const char* objectTop = nullptr;        // ⎕WI: top-level object name
  const char* objectPath = nullptr;       // ⎕WI: dotted object path
  void* resultBuffer = nullptr;           // ⎕WI read: the result area
  int resultSize = 0;                     //   and its size in bytes
  const void* requestValue = nullptr;     // ⎕WI write: the value
  std::uint32_t neededSize = 0;           // ⎕WI read that did not fit: the size it needs
  bool resultTooBig = false;              //   and that it did not
  int guiResult = 0;                      // the answer of the last request

  std::atomic<bool> attnEnabled{true};
  std::atomic<bool> attnPending{false};
  // While no attention is pending, the interpreter's polls ask
  // CheckFrontEndAttention only every frontEndCheckEvery polls (1: every
  // poll); frontEndCountdown counts the polls down to the next.
  std::uint32_t frontEndCheckEvery = 256;
  std::uint32_t frontEndCountdown = 1;
  bool noEcho = false;
  bool ending = false;
  int hardCopyMode = 0;
  // Capture of session output (system-command output recorded as a value):
  // while `capturing`, output goes to captureBuffer instead of the session.
  // The buffer never holds more than captureLimit characters, which the task
  // sets to its workspace size (a longer text could not become a value);
  // captureOverflow is set once more came, or the buffer could not grow.
  std::vector<char> captureBuffer;
  std::size_t captureLimit = 0;
  bool capturing = false;
  bool captureOverflow = false;
  std::int32_t cursorAddress[4] = {0, 0, 80, 25};
  std::string currentLine;  // characters already written on the session's input line
  ServerSideTaskVars hostVars;
  NamesRecord names;
  PrefsRecord prefs;
  std::uint8_t* wsBase = nullptr;
  APLShell* shell = nullptr;  // the task's windows (GUI thread), null without
  QwiSystem* system = nullptr;  // the task's ⎕WI object tree (GUI thread), null without
  APLTask* nextTask = nullptr;  // the next task in the task list
};

// The task list, in creation order (changed on the GUI thread, read from
// any thread under the list's lock). first_apl_task answers its head (null
// when empty), count_apl_tasks its length; unlink_apl_task takes `task` out
// (nothing when it is not in the list) and answers the tasks left.
APLTask* first_apl_task();
int count_apl_tasks();
int unlink_apl_task(APLTask* task);

// The calling thread's task, or null (the GUI thread); set_current_apl_task
// makes `task` the calling thread's. The thread-local pointer itself stays
// inside the host glue; these are its only doors.
APLTask* find_my_task();
void set_current_apl_task(APLTask* task);

// Thrown by a task's EndAPLTask to leave the interpreter for good.
struct TaskEnded {
  int status;
};

}  // namespace zema
