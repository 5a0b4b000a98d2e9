#include "wi/qwi_obj.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "host/charset.h"
#include "host/task.h"
#include "host/values.h"
#include "wi/qwi_system.h"
#include "wi/value_forms.h"

namespace zema {

namespace {

constexpr int kMaxName = 35;
constexpr int kFullNameRoom = 360;
constexpr char kTagProperty[] = "zemaQwiObject";

// The builders of the classes, by class id.
std::map<int, QwiObj::Factory>& factories() {
  static std::map<int, QwiObj::Factory> table;
  return table;
}
std::mutex& factories_lock() {
  static std::mutex m;
  return m;
}

void screen_dpi(double* x, double* y) {
  *x = *y = 96.0;
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    *x = s->logicalDotsPerInchX();
    *y = s->logicalDotsPerInchY();
  }
}

std::string to_internal(std::string_view host) {
  std::string s(host);
  for (char& c : s) c = static_cast<char>(fontin(static_cast<unsigned char>(c)));
  return s;
}

// The masked name of a pair's name item: 0, or the host helpers' code.
int pair_name(const void* item, std::string* masked) {
  char buffer[512];
  if (const int rc = get_raw_text(item, buffer, 511)) return rc;
  *masked = qwi_mask_name(buffer);
  return 0;
}

bool is_window_class(int id) { return id == qwi_class::Window || id == qwi_class::Dialog || id == qwi_class::Document; }

}  // namespace

// ---- construction ----

QwiObj::QwiObj(APLTask* task, std::string_view name, QwiObj* parent)
    : task_(task), parent_(parent), name_(name.substr(0, kMaxName)) {
  if (parent_) {
    system_ = parent_->system_;
    scale_ = parent_->scale_;
    aquaadjust_ = parent_->aquaadjust_;
    // The top-level ancestor (the child of the System object), kept when it
    // is a window with a control.
    const QwiObj* top = this;
    while (top->parent_ && top->parent_->parent_) top = top->parent_;
    if (top != this && top->class_id_ == qwi_class::Window && top->control_)
      containing_window_ = const_cast<QwiObj*>(top);
  }
}

QwiObj::~QwiObj() = default;

void QwiObj::SetControl(QObject* control) {
  control_ = control;
  if (control_) control_->setProperty(kTagProperty, QVariant::fromValue(static_cast<void*>(this)));
}

QwiObj* QwiObj::from_control(const QObject* control) {
  if (!control) return nullptr;
  return static_cast<QwiObj*>(control->property(kTagProperty).value<void*>());
}

// ---- valid lists and names ----

void QwiObj::ValidAtThisLevel(QwiValidFlags& flags) {
  for (int id : {9, 16, 24, 32, 38, 96, 97, 98, 99, 100, 263, 264, 267, 270, 273, 279, 282, 319})
    flags.properties[std::size_t(id)] = 1;
  for (int ev : {10, 20, 26, 27}) flags.events[std::size_t(ev)] = 1;
}

void QwiObj::ValidForClass(QwiValidFlags& flags) { ValidAtThisLevel(flags); }

void QwiObj::HookCallback(int) {}
void QwiObj::HookStandardCallbacks() {}

int QwiObj::FindCallBackID(std::string_view masked_name) { return find_callback_id(masked_name); }

int QwiObj::EventToString(int event, void* result, int size) {
  return qwi_return_text(result, size, to_internal(event_name(event)));
}

int QwiObj::GetNamedProperty(int id, void* result, int size, std::string_view) {
  return GetProperty(id, result, size);
}
int QwiObj::SetNamedProperty(int id, const void* value, std::string_view) { return SetProperty(id, value); }

std::string QwiObj::FullName() const {
  if (!parent_) return name_;
  std::vector<const QwiObj*> parts;
  for (const QwiObj* o = this; o->parent_ && parts.size() < 10; o = o->parent_) parts.push_back(o);
  std::string out;
  int room = kFullNameRoom;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    const std::string& n = (*it)->name_;
    if (static_cast<int>(n.size()) > room - 2) return out;  // the last "." stays
    out += n;
    out += '.';
    room -= static_cast<int>(n.size()) + 1;
  }
  out.pop_back();
  return out;
}

