#include "wi/qwi_system.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

#include "host/charset.h"
#include "host/paths.h"
#include "host/task.h"
#include "host/values.h"
#include "platform/executable_dates.h"
#include "platform/synchronize.h"
#include "wi/requests.h"
#include "wi/value_forms.h"

namespace zema {

namespace {

constexpr char kSystemName[] = "\xA1";  // #
std::atomic<std::int32_t> next_task_id{1};

std::string to_internal(std::string_view host) {
  std::string s(host);
  for (char& c : s) c = static_cast<char>(fontin(static_cast<unsigned char>(c)));
  return s;
}

// Pointer shapes: the number a program reads and writes and the cursor.
struct PointerRow {
  int number;
  Qt::CursorShape shape;
};
constexpr PointerRow kPointers[] = {
    {0, Qt::ArrowCursor},       {1, Qt::ArrowCursor},        {2, Qt::CrossCursor},     {3, Qt::IBeamCursor},
    {5, Qt::SizeAllCursor},     {6, Qt::SizeBDiagCursor},    {7, Qt::SizeVerCursor},   {8, Qt::SizeFDiagCursor},
    {9, Qt::SizeHorCursor},     {10, Qt::UpArrowCursor},     {11, Qt::WaitCursor},     {12, Qt::ForbiddenCursor},
    {13, Qt::BusyCursor},       {14, Qt::PointingHandCursor}, {30, Qt::DragMoveCursor}, {31, Qt::ForbiddenCursor},
    {32, Qt::SplitVCursor},     {33, Qt::SplitHCursor},      {34, Qt::WaitCursor},     {35, Qt::PointingHandCursor},
};

// The text of a character scalar, vector or one-row matrix: 0, 16, 12.
int clipboard_text_value(const void* value, std::string* internal) {
  if (!qwi_is_character(value)) return 12;
  const int rank = qwi_rank(value);
  std::uint32_t rows = 1;
  if (rank == 2) std::memcpy(&rows, static_cast<const std::uint8_t*>(value) + 12, 4);
  if (rank > 2 || rows != 1) return 16;
  const auto* d = static_cast<const char*>(value) + 12 + 4 * rank;
  internal->assign(d, qwi_item_count(value));
  return 0;
}

}  // namespace

std::int32_t qwi_time_of_day() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const auto us = duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000;
  return local.tm_hour * 3600000 + local.tm_min * 60000 + local.tm_sec * 1000 + static_cast<std::int32_t>(us / 1000);
}

QwiSystem::QwiSystem(APLTask* task) : QwiObj(task, kSystemName, nullptr), task_id_(next_task_id++) {
  system_ = this;
  class_id_ = qwi_class::System;
  class_name_ = "System";
  current_.words[1] = kQwiNoEvent;
  created_ = true;
  opened_ = true;
}

QwiSystem::~QwiSystem() {
  std::lock_guard guard(lock_);
  for (int i = 0; i < count_; ++i) ReleaseRecord(queue_[std::size_t((oldest_ + i) % kQueueSize)]);
  count_ = 0;
  for (HandleSlot& h : handles_)
    if (h.node) ReleaseNode(h.node), h.node = nullptr;
  for (QwiCallback* node : callbacks_) {
    node->window = node->object = nullptr;
    ReleaseNode(node);
  }
  callbacks_.clear();
}

void QwiSystem::ValidAtThisLevel(QwiValidFlags& flags) {
  QwiObj::ValidAtThisLevel(flags);
  for (int id : {95, 50, 297, 229, 17, 14, 78, 0, 170, 35, 106, 3, 107, 113, 110, 117, 118, 58, 20, 18, 19, 75, 168,
                 260, 164, 121, 127, 337})
    flags.properties[std::size_t(id)] = 1;
  for (int id : {270, 273, 267, 263, 319}) flags.properties[std::size_t(id)] = 0;
  for (int ev : {26, 10, 27}) flags.events[std::size_t(ev)] = 0;
  for (int ev : {43, 37, 38, 39}) flags.events[std::size_t(ev)] = 1;
}

void QwiSystem::ValidForClass(QwiValidFlags& flags) { ValidAtThisLevel(flags); }

// ---- the queue ----

void QwiSystem::ReleaseNode(QwiCallback* node) {
  std::lock_guard guard(lock_);
  if (--node->refs == 0) delete node;
}

void QwiSystem::ReleaseRecord(QwiEvent& record) {
  if (record.node) ReleaseNode(record.node);
  record.node = nullptr;
  record.attached.clear();
  record.attached.shrink_to_fit();
}

