// The class system functions on instances (made here directly in the
// pool): ⎕STATE and ⎕DS over own and inherited values,
// ⎕CLONE, ⎕OID, ⎕INSTANCES, ⎕RECLASS and ⎕DF, with the reference counts of
// what they return and the pool checked after each.
#include "instance_session.h"

namespace zema {
namespace {

using test::first_line;

class ClassFunctions : public test::InstanceSession {
 protected:
  // Also the class CH, a child of PT, and its instance C.
  void SetUp() override {
    InstanceSession::SetUp();
    ASSERT_EQ(create_empty_class(token("CH"), token("PT"), 2, false, ws()), 0);
    child = rd32(ws(), class_def_from_symidx(token("CH"), ws()) + pobj::OwnSlot);
    c = instance(child);
    refs("C", {c});
  }

  std::uint32_t child = 0, c = 0;
};

TEST_F(ClassFunctions, StateListsOwnValuesThenInheritedOnesOnce) {
  EXPECT_EQ(type({"⍴A.⎕STATE 0", "⍴A.⎕STATE 1"}), "0 2\n1 2\n");  // Y's default is the class's
  EXPECT_EQ(type({"A.X←1 2 3", "A.⎕STATE 0"}), " X  1 2 3 \n");
  EXPECT_EQ(type({"A.⎕STATE 1"}), " X  1 2 3 \n Y      7 \n");
  EXPECT_EQ(type({"C.⎕STATE 1"}), " Y 7 \n");  // through the parent
  EXPECT_EQ(first_line(type({"A.⎕STATE 0 1"})), "DOMAIN ERROR");
  EXPECT_EQ(first_line(type({"A.⎕STATE 1 0 0"})), "LENGTH ERROR");
  EXPECT_EQ(first_line(type({"A.⎕STATE 2 2⍴0"})), "RANK ERROR");
  EXPECT_EQ(first_line(type({"PT.⎕STATE 0"})), "DOMAIN ERROR");  // a class
}

TEST_F(ClassFunctions, DsRendersEachValueOnOneLine) {
  EXPECT_EQ(type({"A.⎕DS"}), "Y=7\n");
  EXPECT_EQ(type({"A.X←1 2 3", "A.⎕DS"}), "X=1 2 3, Y=7\n");
  EXPECT_EQ(type({"A.X←'xy'", "A.⎕DS"}), "X='xy', Y=7\n");
  EXPECT_EQ(type({"A.X←2 3⍴⍳6", "A.⎕DS"}), "X=2 3⍴1 2 3 4 5 6, Y=7\n");
  EXPECT_EQ(type({"A.X←0⍴0.5", "A.⎕DS"}), "X=0⍴0, Y=7\n");
  EXPECT_EQ(type({"A.X←'ab' (1 2) 3", "A.⎕DS"}), "X='ab' (1 2) 3, Y=7\n");
  EXPECT_EQ(type({"A.X←¯2.5", "A.⎕DS"}), "X=¯2.5, Y=7\n");
  EXPECT_EQ(type({"A.X←⍳30", "A.⎕DS"}),
            "X=1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20..., Y=7\n");
}

TEST_F(ClassFunctions, CloneCopiesValuesAndCountsTheNewReferences) {
  type({"A.X←B", "A.⎕DF 'shown'"});
  const std::uint32_t b_before = count(b);
  EXPECT_EQ(type({"K←A.⎕CLONE 2", "⍴K", "K.⎕CLASSNAME"}).substr(0, 2), "2\n");
  EXPECT_TRUE(object_pool_consistent(ws()));
  EXPECT_EQ(count(b), b_before + 2);  // each clone's X holds B
  EXPECT_EQ(type({"⍴K.X"}), "2\n");
  EXPECT_EQ(count(b), b_before + 2);
  EXPECT_EQ(type({"K.Y"}), "7 7\n");
  EXPECT_EQ(type({"⍴0 ⎕INSTANCES 'PT'", "⍴A.⎕CLONE 0"}), "5\n0\n");
  type({"K←0"});
  EXPECT_EQ(type({"⍴0 ⎕INSTANCES 'PT'"}), "3\n");  // the clones went with K
  EXPECT_EQ(count(b), b_before);
  EXPECT_EQ(first_line(type({"A.⎕CLONE 1 2"})), "LENGTH ERROR");
  EXPECT_EQ(first_line(type({"A.⎕CLONE ¯1"})), "DOMAIN ERROR");
  EXPECT_EQ(first_line(type({"PT.⎕CLONE 1"})), "DOMAIN ERROR");
}

TEST_F(ClassFunctions, InstancesOfAClassAndOfItsDescendants) {
  EXPECT_EQ(type({"⍴⎕INSTANCES 'PT'", "⍴1 ⎕INSTANCES 'PT'", "⍴⎕INSTANCES 'CH'"}), "3\n2\n1\n");
  const std::uint32_t before = count(a);
  type({"R←⎕INSTANCES PT"});
  EXPECT_EQ(count(a), before + 1);
  EXPECT_TRUE(object_pool_consistent(ws()));
  type({"R←0"});
  EXPECT_EQ(count(a), before);
  EXPECT_EQ(type({"(⎕INSTANCES 'CH')≡C", "(⎕CLASS C)≡⎕CLASS C", "⍴⎕CLASS C", "⍴⎕CLASS A"}), "0\n1\n2\n1\n");
}

TEST_F(ClassFunctions, ReclassMovesInstancesToAnotherClass) {
  EXPECT_EQ(type({"A.⎕CLASSNAME", "⍴'CH' ⎕RECLASS AB", "A.⎕CLASSNAME", "B.⎕CLASSNAME"}), "PT\n0 0\nCH\nCH\n");
  EXPECT_EQ(type({"⍴1 ⎕INSTANCES 'CH'", "(A.⎕CLASSREF)≡CH", "(A.⎕BASE)≡PT"}), "3\n1\n1\n");
  EXPECT_EQ(first_line(type({"'CH' ⎕RECLASS PT"})), "DOMAIN ERROR");  // not an instance
  EXPECT_EQ(first_line(type({"'Q' ⎕RECLASS A"})), "Class not found");
}

TEST_F(ClassFunctions, DfSwapsTheDisplayText) {
  EXPECT_EQ(type({"⍴A.⎕DF 'hello'", "A.⎕DF 'bye'", "A.⎕DF ''", "⍴A.⎕DF ''"}), "0\nhello\nbye\n0\n");
  EXPECT_EQ(rd32(ws(), find_object_instance(a, ws()) + pobj::DisplayText), 0u);
  EXPECT_EQ(first_line(type({"A.⎕DF 5"})), "DOMAIN ERROR");
  EXPECT_EQ(first_line(type({"PT.⎕DF 'x'"})), "DOMAIN ERROR");
}

TEST_F(ClassFunctions, OidIsTheSerialNumberAFloatPastTwoToThe32) {
  const std::uint32_t low = rd32(ws(), find_object_instance(a, ws()) + pobj::SerialLow);
  EXPECT_EQ(type({"A.⎕OID"}), std::to_string(low) + "\n");
  wr32(ws(), hdr::SerialHigh, 0);
  wr32(ws(), hdr::SerialLow, 0xFFFFFFFEu);
  const std::uint32_t d = instance(cls);  // 2³² − 1; the next one carries into the high word
  const std::uint32_t e = instance(cls);
  refs("D", {d});
  refs("E", {e});
  EXPECT_EQ(type({"⎕PP←17", "D.⎕OID", "E.⎕OID"}), "4294967295\n4294967296\n");
  EXPECT_EQ(type({"A.⎕HANDLE"}), "0\n");
  EXPECT_EQ(first_line(type({"PT.⎕HANDLE"})), "DOMAIN ERROR");
}

TEST_F(ClassFunctions, MembersListsAccessAndReadOnly) {
  EXPECT_EQ(type({"A.⎕MEMBERS"}), " X PT 2 0 2  \n Y PT 2 0 1  \n Z PT 2 1 2  \n");
  EXPECT_EQ(type({"⍴C.⎕MEMBERS"}), "3 6\n");
}

// A reference array a dot chain made (K.X over two instances) is a
// counted result; a line that fails while it is still on the stack must
// give its references up.
TEST_F(ClassFunctions, ALineThatFailsGivesUpAChainsReferenceArray) {
  type({"K←A.⎕CLONE 2", "K.X←B"});
  const std::uint32_t before = count(b);
  for (const char* line : {"(K.X)+0", "K.X.Q", "(K.X)⍴0", "K.X.⎕CLONE 'x'"}) {
    EXPECT_NE(type({line}), "") << line;
    EXPECT_EQ(count(b), before) << line;
    EXPECT_TRUE(object_reference_counts_consistent(true, ws())) << line;
  }
  type({"K←0"});
}

// Over an array of references the collected results count their
// references when kept, and a call that fails part-way leaves the counts
// as they were.
TEST_F(ClassFunctions, OverAnArrayOfReferencesResultsAreCounted) {
  const std::uint32_t before = count(cls);
  EXPECT_EQ(type({"R←AB.⎕CLASSREF", "⍴R"}), "2\n");
  EXPECT_EQ(count(cls), before + 2);
  EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
  type({"R←0"});
  EXPECT_EQ(count(cls), before);
  EXPECT_EQ(type({"K←AB.⎕CLONE 1", "⍴0 ⎕INSTANCES 'PT'", "⍴¨K"}), "5\n 1  1 \n");
  EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
  type({"K←0"});
  EXPECT_EQ(type({"⍴0 ⎕INSTANCES 'PT'"}), "3\n");
  EXPECT_EQ(first_line(type({"(AB,PT).⎕STATE 0"})), "DOMAIN ERROR");  // the class fails third
  EXPECT_EQ(first_line(type({"(AB,PT).⎕CLONE 1"})), "DOMAIN ERROR");
  EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
}

}  // namespace
}  // namespace zema