QwiObj* QwiObj::FindChild(std::string_view name) const {
  for (QwiObj* c : children_)
    if (c->name_ == name) return c;
  return nullptr;
}

// ---- colours and scale ----

int QwiObj::DecodeColourProperty(const void* value, std::int32_t* foreground, std::int32_t* background) {
  std::int32_t fg, bg;
  if (const int rc = get_colour_values(value, &fg, &bg)) return rc;
  if (fg != kQwiColourKeep) foreground_ = fg;
  if (bg != kQwiColourKeep) background_ = bg;
  auto resolve = [this](std::int32_t stored, std::int32_t QwiObj::*field) {
    if (stored != kQwiColourParent) return stored;
    if (parent_ && parent_->*field != kQwiColourParent) return parent_->*field;
    return kQwiColourDefault;
  };
  *foreground = resolve(foreground_, &QwiObj::foreground_);
  *background = resolve(background_, &QwiObj::background_);
  return 0;
}

void QwiObj::GetObjectScale(double* horizontal, double* vertical, bool use_parent) const {
  double dx, dy;
  screen_dpi(&dx, &dy);
  const int code = use_parent && parent_ ? parent_->scale_ : scale_;
  qwi_scale_pixels(code, dx, dy, class_id_ == qwi_class::Printer, horizontal, vertical);
}

// ---- ∆ properties ----

int QwiObj::GetDeltaProperty(std::string_view masked_name, void* result, int size) {
  std::lock_guard guard(system_->lock());
  for (const Delta& d : deltas_) {
    if (d.name != masked_name) continue;
    std::uint32_t needed = 0;
    const int rc = qwi_return_copy(result, size, d.value, &needed);
    if (rc == 4 && task_) task_->neededSize = needed;
    return rc;
  }
  return 28;
}

int QwiObj::SetDeltaProperty(std::string_view masked_name, const void* value) {
  if (!value) return 12;
  std::vector<std::uint8_t> copy;
  if (qwi_copy_value(value, copy)) return 68;
  std::lock_guard guard(system_->lock());
  try {
    for (Delta& d : deltas_) {
      if (d.name == masked_name) {
        d.value.swap(copy);
        return 0;
      }
    }
    deltas_.insert(deltas_.begin(), Delta{std::string(masked_name), std::move(copy)});
    return 0;
  } catch (const std::bad_alloc&) {
    return 68;
  }
}

// ---- callbacks ----

int QwiObj::AddCallback(int event, const void* value) {
  if (!value || !qwi_is_character(value) || qwi_rank(value) > 1) return 12;
  QwiCallback* node;
  try {
    node = new QwiCallback;
    const std::uint32_t n = qwi_item_count(value);
    const auto* d = static_cast<const char*>(value) + 12 + 4 * qwi_rank(value);
    node->text.assign(d, n);
    node->event = event;
    node->object = this;
    node->window = class_id_ == qwi_class::Window || !parent_ ? this : parent_;
  } catch (const std::bad_alloc&) {
    return 68;
  }
  std::lock_guard guard(system_->lock());
  DeleteCallback(event);
  try {
    callbacks_.insert(callbacks_.begin(), node);
  } catch (const std::bad_alloc&) {
    delete node;
    return 68;
  }
  return 0;
}

int QwiObj::GetCallback(int event, void* result, int size) {
  std::lock_guard guard(system_->lock());
  for (QwiCallback* node : callbacks_)
    if (node->event == event) return qwi_return_text(result, size, node->text);
  return qwi_return_text(result, size, "");
}

void QwiObj::DeleteCallback(int event) {
  std::lock_guard guard(system_->lock());
  auto it = std::find_if(callbacks_.begin(), callbacks_.end(), [event](QwiCallback* n) { return n->event == event; });
  if (it == callbacks_.end()) return;
  QwiCallback* node = *it;
  callbacks_.erase(it);
  node->window = node->object = nullptr;
  system_->ReleaseNode(node);
}

