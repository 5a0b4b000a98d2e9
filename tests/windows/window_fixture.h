// What the window tests share: a task whose answers to the front end's
// questions the test sets, and a fixture that makes shells in the chain and
// shown windows in them, and takes everything down again after each test
// (windows, shells, tasks, settings, desktop file, hooks), so that tests
// stay independent.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QPointer>
#include <QTest>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/settings.h"
#include "host/task.h"
#include "platform/memory_ini.h"
#include "windows/help_lookup.h"
#include "windows/shell.h"
#include "windows/shell_window.h"

namespace zema::testing_support {

class FakeTask : public APLTask {
 public:
  bool awaiting = true;
  int state = 0;
  std::string ws_name = "MYWS";
  // Known names (display-font characters) and what GetNameInformation says
  // of them; the answer's name is the key.
  std::map<std::string, NameInformation> names;

  void WriteOutput(const char*, std::size_t) override {}
  void FlushOutput() override {}
  Input ReadInputLine(std::string&) override { return Input::Ended; }
  int GetOneKeystroke() override { return 3; }
  std::uint32_t ReAllocateTaskMemory(std::uint32_t, std::uint8_t**) override { return 0; }
  [[noreturn]] void EndAPLTask() override { std::abort(); }

  int pw = 80;
  int GetQuadPW() override { return pw; }
  void SetQuadPW(int n) override { pw = n; }
  bool IsAwaitingInput() const override { return awaiting; }
  int GetWSState() override { return state; }
  std::string GetWSName() override { return ws_name; }
  bool not_empty = false;   // WSNotEmpty
  std::string si;           // GetSI
  bool lx_defined = false;  // CheckQuadLXDefined
  bool WSNotEmpty() override { return not_empty; }
  std::string GetSI() override { return si; }
  bool CheckQuadLXDefined() override { return lx_defined; }
  int GetNameInformation(const std::string& name, NameInformation* info) override {
    auto it = names.find(name);
    if (it == names.end()) return 12;
    *info = it->second;
    info->name = name;
    return 0;
  }
  void AddName(const std::string& name, int symbol_type, int edit_kind = 0) {
    NameInformation info;
    info.symbol_type = symbol_type;
    info.edit_kind = edit_kind;
    names[name] = info;
  }
};

class WindowFixture : public ::testing::Test {
 protected:
  // A new task with its shell appended to the chain.
  APLShell* NewShell() {
    tasks_.push_back(std::make_unique<FakeTask>());
    shells_.push_back(std::make_unique<APLShell>(tasks_.back().get()));
    shells_.back()->AppendToChain();
    return shells_.back().get();
  }
  FakeTask* TaskOf(APLShell* s) { return static_cast<FakeTask*>(s->task()); }

  // Adds `w` to `shell` (when given), gives it `kind`, shows it and keeps
  // track of it for the tear-down.
  template <class W>
  W* Add(W* w, APLShell* shell, int kind) {
    w->window_kind = kind;
    if (shell) shell->AddWindowToShell(w);
    w->show();
    windows_.push_back(w);
    return w;
  }

  // Makes `w` the active window, as a click on it would.
  static bool Activate(QWidget* w) {
    w->activateWindow();
    QApplication::setActiveWindow(w);
    return QTest::qWaitForWindowActive(w, 2000);
  }

  void SetUp() override {
    settings_ = std::make_unique<Settings>();
    set_live_settings(settings_.get());
  }

  void TearDown() override {
    set_run_modal_hook(nullptr);
    help_index_hook = nullptr;
    help_show_hook = nullptr;
    open_editor_hook = nullptr;
    for (auto& s : shells_) s->CloseAllWindows();
    for (QPointer<QWidget>& w : windows_)
      if (w) delete w.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    shells_.clear();
    tasks_.clear();
    set_live_settings(nullptr);
    settings_.reset();
    delete gDesktopFile;
    gDesktopFile = nullptr;
    QApplication::clipboard()->clear();
    ASSERT_EQ(first_apl_shell(), nullptr);
  }

  // Sets one setting through an X-resource line ("name: value").
  void Set(const std::string& line) {
    std::string error;
    ASSERT_EQ(settings_->set_resource("*" + line, &error), 0) << error;
  }

  std::unique_ptr<Settings> settings_;
  std::vector<std::unique_ptr<FakeTask>> tasks_;
  std::vector<std::unique_ptr<APLShell>> shells_;
  std::vector<QPointer<QWidget>> windows_;
};

}  // namespace zema::testing_support
