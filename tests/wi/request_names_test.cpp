// The requests take names as the interpreter holds them: internal
// characters. Property names fold case through the 7-bit mask; object
// names are compared exactly.
#include <gtest/gtest.h>

#include "wi_fixture.h"

namespace zema::wi_test {
namespace {

class RequestNames : public WiTest {
 protected:
  // A request with the names exactly as given (no translation).
  int raw_get(const std::string& top, const std::string& path, const std::string& property) {
    area.assign(4096, 0xEE);
    task.resultBuffer = area.data();
    task.resultSize = 4096;
    task.propertyName = property.c_str();
    task.objectTop = top.c_str();
    task.objectPath = path.c_str();
    qwi_get_property_request(task);
    return task.guiResult;
  }
  int raw_set(const std::string& top, const std::string& path, const std::string& property, const Value& value) {
    task.requestValue = value.data();
    task.propertyName = property.c_str();
    task.objectTop = top.c_str();
    task.objectPath = path.c_str();
    qwi_set_property_request(task);
    return task.guiResult;
  }
};

TEST_F(RequestNames, InternalNamesReachTheSystemObjectAndItsProperties) {
  const std::string hash = utf8_to_internal("#");
  ASSERT_EQ(hash, "\xA1");
  for (const char* name : {"version", "VERSION", "Version"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(raw_get(hash, "", utf8_to_internal(name)), 0);
    EXPECT_EQ(reply().type(), 7);
    EXPECT_EQ(reply().shape(), (std::vector<std::uint32_t>{5}));
  }
  // The display-code byte of # is no name of the System object.
  EXPECT_EQ(raw_get("#", "", utf8_to_internal("version")), 88);
  // ∆ and ⍙ names are one user property, in any case.
  ASSERT_EQ(raw_set(hash, "", utf8_to_internal("∆Count"), int_scalar(7)), 0);
  ASSERT_EQ(raw_get(hash, "", utf8_to_internal("⍙COUNT")), 0);
  EXPECT_EQ(reply().ints(), (std::vector<std::int32_t>{7}));
}

TEST_F(RequestNames, ObjectNamesAreComparedExactly) {
  const std::string top = utf8_to_internal("F∆1");
  ASSERT_EQ(raw_set(top, "", utf8_to_internal("new"), text("Form")), 0);
  EXPECT_EQ(raw_get(top, "", utf8_to_internal("class")), 0);
  EXPECT_EQ(reply().text(), "Form");
  // Another case of the same letters names no object.
  EXPECT_EQ(raw_get(utf8_to_internal("f∆1"), "", utf8_to_internal("class")), 88);
  // A child reached by a path of internal names.
  ASSERT_EQ(raw_set(top, utf8_to_internal("b⍙"), utf8_to_internal("New"), text("Button")), 0);
  EXPECT_EQ(raw_get(top, utf8_to_internal("b⍙"), utf8_to_internal("class")), 0);
  EXPECT_EQ(reply().text(), "Button");
  EXPECT_EQ(raw_get(top, utf8_to_internal("B⍙"), utf8_to_internal("class")), 88);
}

}  // namespace
}  // namespace zema::wi_test