QwiCallback* QwiObj::FindCallback(int event) {
  std::lock_guard guard(system_->lock());
  for (QwiCallback* node : callbacks_)
    if (node->event == event) return node->text.empty() ? nullptr : node;
  return nullptr;
}

int QwiObj::CheckUserEvent(int event, std::int32_t a1, std::int32_t a2, std::int32_t a3, std::int32_t a4) {
  if (!created_) return 1;
  std::lock_guard guard(system_->lock());
  QwiCallback* node = FindCallback(event);
  if (!node) return 1;
  system_->AddEventToQueue(event, tie_, a1, a2, a3, a4, node);
  return 3;
}

void QwiObj::ReleaseCallbacks() {
  std::lock_guard guard(system_->lock());
  while (!callbacks_.empty()) DeleteCallback(callbacks_.front()->event);
}

// ---- open, close, delete ----

void QwiObj::ShowControl(bool show) {
  if (auto* w = qobject_cast<QWidget*>(control_)) w->setVisible(show);
}

void QwiObj::OpenYourself() {
  if (opened_) return;
  opened_ = true;
  CheckUserEvent(26);
  if (show_when_opened_ && visible_) ShowControl(true);
  if (system_->pending_window() == this) system_->set_pending_window(nullptr);
}

void QwiObj::CloseYourself(bool really) {
  if (!really) {
    CheckUserEvent(10);
    return;
  }
  if (system_->modal_window() == this) system_->set_modal_window(nullptr);
  opened_ = false;
  if (show_when_opened_) ShowControl(false);
  mark_set(100);
}

void QwiObj::DeleteYourself() {
  const bool root = parent_ == nullptr;
  if (!root) {
    CloseYourself(true);
    CheckUserEvent(27);
  }
  while (!children_.empty()) children_.front()->DeleteYourself();
  ReleaseCallbacks();
  {
    std::lock_guard guard(system_->lock());
    if (!root) {
      auto& siblings = parent_->children_;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    data_.reset();
    deltas_.clear();
    system_->ForgetObject(this);
  }
  if (root) return;
  if (control_) {
    QObject* c = control_;
    control_ = nullptr;
    c->setProperty(kTagProperty, QVariant());
    if (class_id_ == qwi_class::Window) c->deleteLater();
    else delete c;
  }
  delete this;
}

// ---- properties ----

int QwiObj::GetFont(void* result, int size) {
  if (!font_) return 12;
  const QFont& f = *font_;
  double px_h, px_v;
  GetObjectScale(&px_h, &px_v, false);
  const QFontInfo info(f);
  const int pixels = f.pixelSize() > 0 ? f.pixelSize() : info.pixelSize();
  QwiImage size_item;
  if (scale_ == 3) {
    const int points = f.pointSize() > 0 ? f.pointSize() : info.pointSize();
    size_item.resize(16);
    return_integer_scalar(size_item.data(), points);
  } else if (scale_ == 5) {
    size_item.resize(16);
    return_integer_scalar(size_item.data(), pixels);
  } else {
    size_item.resize(20);
    return_float_scalar(size_item.data(), pixels / px_v);
  }
  QwiImage style(16);
  return_integer_scalar(style.data(), font_style_to_long(f.bold(), f.italic(), f.underline(), f.strikeOut()));
  const std::string face = f.family().toStdString();
  return qwi_return_nested(result, size, {4}, {qwi_text_image(to_internal(face)), size_item, style, qwi_text_image("")});
}

int QwiObj::SetFont(const void* value) {
  if (!font_ || !value) return 12;
  QFont f = *font_;
  auto set_face = [&f](const void* item) {
    char face[256];
    if (get_translated_text(item, face, 255)) return 12;
    std::string name(face);
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "zema mac" || lower == "zema mac unicode") name = "ZEMA Upright";
    if (!name.empty()) f.setFamily(QString::fromStdString(name));
    return 0;
  };
  if (!qwi_is_nested(value)) {
    if (const int rc = set_face(value)) return rc;
  } else {
    if (qwi_rank(value) > 1) return 12;
    const std::uint32_t n = qwi_item_count(value);
    if (n > 4) return 20;
    if (n >= 1)
      if (const int rc = set_face(qwi_nested_item(value, 0))) return rc;
    if (n >= 2) {
      const void* item = qwi_nested_item(value, 1);
      double sizes[1];
      int count = 0;
      if (get_n_floats(item, sizes, 1, &count)) return 12;
      if (count == 1) {
        // Sizes are kept within what a font can have before they become
        // integers (a size from APL may be any number, NaN too).
        const auto whole = [](double x) { return x >= 1 ? static_cast<int>(std::min(x, 32767.0)) : 1; };
        if (scale_ == 3) {
          f.setPointSize(whole(sizes[0]));
        } else {
          double px_h, px_v;
          GetObjectScale(&px_h, &px_v, false);
          f.setPixelSize(whole(scale_ == 5 ? sizes[0] : sizes[0] * px_v));
        }
      }
    }
    if (n >= 3) {
      std::int32_t style[1];
      int count = 0;
      if (get_n_integers(qwi_nested_item(value, 2), style, 1, &count)) return 12;
      if (count == 1) {
        f.setBold(style[0] & 1);
        f.setItalic(style[0] & 2);
        f.setUnderline(style[0] & 4);
        f.setStrikeOut(style[0] & 16);
      }
    }
  }
  font_ = f;
  if (auto* w = qobject_cast<QWidget*>(control_)) w->setFont(f);
  return 0;
}

