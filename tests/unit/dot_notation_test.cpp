// Dot notation on instances (made here directly in the pool):
// an instance's own property values beside its class's, the growth
// of an instance on its first own value, read-only and private members,
// arrays of instances and chains through a property holding a reference.
#include "instance_session.h"

namespace zema {
namespace {

using test::first_line;

using DotInstances = test::InstanceSession;

TEST_F(DotInstances, AnInstanceGrowsOnItsFirstOwnValueAndKeepsItApart) {
  EXPECT_EQ(type({"A.X"}).substr(0, 11), "VALUE ERROR");
  EXPECT_EQ(type({"A.X←5", "A.X", "A.X←'abc'", "A.X"}), "5\nabc\n");
  EXPECT_EQ(own_values(a), 1u);  // one entry, replaced in place the second time
  EXPECT_EQ(own_values(b), 0u);
  EXPECT_EQ(type({"B.X"}).substr(0, 11), "VALUE ERROR");
  EXPECT_EQ(type({"PT.X"}).substr(0, 11), "VALUE ERROR");  // the class's own has none
  EXPECT_EQ(type({"A.Y", "B.Y"}), "7\n7\n");                 // the class's value
}

TEST_F(DotInstances, ReadOnlyAndPrivateMembersAreRefused) {
  EXPECT_EQ(first_line(type({"A.Y←1"})), "Cannot assign to read-only property");
  EXPECT_EQ(own_values(a), 0u);
  EXPECT_EQ(first_line(type({"A.Z"})), "Cannot access private class member from outside the class");
  EXPECT_EQ(first_line(type({"A.Z←1"})), "Cannot access private class member from outside the class");
  EXPECT_EQ(et(), (std::vector<int>{5, 4}));
}

TEST_F(DotInstances, ArraysOfInstancesTakeOneItemEachOrTheSameValue) {
  EXPECT_EQ(type({"AB.X←1 2", "AB.X", "A.X", "B.X"}), "1 2\n1\n2\n");
  EXPECT_EQ(type({"AB.X←⊂'ab'", "AB.X"}), " ab ab \n");
  EXPECT_EQ(first_line(type({"AB.X←1 2 3"})), "LENGTH ERROR");
  EXPECT_EQ(type({"AB.X"}), " ab ab \n");  // nothing assigned
}

TEST_F(DotInstances, AChainReadsAndAssignsThroughAPropertyHoldingAReference) {
  EXPECT_EQ(type({"A.X←B", "B.X←42", "A.X.X", "A.X.X←43", "B.X"}), "42\n43\n");
  EXPECT_EQ(rd32(ws(), find_object_instance(b, ws()) + pobj::RefCount), 3u);  // B, AB and A's property
  // Values read over an array and dropped leave the counts as they were.
  EXPECT_EQ(type({"AB.X←B", "⍴AB.X", "⍴AB.X.X"}), "2\n2\n");
  EXPECT_EQ(rd32(ws(), find_object_instance(b, ws()) + pobj::RefCount), 4u);
}

}  // namespace
}  // namespace zema