void QwiSystem::AddEventToQueue(int event, std::int32_t tie, std::int32_t a1, std::int32_t a2, std::int32_t a3,
                                std::int32_t a4, QwiCallback* node) {
  QPoint pointer;
  if (on_gui_thread()) pointer = QCursor::pos();
  const std::int32_t time = qwi_time_of_day();
  std::lock_guard guard(lock_);
  const int slot = (oldest_ + count_) % kQueueSize;
  if (++count_ > kQueueSize) {
    ReleaseRecord(queue_[std::size_t(slot)]);
    --count_;
    oldest_ = (oldest_ + 1) % kQueueSize;
  }
  QwiEvent& r = queue_[std::size_t(slot)];
  r.words = {tie, event, time, pointer.y(), pointer.x(), a1, a2, a3, a4};
  r.node = node;
  ++node->refs;
  r.attached.clear();
}

int QwiSystem::QueuedCount() {
  std::lock_guard guard(lock_);
  return count_;
}

void QwiSystem::ClearEventQueue() {
  std::lock_guard guard(lock_);
  for (int i = 0; i < count_; ++i) ReleaseRecord(queue_[std::size_t((oldest_ + i) % kQueueSize)]);
  count_ = 0;
  oldest_ = 0;
  for (HandleSlot& h : handles_) {
    if (h.node) {
      ReleaseNode(h.node);
      h.node = nullptr;
      ++h.generation;
    }
  }
  free_handles_.clear();
  for (std::uint32_t i = 0; i < handles_.size(); ++i) free_handles_.push_back(i);
  ReleaseRecord(current_);
  current_.words = {};
  current_.words[1] = kQwiNoEvent;
  current_window_ = current_object_ = pending_window_ = modal_window_ = nullptr;
}

int QwiSystem::SetQWARG(std::vector<std::uint8_t>&& value) {
  std::lock_guard guard(lock_);
  if (count_ == 0) return 68;
  QwiEvent& newest = queue_[std::size_t((oldest_ + count_ - 1) % kQueueSize)];
  if (!newest.attached.empty()) return 68;
  newest.attached = std::move(value);
  return 0;
}

void QwiSystem::ForgetObject(QwiObj* object) {
  std::lock_guard guard(lock_);
  if (current_object_ == object) current_object_ = nullptr;
  if (current_window_ == object) current_window_ = nullptr;
  if (pending_window_ == object) pending_window_ = nullptr;
  if (modal_window_ == object) modal_window_ = nullptr;
  if (representing_object == object) representing_object = nullptr;
}

// ---- handles: small numbers for callback nodes held by the program ----

std::int32_t QwiSystem::NewHandle(QwiCallback* node) {
  std::uint32_t index;
  if (!free_handles_.empty()) {
    index = free_handles_.back();
    free_handles_.pop_back();
  } else {
    if (handles_.size() >= kMaxHandles) return 0;
    handles_.push_back({});
    // Room for every slot to come back, so that giving one back never fails.
    free_handles_.reserve(handles_.size());
    index = static_cast<std::uint32_t>(handles_.size() - 1);
  }
  handles_[index].node = node;
  return static_cast<std::int32_t>((std::uint32_t(handles_[index].generation & 0x7FFF) << 16) | (index + 1));
}

QwiCallback* QwiSystem::TakeHandle(std::int32_t handle) {
  if (handle <= 0) return nullptr;
  const std::uint32_t index = (std::uint32_t(handle) & 0xFFFF) - 1;
  const std::uint32_t generation = std::uint32_t(handle) >> 16;
  if (index >= handles_.size()) return nullptr;
  HandleSlot& h = handles_[index];
  if (!h.node || (h.generation & 0x7FFF) != generation) return nullptr;
  QwiCallback* node = h.node;
  h.node = nullptr;
  ++h.generation;
  if (h.generation == 0) h.generation = 1;
  free_handles_.push_back(index);
  return node;
}

// ---- the event channel ----

bool QwiSystem::AttentionPending() {
  if (!task_) return false;
  task_->CheckFrontEndAttention();
  return task_->attnEnabled && task_->attnPending;
}

int QwiSystem::r1000_events(int subcode, int argument, void* result, int size) {
  try {
    if (task_) open_pending_window(*task_);
    return Events(subcode, argument, result, size);
  } catch (const std::bad_alloc&) {
    return 68;
  }
}