int QwiObj::GetState(void* result, int size) {
  std::vector<QwiImage> items;
  std::vector<std::uint8_t> area(static_cast<std::size_t>(std::max(size, 64)));
  int rows = 0;
  for (const QwiNameRow& row : qwi_property_table()) {
    if (row.id >= kQwiPropertyCount || !is_set(row.id) || property_name(row.id) != row.name) continue;
    const int rc = GetProperty(row.id, area.data(), static_cast<int>(area.size()));
    if (rc) return rc;
    items.push_back(qwi_text_image(to_internal(row.name)));
    items.push_back(qwi_copy_image(area.data()));
    ++rows;
  }
  std::lock_guard guard(system_->lock());
  for (QwiCallback* node : callbacks_) {
    items.push_back(qwi_text_image(to_internal(event_name(node->event))));
    items.push_back(qwi_text_image(node->text));
    ++rows;
  }
  if (rows == 0) return qwi_return_nested(result, size, {0, 2}, {});
  return qwi_return_nested(result, size, {static_cast<std::uint32_t>(rows), 2}, items);
}

int QwiObj::GetProperty(int id, void* result, int size) {
  switch (id) {
    case 9: {
      if (!data_) return 28;
      std::uint32_t needed = 0;
      const int rc = qwi_return_copy(result, size, *data_, &needed);
      if (rc == 4 && task_) task_->neededSize = needed;
      return rc;
    }
    case 14: return return_integer_pair(result, foreground_, background_);
    case 16: {
      std::lock_guard guard(system_->lock());
      return qwi_return_text(result, size, name_);
    }
    case 17: return return_integer_scalar(result, scale_);
    case 21: return GetFont(result, size);
    case 24: return return_integer_scalar(result, tie_);
    case 32: {
      std::vector<QwiImage> names;
      for (QwiObj* c : children_) names.push_back(qwi_text_image(c->FullName()));
      return qwi_return_nested(result, size, {static_cast<std::uint32_t>(names.size())}, names);
    }
    case 38: return qwi_return_text(result, size, to_internal(class_name_));
    case 58: {
      if (size < 100) return 4;
      double units[12];
      double dx, dy;
      screen_dpi(&dx, &dy);
      for (int code = 1; code <= 6; ++code)
        qwi_scale_pixels(code, dx, dy, class_id_ == qwi_class::Printer, &units[2 * code - 1], &units[2 * code - 2]);
      return qwi_return_float_matrix(result, size, 6, 2, units);
    }
    case 95: {
      if (parent_) return 12;
      std::vector<std::string> names = qwi_list_names(qwi_class_table(), [](int) { return true; });
      for (std::string& n : names) n = to_internal(n);
      return qwi_return_name_list(result, size, names);
    }
    case 96:
    case 97:
    case 98: {
      QwiValidFlags flags;
      ValidForClass(flags);
      std::vector<std::string> names;
      if (id == 98) {
        names = qwi_list_names(qwi_callback_table(), [&](int ev) { return ev < kQwiEventLimit && flags.events[std::size_t(ev)]; });
      } else if (id == 97) {
        names = qwi_list_names(qwi_property_table(), [&](int p) { return p >= kQwiPropertyCount && flags.properties[std::size_t(p)]; });
        for (std::string& n : names) n[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(n[0])));
      } else {
        names = qwi_list_names(qwi_property_table(), [&](int p) {
          return p < kQwiPropertyCount && p != kQwiDeltaProperty && flags.properties[std::size_t(p)];
        });
        std::lock_guard guard(system_->lock());
        for (std::string& n : names) n = to_internal(n);
        // A ∆ name as the program wrote it, in lower case.
        for (const Delta& d : deltas_) {
          std::string n = d.name;
          for (std::size_t i = 1; i < n.size(); ++i)
            if (n[i] >= 'a' && n[i] <= 'z') n[i] = static_cast<char>(static_cast<unsigned char>(n[i]) | 0x80);
          names.push_back(n);
        }
        return qwi_return_name_list(result, size, names);
      }
      for (std::string& n : names) n = to_internal(n);
      return qwi_return_name_list(result, size, names);
    }
    case 99: {
      std::lock_guard guard(system_->lock());
      return qwi_return_text(result, size, FullName());
    }
    case 100: return return_boolean_scalar(result, opened_);
    case 101: return GetState(result, size);
    case 107: return return_boolean_scalar(result, aquaadjust_);
    case 266: CheckUserEvent(24); return return_empty_matrix(result);
    case 267:
      if (opened_ && !(CheckUserEvent(10) & 2)) CloseYourself(true);
      return return_empty_matrix(result);
    case 270:
      return_empty_matrix(result);
      DeleteYourself();
      return 0;
    case 273: OpenYourself(); return return_empty_matrix(result);
    case 277: CheckUserEvent(12); return return_empty_matrix(result);
    case 279: CheckUserEvent(20); return return_empty_matrix(result);
    default: return 12;
  }
}

