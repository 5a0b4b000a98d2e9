// The class, property and event vocabularies: look-ups as a program's
// names reach them (masked internal characters) and the listings objects
// give of them.
#include <gtest/gtest.h>

#include <set>

#include "wi/vocabulary.h"
#include "wi_fixture.h"

namespace zema::wi_test {
namespace {

// A display-code name as a program's request hands it over: internal
// characters, masked.
std::string masked(const std::string& display) {
  std::string s;
  for (char c : display) s += static_cast<char>(fontin(static_cast<unsigned char>(c)));
  return qwi_mask_name(s);
}

TEST(QwiVocabulary, TablesHaveTheirRowsAndSynonymsStandTogether) {
  EXPECT_EQ(qwi_class_table().size(), 57u);
  EXPECT_EQ(qwi_property_table().size(), 369u);
  EXPECT_EQ(qwi_callback_table().size(), 58u);
  // Each id's rows are adjacent, so a listing lists each id once.
  for (const auto* table : {&qwi_class_table(), &qwi_property_table(), &qwi_callback_table()}) {
    std::set<int> closed;
    int previous = -2;
    for (const QwiNameRow& row : *table) {
      if (row.id != previous) {
        EXPECT_FALSE(closed.count(row.id)) << row.name;
        if (previous != -2) closed.insert(previous);
      }
      previous = row.id;
    }
  }
  // Every method and property id 0–354 but 10 (the ∆ names) has a row.
  std::set<int> ids;
  for (const QwiNameRow& row : qwi_property_table()) ids.insert(row.id);
  for (int id = 0; id < kQwiMethodLimit; ++id) EXPECT_EQ(ids.count(id), id == 10 ? 0u : 1u) << id;
}

TEST(QwiVocabulary, PropertyAndEventLookUps) {
  const std::string delta = std::string(1, static_cast<char>(fontout(0x7B))) + "mine";
  const std::string delta_underbar = std::string(1, static_cast<char>(fontout(0xFB))) + "mine";
  struct Case {
    std::string name;
    int property, event;
  } cases[] = {
      {"text", 0, 999},        {"TEXT", 0, 999},           {"Title", 8, 999},    {"colour", 14, 999},
      {"extent", 4, 999},      {"filterindex", 92, 999},   {"transform", 354, 999},
      {"click", 266, 999},     {"onClick", -1, 24},        {"ONCLICK", -1, 24},  {"onclick", -1, 24},
      {"OnClick", -1, 24},     {"onSelection", -1, 24},    {"onActivate", -1, 7}, {"onDisconnect", -1, 52},
      {"onNothing", -1, 999},  {"on", -1, 999},            {"nosuch", -1, 999},  {delta, 10, 999},
      {delta_underbar, 10, 999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(find_property_id(masked(c.name)), c.property);
    EXPECT_EQ(find_callback_id(masked(c.name)), c.event);
  }
}

TEST(QwiVocabulary, ClassLookUpKeepsTheMatchingRowsName) {
  struct Case {
    const char* lower;
    int id;
    const char* row;
  } cases[] = {
      {"choosecolor", 46, "ChooseColor"}, {"choosecolour", 46, "ChooseColour"}, {"window", 0, "Window"},
      {"form", 0, "Form"},                {"option", 8, "Option"},              {"toolbutton", 60, "ToolButton"},
      {"window1", -1, nullptr},           {"", -1, nullptr},                    {"win", -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lower);
    const char* row = nullptr;
    EXPECT_EQ(find_class_id(c.lower, &row), c.id);
    if (c.row) EXPECT_STREQ(row, c.row);
    else EXPECT_EQ(row, nullptr);
  }
  EXPECT_STREQ(event_name(7), "onFocus");
  EXPECT_STREQ(event_name(21), "onStop");
  EXPECT_STREQ(event_name(53), "");
  EXPECT_STREQ(property_name(8), "caption");
  EXPECT_STREQ(property_name(305), "linelength");
}

using QwiListings = WiTest;

TEST_F(QwiListings, ClassesOfTheSystemObjectListEachIdOnceSorted) {
  ASSERT_EQ(get("#", "", "classes"), 0);
  const std::vector<std::string> names = reply().texts();
  std::set<int> ids;
  for (const QwiNameRow& row : qwi_class_table()) ids.insert(row.id);
  EXPECT_EQ(names.size(), ids.size());
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  auto has = [&](const char* n) { return std::find(names.begin(), names.end(), n) != names.end(); };
  EXPECT_TRUE(has("Form"));
  EXPECT_FALSE(has("Window"));
  EXPECT_TRUE(has("ChooseColor"));
  EXPECT_FALSE(has("ChooseColour"));
  // Only the System object answers it.
  ASSERT_EQ(make("t", "", "Timer"), 0);
  EXPECT_EQ(get("t", "", "classes"), 12);
}

TEST_F(QwiListings, PropertiesMethodsAndEventsOfTheBaseAndTheSystemObject) {
  ASSERT_EQ(make("t", "", "Timer"), 0);
  ASSERT_EQ(get("t", "", "properties"), 0);
  EXPECT_EQ(reply().texts(), (std::vector<std::string>{"children", "class", "data", "events", "methods", "name",
                                                       "opened", "properties", "self", "tie"}));
  ASSERT_EQ(get("t", "", "methods"), 0);
  EXPECT_EQ(reply().texts(),
            (std::vector<std::string>{"Close", "Create", "Delete", "New", "Open", "Send", "Set", "Trigger"}));
  ASSERT_EQ(get("t", "", "events"), 0);
  EXPECT_EQ(reply().texts(), (std::vector<std::string>{"onClose", "onDestroy", "onOpen", "onSend"}));

  // The System object withdraws delete, open, close, new, create and their
  // events and adds its own; pageformat and printsettings are never listed.
  ASSERT_EQ(get("#", "", "methods"), 0);
  EXPECT_EQ(reply().texts(), (std::vector<std::string>{"Reset", "Send", "Set", "Signal", "Trigger"}));
  ASSERT_EQ(get("#", "", "events"), 0);
  EXPECT_EQ(reply().texts(),
            (std::vector<std::string>{"onAboutMenu", "onPreferencesMenu", "onQuitMenu", "onSend", "onSignal"}));
  ASSERT_EQ(get("#", "", "properties"), 0);
  const auto props = reply().texts();
  EXPECT_NE(std::find(props.begin(), props.end(), "color"), props.end());
  EXPECT_EQ(std::find(props.begin(), props.end(), "colour"), props.end());
  EXPECT_EQ(std::find(props.begin(), props.end(), "pageformat"), props.end());
}

TEST_F(QwiListings, DeltaPropertiesAreListedInLowerCaseWithTheirDelta) {
  ASSERT_EQ(make("t", "", "Timer"), 0);
  const std::string delta(1, static_cast<char>(fontout(0x7B)));
  ASSERT_EQ(set("t", "", (delta + "Zeta").c_str(), int_scalar(1)), 0);
  ASSERT_EQ(get("t", "", "properties"), 0);
  const auto props = reply().texts();
  EXPECT_NE(std::find(props.begin(), props.end(), delta + "zeta"), props.end());
  EXPECT_EQ(props.size(), 11u);
}

}  // namespace
}  // namespace zema::wi_test