int QwiSystem::Events(int subcode, int argument, void* result, int size) {
  switch (subcode) {
    case 3: {
      std::lock_guard guard(lock_);
      std::vector<std::int32_t> words;
      try {
        words.reserve(std::size_t(count_) * 9);
      } catch (const std::bad_alloc&) {
        return 68;
      }
      for (int i = 0; i < count_; ++i) {
        const QwiEvent& r = queue_[std::size_t((oldest_ + i) % kQueueSize)];
        words.insert(words.end(), r.words.begin(), r.words.end());
      }
      const int rc = qwi_return_integer_matrix(result, size, count_, 9, words.data());
      if (rc) return rc;  // the queue stays as it was
      for (int i = 0; i < count_; ++i) ReleaseRecord(queue_[std::size_t((oldest_ + i) % kQueueSize)]);
      count_ = 0;
      oldest_ = 0;
      return 0;
    }
    case 4:
    case 5: {
      if (subcode == 4 && QueuedCount() == 0) return return_empty_vector(result);
      if (size < 56) return 4;
      while (QueuedCount() == 0) {
        if (AttentionPending()) return 120;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      std::lock_guard guard(lock_);
      QwiEvent& r = queue_[std::size_t(oldest_)];
      std::int32_t items[10];
      std::memcpy(items, r.words.data(), sizeof(std::int32_t) * 9);
      items[9] = NewHandle(r.node);
      if (items[9] == 0) return 68;  // every handle is held: the record stays
      // The reply first: a record is taken only once its reply is made.
      if (const int rc = qwi_return_integers(result, std::max(size, 57), items, 10)) {  // 56 bytes fill the area
        TakeHandle(items[9]);  // the record keeps its reference
        return rc;
      }
      r.node = nullptr;  // its reference went with the handle
      ReleaseRecord(r);
      oldest_ = (oldest_ + 1) % kQueueSize;
      --count_;
      return 0;
    }
    case 6: {
      std::lock_guard guard(lock_);
      if (argument == 0) return 12;
      const std::uint32_t index = (std::uint32_t(argument) & 0xFFFF) - 1;
      if (argument < 0 || index >= handles_.size() || !handles_[index].node ||
          (handles_[index].generation & 0x7FFF) != (std::uint32_t(argument) >> 16))
        return 12;
      const int rc = qwi_return_text(result, size, handles_[index].node->text);
      if (rc) return rc;  // the handle stays live for another try
      ReleaseNode(TakeHandle(argument));
      return 0;
    }
    case 7: {
      if (task_) task_->FlushOutput();
      bool empty;
      {
        std::lock_guard guard(lock_);
        empty = count_ == 0;
      }
      if (empty || AttentionPending()) {
        if (argument != 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return return_empty_vector(result);
      }
      std::lock_guard guard(lock_);
      QwiEvent& r = queue_[std::size_t(oldest_)];
      const int rc = qwi_return_text(result, size, r.node ? r.node->text : std::string());
      if (rc) return rc;  // the record stays queued
      ReleaseRecord(current_);
      current_.words = r.words;
      current_.attached = std::move(r.attached);
      current_window_ = r.node ? r.node->window : nullptr;
      current_object_ = r.node ? r.node->object : nullptr;
      ReleaseRecord(r);
      oldest_ = (oldest_ + 1) % kQueueSize;
      --count_;
      return 0;
    }
    case 8: {
      if (size < 52) return 4;
      std::lock_guard guard(lock_);
      return qwi_return_integers(result, std::max(size, 53), current_.words.data(), 9);  // 52 bytes fill it
    }
    case 9: {
      std::lock_guard guard(lock_);
      if (current_.attached.empty()) return qwi_return_text(result, size, "");
      return qwi_return_copy(result, size, current_.attached, nullptr);
    }
    case 10: {
      std::lock_guard guard(lock_);
      if (!current_object_) return qwi_return_text(result, size, "");
      return current_object_->EventToString(current_.words[1], result, size);
    }
    default: return 24;
  }
}

int QwiSystem::qwself_read(void* result, int size) {
  if (size < 392) return 4;
  try {
    std::lock_guard guard(lock_);
    return qwi_return_text(result, size, current_object_ ? current_object_->FullName() : std::string());
  } catch (const std::bad_alloc&) {
    return 68;
  }
}

int QwiSystem::check_visible_window(const char* name, void* result, int size) {
  if (task_) open_pending_window(*task_);
  bool visible = false;
  synchronize([&] {
    const QwiObj* o = FindChild(name ? name : "");
    visible = o && o->opened() && o->visible();
  });
  return return_boolean_scalar(result, visible ? 1 : 0);
}

bool QwiSystem::HasPendingWindow() {
  std::lock_guard guard(lock_);
  return pending_window_ != nullptr;
}

void QwiSystem::set_pending_window(QwiObj* w) {
  std::lock_guard guard(lock_);
  pending_window_ = w;
}

void QwiSystem::OpenPendingWindow() {
  QwiObj* w;
  {
    std::lock_guard guard(lock_);
    w = pending_window_;
    pending_window_ = nullptr;
  }
  if (!w) return;
  w->opened_ = true;
  w->CheckUserEvent(26);
  if (w->visible_) w->ShowControl(true);
}

// ---- saved result ----

void* QwiSystem::SetQwiResult(int size) {
  std::lock_guard guard(lock_);
  try {
    saved_result_.assign(std::size_t(std::max(size, 20)), 0);
  } catch (const std::bad_alloc&) {
    has_saved_result_ = false;
    return nullptr;
  }
  has_saved_result_ = true;
  return_empty_matrix(saved_result_.data());
  return saved_result_.data();
}

int QwiSystem::TakeQwiResult(void* area, int size, std::uint32_t* needed) {
  std::lock_guard guard(lock_);
  if (!has_saved_result_) return return_empty_matrix(area);
  const std::uint32_t n = qwi_value_size(saved_result_.data());
  if (n >= std::uint32_t(size)) {
    *needed = n;
    return 4;
  }
  std::memcpy(area, saved_result_.data(), n);
  DiscardQwiResult();
  return 0;
}

void QwiSystem::DiscardQwiResult() {
  std::lock_guard guard(lock_);
  saved_result_.clear();
  saved_result_.shrink_to_fit();
  has_saved_result_ = false;
}

// ---- ties ----

std::int32_t QwiSystem::FreeWindowNumber() const {
  std::vector<std::int32_t> used;
  std::vector<const QwiObj*> todo(children_.begin(), children_.end());
  while (!todo.empty()) {
    const QwiObj* o = todo.back();
    todo.pop_back();
    used.push_back(o->tie());
    used.push_back(o->window_number());
    todo.insert(todo.end(), o->children().begin(), o->children().end());
  }
  std::int32_t n = 10;
  while (std::find(used.begin(), used.end(), n) != used.end()) ++n;
  return n;
}

// ---- properties ----

void QwiSystem::Reset() {
  DeleteYourself();
  ClearEventQueue();
  tie_ = 0;
  data_.reset();
  scale_ = 1;
  foreground_ = background_ = kQwiColourParent;
  aquaadjust_ = false;
  set_flags_.fill(false);
}

int QwiSystem::GetProperty(int id, void* result, int size) {
  double px_h = 1, px_v = 1;
  GetObjectScale(&px_h, &px_v, false);
  QScreen* screen = QGuiApplication::primaryScreen();
  const QSize screen_size = screen ? screen->size() : QSize(0, 0);
  switch (id) {
    case 0: {
      const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
      if (!mime || !mime->hasText()) return qwi_return_text(result, size, "");
      std::string text = mime->text().toLatin1().toStdString();
      std::string internal;
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        internal += text[i] == '\n' ? '\r' : static_cast<char>(fontin(static_cast<unsigned char>(text[i])));
      }
      return qwi_return_text(result, size, internal);
    }
    case 3: {
      const double v[2] = {screen_size.height() / px_v, screen_size.width() / px_h};
      return return_n_floats(result, v, 2, size);
    }
    case 18: {
      std::string args;
      const QStringList list = QCoreApplication::arguments();
      for (qsizetype i = 1; i < list.size(); ++i) {
        if (i > 1) args += ' ';
        args += list[i].toStdString();
      }
      return qwi_return_text(result, size, to_internal(args));
    }
    case 19: return qwi_return_text(result, size, to_internal(get_executable_directory()));
    case 20: return qwi_return_text(result, size, to_internal("open"));
    case 35: return 24;
    case 50: {
      const std::int32_t* v = version();
      const std::int32_t words[5] = {v[0] * 100 + v[1] * 10 + v[2], 2, 0, 0, 0};
      return qwi_return_integers(result, size, words, 5);
    }
    case 78: {
      const QCursor* c = QGuiApplication::overrideCursor();
      int number = 0;
      if (c)
        for (const PointerRow& row : kPointers)
          if (row.shape == c->shape() && row.number != 0 && row.number != 14 && row.number != 31) {
            number = row.number;
            break;
          }
      return return_integer_scalar(result, number);
    }
    case 106: {
      const double v[4] = {0, 0, screen_size.height() / px_v, screen_size.width() / px_h};
      return return_n_floats(result, v, 4, size);
    }
    case 110:
    case 117:
    case 118: {
      std::uint8_t image[20] = {};
      const std::uint32_t n = 20;
      std::memcpy(image + 4, &n, 4);
      image[8] = 11;
      image[10] = 8;
      const std::uint32_t cols = 4;
      std::memcpy(image + 16, &cols, 4);
      std::memcpy(result, image, 20);
      return 0;
    }
    case 127: return qwi_return_name_list(result, size, {});
    case 164: {
      std::vector<std::string> names;
      for (const QString& f : QFontDatabase::families()) names.push_back(to_internal(f.toLatin1().toStdString()));
      return qwi_return_name_list(result, size, names);
    }
    case 168: return return_integer_scalar(result, task_id_);
    case 170: {
      const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
      if (!mime || !mime->hasText()) return return_empty_vector(result);
      const QString text = mime->text();
      if (16 + 4 * std::size_t(text.size()) + 100 > std::size_t(std::max(size, 0))) return 4;
      std::vector<std::int32_t> units;
      for (QChar c : text) units.push_back(c.unicode());
      return qwi_return_integers(result, size, units.data(), static_cast<int>(units.size()));
    }
    case 229: return qwi_return_text(result, size, "");
    case 260: return return_boolean_scalar(result, 1);
    case 297:
      Reset();
      return return_empty_matrix(result);
    case 337: {
      if (representing_object) representing_object->CheckUserEvent(43, task_id_);
      return return_empty_matrix(result);
    }
    case 267:
    case 270:
    case 273: return 12;
    case 75:
    case 113:
    case 121: return 24;
    default: return QwiObj::GetProperty(id, result, size);
  }
}

int QwiSystem::SetProperty(int id, const void* value) {
  switch (id) {
    case 0: {
      std::string internal;
      if (!value) return 12;
      if (const int rc = clipboard_text_value(value, &internal)) return rc;
      std::string host;
      for (char c : internal) {
        if (c == '\r') host += "\r\n";
        else host += static_cast<char>(fontout(static_cast<unsigned char>(c)));
      }
      QGuiApplication::clipboard()->clear();
      QGuiApplication::clipboard()->setText(QString::fromLatin1(host.data(), qsizetype(host.size())));
      return 0;
    }
    case 35: return 24;
    case 78: {
      std::int32_t number;
      if (!value || get_one_integer(value, &number)) return 12;
      Qt::CursorShape shape = Qt::ArrowCursor;
      for (const PointerRow& row : kPointers)
        if (row.number == number) shape = row.shape;
      while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
      if (number != 0) QGuiApplication::setOverrideCursor(QCursor(shape));
      return 0;
    }
    case 170: {
      if (!value) return 12;
      if (qwi_is_character(value)) return SetProperty(0, value);
      const int rank = qwi_rank(value);
      std::uint32_t rows = 1;
      if (rank == 2) std::memcpy(&rows, static_cast<const std::uint8_t*>(value) + 12, 4);
      if (rank > 2 || rows != 1) return 16;
      const std::uint32_t n = qwi_item_count(value);
      std::vector<std::int32_t> codes;
      try {
        codes.resize(n);
      } catch (const std::bad_alloc&) {
        return 68;
      }
      int count = 0;
      if (n && get_n_integers(value, codes.data(), static_cast<int>(n), &count)) return 12;
      QString text;
      for (std::uint32_t i = 0; i < n; ++i) {
        if (codes[i] < 0 || codes[i] > 65535) return 12;
        text += QChar(static_cast<char16_t>(codes[i]));
      }
      QGuiApplication::clipboard()->clear();
      QGuiApplication::clipboard()->setText(text);
      return 0;
    }
    case 260: {
      std::int32_t flag;
      if (!value || get_one_boolean(value, &flag)) return 12;
      return 0;
    }
    case 337: {
      if (!representing_object) return 0;
      if ((representing_object->CheckUserEvent(43, task_id_) & 2) && value) {
        std::vector<std::uint8_t> copy;
        if (qwi_copy_value(value, copy)) return 68;
        representing_object->system()->SetQWARG(std::move(copy));
      }
      return 0;
    }
    case 100:
    case 267: return 12;
    case 75:
    case 113:
    case 121: return 24;
    default: return QwiObj::SetProperty(id, value);
  }
}

}  // namespace zema