int QwiObj::SetProperty(int id, const void* value) {
  switch (id) {
    case 9: {
      if (!value) return 12;
      std::vector<std::uint8_t> copy;
      if (qwi_copy_value(value, copy)) return 68;
      data_ = std::move(copy);
      return 0;
    }
    case 14: {
      std::int32_t fg, bg;
      if (value && !parent_) {
        // Without a parent there is nothing to inherit from: −1 means −2.
        if (const int rc = get_colour_values(value, &fg, &bg)) return rc;
        if (fg == kQwiColourParent) fg = kQwiColourDefault;
        if (bg == kQwiColourParent) bg = kQwiColourDefault;
        if (fg != kQwiColourKeep) foreground_ = fg;
        if (bg != kQwiColourKeep) background_ = bg;
        return 0;
      }
      return DecodeColourProperty(value, &fg, &bg);
    }
    case 16: {
      if (!parent_ || name_.rfind("sysobj_", 0) == 0) return 12;
      if (!value) return 12;
      char buffer[64];
      const int rc = get_raw_text(value, buffer, kMaxName);
      if (rc) return rc;
      std::lock_guard guard(system_->lock());
      name_ = buffer;
      return 0;
    }
    case 17: {
      std::int32_t code;
      if (!value || get_one_integer(value, &code) || code < 1 || code > 6) return 12;
      scale_ = code;
      return 0;
    }
    case 21: return SetFont(value);
    case 24: {
      std::int32_t t;
      if (!value || get_one_integer(value, &t)) return 12;
      tie_ = t;
      return 0;
    }
    case 100: {
      std::int32_t flag;
      if (!value || get_one_boolean(value, &flag)) return 12;
      if (flag) OpenYourself();
      else if (opened_) CloseYourself(true);
      return 0;
    }
    case 107: {
      std::int32_t flag;
      if (!value || get_one_boolean(value, &flag)) return 12;
      aquaadjust_ = flag;
      return 0;
    }
    case 267: {
      std::int32_t flag;
      if (!value || get_one_boolean(value, &flag)) return 12;
      if (opened_) {
        if (flag) CloseYourself(true);
        else if (!(CheckUserEvent(10) & 2)) CloseYourself(true);
      }
      return 0;
    }
    case 282: {
      if (!value) return 12;
      char buffer[256];
      if (get_raw_text(value, buffer, 255)) return 12;
      const int event = FindCallBackID(qwi_mask_name(buffer));
      if (event == kQwiNoEvent) return 12;
      CheckUserEvent(event);
      return 0;
    }
    default: return 12;
  }
}

