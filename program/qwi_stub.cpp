// ⎕WI requests of the local task while no ⎕WI object system exists: no
// object is ever found and none can be made, so each request answers as
// it does for a missing object. The requests arrive in the task's request
// fields (filled by qwi_get_property and qwi_set_property on the task
// thread); names are in display code.
#include <cctype>
#include <cstring>
#include <string>

#include "host/charset.h"
#include "host/values.h"
#include "platform/synchronize.h"
#include "program/local_task.h"

namespace zema {

namespace {

// Property ids of the names a missing object still answers.
constexpr int kDeltaName = 10;
constexpr int kSelf = 99;
constexpr int kNew = 263;
constexpr int kSet = 264;
constexpr int kDelete = 270;
constexpr int kCreate = 319;
constexpr int kUnknown = -1;

constexpr std::uint8_t kInternalDelta = 0x7B;  // ∆ (and ⍙) in the internal set

int property_id(const char* name) {
  if (!name || !*name) return kUnknown;
  if (static_cast<std::uint8_t>(name[0]) == fontout(kInternalDelta)) return kDeltaName;
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "self") return kSelf;
  if (lower == "new") return kNew;
  if (lower == "set") return kSet;
  if (lower == "delete") return kDelete;
  if (lower == "create") return kCreate;
  return kUnknown;
}

}  // namespace

void LocalTask::QwiGetProperty() {
  resultTooBig = false;
  neededSize = 0;
  guiResult = 0;
  // No name: the rest of a result that did not fit. None is ever kept:
  // the empty matrix already in the area is the answer.
  if (!propertyName) return;
  propertyId = property_id(propertyName);
  switch (propertyId) {
    case kDelete: return;  // deleting what is not there: done
    case kSelf: guiResult = return_raw_text(resultBuffer, "", resultSize); return;
    default: guiResult = 88;
  }
}

void LocalTask::QwiSetProperty() {
  callbackId = 999;  // no object, so no event of it to assign
  propertyId = property_id(propertyName);
  if (propertyId == kDeltaName) {
    guiResult = 12;  // a ∆ property of no object
    return;
  }
  // The GUI step: making an object needs the ⎕WI classes, which this
  // program does not have yet; anything else asks for a missing object.
  Gui([this] {
    FlushOutput();
    guiResult = propertyId == kNew || propertyId == kCreate ? 24 : 88;
  });
}

}  // namespace zema
