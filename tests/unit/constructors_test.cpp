// Constructors run by ⎕NEW and plain member names inside methods, checked
// against the pool: the instance a constructor works on is held by ⎕NEW's
// reference alone, so a constructor that fails and is cleared from the
// state indicator leaves no instance behind, and every count stays exact.
#include <gtest/gtest.h>

#include "interpreter/session/class_definition.h"
#include "interpreter/workspace/object_pool.h"
#include "interpreter/workspace/heap.h"
#include "test_workspace.h"

namespace zema {
namespace {

using test::first_line;

class Constructors : public test::DefiningSession {
 protected:
  void SetUp() override {
    DefiningSessionOn::SetUp();
    install_class_definition_routes();
    type({"∇Point {", "x←0", "y←0", "∇Point R", "(x y)←R", "∇", "∇Move R", "x←x+R", "∇", "}",
          "∇Boom {", "∇Boom R", "÷R", "∇", "}"});
  }
  void TearDown() override {
    EXPECT_TRUE(object_pool_consistent(ws()));
    EXPECT_TRUE(heap_consistent(ws()));
    DefiningSessionOn::TearDown();
  }
  // Pooled objects alive (slot 0 not counted).
  std::uint32_t in_use() const { return rd32(ws(), object_pool(ws()) + pool::InUse) - 1; }
};

TEST_F(Constructors, TheInstanceIsHeldOnceByTheNameItIsGivenTo) {
  const std::uint32_t before = in_use();
  EXPECT_EQ(type({"P←⎕NEW 'Point' 3 4", "P.x P.y"}), "3 4\n");
  EXPECT_EQ(in_use(), before + 1);
  EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
  EXPECT_EQ(type({"⎕EX 'P'"}), "1\n");
  EXPECT_EQ(in_use(), before);
  // Unassigned, the new instance goes with the statement.
  EXPECT_EQ(type({"(⎕NEW 'Point' 5 6).y"}), "6\n");
  EXPECT_EQ(in_use(), before);
  EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
}

TEST_F(Constructors, AFailingConstructorSuspendsAndItsInstanceGoesWhenCleared) {
  const std::uint32_t before = in_use();
  EXPECT_EQ(type({"B←⎕NEW 'Boom' 0"}), "DOMAIN ERROR\nBoom.Boom[1] ÷R\n             ^\n");
  EXPECT_EQ(in_use(), before + 1);  // held by the suspended statement
  EXPECT_TRUE(object_reference_counts_consistent(false, ws()));
  type({"→"});
  EXPECT_EQ(in_use(), before);
  EXPECT_EQ(first_line(type({"B"})), "VALUE ERROR");
  EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
}

TEST_F(Constructors, ArgumentsANiladicConstructorCannotTakeMakeNoInstance) {
  type({"∇Nil {", "∇Nil", "1", "∇", "}"});
  const std::uint32_t before = in_use();
  EXPECT_EQ(first_line(type({"⎕NEW 'Nil' 1"})), "Unexpected argument supplied to niladic constructor");
  EXPECT_EQ(et(), (std::vector<int>{5, 1}));
  EXPECT_EQ(in_use(), before);
  EXPECT_TRUE(object_reference_counts_consistent(true, ws()));
}

}  // namespace
}  // namespace zema