// ---- creation ----

void QwiObj::RegisterClass(int class_id, Factory factory) {
  std::lock_guard guard(factories_lock());
  factories()[class_id] = factory;
}

bool QwiObj::PlacementAllowed(int c, const QwiObj* parent) {
  const int p = parent->class_id_;
  const bool has_control = parent->control_ != nullptr;
  using namespace qwi_class;
  if (is_window_class(c)) return p == Window;
  if (p == Window) return c != Page && c != Series;
  if (c == Timer && has_control) return true;
  if (p == Frame || p == Page) return true;
  if (c == Page) return p == Selector;
  if (c == Menu && p == Menu) return true;
  if (c == Series && p == Chart) return true;
  if (c == Image && p == Picture) return true;
  if (c == Imagelist && has_control) return true;
  if (c == Label) {
    for (int allowed : {Check, Radio, Button, Spinner, Trackbar, Progress, List, Combo, Selector, Frame, Tree, Chart, Page})
      if (p == allowed) return true;
  }
  return false;
}

int QwiObj::ApplyPair(std::string_view masked_name, const void* value, bool events_allowed) {
  if (events_allowed) {
    const int event = FindCallBackID(masked_name);
    if (event != kQwiNoEvent) {
      if (!value) return 12;
      const int rc = AddCallback(event, value);
      if (rc == 0) HookCallback(event);
      return rc;
    }
  }
  const int id = find_property_id(masked_name);
  if (id == kQwiUnknownProperty && class_id_ != qwi_class::Browser) return 12;
  if (!value) return 12;
  int rc;
  if (id == kQwiDeltaProperty) rc = SetDeltaProperty(masked_name, value);
  else if (class_id_ == qwi_class::Browser) rc = SetNamedProperty(id, value, masked_name);
  else rc = SetProperty(id, value);
  if (rc == 0) mark_set(id);
  return rc;
}

