// A session of its own for the tests of workspace files: a workspace of a
// given size whose lines are typed as at the keyboard, and a fixture whose
// library 0 is a fresh directory with the definition and command routes in
// place.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/charset.h"
#include "interpreter/engine/line.h"
#include "interpreter/reader/tokeniser.h"
#include "interpreter/session/class_definition.h"
#include "interpreter/session/copy_commands.h"
#include "interpreter/session/definition.h"
#include "interpreter/session/life.h"
#include "interpreter/session/listing_commands.h"
#include "interpreter/session/transfer_commands.h"
#include "interpreter/session/ws_commands.h"
#include "interpreter/sysfns/commands.h"
#include "interpreter/workspace/entry.h"
#include "test_workspace.h"
#include "ws_file_fixture.h"

namespace zema::test {

// One workspace of its own size in the task's session.
class WsSession {
 public:
  WsSession(CaptureTask& task, std::uint32_t bytes) : task_(task), memory_(bytes) {
    ws_ = apl_setup(memory_.data(), bytes, "", 1);
    task_.wsBase = ws_;
    clear_workspace(ws_);
  }
  ~WsSession() { forget_side_state(ws_); }
  WsSession(const WsSession&) = delete;
  WsSession& operator=(const WsSession&) = delete;
  Ws ws() const { return ws_; }

  // Runs the lines (a load re-enters immediate execution by an exception,
  // which ends the line); answers the output, a new line per return.
  std::string type(std::initializer_list<std::string> lines) {
    task_.output.clear();
    for (const std::string& l : lines) {
      const std::string text = utf8_to_internal(l);
      wr16(ws_, hdr::OutColumn, 0);
      try {
        run_input_line(text.data(), static_cast<int>(text.size()), ws_);
      } catch (const EnterImmediate& e) {
        EXPECT_EQ(e.ws, ws_);
      }
    }
    std::string out;
    for (char c : task_.output) out += c == '\r' ? std::string("\n") : internal_to_utf8(std::string(1, c));
    return out;
  }

  // The symbol table, heap and stack, with the header words that place
  // them and name the workspace (the rest of the header follows the
  // session's output).
  Bytes body() const {
    Bytes b = contents();
    Bytes out(b.begin() + kHeaderSize, b.end());
    for (std::uint32_t w : {hdr::HeapTop, hdr::Top, hdr::StackPointer, hdr::SiLink, hdr::LibraryLoaded})
      out.insert(out.end(), ws_ + w, ws_ + w + 4);
    out.insert(out.end(), ws_ + hdr::Wsid, ws_ + hdr::Wsid + 12);
    out.insert(out.end(), ws_ + hdr::SaveName, ws_ + hdr::SaveName + 256);
    return out;
  }

  // The workspace's heap and stack as they stand.
  Bytes contents() const {
    const std::uint32_t heap = rd32(ws_, hdr::HeapTop), sp = rd32(ws_, hdr::StackPointer), top = rd32(ws_, hdr::Top);
    Bytes b(ws_, ws_ + heap);
    b.insert(b.end(), ws_ + sp, ws_ + top);
    return b;
  }

 private:
  CaptureTask& task_;
  std::vector<std::uint8_t> memory_;
  Ws ws_;
};

// dir_ is library 0 of task_, current on this thread with the routes a
// session installs at its start.
class WsSessionTest : public TemporaryDirectoryTest {
 protected:
  explicit WsSessionTest(const char* prefix) : TemporaryDirectoryTest(prefix) {}
  void SetUp() override {
    TemporaryDirectoryTest::SetUp();
    task_.names.ws_directory = dir_.string() + "/";
    set_current_apl_task(&task_);
    saved_routes_ = lex_routes();
    install_definition_routes();
    install_class_definition_routes();
    lex_routes().class_close = close_class_definition;
    install_command_routes();
    install_workspace_commands();
    install_listing_commands();
    install_copy_commands();
    install_transfer_commands();
  }
  void TearDown() override {
    lex_routes() = saved_routes_;
    set_current_apl_task(nullptr);
    TemporaryDirectoryTest::TearDown();
  }

  CaptureTask task_;
  LexRoutes saved_routes_;
};

}  // namespace zema::test
