// Methods called through dot notation, on one object and over arrays of
// instances: the references every call, method reference and collected
// result holds are given back exactly, whether the calls end or fail
// half-way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interpreter/session/class_definition.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "test_workspace.h"

namespace zema {
namespace {

class MethodArrays : public test::DefiningSession {
 protected:
  void SetUp() override {
    DefiningSessionOn::SetUp();
    install_class_definition_routes();
    type({"∇Point {", "x←0", "∇Z←Get", "Z←42", "∇", "∇Z←Add R", "Z←R+1", "∇", "∇Z←L Sub R", "Z←L-R", "∇",
          "∇Z←Me R", "Z←R", "∇", "∇Z←Inv R", "Z←÷R", "∇", "}", "P←⎕NEW 'Point'", "Q←⎕NEW 'Point'", "PQ←P Q"});
  }
  void TearDown() override {
    EXPECT_TRUE(object_pool_consistent(ws()));
    EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
    EXPECT_TRUE(heap_consistent(ws()));
    DefiningSessionOn::TearDown();
  }
};

TEST_F(MethodArrays, OneObjectCallsGiveTheirReferencesBack) {
  EXPECT_EQ(type({"P.Get", "P.Add 1", "2 P.Sub 1", "P.Me 7"}), "42\n2\n1\n7\n");
}

TEST_F(MethodArrays, CallsOverArraysCountEveryReferenceOnce) {
  EXPECT_EQ(type({"PQ.Add 1 2", "10 PQ.Sub 1", "PQ.Get", "R←PQ.Me PQ", "R≡PQ", "⍴(0⍴PQ).Add 1"}),
            "2 3\n9 9\n42 42\n1\n0\n");
  EXPECT_EQ(type({"⎕EX 'R'", "P.Add¨1 2", "P.Sub/5 3 1", "PQ.Add¨(1 2)(3 4)"}), "1\n2 3\n3\n 2 3  4 5 \n");
}

TEST_F(MethodArrays, AFailureHalfWayReleasesThePartialResults) {
  // The second call divides by zero: suspended with the first result
  // (holding references) collected, then cleared.
  type({"PQ.Inv (P Q) 0"});
  EXPECT_EQ(et(), (std::vector<int>{5, 4}));
  type({"→"});
  // A null reference as the second object: VALUE ERROR before its call.
  type({"N←P,↑0⍴P", "N.Me (P Q)(Q P)"});
  EXPECT_EQ(et(), (std::vector<int>{3, 2}));
  type({"⎕EX 'N'"});
}

}  // namespace
}  // namespace zema