int QwiObj::QwiNew(QwiSystem* system, std::string_view top, std::string_view path, const void* value) {
  if (!value) return 12;
  // 1. The class name.
  const void* class_item = value;
  const bool nested = qwi_is_nested(value);
  std::uint32_t items = 1;
  if (nested) {
    items = qwi_item_count(value);
    if (items == 0) return 12;
    class_item = qwi_nested_item(value, 0);
  }
  char class_buffer[512];
  if (get_translated_text(class_item, class_buffer, 511)) return 12;
  std::string lower(class_buffer);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const char* row_name = nullptr;
  const int class_id = find_class_id(lower, &row_name);
  if (class_id < 0) return 12;

  // # and ⎕ alone always name the System object: a top-level object of
  // that name could never be reached again.
  if (top == "\xA1" || top == "\x4C") return 12;

  // 2–4. The parent.
  QwiObj* top_object = system->FindChild(top);
  QwiObj* parent = system;
  std::string name(top);
  using namespace qwi_class;
  if (path.empty()) {
    if (top_object) return 12;
    static const int top_classes[] = {Window, Dialog, Document, Menu, Printer, Imagelist, APL, MsgBox, ChooseFont,
                                      ChooseColour, OpenFile, SaveFile, ChooseDir, Image, Getmail, Sendmail,
                                      HTTPClient, Timer, Socket};
    if (std::find(std::begin(top_classes), std::end(top_classes), class_id) == std::end(top_classes)) return 12;
  } else {
    if (!top_object) return 88;
    parent = top_object;
    std::string_view rest = path;
    for (;;) {
      const std::size_t dot = rest.find('.');
      if (dot == std::string_view::npos) break;
      parent = parent->FindChild(rest.substr(0, dot));
      if (!parent) return 88;
      rest.remove_prefix(dot + 1);
    }
    name = std::string(rest);
    if (parent->FindChild(name)) return 12;
    static const int never_children[] = {System,     Printer,      MsgBox,       OpenFile, SaveFile,
                                         ChooseDir,  ChooseFont,   ChooseColour, OLEContainer, APL,
                                         Socket,     Getmail,      Sendmail,     HTTPClient};
    if (std::find(std::begin(never_children), std::end(never_children), class_id) != std::end(never_children))
      return 12;
    if (!PlacementAllowed(class_id, parent)) return 12;
  }

  Factory factory = nullptr;
  {
    std::lock_guard guard(factories_lock());
    auto it = factories().find(class_id);
    if (it != factories().end()) factory = it->second;
  }
  if (!factory) return 24;

  // 5. A window still waiting is shown before another is built.
  const bool window = is_window_class(class_id);
  if (window) system->OpenPendingWindow();

  // 6–9. Build, link, name, tie, hook.
  QwiObj* object = nullptr;
  try {
    object = factory(system->task(), name, parent, class_id);
    if (!object) return 68;
    std::lock_guard guard(system->lock());
    parent->children_.push_back(object);
  } catch (const std::bad_alloc&) {
    delete object;
    return 68;
  }
  object->class_name_ = row_name;
  if (object->class_id_ == Window) {
    object->tie_ = object->window_number_ = system->FreeWindowNumber();
    system->set_pending_window(object);
  } else {
    object->tie_ = system->NextChildTie();
    object->window_number_ = -1;
  }
  object->HookStandardCallbacks();
  if (object->control_) object->SetControl(object->control_);

  // 10. The pairs.
  int rc = 0;
  if (nested) {
    for (std::uint32_t i = 1; i < items && rc == 0; i += 2) {
      std::string masked;
      rc = pair_name(qwi_nested_item(value, i), &masked);
      if (rc == 0) rc = object->ApplyPair(masked, i + 1 < items ? qwi_nested_item(value, i + 1) : nullptr, true);
    }
  }
  if (rc != 0) {
    // 12. Nothing of it stays, and it raises nothing: it never existed.
    object->DeleteYourself();
    return rc;
  }
  // 11. Now it exists.
  object->created_ = true;
  if (system->pending_window() != object && class_id != Printer) object->OpenYourself();
  return 0;
}

int QwiObj::QwiSetMethod(const void* value) {
  if (!value || !qwi_is_nested(value)) return 12;
  const std::uint32_t items = qwi_item_count(value);
  if (items < 2) return 20;
  for (std::uint32_t i = 0; i < items; i += 2) {
    std::string masked;
    if (const int rc = pair_name(qwi_nested_item(value, i), &masked)) return rc;
    const int rc = ApplyPair(masked, i + 1 < items ? qwi_nested_item(value, i + 1) : nullptr, false);
    if (rc) return rc;
  }
  return 0;
}

}  // namespace zema
